// The PeriPage encoder as a function: where the feed after a page goes, and
// the plain raster's full rows.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "PeriPageEncoder.h"
#include "PrinterTestKit.h"

namespace {

using namespace peripage;

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 5 + y * 3) % 13) < 4;
}

ByteVec Encoded(const CxImage &page, const tagREGSTRUCT &reg)
{
    NS_QV_CLASS::CMyBuffer out;
    EncodePage(page, reg, 203, out);
    const auto *p = reinterpret_cast<const uint8_t *>(out.GetBuffer());
    return ByteVec(p, p + out.GetBufferLength());
}

// After the feed to the next mark, before the cut line.
TEST(PeriPageEncoder, FeedAfterThePageByMedia)
{
    const ByteVec feed = {0x1B, 0x4A, 0x50}; // 10 mm at 203 dpi
    struct Case {
        int media;
        ByteVec paper, tail;
    };
    const Case cases[] = {
        {kMediaBLine, Paper(0x00), Cat({kToMark, feed, kEnd})},
        {kMediaRoll, Paper(0x01), Cat({feed, kCutLine, kEnd})},
    };
    for (const Case &c : cases) {
        tagREGSTRUCT reg;
        reg.iDensity = -1;
        reg.iMediaType = c.media;
        reg.fFeedAfter = 10;
        EXPECT_EQ(Encoded(PreparedPage(16, 3, Pattern), reg),
                  Cat({kWake, c.paper, kEscInit, kCentre, GsV0(2, 3), PrinterRows(16, 3, Pattern), c.tail}))
            << c.media;
    }
}

// Only compressed rows are held to 208 bytes at 203 dpi.
TEST(PeriPageEncoder, PlainRowsAreSentWhole)
{
    tagREGSTRUCT reg;
    reg.iDensity = -1;
    EXPECT_EQ(Encoded(PreparedPage(1728, 4, Pattern), reg), Cat({kWake, Paper(0x01), kEscInit, kCentre, GsV0(216, 4),
                                                                 PrinterRows(1728, 4, Pattern), kCutLine, kEnd}));
}

// The paper byte each media type starts with, and how it ends the page.
TEST(PeriPageEncoder, PaperByteAndPageEndByMedia)
{
    struct Case {
        int media;
        ByteVec paper;
        bool toMark, cutLine;
    };
    const std::vector<Case> cases = {
        {0, Paper(0x01), false, true},  {1, Paper(0x02), true, false},  {2, Paper(0x00), true, false},
        {3, Paper(0x03), true, false},  {4, Paper(0x01), false, true},  {5, Paper(0x01), false, false},
        {6, Paper(0x04), false, false}, {7, Paper(0x05), false, false}, {8, Paper(0x01), false, true},
        {9, Paper(0x00), true, false},  {10, Paper(0x00), true, false}, {11, {}, false, false},
        {-1, {}, false, false},
    };
    const Black diagonal = [](unsigned x, unsigned y) { return x == y; };
    for (const Case &c : cases) {
        tagREGSTRUCT reg;
        reg.iDensity = -1;
        reg.iMediaType = c.media;
        EXPECT_EQ(Encoded(PreparedPage(16, 16, diagonal), reg),
                  Cat({kWake, c.paper, kEscInit, kCentre, GsV0(2, 16), PrinterRows(16, 16, diagonal),
                       c.toMark ? kToMark : ByteVec{}, c.cutLine ? kCutLine : ByteVec{}, kEnd}))
            << c.media;
    }
}

// The density byte after the paper byte: 0 to 15, higher held at 15, none
// for the printer's own; then the alignment; a feed before the picture.
TEST(PeriPageEncoder, DensityAlignmentAndFeedBefore)
{
    const ByteVec rows = PrinterRows(8, 2, Pattern);
    struct Case {
        const char *name;
        std::function<void(tagREGSTRUCT &)> setup;
        ByteVec afterPaper; // up to the raster
    };
    const std::vector<Case> cases = {
        {"printer's own darkness", [](tagREGSTRUCT &) {}, Cat({kEscInit, kCentre})},
        {"darkness 0", [](tagREGSTRUCT &r) { r.iDensity = 0; }, Cat({kEscInit, Density(0x00), kCentre})},
        {"darkness 10", [](tagREGSTRUCT &r) { r.iDensity = 10; }, Cat({kEscInit, Density(0x0A), kCentre})},
        {"darkness 15", [](tagREGSTRUCT &r) { r.iDensity = 15; }, Cat({kEscInit, Density(0x0F), kCentre})},
        {"darkness 16 is 15", [](tagREGSTRUCT &r) { r.iDensity = 16; }, Cat({kEscInit, Density(0x0F), kCentre})},
        {"darkness 300 is 15", [](tagREGSTRUCT &r) { r.iDensity = 300; }, Cat({kEscInit, Density(0x0F), kCentre})},
        {"left", [](tagREGSTRUCT &r) { r.iAlign = 0; }, Cat({kEscInit, {0x1B, 0x61, 0x00}})},
        {"right", [](tagREGSTRUCT &r) { r.iAlign = 2; }, Cat({kEscInit, {0x1B, 0x61, 0x02}})},
        {"40 mm before", [](tagREGSTRUCT &r) { r.fFeedBefore = 40; },
         Cat({kEscInit, kCentre, {0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0x41}})},
    };
    for (const Case &c : cases) {
        tagREGSTRUCT reg;
        reg.iDensity = -1;
        c.setup(reg);
        EXPECT_EQ(Encoded(PreparedPage(8, 2, Pattern), reg),
                  Cat({kWake, Paper(0x01), c.afterPaper, GsV0(1, 2), rows, kCutLine, kEnd}))
            << c.name;
    }
}

// Compressed: exact bytes of the band (the zlib header 28 91 left out, the
// Adler-32 kept), rows cut to 208 bytes up to 203 dpi and to 312 above.
TEST(PeriPageEncoder, CompressedRowsExactAndLimitedByResolution)
{
    tagREGSTRUCT reg;
    reg.iDensity = -1;
    reg.bImageCompress = true;
    NS_QV_CLASS::CMyBuffer out;
    EncodePage(PreparedPage(16, 2, [](unsigned, unsigned) { return false; }), reg, 203, out); // white: 0 bytes
    const auto *p = reinterpret_cast<const uint8_t *>(out.GetBuffer());
    EXPECT_EQ(ByteVec(p, p + out.GetBufferLength()), Cat({kWake,
                                                          Paper(0x01),
                                                          kEscInit,
                                                          kCentre,
                                                          {0x1F, 0x00, 0x00, 0x02, 0x00, 0x02},
                                                          Be32(10),
                                                          {0x63, 0x60, 0x60, 0x60, 0x00, 0x00, 0x00, 0x04, 0x00, 0x01},
                                                          kCutLine,
                                                          kEnd}));

    struct Case {
        unsigned width;
        int dpi;
        unsigned w;
    };
    const Case cases[] = {{1728, 200, 208}, {1728, 203, 208}, {1728, 204, 216}, {2600, 204, 312},
                          {2600, 300, 312}, {2600, 203, 208}, {384, 300, 48}};
    for (const Case &c : cases) {
        NS_QV_CLASS::CMyBuffer page;
        EncodePage(PreparedPage(c.width, 3, Pattern), reg, c.dpi, page);
        const auto *b = reinterpret_cast<const uint8_t *>(page.GetBuffer());
        const ByteVec got(b, b + page.GetBufferLength());
        size_t pos = Cat({kWake, Paper(0x01), kEscInit, kCentre}).size();
        const Compressed band = ReadCompressed(got, pos);
        EXPECT_EQ(band.w, c.w) << c.width << " at " << c.dpi;
        EXPECT_EQ(band.rows, PrinterRows(c.width, 3, Pattern, c.w)) << c.width << " at " << c.dpi;
        EXPECT_EQ(Slice(got, pos, got.size()), Cat({kCutLine, kEnd})) << c.width << " at " << c.dpi;
    }
}

} // namespace
