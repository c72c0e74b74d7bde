// The filter run as CUPS runs it, for a Paperang printer (model 23). Every
// frame's CRC is checked with zlib's crc32 seeded with the protocol key.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "FilterRun.h"

namespace {

using ByteVec = std::vector<uint8_t>;
using Black = std::function<bool(unsigned, unsigned)>;

constexpr uint32_t kKey = 0x35769521;

ByteVec Le16(unsigned v)
{
    return {uint8_t(v & 0xFF), uint8_t(v >> 8)};
}

ByteVec Le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

ByteVec Inner(uint8_t code, uint8_t byte2, const ByteVec &params)
{
    return Cat({{0x05, code, byte2}, Le16(unsigned(params.size())), params});
}

const ByteVec kBegin = Inner(0x19, 0x03, {});
const ByteVec kEnd = Inner(0x1A, 0x03, {});
const ByteVec kLocate300 = Inner(0x21, 0x01, {0x2C, 0x01, 0x00, 0x00});
const ByteVec kFeed0 = Inner(0x16, 0x03, {0x00, 0x00});
const ByteVec kRollPaper = Inner(0x20, 0x01, {0x00, 0x00});
const ByteVec kPerforatedPaper = Inner(0x20, 0x01, {0x03, 0x00});

ByteVec RowInner(unsigned index, const ByteVec &row)
{
    const unsigned w = unsigned(row.size());
    return Inner(0x1B, 0x03, Cat({Le16(index), Le16(8 + w), {0x01}, Le16(w), {0, 0, 0}, Le16(w), row}));
}

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

// A whole stored row (padded to 4 bytes) as sent: set bits print, padding 0.
ByteVec PrinterRow(unsigned width, unsigned y, const Black &black)
{
    ByteVec row((width + 31) / 32 * 4, 0);
    for (unsigned x = 0; x < width; ++x)
        if (black(x, y))
            row[x / 8] |= uint8_t(0x80 >> (x % 8));
    return row;
}

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 3 + y * 5) % 7) < 2;
}

// Frames -> inner commands; framing and CRCs checked on the way.
std::vector<ByteVec> Unframe(const ByteVec &s)
{
    std::vector<ByteVec> inners;
    size_t pos = 0;
    while (pos < s.size()) {
        if (s.size() - pos < 9 || s[pos] != 0xA5 || s[pos + 1] != 0x01) {
            ADD_FAILURE() << "no frame at " << pos;
            break;
        }
        const size_t n = s[pos + 2] | size_t(s[pos + 3]) << 8;
        if (pos + 9 + n > s.size()) {
            ADD_FAILURE() << "frame at " << pos << " runs past the end";
            break;
        }
        const ByteVec inner(s.begin() + long(pos + 4), s.begin() + long(pos + 4 + n));
        const ByteVec crc(s.begin() + long(pos + 4 + n), s.begin() + long(pos + 8 + n));
        EXPECT_EQ(crc, Le32(uint32_t(crc32(kKey, inner.data(), uInt(inner.size()))))) << "frame at " << pos;
        EXPECT_EQ(s[pos + 8 + n], 0x5A) << "frame at " << pos;
        inners.push_back(inner);
        pos += 9 + n;
    }
    return inners;
}

class PaperangProcess : public testing::Test {
protected:
    FilterResult Run(const std::vector<RasterPage> &pages, const std::string &options)
    {
        const std::string raster = dir.File("job.ras");
        EXPECT_TRUE(WriteRasterFile(raster, pages, RasterFormat::Uncompressed));
        PpdSpec printer;
        printer.modelNumber = 23;
        printer.modelName = "Portable printer";
        printer.options = {{"zeMediaTracking", {"Continuous", "Gap", "Roll", "Perforated", "Recording"}}};
        FilterCall call;
        call.options = options;
        call.inputFile = raster;
        call.ppd = WritePpd(dir.path(), printer);
        return RunFilter(call);
    }

    TempDir dir;
};

TEST_F(PaperangProcess, TwoRowExampleByMedia)
{
    const ByteVec row0 = PrinterRow(384, 0, Pattern);
    const ByteVec row1 = PrinterRow(384, 1, Pattern);
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
              ByteVec({0xA5, 0x01, 0x41, 0x00, 0x05, 0x1B, 0x03, 0x3C, 0x00, 0x00, 0x00, 0x38, 0x00, 0x01, 0x30,
                       0x00, 0x00, 0x00, 0x00, 0x30, 0x00}));
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
        const ByteVec row = PrinterRow(390, y, black);
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
        kBegin, RowInner(0, PrinterRow(32, 0, Pattern)), RowInner(1, PrinterRow(32, 1, Pattern)),
        RowInner(2, PrinterRow(32, 2, Pattern)), kEnd, kLocate300,
        kBegin, RowInner(0, PrinterRow(32, 0, Pattern)), RowInner(1, PrinterRow(32, 1, Pattern)),
        kEnd, kLocate300,
    };
    EXPECT_EQ(Unframe(r.out), expected);
}

// A row whose frame length would not fit 16 bits: the page is refused, the
// job goes on. 524128 dots give W = 65516 and a 65533-byte inner command, the
// next dot W = 65520.
TEST_F(PaperangProcess, TooWidePageIsRefused)
{
    const ByteVec small = RowInner(0, PrinterRow(32, 0, Pattern));
    const FilterResult r =
        Run({OneBitPage(524129, 1, 203, Pattern), OneBitPage(32, 1, 203, Pattern)}, "zeMediaTracking=Recording");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(Unframe(r.out), (std::vector<ByteVec>{kBegin, small, kEnd}));
    bool found = false;
    for (const std::string &line : r.errLines)
        found |= line.rfind("ERROR: This page is 524129 dots wide", 0) == 0;
    EXPECT_TRUE(found) << r.err;

    const FilterResult widest = Run({OneBitPage(524128, 1, 203, Pattern)}, "zeMediaTracking=Recording");
    EXPECT_EQ(widest.exitStatus, 0) << widest.err;
    EXPECT_EQ(widest.err.find("ERROR:"), std::string::npos) << widest.err;
    EXPECT_EQ(Unframe(widest.out),
              (std::vector<ByteVec>{kBegin, RowInner(0, PrinterRow(524128, 0, Pattern)), kEnd}));
}

} // namespace
