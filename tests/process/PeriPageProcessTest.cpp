// The filter run as CUPS runs it, for a PeriPage printer (model 24).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
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

const ByteVec kWake = {0x10, 0xFF, 0xFE, 0x01};
const ByteVec kEscInit = {0x1B, 0x40, 0x00};
const ByteVec kCentre = {0x1B, 0x61, 0x01};
const ByteVec kToMark = {0x1D, 0x0C};
const ByteVec kCutLine = {0x10, 0x50};
const ByteVec kEnd = {0x10, 0xFF, 0xFE, 0x45};

ByteVec Paper(uint8_t p)
{
    return {0x10, 0xFF, 0x10, 0x03, p};
}

ByteVec Density(uint8_t n)
{
    return {0x10, 0xFF, 0x10, 0x00, n};
}

ByteVec GsV0(unsigned w, unsigned h)
{
    return Cat({{0x1D, 0x76, 0x30, 0x00}, Le16(w), Le16(h)});
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

// Rows as the printer gets them, cut to w bytes: a set bit prints.
ByteVec PrinterRows(unsigned width, unsigned height, const Black &black, unsigned w = 0)
{
    if (w == 0)
        w = (width + 7) / 8;
    ByteVec out(size_t(w) * height, 0);
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width && x / 8 < w; ++x)
            if (black(x, y))
                out[size_t(y) * w + x / 8] |= uint8_t(0x80 >> (x % 8));
    return out;
}

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 5 + y * 3) % 13) < 4;
}

ByteVec Slice(const ByteVec &s, size_t from, size_t to)
{
    from = std::min(from, s.size());
    return ByteVec(s.begin() + long(from), s.begin() + long(std::min(to, s.size())));
}

struct Compressed {
    unsigned w = 0, h = 0;
    ByteVec rows;
    bool adlerOk = false;
};

// Reads a 1F 00 command at `pos`: big-endian w, h and L, raw deflate data,
// then the big-endian Adler-32 of the rows.
Compressed ReadCompressed(const ByteVec &s, size_t &pos)
{
    Compressed c;
    if (s.size() < pos + 10 || s[pos] != 0x1F || s[pos + 1] != 0x00) {
        ADD_FAILURE() << "no compressed raster at " << pos;
        return c;
    }
    c.w = unsigned(s[pos + 2]) << 8 | s[pos + 3];
    c.h = unsigned(s[pos + 4]) << 8 | s[pos + 5];
    const uint32_t length =
        uint32_t(s[pos + 6]) << 24 | uint32_t(s[pos + 7]) << 16 | uint32_t(s[pos + 8]) << 8 | s[pos + 9];
    pos += 10;
    if (length < 4 || pos + length > s.size()) {
        ADD_FAILURE() << "bad length " << length;
        return c;
    }
    z_stream zs{};
    inflateInit2(&zs, -15);
    ByteVec out(size_t(c.w) * c.h + 64);
    zs.next_in = const_cast<Bytef *>(s.data() + pos);
    zs.avail_in = length - 4;
    zs.next_out = out.data();
    zs.avail_out = uInt(out.size());
    EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(zs.avail_in, 0u);
    out.resize(zs.total_out);
    inflateEnd(&zs);
    c.rows = out;
    const uint8_t *t = s.data() + pos + length - 4;
    const uint32_t adler = uint32_t(t[0]) << 24 | uint32_t(t[1]) << 16 | uint32_t(t[2]) << 8 | t[3];
    c.adlerOk = adler == adler32(adler32(0, nullptr, 0), c.rows.data(), uInt(c.rows.size()));
    pos += length;
    return c;
}

bool HasErrorLine(const FilterResult &r, const std::string &start)
{
    for (const std::string &line : r.errLines)
        if (line.rfind(start, 0) == 0)
            return true;
    return false;
}

class PeriPageProcess : public testing::Test {
protected:
    FilterResult Run(const std::vector<RasterPage> &pages, const std::string &options)
    {
        const std::string raster = dir.File("job.ras");
        EXPECT_TRUE(WriteRasterFile(raster, pages, RasterFormat::Uncompressed));
        PpdSpec printer;
        printer.modelNumber = 24;
        printer.modelName = "Portable printer";
        printer.options = {{"zeMediaTracking", {"Continuous", "Gap", "Recording", "Tattoo", "BLine", "Roll"}},
                        {"Darkness", {"Default", "0", "10", "20"}},
                        {"ImageCompress", {"0", "1"}},
                        {"FeedOffset", {"0", "10"}}};
        FilterCall call;
        call.options = options;
        call.inputFile = raster;
        call.ppd = WritePpd(dir.path(), printer);
        return RunFilter(call);
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
    const FilterResult r =
        Run({OneBitPage(384, 100, 203, Pattern)}, "Darkness=10 zeMediaTracking=Gap ImageCompress=1");
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
        EXPECT_EQ(r.out, Cat({kWake, Paper(0x01), kEscInit, c.density, kCentre, GsV0(1, 2),
                              PrinterRows(8, 2, Pattern), kCutLine, kEnd}))
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
    const FilterResult r = Run({OneBitPage(524281, 1, 203, Pattern), OneBitPage(8, 2, 203, Pattern)},
                               "ImageCompress=0 Darkness=Default");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out,
              Cat({kWake, Paper(0x01), kEscInit, kCentre, GsV0(1, 2), PrinterRows(8, 2, Pattern), kCutLine, kEnd}));
    EXPECT_TRUE(HasErrorLine(r, "ERROR: This page is 524281 dots wide")) << r.err;
}

} // namespace
