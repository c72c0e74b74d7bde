// PeriPage renderer: DLE commands, the compressed raster (exact bytes, round
// trips through inflate, size bound) and what the renderer adds to the
// encoder's page (the media table, density and row limits are held down on
// the encoder, PeriPageEncoderTest).
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "PrinterPeriPage.h"
#include "PrinterTestKit.h"

namespace {

using namespace peripage;
using TestPeriPage = CapturingRenderer<CPrinterPeriPage>;

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 5 + y * 3) % 13) < 4;
}

struct BuilderCase {
    const char *name;
    std::function<void(TestPeriPage &)> build;
    ByteVec expected;
};

TEST(PeriPageCommands, BuildersAppendTheirBytes)
{
    auto initFor = [](int media) {
        return [media](TestPeriPage &r) {
            r.m_Reg.iMediaType = media;
            r.cmdInit();
        };
    };
    const std::vector<BuilderCase> cases = {
        {"init continuous", initFor(0), Cat({kWake, Paper(0x01), kEscInit})},
        {"init unknown media 11", initFor(11), Cat({kWake, kEscInit})},
        {"init unknown media -1", initFor(-1), Cat({kWake, kEscInit})},
        {"density -1", [](TestPeriPage &r) { r.cmdDENSITY(-1); }, {}},
        {"density 10", [](TestPeriPage &r) { r.cmdDENSITY(10); }, Density(0x0A)},
        {"density 20", [](TestPeriPage &r) { r.cmdDENSITY(20); }, Density(0x0F)},
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
        ByteVec rows;
        ByteVec expected;
    };
    const std::vector<Case> cases = {
        {2,
         2,
         {0, 0, 0, 0},
         Cat({{0x1F, 0x00, 0x00, 0x02, 0x00, 0x02},
              Be32(10),
              {0x63, 0x60, 0x60, 0x60, 0x00, 0x00, 0x00, 0x04, 0x00, 0x01}})},
        {48, 0, {}, Cat({{0x1F, 0x00, 0x00, 0x30, 0x00, 0x00}, Be32(6), {0x03, 0x00, 0x00, 0x00, 0x00, 0x01}})},
        {4, 2, ByteVec(8, 0xFF),
         Cat({{0x1F, 0x00, 0x00, 0x04, 0x00, 0x02}, Be32(9), {0xFB, 0xFF, 0x1F, 0x02, 0x00, 0x23, 0xE4, 0x07, 0xF9}})},
        {3,
         2,
         {1, 2, 3, 4, 5, 6},
         Cat({{0x1F, 0x00, 0x00, 0x03, 0x00, 0x02},
              Be32(12),
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
        ByteVec rows(size_t(w) * h);
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
        const ByteVec s = r.Built();
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
        ByteVec rows(size_t(w) * c.h);
        for (size_t k = 0; k < rows.size(); ++k)
            rows[k] = uint8_t((k / 7) * 13);
        TestPeriPage r;
        r.m_Reg.bImageCompress = true;
        r.PrintBMP(203, 203, int(w), int(c.h), rows.data(), int(rows.size()));
        const ByteVec s = r.Built();
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

// Recording paper prints the picture alone: white rows at both ends go.
TEST(PeriPagePage, RecordingPaperLeavesOutWhiteRowsAtBothEnds)
{
    auto black = [](unsigned x, unsigned y) { return y >= 12 && y < 30 && (x + y) % 4 == 0; };
    TestPeriPage r;
    r.m_Reg.iDensity = -1;
    r.m_Reg.iMediaType = kMediaRecording;
    r.m_Image = PreparedPage(32, 50, black);
    r.OnPaintBmp();
    ASSERT_EQ(r.writes.size(), 1u);
    EXPECT_EQ(r.writes[0], Cat({kWake, Paper(0x01), kEscInit, kCentre, GsV0(4, 18),
                                Slice(PrinterRows(32, 50, black), 12 * 4, 30 * 4), kEnd}));
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
        const ByteVec raster =
            compress ? Cat({{0x1F, 0x00, 0x00, 0x00, 0x00, 0x00}, Be32(6), {0x03, 0x00, 0x00, 0x00, 0x00, 0x01}})
                     : GsV0(0, 0);
        EXPECT_EQ(r.writes[0], Cat({kWake, Paper(0x01), kEscInit, kCentre, raster, kCutLine, kEnd}));
    }
}

} // namespace
