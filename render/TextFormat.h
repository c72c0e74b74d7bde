// printf-style formatting into a std::string, for trace lines and messages
// that are built in one place and shown in another.
#pragma once

#include <cstdarg>
#include <string>

std::string FormatText(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char *format, va_list args) __attribute__((format(printf, 1, 0)));
