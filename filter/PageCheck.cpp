#include "PageCheck.h"

uint64_t NeededBytesPerLine(const cups_page_header2_t &header)
{
    const uint64_t width = header.cupsWidth;
    if (header.cupsBitsPerPixel == 32)
        return width * 4;
    return (width * header.cupsBitsPerPixel + 7) / 8;
}

PageVerdict CheckPageHeader(const cups_page_header2_t &header)
{
    const uint64_t bpl = header.cupsBytesPerLine;
    if (bpl > kMaxPageBytes || bpl * header.cupsHeight > kMaxPageBytes)
        return PageVerdict::TooLarge;
    if (header.cupsWidth > 0 && header.cupsHeight > 0 && bpl < NeededBytesPerLine(header))
        return PageVerdict::ShortLines;
    return PageVerdict::Ok;
}
