// The CUPS backend's job loop: the filter's bytes from `in` over the link.
//
// A pipe keeps no page boundaries. quillfeed, printing to a quillbt: queue,
// asks the backend over the CUPS side channel to drain its output after
// every page; the backend takes everything the filter wrote up to then,
// answers, and knows that the next byte starts a page: only there may a
// dropped link be connected again. Without those requests (another filter,
// no side channel) only the job's first byte is such a place.
#pragma once

#include <cstddef>
#include <string>

#include "BtLink.h"

namespace bt {

enum class JobEnd { Done, ReadFailed, LinkFailed };

struct JobResult {
    JobEnd end = JobEnd::Done;
    std::string error;
    size_t bytes = 0;
    int pages = 0; // page ends the filter announced
};

// `sideChannel`: true when CUPS's side channel (descriptor 4) is there.
JobResult SendJob(PageSink &link, int in, bool sideChannel);

} // namespace bt
