// The filter run as CUPS runs it, for an ESC/POS printer (model 21): raster
// file and PPD in, printer bytes, messages and exit status out.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "FilterRun.h"

namespace {

using ByteVec = std::vector<uint8_t>;
using Black = std::function<bool(unsigned, unsigned)>;

ByteVec Le16(unsigned v)
{
    return {uint8_t(v & 0xFF), uint8_t(v >> 8)};
}

const ByteVec kInit = {0x1B, 0x40, 0x00};
const ByteVec kCentre = {0x1B, 0x61, 0x01};

ByteVec RasterHead(uint8_t mode, unsigned w, unsigned h)
{
    return Cat({{0x1D, 0x76, 0x30, mode}, Le16(w), Le16(h)});
}

ByteVec Feed(uint8_t n)
{
    return {0x1B, 0x4A, n};
}

// A one-bit raster page (1 = white) with dots where `black` says.
RasterPage OneBitPage(unsigned width, unsigned height, unsigned dpi, const Black &black)
{
    RasterPage page = MakeWhitePage(width, height, 1, dpi, dpi);
    const unsigned bpl = page.header.cupsBytesPerLine;
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x)
            if (black(x, y))
                page.data[size_t(y) * bpl + x / 8] &= uint8_t(~(0x80 >> (x % 8)));
    return page;
}

// The same rows as the printer gets them: a set bit prints, nothing after
// the last dot.
ByteVec PrinterRows(unsigned width, unsigned height, const Black &black)
{
    const unsigned w = (width + 7) / 8;
    ByteVec out(size_t(w) * height, 0);
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x)
            if (black(x, y))
                out[size_t(y) * w + x / 8] |= uint8_t(0x80 >> (x % 8));
    return out;
}

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 7 + y * 3) % 11) < 4;
}

class EscPosProcess : public testing::Test {
protected:
    FilterResult Run(const std::vector<RasterPage> &pages, const std::string &options)
    {
        const std::string raster = dir.File("job.ras");
        EXPECT_TRUE(WriteRasterFile(raster, pages, RasterFormat::Uncompressed));
        PpdSpec printer;
        printer.modelNumber = 21;
        printer.modelName = "Receipt printer";
        printer.options = {{"FeedOffset", {"0", "10", "32", "40", "51", "102"}},
                        {"MediaAlign", {"Center", "Left", "Right"}}};
        FilterCall call;
        call.options = options;
        call.inputFile = raster;
        call.ppd = WritePpd(dir.path(), printer);
        return RunFilter(call);
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
        {127, "FeedOffset=51", Feed(0xFF)},                   // 255 dots
        {203, "FeedOffset=32", Cat({Feed(0xFF), Feed(0x01)})}, // 256 dots
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

// A row wider than 65535 bytes can't be described: that page is refused,
// the job goes on.
TEST_F(EscPosProcess, TooWidePageIsRefused)
{
    const FilterResult r =
        Run({OneBitPage(524281, 2, 203, Pattern), OneBitPage(16, 2, 203, Pattern)}, "");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, Cat({kInit, kCentre, RasterHead(0, 2, 2), PrinterRows(16, 2, Pattern)}));
    bool found = false;
    for (const std::string &line : r.errLines)
        found |= line.rfind("ERROR: This page is 524281 dots wide", 0) == 0;
    EXPECT_TRUE(found) << r.err;
}

} // namespace
