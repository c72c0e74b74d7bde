// PeriPage renderer: DLE commands, the compressed raster (exact bytes, round
// trips through inflate, size bound), the media table and the page sequence.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "PrinterPeriPage.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Le16(unsigned v)
{
    return {uint8_t(v & 0xFF), uint8_t(v >> 8)};
}

Bytes Be32(uint32_t v)
{
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

const Bytes kWake = {0x10, 0xFF, 0xFE, 0x01};
const Bytes kEscInit = {0x1B, 0x40, 0x00};
const Bytes kCentre = {0x1B, 0x61, 0x01};
const Bytes kToMark = {0x1D, 0x0C};
const Bytes kCutLine = {0x10, 0x50};
const Bytes kEnd = {0x10, 0xFF, 0xFE, 0x45};

Bytes Paper(uint8_t p)
{
    return {0x10, 0xFF, 0x10, 0x03, p};
}

Bytes Density(uint8_t n)
{
    return {0x10, 0xFF, 0x10, 0x00, n};
}

Bytes GsV0(unsigned w, unsigned h)
{
    return Cat({{0x1D, 0x76, 0x30, 0x00}, Le16(w), Le16(h)});
}

class TestPeriPage : public CPrinterPeriPage {
public:
    TestPeriPage() { m_iResolution = 203; }
    void WriteSpool(const void *data, int len) override
    {
        const auto *p = static_cast<const uint8_t *>(data);
        writes.emplace_back(p, p + len);
    }
    void AddLog(const char *, ...) override {}

    Bytes Built() const
    {
        const auto *p = reinterpret_cast<const uint8_t *>(m_CmdBuffer.GetBuffer());
        return Bytes(p, p + m_CmdBuffer.GetBufferLength());
    }

    std::vector<Bytes> writes;
};

using Black = std::function<bool(unsigned, unsigned)>;

CxImage PreparedPage(unsigned width, unsigned height, const Black &black)
{
    CxImage img;
    img.Create(width, height, 1);
    img.SetGrayPalette();
    for (unsigned y = 0; y < height; ++y) {
        uint8_t *row = img.GetBits(y);
        memset(row, 0xFF, img.GetEffWidth());
        for (unsigned x = 0; x < width; ++x)
            if (black(x, y))
                row[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
    }
    return img;
}

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 5 + y * 3) % 13) < 4;
}

// The printer's view: the first w bytes of each row, a set bit prints.
Bytes PrinterRows(unsigned width, unsigned height, const Black &black, unsigned w = 0)
{
    const unsigned full = (width + 7) / 8;
    if (w == 0)
        w = full;
    Bytes out(size_t(w) * height, 0);
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width && x / 8 < w; ++x)
            if (black(x, y))
                out[size_t(y) * w + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    return out;
}

// One compressed raster command taken apart.
struct Compressed {
    unsigned w = 0, h = 0;
    uint32_t length = 0; // L
    Bytes rows;          // inflated
    bool adlerOk = false;
};

// Reads the command at `pos` (1F 00 ...), inflates its raw deflate data and
// checks the big-endian Adler-32 that ends it; advances `pos`.
Compressed ReadCompressed(const Bytes &s, size_t &pos)
{
    Compressed c;
    EXPECT_GE(s.size(), pos + 10);
    if (s.size() < pos + 10)
        return c;
    EXPECT_EQ(s[pos], 0x1F);
    EXPECT_EQ(s[pos + 1], 0x00);
    c.w = unsigned(s[pos + 2]) << 8 | s[pos + 3];
    c.h = unsigned(s[pos + 4]) << 8 | s[pos + 5];
    c.length = uint32_t(s[pos + 6]) << 24 | uint32_t(s[pos + 7]) << 16 | uint32_t(s[pos + 8]) << 8 | s[pos + 9];
    pos += 10;
    EXPECT_GE(c.length, 4u);
    EXPECT_LE(pos + c.length, s.size());
    if (c.length < 4 || pos + c.length > s.size())
        return c;

    z_stream zs{};
    inflateInit2(&zs, -15);
    std::vector<uint8_t> out(size_t(c.w) * c.h + 64);
    zs.next_in = const_cast<Bytef *>(s.data() + pos);
    zs.avail_in = c.length - 4;
    zs.next_out = out.data();
    zs.avail_out = uInt(out.size());
    const int rc = inflate(&zs, Z_FINISH);
    EXPECT_EQ(rc, Z_STREAM_END);
    EXPECT_EQ(zs.avail_in, 0u) << "data between the deflate end and the Adler-32";
    out.resize(zs.total_out);
    inflateEnd(&zs);
    c.rows = out;

    const uint8_t *t = s.data() + pos + c.length - 4;
    const uint32_t adler = uint32_t(t[0]) << 24 | uint32_t(t[1]) << 16 | uint32_t(t[2]) << 8 | t[3];
    c.adlerOk = adler == adler32(adler32(0, nullptr, 0), c.rows.data(), uInt(c.rows.size()));
    pos += c.length;
    return c;
}

Bytes Slice(const Bytes &s, size_t from, size_t to)
{
    return Bytes(s.begin() + long(from), s.begin() + long(std::min(to, s.size())));
}

struct BuilderCase {
    const char *name;
    std::function<void(TestPeriPage &)> build;
    Bytes expected;
};

TEST(PeriPageCommands, BuildersAppendTheirBytes)
{
    auto initFor = [](int media) { return [media](TestPeriPage &r) { r.m_Reg.iMediaType = media; r.cmdInit(); }; };
    const std::vector<BuilderCase> cases = {
        {"init continuous", initFor(0), Cat({kWake, Paper(0x01), kEscInit})},
        {"init gap", initFor(1), Cat({kWake, Paper(0x02), kEscInit})},
        {"init black line", initFor(2), Cat({kWake, Paper(0x00), kEscInit})},
        {"init perforated", initFor(3), Cat({kWake, Paper(0x03), kEscInit})},
        {"init roll", initFor(4), Cat({kWake, Paper(0x01), kEscInit})},
        {"init recording", initFor(5), Cat({kWake, Paper(0x01), kEscInit})},
        {"init tattoo", initFor(6), Cat({kWake, Paper(0x04), kEscInit})},
        {"init tattoo wrinkle", initFor(7), Cat({kWake, Paper(0x05), kEscInit})},
        {"init continuous roll", initFor(8), Cat({kWake, Paper(0x01), kEscInit})},
        {"init us letter fold", initFor(9), Cat({kWake, Paper(0x00), kEscInit})},
        {"init a4 fold", initFor(10), Cat({kWake, Paper(0x00), kEscInit})},
        {"init unknown media 11", initFor(11), Cat({kWake, kEscInit})},
        {"init unknown media -1", initFor(-1), Cat({kWake, kEscInit})},
        {"density -1", [](TestPeriPage &r) { r.cmdDENSITY(-1); }, {}},
        {"density 0", [](TestPeriPage &r) { r.cmdDENSITY(0); }, Density(0x00)},
        {"density 10", [](TestPeriPage &r) { r.cmdDENSITY(10); }, Density(0x0A)},
        {"density 15", [](TestPeriPage &r) { r.cmdDENSITY(15); }, Density(0x0F)},
        {"density 16", [](TestPeriPage &r) { r.cmdDENSITY(16); }, Density(0x0F)},
        {"density 20", [](TestPeriPage &r) { r.cmdDENSITY(20); }, Density(0x0F)},
        {"density 300", [](TestPeriPage &r) { r.cmdDENSITY(300); }, Density(0x0F)},
        {"cut line", [](TestPeriPage &r) { r.cmdCutLine(); }, kCutLine},
        {"end", [](TestPeriPage &r) { r.cmdEndPrint(); }, kEnd},
        {"align is ESC a", [](TestPeriPage &r) { r.cmdAlign(2); }, {0x1B, 0x61, 0x02}},
        {"feed is ESC J", [](TestPeriPage &r) { r.PrintAndFeedPaper(40); }, {0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0x41}},
        {"plain raster is GS v 0",
         [](TestPeriPage &r) {
             const uint8_t d[] = {0xAA, 0x55};
             r.PrintBMP(203, 203, 1, 2, d, 2);
         },
         Cat({GsV0(1, 2), {0xAA, 0x55}})},
        {"plain raster at 100 dpi",
         [](TestPeriPage &r) { r.PrintBMP(100, 100, 0, 0, nullptr, 0); },
         {0x1D, 0x76, 0x30, 0x03, 0x00, 0x00, 0x00, 0x00}},
    };
    for (const BuilderCase &c : cases) {
        TestPeriPage r;
        c.build(r);
        EXPECT_EQ(r.Built(), c.expected) << c.name;
        EXPECT_TRUE(r.writes.empty()) << c.name;
    }
}

// Exact bytes: zlib header 28 91 (1 KiB window) dropped, Adler-32 kept.
TEST(PeriPageCompressed, ExactOutputs)
{
    struct Case {
        unsigned w, h;
        Bytes rows;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {2, 2, {0, 0, 0, 0},
         Cat({{0x1F, 0x00, 0x00, 0x02, 0x00, 0x02}, Be32(10),
              {0x63, 0x60, 0x60, 0x60, 0x00, 0x00, 0x00, 0x04, 0x00, 0x01}})},
        {48, 0, {}, Cat({{0x1F, 0x00, 0x00, 0x30, 0x00, 0x00}, Be32(6), {0x03, 0x00, 0x00, 0x00, 0x00, 0x01}})},
        {4, 2, Bytes(8, 0xFF),
         Cat({{0x1F, 0x00, 0x00, 0x04, 0x00, 0x02}, Be32(9), {0xFB, 0xFF, 0x1F, 0x02, 0x00, 0x23, 0xE4, 0x07, 0xF9}})},
        {3, 2, {1, 2, 3, 4, 5, 6},
         Cat({{0x1F, 0x00, 0x00, 0x03, 0x00, 0x02}, Be32(12),
              {0x63, 0x64, 0x62, 0x66, 0x61, 0x65, 0x03, 0x00, 0x00, 0x3E, 0x00, 0x16}})},
        {65536, 0, {}, {}}, // wider than the 16-bit field: nothing
    };
    for (const Case &c : cases) {
        TestPeriPage r;
        r.m_Reg.bImageCompress = true;
        r.PrintBMP(203, 203, int(c.w), int(c.h), c.rows.data(), int(c.rows.size()));
        EXPECT_EQ(r.Built(), c.expected) << c.w << " x " << c.h;
    }
}

TEST(PeriPageCompressed, RandomRastersRoundTripWithinBound)
{
    std::mt19937 rng(20240611);
    for (int i = 0; i < 300; ++i) {
        const unsigned w = 1 + rng() % 312;
        const unsigned h = rng() % 120;
        Bytes rows(size_t(w) * h);
        // Runs of one value mixed with noise, as thermal pages look.
        const unsigned mode = rng() % 3;
        uint8_t value = 0;
        for (size_t k = 0; k < rows.size(); ++k) {
            if (mode == 0 || rng() % 16 == 0)
                value = uint8_t(rng());
            rows[k] = mode == 2 ? 0 : value;
        }
        TestPeriPage r;
        r.m_Reg.bImageCompress = true;
        r.PrintBMP(203, 203, int(w), int(h), rows.data(), int(rows.size()));
        const Bytes s = r.Built();
        size_t pos = 0;
        const Compressed c = ReadCompressed(s, pos);
        EXPECT_EQ(pos, s.size()) << i;
        EXPECT_EQ(c.w, w) << i;
        EXPECT_EQ(c.h, h) << i;
        EXPECT_EQ(c.rows, rows) << i;
        EXPECT_TRUE(c.adlerOk) << i;
        // Deflate never grows data by more than one bit in eight plus block
        // headers, even when the 1 KiB window rules out stored blocks.
        EXPECT_LE(c.length, rows.size() + rows.size() / 8 + rows.size() / 64 + 16) << i;
    }
}

// More than 65535 rows: consecutive commands, each compressed on its own.
TEST(PeriPageCompressed, TallRasterIsSplitIntoBands)
{
    struct Case {
        unsigned h;
        std::vector<unsigned> bands;
    };
    const Case cases[] = {{65535, {65535}}, {65536, {65535, 1}}, {131075, {65535, 65535, 5}}};
    for (const Case &c : cases) {
        const unsigned w = 2;
        Bytes rows(size_t(w) * c.h);
        for (size_t k = 0; k < rows.size(); ++k)
            rows[k] = uint8_t((k / 7) * 13);
        TestPeriPage r;
        r.m_Reg.bImageCompress = true;
        r.PrintBMP(203, 203, int(w), int(c.h), rows.data(), int(rows.size()));
        const Bytes s = r.Built();
        size_t pos = 0, offset = 0;
        for (unsigned band : c.bands) {
            const Compressed got = ReadCompressed(s, pos);
            EXPECT_EQ(got.w, w);
            EXPECT_EQ(got.h, band);
            EXPECT_TRUE(got.adlerOk);
            EXPECT_EQ(got.rows, Slice(rows, offset, offset + size_t(band) * w)) << c.h;
            offset += size_t(band) * w;
        }
        EXPECT_EQ(pos, s.size()) << c.h;
    }
}

// How each media type ends the page (and which paper byte it starts with).
TEST(PeriPagePage, MediaTable)
{
    struct Case {
        int media;
        Bytes paper;
        bool toMark;
        bool cutLine;
    };
    const std::vector<Case> cases = {
        {0, Paper(0x01), false, true},  {1, Paper(0x02), true, false}, {2, Paper(0x00), true, false},
        {3, Paper(0x03), true, false},  {4, Paper(0x01), false, true}, {5, Paper(0x01), false, false},
        {6, Paper(0x04), false, false}, {7, Paper(0x05), false, false}, {8, Paper(0x01), false, true},
        {9, Paper(0x00), true, false},  {10, Paper(0x00), true, false}, {11, {}, false, false},
    };
    auto black = [](unsigned x, unsigned y) { return x == y; };
    for (const Case &c : cases) {
        TestPeriPage r;
        r.m_Reg.iDensity = -1;
        r.m_Reg.iMediaType = c.media;
        r.m_Image = PreparedPage(16, 16, black);
        r.OnPaintBmp();
        ASSERT_EQ(r.writes.size(), 1u);
        EXPECT_EQ(r.writes[0], Cat({kWake, c.paper, kEscInit, kCentre, GsV0(2, 16), PrinterRows(16, 16, black),
                                    c.toMark ? kToMark : Bytes{}, c.cutLine ? kCutLine : Bytes{}, kEnd}))
            << c.media;
    }
}

// Compressed rows are cut to 208 bytes up to 203 dpi, to 312 above.
TEST(PeriPagePage, CompressedRowsAreLimitedByResolution)
{
    struct Case {
        unsigned width;
        int dpi;
        unsigned w;
    };
    const Case cases[] = {{1728, 200, 208}, {1728, 203, 208}, {1728, 204, 216}, {2600, 204, 312},
                          {2600, 300, 312}, {2600, 203, 208}, {384, 300, 48}};
    for (const Case &c : cases) {
        TestPeriPage r;
        r.m_iResolution = c.dpi;
        r.m_Reg.iDensity = -1;
        r.m_Reg.bImageCompress = true;
        r.m_Image = PreparedPage(c.width, 3, Pattern);
        r.OnPaintBmp();
        ASSERT_EQ(r.writes.size(), 1u);
        size_t pos = Cat({kWake, Paper(0x01), kEscInit, kCentre}).size();
        const Compressed got = ReadCompressed(r.writes[0], pos);
        EXPECT_EQ(got.w, c.w) << c.width << " at " << c.dpi;
        EXPECT_EQ(got.rows, PrinterRows(c.width, 3, Pattern, c.w)) << c.width << " at " << c.dpi;
    }
}

// fFeedBefore (no PPD option sets it) feeds between justification and image.
TEST(PeriPagePage, FeedBefore)
{
    TestPeriPage r;
    r.m_Reg.iDensity = -1;
    r.m_Reg.iMediaType = 1;
    r.m_Reg.fFeedBefore = 40;
    r.m_Reg.fFeedAfter = 10;
    r.m_Image = PreparedPage(8, 2, Pattern);
    r.OnPaintBmp();
    ASSERT_EQ(r.writes.size(), 1u);
    EXPECT_EQ(r.writes[0], Cat({kWake, Paper(0x02), kEscInit, kCentre, {0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0x41},
                                GsV0(1, 2), PrinterRows(8, 2, Pattern), kToMark, {0x1B, 0x4A, 0x50}, kEnd}));
}

TEST(PeriPagePage, NothingAtStartOrEndOfJob)
{
    for (int cut : {0, 1, 2, 3, 4}) {
        TestPeriPage r;
        r.m_Reg.iCutMode = cut;
        r.m_Reg.iMoneyBox = 1;
        r.OnInit();
        r.m_Image = PreparedPage(8, 1, Pattern);
        r.OnPaintBmp();
        r.OnEndDoc();
        ASSERT_EQ(r.writes.size(), 1u) << cut;
        EXPECT_EQ(Slice(r.writes[0], 0, 4), kWake) << "no drawer pulse";
        EXPECT_EQ(Slice(r.writes[0], r.writes[0].size() - 4, r.writes[0].size()), kEnd) << "no cut";
    }
}

TEST(PeriPagePage, EmptyPage)
{
    for (bool compress : {false, true}) {
        TestPeriPage r;
        r.m_Reg.iDensity = -1;
        r.m_Reg.bImageCompress = compress;
        r.m_Image = CxImage();
        r.OnPaintBmp();
        ASSERT_EQ(r.writes.size(), 1u);
        const Bytes raster = compress ? Cat({{0x1F, 0x00, 0x00, 0x00, 0x00, 0x00}, Be32(6),
                                             {0x03, 0x00, 0x00, 0x00, 0x00, 0x01}})
                                      : GsV0(0, 0);
        EXPECT_EQ(r.writes[0], Cat({kWake, Paper(0x01), kEscInit, kCentre, raster, kCutLine, kEnd}));
    }
}

} // namespace
