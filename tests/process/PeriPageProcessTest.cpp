// The filter run as CUPS runs it, for a PeriPage printer (model 24).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PrinterTestKit.h"

namespace {

using namespace peripage;

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 5 + y * 3) % 13) < 4;
}

class PeriPageProcess : public testing::Test {
protected:
    FilterResult Run(const std::vector<RasterPage> &pages, const std::string &options)
    {
        TestPpd printer;
        printer.modelNumber = 24;
        printer.modelName = "Portable printer";
        printer.options = {{"zeMediaTracking", {"Continuous", "Gap", "Recording", "Tattoo", "BLine", "Roll"}},
                           {"Darkness", {"Default", "0", "10", "20"}},
                           {"ImageCompress", {"0", "1"}},
                           {"FeedOffset", {"0", "10"}}};
        return RunPages(dir, pages, printer, options);
    }

    TempDir dir;
};

TEST_F(PeriPageProcess, WorkedExampleContinuous)
{
    const FilterResult r = Run({OneBitPage(384, 100, 203, Pattern)}, "Darkness=10 zeMediaTracking=Continuous");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, Cat({kWake, Paper(0x01), kEscInit, Density(0x0A), kCentre, GsV0(48, 100),
                          PrinterRows(384, 100, Pattern), kCutLine, kEnd}))
        << Printable(r.out);
    EXPECT_EQ(r.CountSyslog("new CPrinterESCPOS()"), 1);
    EXPECT_EQ(r.CountSyslog("new CPrinterPeriPage()"), 1);
}

TEST_F(PeriPageProcess, WorkedExampleGapCompressed)
{
    const FilterResult r = Run({OneBitPage(384, 100, 203, Pattern)}, "Darkness=10 zeMediaTracking=Gap ImageCompress=1");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const ByteVec head = Cat({kWake, Paper(0x02), kEscInit, Density(0x0A), kCentre});
    ASSERT_EQ(Slice(r.out, 0, head.size()), head) << Printable(r.out);
    EXPECT_EQ(Slice(r.out, head.size(), head.size() + 6), ByteVec({0x1F, 0x00, 0x00, 0x30, 0x00, 0x64}));
    size_t pos = head.size();
    const Compressed c = ReadCompressed(r.out, pos);
    EXPECT_EQ(c.rows, PrinterRows(384, 100, Pattern));
    EXPECT_TRUE(c.adlerOk);
    EXPECT_EQ(Slice(r.out, pos, r.out.size()), Cat({kToMark, kEnd}));
}

TEST_F(PeriPageProcess, DensityChoices)
{
    struct Case {
        const char *options;
        ByteVec density;
    };
    const std::vector<Case> cases = {
        {"Darkness=20", Density(0x0F)},
        {"Darkness=0", Density(0x00)},
        {"Darkness=Default", {}},
    };
    for (const Case &c : cases) {
        const FilterResult r = Run({OneBitPage(8, 2, 203, Pattern)}, c.options);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, Cat({kWake, Paper(0x01), kEscInit, c.density, kCentre, GsV0(1, 2), PrinterRows(8, 2, Pattern),
                              kCutLine, kEnd}))
            << c.options;
    }
}

// Recording paper: white lines at both ends go, the page ends bare.
TEST_F(PeriPageProcess, RecordingMedia)
{
    auto black = [](unsigned x, unsigned y) { return y >= 12 && y < 30 && (x + y) % 4 == 0; };
    const FilterResult r = Run({OneBitPage(32, 50, 203, black)}, "zeMediaTracking=Recording Darkness=Default");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const ByteVec all = PrinterRows(32, 50, black);
    EXPECT_EQ(r.out, Cat({kWake, Paper(0x01), kEscInit, kCentre, GsV0(4, 18), Slice(all, 12 * 4, 30 * 4), kEnd}))
        << Printable(r.out);
}

TEST_F(PeriPageProcess, TattooMedia)
{
    const FilterResult r = Run({OneBitPage(16, 3, 203, Pattern)}, "zeMediaTracking=Tattoo Darkness=Default");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, Cat({kWake, Paper(0x04), kEscInit, kCentre, GsV0(2, 3), PrinterRows(16, 3, Pattern), kEnd}));
}

TEST_F(PeriPageProcess, FeedOffsetOnMedia)
{
    struct Case {
        const char *options;
        ByteVec paper, tail;
    };
    const ByteVec feed = {0x1B, 0x4A, 0x50};
    const std::vector<Case> cases = {
        {"zeMediaTracking=Gap FeedOffset=10", Paper(0x02), Cat({kToMark, feed, kEnd})},
        {"zeMediaTracking=BLine FeedOffset=10", Paper(0x00), Cat({kToMark, feed, kEnd})},
        {"zeMediaTracking=Roll FeedOffset=10", Paper(0x01), Cat({feed, kCutLine, kEnd})},
        {"zeMediaTracking=Gap FeedOffset=0", Paper(0x02), Cat({kToMark, kEnd})},
    };
    for (const Case &c : cases) {
        const FilterResult r = Run({OneBitPage(16, 3, 203, Pattern)}, std::string(c.options) + " Darkness=Default");
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, Cat({kWake, c.paper, kEscInit, kCentre, GsV0(2, 3), PrinterRows(16, 3, Pattern), c.tail}))
            << c.options;
    }
}

TEST_F(PeriPageProcess, CompressedRowsAreCutAt208BytesAt203Dpi)
{
    const FilterResult r = Run({OneBitPage(1728, 4, 203, Pattern)}, "ImageCompress=1 Darkness=Default");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    size_t pos = Cat({kWake, Paper(0x01), kEscInit, kCentre}).size();
    const Compressed c = ReadCompressed(r.out, pos);
    EXPECT_EQ(c.w, 208u);
    EXPECT_EQ(c.h, 4u);
    EXPECT_EQ(c.rows, PrinterRows(1728, 4, Pattern, 208));
    EXPECT_EQ(Slice(r.out, pos, r.out.size()), Cat({kCutLine, kEnd}));

    const FilterResult plain = Run({OneBitPage(1728, 4, 203, Pattern)}, "ImageCompress=0 Darkness=Default");
    EXPECT_EQ(plain.out, Cat({kWake, Paper(0x01), kEscInit, kCentre, GsV0(216, 4), PrinterRows(1728, 4, Pattern),
                              kCutLine, kEnd}));
}

// Over 65535 rows: several compressed commands, each a stream of its own.
TEST_F(PeriPageProcess, TallCompressedPageIsSplit)
{
    auto black = [](unsigned x, unsigned y) { return (x * 3 + y) % 7 == 0; };
    const FilterResult r = Run({OneBitPage(16, 65537, 203, black)}, "ImageCompress=1 Darkness=Default");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const ByteVec all = PrinterRows(16, 65537, black);
    size_t pos = Cat({kWake, Paper(0x01), kEscInit, kCentre}).size();
    const Compressed first = ReadCompressed(r.out, pos);
    const Compressed second = ReadCompressed(r.out, pos);
    EXPECT_EQ(first.h, 65535u);
    EXPECT_EQ(second.h, 2u);
    EXPECT_TRUE(first.adlerOk);
    EXPECT_TRUE(second.adlerOk);
    EXPECT_EQ(first.rows, Slice(all, 0, 65535 * 2));
    EXPECT_EQ(second.rows, Slice(all, 65535 * 2, all.size()));
    EXPECT_EQ(Slice(r.out, pos, r.out.size()), Cat({kCutLine, kEnd}));
}

TEST_F(PeriPageProcess, TooWidePlainPageIsRefused)
{
    const FilterResult r =
        Run({OneBitPage(524281, 1, 203, Pattern), OneBitPage(8, 2, 203, Pattern)}, "ImageCompress=0 Darkness=Default");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out,
              Cat({kWake, Paper(0x01), kEscInit, kCentre, GsV0(1, 2), PrinterRows(8, 2, Pattern), kCutLine, kEnd}));
    EXPECT_TRUE(HasErrLineStarting(r, "ERROR: Page 1 is too large to print")) << r.err;
}

} // namespace
