// The page intake both front ends share: refused headers, short pages and
// ink colour spaces turned into luminance.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "PageCheck.h"
#include "PageIntake.h"
#include "RasterWriter.h"

namespace {

using Notes = std::vector<std::pair<NoteKind, std::string>>;

struct Intake {
    Notes notes;
    PageIntake intake{[this](NoteKind kind, const std::string &text) { notes.emplace_back(kind, text); }};
};

cups_page_header2_t Header(unsigned width, unsigned height, unsigned bpp, int space, unsigned bpl = 0)
{
    cups_page_header2_t h = MakePageHeader(width, height, bpp, 203, 300);
    std::memcpy(&h.cupsColorSpace, &space, sizeof space);
    if (bpl)
        h.cupsBytesPerLine = bpl;
    return h;
}

std::vector<unsigned char> Bytes(const RasterImage &page)
{
    const auto *p = static_cast<const unsigned char *>(page.data);
    return {p, p + size_t{page.bytesPerLine} * page.height};
}

std::vector<NoteKind> Kinds(const Notes &notes)
{
    std::vector<NoteKind> kinds;
    for (const auto &n : notes)
        kinds.push_back(n.first);
    return kinds;
}

TEST(PageIntake, PageIsHandedOnWithTheHeadersGeometry)
{
    Intake in;
    ASSERT_TRUE(in.intake.Begin(Header(16, 2, 8, CUPS_CSPACE_SW), 1));
    const std::vector<unsigned char> row(16, 0x40);
    in.intake.AddRow(row.data());
    in.intake.AddRow(row.data());
    RasterImage page;
    ASSERT_TRUE(in.intake.Finish(page));
    EXPECT_EQ(page.width, 16u);
    EXPECT_EQ(page.height, 2u);
    EXPECT_EQ(page.bitsPerPixel, 8u);
    EXPECT_EQ(page.bytesPerLine, 16u);
    EXPECT_EQ(page.xDpi, 203);
    EXPECT_EQ(page.yDpi, 300);
    EXPECT_EQ(Bytes(page), std::vector<unsigned char>(32, 0x40));
    EXPECT_TRUE(in.notes.empty());
}

TEST(PageIntake, RefusedHeaderIsToldAndKeepsNoRow)
{
    Intake in;
    const cups_page_header2_t h = Header(8, 8, 16, CUPS_CSPACE_SW);
    EXPECT_FALSE(in.intake.Begin(h, 3));
    const std::vector<unsigned char> row(16, 0);
    in.intake.AddRow(row.data());
    EXPECT_EQ(in.intake.Rows(), 0u);
    RasterImage page;
    EXPECT_FALSE(in.intake.Finish(page));
    ASSERT_EQ(in.notes.size(), 1u);
    EXPECT_EQ(in.notes[0].first, NoteKind::Error);
    EXPECT_EQ(in.notes[0].second, RefusalMessage(PageVerdict::BadDepth, 3, h));
}

TEST(PageIntake, FourInkPagesOfThreeBytesAPixelAreRefused)
{
    for (int space : {CUPS_CSPACE_CMYK, CUPS_CSPACE_KCMY, CUPS_CSPACE_YMCK, CUPS_CSPACE_GMCK, CUPS_CSPACE_GMCS}) {
        Intake in;
        EXPECT_FALSE(in.intake.Begin(Header(4, 100, 24, space), 2)) << space;
        ASSERT_EQ(in.notes.size(), 1u) << space;
        EXPECT_EQ(in.notes[0].second,
                  "Page 2 has 24 bits per pixel, too few for the four inks of its colour space; it was skipped.");
    }
}

TEST(PageIntake, PageWithoutRowsIsSkippedWithAnError)
{
    Intake in;
    ASSERT_TRUE(in.intake.Begin(Header(8, 4, 8, CUPS_CSPACE_SW), 2));
    RasterImage page;
    EXPECT_FALSE(in.intake.Finish(page));
    ASSERT_EQ(in.notes.size(), 1u);
    EXPECT_EQ(in.notes[0].first, NoteKind::Error);
    EXPECT_EQ(in.notes[0].second, "Page 2 has no raster data (the stream ends before its first row); it was skipped.");
}

TEST(PageIntake, RowsPastThePagesHeightAreNotKept)
{
    Intake in;
    ASSERT_TRUE(in.intake.Begin(Header(8, 2, 8, CUPS_CSPACE_SW), 1));
    const std::vector<unsigned char> row(8, 0);
    for (int i = 0; i < 3; ++i)
        in.intake.AddRow(row.data());
    EXPECT_EQ(in.intake.Rows(), 2u);
}

// A short page's missing rows are white in its own colour space, so after
// the turn to luminance they are white whatever the space.
TEST(PageIntake, ShortPageIsFilledWithWhiteAndWarned)
{
    struct Case {
        unsigned bpp;
        int space;
        unsigned outBpl;
    } cases[] = {
        {8, CUPS_CSPACE_SW, 4},    {1, CUPS_CSPACE_K, 1},     {8, CUPS_CSPACE_K, 4},
        {24, CUPS_CSPACE_RGB, 12}, {24, CUPS_CSPACE_CMY, 12}, {32, CUPS_CSPACE_CMYK, 12},
    };
    for (const Case &c : cases) {
        Intake in;
        const cups_page_header2_t h = Header(4, 3, c.bpp, c.space);
        ASSERT_TRUE(in.intake.Begin(h, 5));
        const std::vector<unsigned char> row(h.cupsBytesPerLine, 0x5A);
        in.intake.AddRow(row.data());
        RasterImage page;
        ASSERT_TRUE(in.intake.Finish(page)) << c.space;
        ASSERT_EQ(page.bytesPerLine, c.outBpl) << c.space;
        const std::vector<unsigned char> bytes = Bytes(page);
        EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + c.outBpl, bytes.end()),
                  std::vector<unsigned char>(2 * c.outBpl, 0xFF))
            << c.space << " " << c.bpp;
        ASSERT_FALSE(in.notes.empty());
        EXPECT_EQ(in.notes[0].first, NoteKind::Warning);
        EXPECT_EQ(in.notes[0].second, "Page 5 ends after 1 of its 3 rows; the 2 missing rows are printed white.");
    }
}

// One pixel of each kind of page, as sent and as the page path reads it.
TEST(PageIntake, InkColourSpacesBecomeLuminance)
{
    using B = std::vector<unsigned char>;
    struct Case {
        int space;
        unsigned bpp;
        B in;
        unsigned outBpp;
        B out;
    } cases[] = {
        {CUPS_CSPACE_SW, 8, {0x40}, 8, {0x40}},
        {CUPS_CSPACE_K, 8, {0x00}, 8, {0xFF}},
        {CUPS_CSPACE_K, 1, {0x0F}, 1, {0xF0}},
        {CUPS_CSPACE_WHITE, 8, {0x10}, 8, {0xEF}},
        {CUPS_CSPACE_RGB, 24, {10, 20, 30}, 24, {10, 20, 30}},
        {CUPS_CSPACE_RGBA, 32, {10, 20, 30, 0}, 32, {10, 20, 30, 0}},
        {CUPS_CSPACE_CMY, 24, {0, 0, 0}, 24, {255, 255, 255}},     // blank
        {CUPS_CSPACE_CMY, 24, {255, 0, 0}, 24, {0, 255, 255}},     // cyan
        {CUPS_CSPACE_YMC, 24, {255, 0, 0}, 24, {255, 255, 0}},     // yellow
        {CUPS_CSPACE_CMYK, 32, {0, 0, 0, 0}, 24, {255, 255, 255}}, // blank
        {CUPS_CSPACE_CMYK, 32, {0, 0, 0, 255}, 24, {0, 0, 0}},     // black
        {CUPS_CSPACE_CMYK, 32, {100, 0, 50, 200}, 24, {0, 55, 5}},
        {CUPS_CSPACE_YMCK, 32, {255, 0, 0, 0}, 24, {255, 255, 0}},
        {CUPS_CSPACE_KCMY, 32, {255, 0, 0, 0}, 24, {0, 0, 0}},
    };
    for (const Case &c : cases) {
        Intake in;
        ASSERT_TRUE(in.intake.Begin(Header(1, 1, c.bpp, c.space, static_cast<unsigned>(c.in.size())), 1));
        in.intake.AddRow(c.in.data());
        RasterImage page;
        ASSERT_TRUE(in.intake.Finish(page));
        EXPECT_EQ(page.bitsPerPixel, c.outBpp) << c.space;
        EXPECT_EQ(Bytes(page), c.out) << c.space << " " << c.bpp;
    }
}

// Pages of 1, 2 and 4 bits an ink, three pixels each: no ink, full black,
// full first colour ink alone (a byte per ink is covered above). Each
// pixel has four fields, the first unused on three-ink pages.
TEST(PageIntake, PackedInkPagesAreReadInkByInk)
{
    using B = std::vector<unsigned char>;
    const B white = {255, 255, 255}, black = {0, 0, 0};
    struct Case {
        int space;
        unsigned bpp;
        B in;
        B firstInk; // RGB of the first ink of the space alone
    } cases[] = {
        // 1 bit an ink: a pixel a nibble.
        {CUPS_CSPACE_CMY, 4, {0x07, 0x40}, {0, 255, 255}},
        {CUPS_CSPACE_YMC, 4, {0x07, 0x40}, {255, 255, 0}},
        {CUPS_CSPACE_CMYK, 4, {0x01, 0x80}, {0, 255, 255}},
        {CUPS_CSPACE_YMCK, 4, {0x01, 0x80}, {255, 255, 0}},
        {CUPS_CSPACE_KCMY, 4, {0x08, 0x40}, {0, 255, 255}},
        {CUPS_CSPACE_GMCK, 4, {0x01, 0x80}, {255, 255, 0}},
        // 2 bits an ink: a pixel a byte.
        {CUPS_CSPACE_CMY, 8, {0x00, 0x3F, 0x30}, {0, 255, 255}},
        {CUPS_CSPACE_CMYK, 8, {0x00, 0x03, 0xC0}, {0, 255, 255}},
        {CUPS_CSPACE_KCMY, 8, {0x00, 0xC0, 0x30}, {0, 255, 255}},
        {CUPS_CSPACE_GMCS, 8, {0x00, 0x03, 0xC0}, {255, 255, 0}},
        // 4 bits an ink: a pixel two bytes.
        {CUPS_CSPACE_YMC, 16, {0x00, 0x00, 0x0F, 0xFF, 0x0F, 0x00}, {255, 255, 0}},
        {CUPS_CSPACE_CMYK, 16, {0x00, 0x00, 0x00, 0x0F, 0xF0, 0x00}, {0, 255, 255}},
        {CUPS_CSPACE_YMCK, 16, {0x00, 0x00, 0x00, 0x0F, 0xF0, 0x00}, {255, 255, 0}},
    };
    for (const Case &c : cases) {
        Intake in;
        ASSERT_TRUE(in.intake.Begin(Header(3, 1, c.bpp, c.space, static_cast<unsigned>(c.in.size())), 1))
            << c.space << " " << c.bpp;
        in.intake.AddRow(c.in.data());
        RasterImage page;
        ASSERT_TRUE(in.intake.Finish(page));
        EXPECT_EQ(page.bitsPerPixel, 24u);
        B want = white;
        want.insert(want.end(), black.begin(), black.end());
        want.insert(want.end(), c.firstInk.begin(), c.firstInk.end());
        EXPECT_EQ(Bytes(page), want) << c.space << " " << c.bpp;
    }
    // A level between none and full gives its share of light.
    Intake half;
    ASSERT_TRUE(half.intake.Begin(Header(1, 1, 8, CUPS_CSPACE_CMYK, 1), 1));
    const unsigned char kOneThird = 0x01; // black at level 1 of 3
    half.intake.AddRow(&kOneThird);
    RasterImage page;
    ASSERT_TRUE(half.intake.Finish(page));
    EXPECT_EQ(Bytes(page), (B{170, 170, 170}));
}

// Four-ink rows become shorter RGB rows in the same memory; rows with spare
// bytes at their end too.
TEST(PageIntake, FourInkRowsAreRepackedRowByRow)
{
    Intake in;
    ASSERT_TRUE(in.intake.Begin(Header(2, 2, 32, CUPS_CSPACE_CMYK, 12), 1));
    const std::vector<unsigned char> top = {0, 0, 0, 0, 0, 0, 0, 255, 9, 9, 9, 9};
    const std::vector<unsigned char> bottom = {255, 0, 0, 0, 0, 255, 0, 0, 9, 9, 9, 9};
    in.intake.AddRow(top.data());
    in.intake.AddRow(bottom.data());
    RasterImage page;
    ASSERT_TRUE(in.intake.Finish(page));
    EXPECT_EQ(page.bytesPerLine, 6u);
    EXPECT_EQ(Bytes(page), (std::vector<unsigned char>{255, 255, 255, 0, 0, 0, 0, 255, 255, 255, 0, 255}));
    EXPECT_EQ(Kinds(in.notes), std::vector<NoteKind>{NoteKind::Trace});
}

} // namespace
