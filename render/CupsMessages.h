// The CUPS filter message routines.
//
// libcups exports these but declares them only in its private headers, which
// Debian does not ship. They print "PREFIX: message" (localised) for CUPS to
// show to the user; _cupsLangPrintError adds the text of errno.
#pragma once

#include <cstdio>

extern "C" {
int _cupsLangPrintFilter(FILE *fp, const char *prefix, const char *message, ...) __attribute__((format(printf, 3, 4)));
int _cupsLangPrintError(const char *prefix, const char *message);
}
