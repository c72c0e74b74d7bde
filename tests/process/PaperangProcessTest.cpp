// The filter run as CUPS runs it, for a Paperang printer (model 23). Every
// frame's CRC is checked with zlib's crc32 seeded with the protocol key.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PrinterTestKit.h"

namespace {

using namespace paperang;

const ByteVec kRollPaper = PaperType(0);
const ByteVec kPerforatedPaper = PaperType(3);

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 3 + y * 5) % 7) < 2;
}

class PaperangProcess : public testing::Test {
protected:
    FilterResult Run(const std::vector<RasterPage> &pages, const std::string &options)
    {
        TestPpd printer;
        printer.modelNumber = 23;
        printer.modelName = "Portable printer";
        printer.options = {{"zeMediaTracking", {"Continuous", "Gap", "Roll", "Perforated", "Recording"}}};
        return RunPages(dir, pages, printer, options);
    }

    TempDir dir;
};

TEST_F(PaperangProcess, TwoRowExampleByMedia)
{
    const ByteVec row0 = StoredRow(384, 0, Pattern);
    const ByteVec row1 = StoredRow(384, 1, Pattern);
    struct Case {
        const char *options;
        std::vector<ByteVec> inners;
    };
    const std::vector<Case> cases = {
        {"zeMediaTracking=Gap", {kBegin, RowInner(0, row0), RowInner(1, row1), kEnd, kLocate300}},
        {"zeMediaTracking=Roll", {kBegin, kRollPaper, RowInner(0, row0), RowInner(1, row1), kEnd, kFeed0}},
        {"zeMediaTracking=Perforated",
         {kBegin, kPerforatedPaper, RowInner(0, row0), RowInner(1, row1), kEnd, kLocate300}},
        {"zeMediaTracking=Continuous", {kBegin, RowInner(0, row0), RowInner(1, row1), kEnd, kFeed0}},
        {"zeMediaTracking=Recording", {kBegin, RowInner(0, row0), RowInner(1, row1), kEnd}},
    };
    for (const Case &c : cases) {
        const FilterResult r = Run({OneBitPage(384, 2, 203, Pattern)}, c.options);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(Unframe(r.out), c.inners) << c.options;
        EXPECT_EQ(r.CountSyslog("MM_TP_CTRL_PRINT_START"), 1);
        EXPECT_EQ(r.CountSyslog("MM_TP_CTRL_PRINT_END"), 1);
    }
    // The row frame of the worked example, head to first row byte.
    const FilterResult r = Run({OneBitPage(384, 2, 203, Pattern)}, "zeMediaTracking=Gap");
    ASSERT_GE(r.out.size(), 14u + 21u);
    EXPECT_EQ(ByteVec(r.out.begin() + 14, r.out.begin() + 35),
              ByteVec({0xA5, 0x01, 0x41, 0x00, 0x05, 0x1B, 0x03, 0x3C, 0x00, 0x00, 0x00,
                       0x38, 0x00, 0x01, 0x30, 0x00, 0x00, 0x00, 0x00, 0x30, 0x00}));
}

// 390 dots: W = 52, 49 bytes of image and 3 zero bytes per row.
TEST_F(PaperangProcess, RowsAreSentWhole)
{
    auto black = [](unsigned x, unsigned y) { return x == 389 || (x + y) % 6 == 0; };
    const FilterResult r = Run({OneBitPage(390, 3, 203, black)}, "zeMediaTracking=Recording");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const std::vector<ByteVec> inners = Unframe(r.out);
    ASSERT_EQ(inners.size(), 5u);
    for (unsigned y = 0; y < 3; ++y) {
        const ByteVec row = StoredRow(390, y, black);
        ASSERT_EQ(row.size(), 52u);
        EXPECT_EQ(inners[1 + y], RowInner(y, row));
    }
}

TEST_F(PaperangProcess, PacketIndexRestartsOnEveryPage)
{
    const FilterResult r =
        Run({OneBitPage(32, 3, 203, Pattern), OneBitPage(32, 2, 203, Pattern)}, "zeMediaTracking=Gap");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const std::vector<ByteVec> expected = {
        kBegin,
        RowInner(0, StoredRow(32, 0, Pattern)),
        RowInner(1, StoredRow(32, 1, Pattern)),
        RowInner(2, StoredRow(32, 2, Pattern)),
        kEnd,
        kLocate300,
        kBegin,
        RowInner(0, StoredRow(32, 0, Pattern)),
        RowInner(1, StoredRow(32, 1, Pattern)),
        kEnd,
        kLocate300,
    };
    EXPECT_EQ(Unframe(r.out), expected);
}

// A row whose frame length would not fit 16 bits: the page is refused, the
// job goes on. 524128 dots give W = 65516 and a 65533-byte inner command, the
// next dot W = 65520.
TEST_F(PaperangProcess, TooWidePageIsRefused)
{
    const ByteVec small = RowInner(0, StoredRow(32, 0, Pattern));
    const FilterResult r =
        Run({OneBitPage(524129, 1, 203, Pattern), OneBitPage(32, 1, 203, Pattern)}, "zeMediaTracking=Recording");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(Unframe(r.out), (std::vector<ByteVec>{kBegin, small, kEnd}));
    EXPECT_TRUE(HasErrLineStarting(r, "ERROR: Page 1 is too large to print")) << r.err;

    // The widest page the page check takes prints whole.
    const FilterResult widest = Run({OneBitPage(20000, 1, 203, Pattern)}, "zeMediaTracking=Recording");
    EXPECT_EQ(widest.exitStatus, 0) << widest.err;
    EXPECT_EQ(widest.err.find("ERROR:"), std::string::npos) << widest.err;
    EXPECT_EQ(Unframe(widest.out), (std::vector<ByteVec>{kBegin, RowInner(0, StoredRow(20000, 0, Pattern)), kEnd}));
}

} // namespace
