// The one page check of every family: which limit refuses which page, and
// that each message says the figures.
#include <gtest/gtest.h>

#include "PageRefusal.h"

namespace {

TEST(PageRefusal, EachLimitWithItsMessage)
{
    FamilyLimits rows; // ESC/POS-like: 16-bit row width, raster in the buffer
    rows.rowBytes = 65535;
    rows.rasterInBuffer = true;
    FamilyLimits plane; // TSPL-like: one int-sized bitmap
    plane.planeBytes = 2147483647;
    FamilyLimits lengths = plane; // TSPL: the label size divides by the resolution
    lengths.needsResolution = true;
    struct Case {
        FamilyLimits limits;
        PageShape page; // width, row bytes, rows, plane bytes, dpi
        int head, buffer;
        const char *start; // "" when the page fits
    } cases[] = {
        {rows, {576, 72, 100, 0}, 0, 104857600, ""},
        {rows, {576, 72, 100, 0}, 576, 104857600, ""}, // exactly the head
        {rows, {577, 73, 100, 0}, 576, 104857600, "This page is 577 dots wide, wider than the 576 dots of the print"},
        {rows, {524288, 65536, 1, 0}, 0, 0, "This page is 524288 dots wide; the printer takes at most 524280 dots"},
        {rows, {800, 100, 48, 0}, 0, 4799, "The image of this page needs 4800 bytes, more than the 4799 bytes"},
        {rows, {800, 100, 48, 0}, 0, 4800, ""},
        {plane, {8, 1, 1, 2147483648u}, 0, 0, "The page image of 2147483648 bytes is too large for the printer"},
        {plane, {800, 100, 48, 4800}, 0, 100, ""}, // TSPL leaves the buffer limit to the writer
        {lengths, {8, 1, 1, 8, 0}, 0, 0, "The page has no valid resolution (0 dpi); it was not printed."},
        {lengths, {8, 1, 1, 8, 203}, 0, 0, ""},
    };
    for (const Case &c : cases) {
        const std::string reason = PageRefusal(c.limits, c.page, c.head, c.buffer);
        if (*c.start == '\0')
            EXPECT_EQ(reason, "") << c.page.width;
        else
            EXPECT_EQ(reason.rfind(c.start, 0), 0u) << reason;
    }
}

} // namespace
