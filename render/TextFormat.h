// printf-style formatting into a std::string, for trace lines and messages
// that are built in one place and shown in another.
#pragma once

#include <string>

std::string FormatText(const char *format, ...) __attribute__((format(printf, 1, 2)));
