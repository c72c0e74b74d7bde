#include "PageCheck.h"

#include <cstdio>
#include <string>

uint64_t NeededBytesPerLine(const cups_page_header2_t &header)
{
    const uint64_t width = header.cupsWidth;
    if (header.cupsBitsPerPixel == 32)
        return width * 4;
    return (width * header.cupsBitsPerPixel + 7) / 8;
}

namespace {

// Ink pages also come at 4 bits an ink: four of them, 16 bits a pixel.
bool PrintableDepth(unsigned bitsPerPixel, int colorSpace)
{
    return bitsPerPixel == 1 || bitsPerPixel == 4 || bitsPerPixel == 8 || bitsPerPixel == 24 || bitsPerPixel == 32 ||
           (bitsPerPixel == 16 && InkCount(colorSpace) > 0);
}

bool ResolutionInRange(unsigned dpi)
{
    // The header holds it unsigned; a negative value arrives as a huge one.
    return dpi >= static_cast<unsigned>(kMinPageDpi) && dpi <= static_cast<unsigned>(kMaxPageDpi);
}

} // namespace

unsigned InkCount(int colorSpace)
{
    switch (colorSpace) {
    case CUPS_CSPACE_CMY:
    case CUPS_CSPACE_YMC:
        return 3;
    case CUPS_CSPACE_CMYK:
    case CUPS_CSPACE_YMCK:
    case CUPS_CSPACE_KCMY:
    case CUPS_CSPACE_GMCK:
    case CUPS_CSPACE_GMCS:
        return 4;
    default:
        return 0;
    }
}

PageVerdict CheckPageHeader(const cups_page_header2_t &header)
{
    const uint64_t bpl = header.cupsBytesPerLine;
    if (bpl > kMaxPageBytes || bpl * header.cupsHeight > kMaxPageBytes || header.cupsWidth > kMaxPageWidth ||
        header.cupsHeight > kMaxPageHeight ||
        static_cast<uint64_t>(header.cupsWidth) * header.cupsHeight > kMaxPagePixels ||
        PageImageBytes(header.cupsWidth, header.cupsHeight, header.cupsBitsPerPixel) > kMaxPageBytes)
        return PageVerdict::TooLarge;
    if (!PrintableDepth(header.cupsBitsPerPixel, HeaderInt(header.cupsColorSpace)))
        return PageVerdict::BadDepth;
    if (header.cupsWidth > 0 && header.cupsHeight > 0 && bpl < NeededBytesPerLine(header))
        return PageVerdict::ShortLines;
    if (!ResolutionInRange(header.HWResolution[0]) || !ResolutionInRange(header.HWResolution[1]))
        return PageVerdict::BadResolution;
    return PageVerdict::Ok;
}

std::string RefusalMessage(PageVerdict verdict, int page, const cups_page_header2_t &header)
{
    char text[256];
    switch (verdict) {
    case PageVerdict::Ok:
        return {};
    case PageVerdict::TooLarge:
        snprintf(text, sizeof text,
                 "Page %d is too large to print (%u x %u pixels, %u bytes per line; at most %u x %u pixels, "
                 "%u MiB); it was skipped.",
                 page, header.cupsWidth, header.cupsHeight, header.cupsBytesPerLine,
                 static_cast<unsigned>(kMaxPageWidth), static_cast<unsigned>(kMaxPageHeight),
                 static_cast<unsigned>(kMaxPageBytes >> 20));
        break;
    case PageVerdict::ShortLines:
        snprintf(text, sizeof text,
                 "Page %d has a damaged header (%u bytes per line for %u pixels of %u bits); it was skipped.", page,
                 header.cupsBytesPerLine, header.cupsWidth, header.cupsBitsPerPixel);
        break;
    case PageVerdict::BadResolution:
        snprintf(text, sizeof text,
                 "Page %d has a resolution of %d x %d dpi; pages of %d to %d dpi print. It was skipped. Check the "
                 "resolution setting of the print queue.",
                 page, static_cast<int>(header.HWResolution[0]), static_cast<int>(header.HWResolution[1]), kMinPageDpi,
                 kMaxPageDpi);
        break;
    case PageVerdict::BadDepth:
        snprintf(text, sizeof text,
                 "Page %d has %u bits per pixel, which can't be printed; pages of 1, 4, 8, 24 or 32 bits per "
                 "pixel print. It was skipped.",
                 page, header.cupsBitsPerPixel);
        break;
    }
    return text;
}

unsigned char WhiteByte(const cups_page_header2_t &header)
{
    const int space = HeaderInt(header.cupsColorSpace);
    if (space >= CUPS_CSPACE_DEVICE1 && space <= CUPS_CSPACE_DEVICEF)
        return 0x00;
    switch (space) {
    case CUPS_CSPACE_K:
    case CUPS_CSPACE_CMY:
    case CUPS_CSPACE_YMC:
    case CUPS_CSPACE_CMYK:
    case CUPS_CSPACE_YMCK:
    case CUPS_CSPACE_KCMY:
    case CUPS_CSPACE_KCMYcm:
    case CUPS_CSPACE_GMCK:
    case CUPS_CSPACE_GMCS:
    case CUPS_CSPACE_WHITE:
    case CUPS_CSPACE_GOLD:
    case CUPS_CSPACE_SILVER:
        return 0x00;
    default:
        return 0xFF;
    }
}
