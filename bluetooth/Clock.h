// The clock every time limit of the Bluetooth links and BlueZ calls is
// measured on: monotonic, so that a changed wall clock neither ends a wait
// early nor stretches it.
#pragma once

#include <time.h>

namespace bt {

inline long long NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace bt
