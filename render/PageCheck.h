// Checks a raster page header before anything is allocated for the page.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "PageLimits.h"

enum class PageVerdict {
    Ok,
    TooLarge,      // beyond the page limits in pixels or bytes
    ShortLines,    // fewer bytes per line than the pixels of a line need
    BadResolution, // a resolution no printer has
    BadDepth,      // a pixel depth the page image can't be made from
};

// Bytes of one raster line the page image needs. 32-bit pages are read four
// bytes per pixel whatever the header says.
uint64_t NeededBytesPerLine(const cups_page_header2_t &header);

PageVerdict CheckPageHeader(const cups_page_header2_t &header);

// The inks of a pixel of a colour ink page: 3 (CMY, YMC), 4 (CMYK, YMCK,
// KCMY, GMCK, GMCS); 0 for any other space, black alone included.
unsigned InkCount(int colorSpace);

// The "ERROR:" text for a refused page (without the prefix), naming the page.
std::string RefusalMessage(PageVerdict verdict, int page, const cups_page_header2_t &header);

// A header field of one of the CUPS enum types, read as the plain integer it
// is in the stream: a hostile header may hold any value, and loading one that
// is not an enumerator through the enum type is undefined.
template <typename Field> int HeaderInt(const Field &field)
{
    static_assert(sizeof(Field) == sizeof(int), "header fields are 32 bits");
    int value;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

// The byte of a white pixel in the page's own colour space: 0 where values
// count ink (K, CMY, CMYK and the like), 0xFF where they count light.
unsigned char WhiteByte(const cups_page_header2_t &header);
