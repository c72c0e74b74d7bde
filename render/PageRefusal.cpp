#include "PageRefusal.h"

#include "PageLimits.h"
#include "TextFormat.h"

std::string PageRefusal(const FamilyLimits &limits, const PageShape &page, int headWidth, int bufferLimit)
{
    if (limits.needsResolution && page.dpi <= 0)
        return FormatText("The page has no valid resolution (%d dpi); it was not printed. "
                          "Check the resolution setting of the print queue.",
                          page.dpi);
    if (headWidth > 0 && page.width > static_cast<uint64_t>(headWidth))
        return FormatText("This page is %llu dots wide, wider than the %d dots of the print head; it was not "
                          "printed. Choose a narrower page size, or a landscape page size when rotating by 90 "
                          "degrees.",
                          static_cast<unsigned long long>(page.width), headWidth);
    if (limits.rowBytes > 0 && page.rowBytes > limits.rowBytes)
        return FormatText("This page is %u dots wide; the printer takes at most %d dots "
                          "per line. The page was not printed. Choose a narrower paper "
                          "size or a lower resolution.",
                          static_cast<unsigned>(page.width), static_cast<int>(limits.rowBytes * 8));
    if (limits.planeBytes > 0 && page.planeBytes > limits.planeBytes)
        return FormatText("The page image of %llu bytes is too large for the printer; it was "
                          "not printed. Print it at a lower resolution or a smaller size.",
                          static_cast<unsigned long long>(page.planeBytes));
    const uint64_t raster = page.rowBytes * page.rows;
    if (limits.rasterInBuffer && bufferLimit > 0 && raster > static_cast<uint64_t>(bufferLimit))
        return FormatText("The image of this page needs %lld bytes, more than the %d "
                          "bytes the printer data of a page may take; the page was not "
                          "printed. Print it at a lower resolution or a smaller size.",
                          static_cast<long long>(raster), bufferLimit);
    return std::string();
}

std::string OversizeRefusal(const char *step, uint64_t width, uint64_t height)
{
    return FormatText("%s would make the page %llu x %llu dots, more than a page may be (%llu dots a side, %llu "
                      "dots in all); it was not printed. Print it at a lower resolution or a smaller size.",
                      step, static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
                      static_cast<unsigned long long>(kMaxImageSide), static_cast<unsigned long long>(kMaxPagePixels));
}
