// The page hand-off through the page path (image built, hooks in order) and
// the page header checks that guard every allocation of the job loop.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "BaseRender.h"
#include "PageCheck.h"
#include "PagePath.h"
#include "PagePrep.h"
#include "RasterWriter.h"

namespace {

struct RecordingRender : CBaseRender {
    std::vector<std::string> *calls;
    explicit RecordingRender(std::vector<std::string> *c) : calls(c) {}
    void OnInit() override { calls->push_back("OnInit"); }
    void OnStartPage() override { calls->push_back("OnStartPage"); }
    void OnBeginBmp() override
    {
        calls->push_back("OnBeginBmp");
        CBaseRender::OnBeginBmp();
    }
    void OnPaintBmp() override { calls->push_back("OnPaintBmp"); }
    void OnEndBmp() override { calls->push_back("OnEndBmp"); }
    void OnEndPage() override { calls->push_back("OnEndPage"); }
    void OnDestroy() override { calls->push_back("OnDestroy"); }
};

// A page as the job loop hands it over: `rows` of `bpl` bytes.
RasterImage Page(const std::vector<uint8_t> &rows, unsigned width, unsigned height, unsigned bpp, unsigned bpl)
{
    RasterImage page;
    page.data = rows.data();
    page.width = width;
    page.height = height;
    page.bitsPerPixel = bpp;
    page.bytesPerLine = bpl;
    page.xDpi = 203;
    page.yDpi = 300;
    return page;
}

TEST(HandOff, HooksRunInOrderAndInitOnlyOnce)
{
    std::vector<std::string> calls;
    auto *render = new RecordingRender(&calls);
    PagePath path(render, nullptr);

    std::vector<uint8_t> rows(80 * 2, 0xFF); // wider source rows than the image needs
    rows[0] = 0x0F;
    rows[80] = 0xF0;
    for (int page = 1; page <= 2; ++page)
        EXPECT_TRUE(path.PrintPage(Page(rows, 576, 2, 1, 80), page).printed);
    std::vector<std::string> page = {"OnStartPage", "OnBeginBmp", "OnPaintBmp", "OnEndBmp", "OnEndPage"};
    std::vector<std::string> expected = {"OnStartPage", "OnBeginBmp", "OnInit", "OnPaintBmp", "OnEndBmp", "OnEndPage"};
    expected.insert(expected.end(), page.begin(), page.end());
    EXPECT_EQ(calls, expected);

    EXPECT_EQ(render->m_iResolution, 203);
    EXPECT_EQ(render->m_Image.GetWidth(), 576u);
    EXPECT_EQ(render->m_Image.GetXDPI(), 203);
    EXPECT_EQ(render->m_Image.GetYDPI(), 300);
    EXPECT_EQ(render->m_Image.GetBits(0)[0], 0x0F); // stored row 0 is the first raster line
    EXPECT_EQ(render->m_Image.GetBits(1)[0], 0xF0);

    calls.clear();
    path.EndJob();
    EXPECT_EQ(calls, std::vector<std::string>{"OnDestroy"});
}

TEST(HandOff, PageWhoseImageCannotBeBuiltOnlyEnds)
{
    std::vector<std::string> calls;
    PagePath path(new RecordingRender(&calls), nullptr);
    std::vector<uint8_t> none;
    for (unsigned bpp : {16u, 2u})
        EXPECT_FALSE(path.PrintPage(Page(none, 10, 10, bpp, 20), 1).printed);
    EXPECT_FALSE(path.PrintPage(Page(none, 10, 0, 8, 10), 1).printed);
    EXPECT_EQ(calls, (std::vector<std::string>{"OnEndPage", "OnEndPage", "OnEndPage"}));
}

// Black dots of a prepared one-bit page.
int Dots(CxImage &img)
{
    int dots = 0;
    for (uint32_t y = 0; y < img.GetHeight(); ++y)
        for (uint32_t x = 0; x < img.GetWidth(); ++x)
            dots += !(img.GetBits(y)[x / 8] & (0x80 >> (x % 8)));
    return dots;
}

// Colour pages become grey by their luminance (0.299 R + 0.587 G + 0.114 B):
// sky blue is darker than the default threshold of 175 and prints, orange is
// lighter and stays white.
TEST(PageImage, ColourPagesBecomeGreyByTheirLuminance)
{
    struct Case {
        uint8_t r, g, b;
        unsigned grey;
        int dots; // of 8 x 2 at the default threshold
    } cases[] = {
        {0, 200, 255, 146, 16}, // sky blue
        {255, 200, 0, 193, 0},  // orange
        {255, 0, 0, 76, 16},    // red
        {0, 0, 255, 29, 16},    // blue
    };
    for (const Case &c : cases) {
        for (unsigned bpp : {24u, 32u}) {
            SCOPED_TRACE(std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + " at " +
                         std::to_string(bpp));
            const unsigned step = bpp / 8;
            std::vector<uint8_t> rows(8 * 2 * step, 0xFF);
            for (size_t i = 0; i < rows.size(); i += step) {
                rows[i] = c.r;
                rows[i + 1] = c.g;
                rows[i + 2] = c.b;
            }
            CxImage img;
            ASSERT_TRUE(MakePageImage(Page(rows, 8, 2, bpp, 8 * step), img));
            const tagRGBQUAD pixel = img.GetPixelColor(3, 1, false);
            EXPECT_EQ(pixel.rgbRed, c.r);
            EXPECT_EQ(pixel.rgbBlue, c.b);
            CxImage grey(img);
            ASSERT_TRUE(grey.GrayScale());
            EXPECT_EQ(grey.GetBits(1)[3], c.grey);
            tagREGSTRUCT reg;
            reg.iGrayMethod = 0;
            ASSERT_EQ(PrepareImage(img, reg, 203), "");
            EXPECT_EQ(Dots(img), c.dots);
        }
    }
}

// The fourth byte of a 32-bit pixel is never transparency: a black page
// whose fourth bytes are 0 prints like the same page in 24 bits, unshifted
// and shifted, thresholded and dithered.
TEST(PageImage, TheFourthByteNeverMakesPixelsTransparent)
{
    for (uint8_t fourth : {0, 255, 7}) {
        std::vector<uint8_t> rows(64 * 32 * 4, 0);
        for (size_t i = 3; i < rows.size(); i += 4)
            rows[i] = fourth;
        for (int method : {0, 3})
            for (int shift : {0, 8}) {
                SCOPED_TRACE(std::to_string(fourth) + " method " + std::to_string(method) + " shift " +
                             std::to_string(shift));
                CxImage img;
                ASSERT_TRUE(MakePageImage(Page(rows, 64, 32, 32, 256), img));
                EXPECT_FALSE(img.AlphaIsValid());
                EXPECT_EQ(img.GetBpp(), 24u);
                tagREGSTRUCT reg;
                reg.iGrayMethod = method;
                reg.iOffsetX = shift;
                ASSERT_EQ(PrepareImage(img, reg, 203), "");
                EXPECT_EQ(Dots(img), shift ? 56 * 32 : 64 * 32);
            }
    }
}

// A front end that sets notes gets the path's traces, the renderer's own
// included, instead of the system log.
TEST(HandOff, TracesGoToTheNotesWhenSet)
{
    struct TracingRender : CBaseRender {
        void OnPaintBmp() override { AddLog("painted %d", 7); }
    };
    std::vector<std::pair<NoteKind, std::string>> notes;
    PagePath path(new TracingRender, nullptr);
    path.SetNotes([&notes](NoteKind kind, const std::string &text) { notes.emplace_back(kind, text); });
    std::vector<uint8_t> rows(4, 0xFF);
    ASSERT_TRUE(path.PrintPage(Page(rows, 8, 1, 8, 4), 1).printed);
    EXPECT_FALSE(path.PrintPage(Page(rows, 8, 1, 2, 4), 2).printed);
    const std::vector<std::pair<NoteKind, std::string>> expected = {
        {NoteKind::Trace, "create image width=8, height=1, bitsPerPixel=8, bytesPerLine=4"},
        {NoteKind::Trace, "painted 7"},
        {NoteKind::Error, "create image error\n"},
    };
    EXPECT_EQ(notes, expected);
}

TEST(PageCheck, RefusesWhatCouldOverflowOrOverread)
{
    struct Case {
        unsigned width, height, bpp, bpl;
        PageVerdict verdict;
    } cases[] = {
        {320, 240, 1, 40, PageVerdict::Ok},
        {320, 240, 1, 48, PageVerdict::Ok}, // surplus bytes are fine
        {320, 240, 1, 39, PageVerdict::ShortLines},
        {100, 10, 32, 300, PageVerdict::ShortLines}, // 32 bits take 4 bytes a pixel
        {100, 10, 32, 400, PageVerdict::Ok},
        {100, 10, 24, 300, PageVerdict::Ok},
        {65536, 65536, 24, 196608, PageVerdict::TooLarge}, // 12 GiB: wraps in 32 bits
        {32768, 65537, 1, 4096, PageVerdict::TooLarge},    // just over 256 MiB
        {16384, 16384, 1, 2048, PageVerdict::Ok},          // 2^28 pixels
        {16384, 16385, 1, 2048, PageVerdict::TooLarge},    // one row more
        {20000, 10, 1, 2500, PageVerdict::Ok},
        {20001, 10, 1, 2501, PageVerdict::TooLarge}, // wider than any media
        {2147483647u, 1, 1, 268435456, PageVerdict::TooLarge},
        {8, 131072, 1, 1, PageVerdict::Ok},
        {8, 131073, 1, 1, PageVerdict::TooLarge},       // longer than any receipt
        {10, 0, 8, 0xFFFFFFFFu, PageVerdict::TooLarge}, // a huge line even without rows
        {0x80000000u, 1, 8, 0x80000000u, PageVerdict::TooLarge},
        {10, 0, 8, 10, PageVerdict::Ok},             // left to the image check
        {1, 268435456, 1, 1, PageVerdict::TooLarge}, // 256 MiB raster, 1 GiB image
        {8, 8, 2, 2, PageVerdict::BadDepth},
        {8, 8, 16, 16, PageVerdict::BadDepth},
        {8, 8, 0, 1, PageVerdict::BadDepth},
    };
    for (const Case &c : cases) {
        cups_page_header2_t h = MakePageHeader(c.width, c.height, c.bpp, 203, 203);
        h.cupsBytesPerLine = c.bpl;
        EXPECT_EQ(CheckPageHeader(h), c.verdict) << c.width << "x" << c.height << "x" << c.bpp << " bpl " << c.bpl;
    }
}

TEST(PageCheck, RefusesResolutionsNoPrinterHas)
{
    struct Case {
        unsigned x, y;
        PageVerdict verdict;
    } cases[] = {
        {50, 50, PageVerdict::Ok},
        {3000, 3000, PageVerdict::Ok},
        {203, 49, PageVerdict::BadResolution},
        {3001, 203, PageVerdict::BadResolution},
        {0, 203, PageVerdict::BadResolution},
        {static_cast<unsigned>(-203), 203, PageVerdict::BadResolution},
        {1833500875u, 1833500875u, PageVerdict::BadResolution},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CheckPageHeader(MakePageHeader(8, 8, 1, c.x, c.y)), c.verdict) << c.x << "x" << c.y;
}

TEST(PageCheck, WhiteIsTheColourSpacesOwn)
{
    struct Case {
        int space;
        unsigned char white;
    } cases[] = {{CUPS_CSPACE_W, 0xFF},
                 {CUPS_CSPACE_SW, 0xFF},
                 {CUPS_CSPACE_RGB, 0xFF},
                 {CUPS_CSPACE_K, 0x00},
                 {CUPS_CSPACE_CMYK, 0x00},
                 {CUPS_CSPACE_DEVICE3, 0},
                 {100, 0xFF}};
    for (const Case &c : cases) {
        cups_page_header2_t h = MakePageHeader(8, 8, 8, 203, 203);
        std::memcpy(&h.cupsColorSpace, &c.space, sizeof c.space);
        EXPECT_EQ(WhiteByte(h), c.white) << c.space;
    }
}

} // namespace
