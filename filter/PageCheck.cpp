#include "PageCheck.h"

uint64_t NeededBytesPerLine(const cups_page_header2_t &header)
{
    const uint64_t width = header.cupsWidth;
    if (header.cupsBitsPerPixel == 32)
        return width * 4;
    return (width * header.cupsBitsPerPixel + 7) / 8;
}

// Bytes of the page image built from the raster: rows padded to 32 bits, a
// 32-bit page stored as 24 bits. A narrow page can need several times its
// raster size (a 1-dot-wide line takes 4 bytes a row).
uint64_t ImageBytes(const cups_page_header2_t &header)
{
    const uint64_t bpp = header.cupsBitsPerPixel == 32 ? 24 : header.cupsBitsPerPixel;
    const uint64_t stride = (header.cupsWidth * bpp + 31) / 32 * 4;
    return stride * header.cupsHeight;
}

PageVerdict CheckPageHeader(const cups_page_header2_t &header)
{
    const uint64_t bpl = header.cupsBytesPerLine;
    if (bpl > kMaxPageBytes || bpl * header.cupsHeight > kMaxPageBytes || ImageBytes(header) > kMaxPageBytes)
        return PageVerdict::TooLarge;
    if (header.cupsWidth > 0 && header.cupsHeight > 0 && bpl < NeededBytesPerLine(header))
        return PageVerdict::ShortLines;
    return PageVerdict::Ok;
}
