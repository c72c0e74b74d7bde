// The filter run as CUPS runs it, for an ESC/POS printer (model 21): raster
// file and PPD in, printer bytes, messages and exit status out.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PrinterTestKit.h"

namespace {

using namespace escpos;

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 7 + y * 3) % 11) < 4;
}

class EscPosProcess : public testing::Test {
protected:
    FilterResult Run(const std::vector<RasterPage> &pages, const std::string &options)
    {
        TestPpd printer;
        printer.modelNumber = 21;
        printer.modelName = "Receipt printer";
        printer.options = {{"FeedOffset", {"0", "10", "32", "40", "51", "102"}},
                           {"MediaAlign", {"Center", "Left", "Right"}}};
        return RunPages(dir, pages, printer, options);
    }

    TempDir dir;
};

TEST_F(EscPosProcess, WorkedExample)
{
    struct Case {
        const char *options;
        ByteVec feed;
    };
    const std::vector<Case> cases = {
        {"FeedOffset=10", Feed(0x50)},
        {"FeedOffset=40", Cat({Feed(0xFF), Feed(0x41)})},
        {"", {}},
    };
    for (const Case &c : cases) {
        const FilterResult r = Run({OneBitPage(384, 200, 203, Pattern)}, c.options);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, Cat({kInit, kCentre, RasterHead(0, 48, 200), PrinterRows(384, 200, Pattern), c.feed}))
            << c.options << ": " << Printable(r.out);
        EXPECT_EQ(r.CountSyslog("new CPrinterESCPOS()"), 1);
    }
}

// Feeds that land on the 255-dot boundary of ESC J.
TEST_F(EscPosProcess, FeedBoundaries)
{
    struct Case {
        unsigned dpi;
        const char *options;
        ByteVec feed;
    };
    const std::vector<Case> cases = {
        {127, "FeedOffset=51", Feed(0xFF)},                     // 255 dots
        {203, "FeedOffset=32", Cat({Feed(0xFF), Feed(0x01)})},  // 256 dots
        {127, "FeedOffset=102", Cat({Feed(0xFF), Feed(0xFF)})}, // 510 dots
    };
    for (const Case &c : cases) {
        const FilterResult r = Run({OneBitPage(16, 2, c.dpi, Pattern)}, c.options);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, Cat({kInit, kCentre, RasterHead(0, 2, 2), PrinterRows(16, 2, Pattern), c.feed}))
            << c.options << " at " << c.dpi;
    }
}

TEST_F(EscPosProcess, ModeByteAndAlignment)
{
    struct Case {
        unsigned dpi;
        const char *options;
        uint8_t align;
        uint8_t mode;
    };
    const Case cases[] = {
        {100, "", 0x01, 0x03},
        {300, "", 0x01, 0x00},
        {203, "MediaAlign=Left", 0x00, 0x00},
        {203, "MediaAlign=Right", 0x02, 0x00},
    };
    for (const Case &c : cases) {
        const FilterResult r = Run({OneBitPage(24, 3, c.dpi, Pattern)}, c.options);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, Cat({kInit, {0x1B, 0x61, c.align}, RasterHead(c.mode, 3, 3), PrinterRows(24, 3, Pattern)}))
            << c.dpi << " " << c.options;
    }
}

TEST_F(EscPosProcess, OddWidthKeepsItsLastDot)
{
    auto black = [](unsigned x, unsigned y) { return x == 384 || (x + y) % 9 == 0; };
    const FilterResult r = Run({OneBitPage(385, 4, 203, black)}, "");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, Cat({kInit, kCentre, RasterHead(0, 49, 4), PrinterRows(385, 4, black)}));
    // Every row ends in the 385th dot alone.
    for (unsigned y = 0; y < 4; ++y)
        EXPECT_EQ(r.out[14 + 49 * y + 48], 0x80) << y;
}

// More than 65535 rows: consecutive GS v 0 commands, no header that lies.
TEST_F(EscPosProcess, TallPageIsSentInBands)
{
    auto black = [](unsigned x, unsigned y) { return (x + y) % 5 == 0; };
    const FilterResult r = Run({OneBitPage(8, 65537, 203, black)}, "");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const ByteVec rows = PrinterRows(8, 65537, black);
    EXPECT_EQ(r.out, Cat({kInit, kCentre, RasterHead(0, 1, 65535), ByteVec(rows.begin(), rows.begin() + 65535),
                          RasterHead(0, 1, 2), ByteVec(rows.begin() + 65535, rows.end())}));
}

// A row wider than 65535 bytes can't be described; the page check refuses
// such a page (wider than any media) first, and the job goes on.
TEST_F(EscPosProcess, TooWidePageIsRefused)
{
    const FilterResult r = Run({OneBitPage(524281, 2, 203, Pattern), OneBitPage(16, 2, 203, Pattern)}, "");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, Cat({kInit, kCentre, RasterHead(0, 2, 2), PrinterRows(16, 2, Pattern)}));
    EXPECT_TRUE(HasErrLineStarting(r, "ERROR: Page 1 is too large to print")) << r.err;
}

} // namespace
