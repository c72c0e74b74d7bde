// Page preparation as functions of the page, the settings and the
// resolution: the one-bit finishing operations, white-edge cropping, tone,
// shift, rotation and the two-colour split, on small exact images.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "BaseRender.h"
#include "PagePrep.h"

namespace {

// A one-bit image from rows of '#' (black) and '.' (white), row 0 first.
CxImage Bitmap(const std::vector<std::string> &rows)
{
    const unsigned w = static_cast<unsigned>(rows[0].size()), h = static_cast<unsigned>(rows.size());
    CxImage img(w, h, 1, 0);
    img.SetGrayPalette();
    memset(img.GetBits(0), 0xFF, static_cast<size_t>(img.GetEffWidth()) * h);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
            if (rows[y][x] == '#')
                img.GetBits(y)[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
    return img;
}

std::vector<std::string> Rows(CxImage &img)
{
    std::vector<std::string> rows;
    for (unsigned y = 0; y < img.GetHeight(); ++y) {
        std::string row;
        for (unsigned x = 0; x < img.GetWidth(); ++x)
            row += (img.GetBits(y)[x / 8] & (0x80 >> (x % 8))) ? '.' : '#';
        rows.push_back(row);
    }
    return rows;
}

TEST(Finishing, PaddingBitsBecomeWhiteAndPixelsStay)
{
    struct Case {
        unsigned width, stride, n;
        uint8_t lastPixelByteAfter; // byte n when it holds pixels, from 0x00
    } cases[] = {
        {203, 28, 25, 0x1F},
        {384, 48, 48, 0},
        {385, 52, 48, 0x7F},
        {1, 4, 0, 0x7F},
    };
    for (const Case &c : cases) {
        CxImage img(c.width, 2, 1, 0);
        ASSERT_EQ(img.GetEffWidth(), c.stride);
        memset(img.GetBits(0), 0, static_cast<size_t>(c.stride) * 2);
        AdjustEffWidthBits(img);
        for (unsigned y = 0; y < 2; ++y) {
            const uint8_t *row = img.GetBits(y);
            for (unsigned i = 0; i < c.n; ++i)
                EXPECT_EQ(row[i], 0) << c.width;
            unsigned first = c.n;
            if (c.width % 8) {
                EXPECT_EQ(row[c.n], c.lastPixelByteAfter) << c.width;
                ++first;
            }
            for (unsigned i = first; i < c.stride; ++i)
                EXPECT_EQ(row[i], 0xFF) << c.width << " byte " << i;
        }
    }
}

TEST(Finishing, NegativeTwiceRestoresAndClearsPaddingAfterFinishing)
{
    CxImage img = Bitmap({"#..#.", ".##.#"});
    AdjustEffWidthBits(img);
    std::vector<uint8_t> before(img.GetBits(0), img.GetBits(0) + img.GetEffWidth() * 2);
    Negative(img);
    EXPECT_EQ(img.GetBits(0)[0], 0x90); // #..#. -> 1001 0 000
    EXPECT_EQ(img.GetBits(0)[1], 0x00);
    Negative(img);
    EXPECT_EQ(std::vector<uint8_t>(img.GetBits(0), img.GetBits(0) + img.GetEffWidth() * 2), before);
}

TEST(CropWhiteEdge, LimitsPerEdge)
{
    const std::vector<std::string> page = {
        "..........", // row 0: white
        "..........", // row 1: white
        "...#......", ".....#....",
        "..........", // row 4: white
    };
    struct Case {
        int top, bottom, left, right;
        std::vector<std::string> expected;
    } cases[] = {
        {0, 0, 0, 0, page},
        {1, 0, 0, 0, {page.begin() + 1, page.end()}},
        {5, 0, 0, 0, {page.begin() + 2, page.end()}},
        {0, 3, 0, 0, {page.begin(), page.end() - 1}},
        {-1, -1, 0, 0, {"...#......", ".....#...."}},
        {0, 0, 2, 0, {"........", "........", ".#......", "...#....", "........"}},
        {0, 0, 9, 0, {".......", ".......", "#......", "..#....", "......."}},
        // Right: 4 white columns; a limit of 2 removes 3, a limit of 9 all 4.
        {0, 0, 0, 2, {".......", ".......", "...#...", ".....#.", "......."}},
        {0, 0, 0, 9, {"......", "......", "...#..", ".....#", "......"}},
        {-1, -1, -1, -1, {"#..", "..#"}},
        // The largest limit a setting can give: every white column goes.
        {0, 0, 0, INT_MAX, {"......", "......", "...#..", ".....#", "......"}},
    };
    for (const Case &c : cases) {
        CxImage img = Bitmap(page);
        CropWhiteEdge(img, {c.top, c.bottom, c.left, c.right});
        EXPECT_EQ(Rows(img), c.expected) << c.top << " " << c.bottom << " " << c.left << " " << c.right;
    }
}

TEST(CropWhiteEdge, AllWhitePageIsKept)
{
    CxImage img = Bitmap({".....", "....."});
    CropWhiteEdge(img, {-1, -1, -1, -1});
    EXPECT_EQ(img.GetWidth(), 5u);
    EXPECT_EQ(img.GetHeight(), 2u);
}

TEST(CropWhiteEdge, PaddingIsNotMistakenForPixels)
{
    CxImage img = Bitmap({"#........."});
    memset(img.GetBits(0) + 1, 0x00, img.GetEffWidth() - 1); // black padding bits
    img.GetBits(0)[1] = 0xC0;                                // columns 8, 9 white
    CropWhiteEdge(img, {0, 0, 0, 100});
    EXPECT_EQ(img.GetWidth(), 1u);
}

CxImage Grey(unsigned w, unsigned h, std::vector<uint8_t> levels)
{
    CxImage img(w, h, 8, 0);
    img.SetGrayPalette();
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
            img.GetBits(y)[x] = levels[(y * w + x) % levels.size()];
    return img;
}

TEST(PrepareImage, ThresholdLevelUsesTheLowEightBits)
{
    struct Case {
        int threshold;
        std::string expected; // for levels 0, 44, 45, 175, 176, 255
    } cases[] = {{175, "####.."}, {256, "#....."}, {300, "##...."}, {0, "#....."}};
    for (const Case &c : cases) {
        tagREGSTRUCT reg;
        reg.iGrayMethod = 0;
        reg.iThreValue = c.threshold;
        CxImage img = Grey(6, 1, {0, 44, 45, 175, 176, 255});
        EXPECT_EQ(PrepareImage(img, reg, 203), "");
        ASSERT_EQ(img.GetBpp(), 1u);
        EXPECT_EQ(Rows(img)[0], c.expected) << c.threshold;
        EXPECT_EQ(img.GetBits(0)[0] & 0x03, 0x03); // padding white
    }
}

TEST(PrepareImage, ShiftMovesThePictureAndWhitensWhatIsUncovered)
{
    tagREGSTRUCT reg;
    reg.iOffsetX = 2;
    reg.iOffsetY = -1;
    CxImage img = Bitmap({"#....", ".#...", "..#.."});
    PrepareImage(img, reg, 203);
    EXPECT_EQ(Rows(img), (std::vector<std::string>{"...#.", "....#", "....."}));
}

TEST(PrepareImage, CropMillimetresAt203Dpi)
{
    // 64 x 40 page, black block in rows 20..29 and columns 24..39. One
    // millimetre at 203 dpi is an 8-dot limit (7.99 + 0.5), 5 mm 40 dots.
    std::vector<std::string> page(40, std::string(64, '.'));
    for (size_t y = 20; y < 30; ++y)
        page[y].replace(24, 16, std::string(16, '#'));
    struct Case {
        float tagREGSTRUCT::*edge;
        float mm;
        unsigned width, height;
        long firstBlackRow;
        size_t firstBlackColumn;
    } cases[] = {
        {nullptr, 0, 64, 40, 20, 24},
        {&tagREGSTRUCT::iCropTopEdge, 1, 64, 32, 12, 24},
        {&tagREGSTRUCT::iCropBottomEdge, 1, 64, 32, 20, 24},
        {&tagREGSTRUCT::iCropLeftEdge, 1, 56, 40, 20, 16},
        {&tagREGSTRUCT::fCropRightEdge, 1, 55, 40, 20, 24}, // one column more than the limit
        {&tagREGSTRUCT::iCropTopEdge, -1, 64, 20, 0, 24},
        {&tagREGSTRUCT::iCropTopEdge, 5, 64, 20, 0, 24}, // the margin is narrower than the limit
    };
    for (const Case &c : cases) {
        tagREGSTRUCT reg;
        if (c.edge)
            reg.*c.edge = c.mm;
        CxImage img = Bitmap(page);
        PrepareImage(img, reg, 203);
        const std::vector<std::string> rows = Rows(img);
        ASSERT_EQ(img.GetWidth(), c.width) << c.mm;
        ASSERT_EQ(rows.size(), c.height) << c.mm;
        const auto inked = std::find_if(rows.begin(), rows.end(), [](auto &r) { return r.find('#') != r.npos; });
        EXPECT_EQ(inked - rows.begin(), c.firstBlackRow) << c.mm;
        EXPECT_EQ(inked->find('#'), c.firstBlackColumn) << c.mm;
    }
}

TEST(PrepareImage, RotationTurnsThePage)
{
    // 40 x 16 page with one black dot at (5, 2).
    struct Case {
        int rotate;
        unsigned width, height, x, y;
    } cases[] = {
        {0, 40, 16, 5, 2},
        {1, 40, 16, 34, 13}, // (w - 1 - x, h - 1 - y)
        {2, 16, 40, 2, 34},  // (y, w - 1 - x)
        {3, 16, 40, 13, 5},  // (h - 1 - y, x)
    };
    for (const Case &c : cases) {
        std::vector<std::string> page(16, std::string(40, '.'));
        page[2][5] = '#';
        tagREGSTRUCT reg;
        reg.iRotate = c.rotate;
        CxImage img = Bitmap(page);
        PrepareImage(img, reg, 203);
        EXPECT_EQ(img.GetWidth(), c.width) << c.rotate;
        ASSERT_EQ(img.GetHeight(), c.height) << c.rotate;
        const std::vector<std::string> rows = Rows(img);
        int dots = 0;
        for (const std::string &row : rows)
            dots += static_cast<int>(std::count(row.begin(), row.end(), '#'));
        EXPECT_EQ(dots, 1) << c.rotate;
        EXPECT_EQ(rows[c.y][c.x], '#') << c.rotate;
    }
}

TEST(PrepareImage, ToneSettingsMoveGreysAcrossTheThreshold)
{
    struct Case {
        uint8_t grey;
        int threshold, brightness, contrast, gamma;
        char dot;
    } cases[] = {
        {100, 128, 0, 0, 10, '#'},   {100, 128, 50, 0, 10, '.'},
        {140, 150, 0, 0, 10, '#'},   {140, 150, 0, 100, 10, '.'}, // 140 -> 152
        {100, 128, 0, 100, 10, '#'},                              // 100 -> 72
        {64, 100, 0, 0, 10, '#'},    {64, 100, 0, 0, 20, '.'},    // gamma 2: 64 -> 127
    };
    for (const Case &c : cases) {
        tagREGSTRUCT reg;
        reg.iGrayMethod = 0;
        reg.iThreValue = c.threshold;
        reg.iLiangdu = c.brightness;
        reg.iDuibidu = c.contrast;
        reg.iGamma = c.gamma;
        CxImage img = Grey(8, 1, {c.grey});
        PrepareImage(img, reg, 203);
        EXPECT_EQ(Rows(img)[0], std::string(8, c.dot)) << int{c.grey} << " " << c.brightness << " " << c.contrast;
    }
}

TEST(PrepareImage, DitheringBySetting)
{
    struct Case {
        int method;
        std::vector<uint8_t> levels; // of a 16 x 4 page, repeated
        std::vector<std::string> expected;
    } cases[] = {
        // Grey 136 is level 8 of 16 in the ordered 4 x 4 matrix: every other dot.
        {2, {136}, {".#.#.#.#.#.#.#.#", "#.#.#.#.#.#.#.#.", ".#.#.#.#.#.#.#.#", "#.#.#.#.#.#.#.#."}},
        // The default method keeps black black and white white.
        {tagREGSTRUCT().iGrayMethod,
         {0, 0, 0, 0, 0, 0, 0, 0, 255, 255, 255, 255, 255, 255, 255, 255},
         std::vector<std::string>(4, "########........")},
    };
    for (const Case &c : cases) {
        tagREGSTRUCT reg;
        reg.iGrayMethod = c.method;
        CxImage img = Grey(16, 4, c.levels);
        PrepareImage(img, reg, 203);
        EXPECT_EQ(Rows(img), c.expected) << c.method;
    }
}

// Rotation would make a page taller than any page may be: the page is
// refused before the image is made, and left as it was; the renderer's page
// hook reports it as the page's refusal.
TEST(OnBeginBmp, RotationBeyondThePageLimitIsRefusedBeforeItIsMade)
{
    CBaseRender r;
    r.m_iResolution = 203;
    std::string reason;
    r.m_OnRefusal = [&](const std::string &text) { reason = text; };
    r.m_Reg.iRotate = 2;
    r.m_Reg.iGrayMethod = 0;
    r.m_Image = CxImage(200000, 1, 1, 0);
    r.OnBeginBmp();
    EXPECT_TRUE(r.PageRefused());
    EXPECT_EQ(r.m_Image.GetWidth(), 200000u);
    EXPECT_EQ(reason.rfind("Rotating would make the page 1 x 200000 dots, more than a page may be", 0), 0u) << reason;
}

TEST(TwoColour, SplitSendsBrightColouredPixelsToRed)
{
    // Pixels as (first, second, third byte) of a 24-bit raster.
    struct Px {
        uint8_t b, g, r;
        bool black, red;
    } pixels[] = {
        {0, 0, 255, false, true},                                    // pure red
        {0, 0, 140, true, false},                                    // dark red: coloured but too dark
        {100, 120, 125, true, false},                                // channels within 30: not coloured
        {0, 0, 153, false, true},                                    // 153 / 255 * 100 is just above 60
        {0, 0, 152, true, false},     {255, 255, 255, false, false}, // white stays white in both
        {0, 0, 0, true, false},
    };
    const unsigned n = sizeof pixels / sizeof pixels[0];
    tagREGSTRUCT reg;
    CxImage page, red;
    reg.bDoubleColor = true;
    reg.iGrayMethod = 0;
    reg.iThreValue = 254; // anything not white prints
    page.Create(n, 1, 24, 0);
    for (unsigned x = 0; x < n; ++x) {
        uint8_t *p = page.GetBits(0) + 3 * x;
        p[0] = pixels[x].b;
        p[1] = pixels[x].g;
        p[2] = pixels[x].r;
    }
    EXPECT_EQ(PreparePage(page, red, reg, 203), "");
    ASSERT_EQ(page.GetBpp(), 1u);
    ASSERT_EQ(red.GetBpp(), 1u);
    for (unsigned x = 0; x < n; ++x) {
        EXPECT_EQ(Rows(page)[0][x] == '#', pixels[x].black) << x;
        EXPECT_EQ(Rows(red)[0][x] == '#', pixels[x].red) << x;
    }
}

TEST(TwoColour, OneBitPageLeavesTheRedPlaneWhite)
{
    tagREGSTRUCT reg;
    CxImage page, red;
    reg.bDoubleColor = true;
    page = Bitmap({"#.#.#", ".#.#."});
    EXPECT_EQ(PreparePage(page, red, reg, 203), "");
    EXPECT_EQ(Rows(page), (std::vector<std::string>{"#.#.#", ".#.#."}));
    EXPECT_EQ(Rows(red), (std::vector<std::string>{".....", "....."}));
}

TEST(TwoColour, PlanesAreCroppedTogetherAndStayAligned)
{
    // 20 x 10 page: a red block at columns 2..4, rows 1..2; a black block at
    // columns 10..14, rows 6..8. Cropped by the margin of both together.
    tagREGSTRUCT reg;
    CxImage page, redPlane;
    reg.bDoubleColor = true;
    reg.iGrayMethod = 0;
    reg.iCropTopEdge = reg.iCropBottomEdge = reg.iCropLeftEdge = reg.fCropRightEdge = -1;
    page.Create(20, 10, 24, 0);
    for (unsigned y = 0; y < 10; ++y)
        for (unsigned x = 0; x < 20; ++x) {
            uint8_t *p = page.GetBits(y) + 3 * x;
            const bool red = x >= 2 && x <= 4 && y >= 1 && y <= 2;
            const bool black = x >= 10 && x <= 14 && y >= 6 && y <= 8;
            p[0] = red ? 0 : black ? 0 : 255;
            p[1] = red ? 0 : black ? 0 : 255;
            p[2] = red ? 255 : black ? 0 : 255;
        }
    EXPECT_EQ(PreparePage(page, redPlane, reg, 203), "");
    std::vector<std::string> red(8, std::string(13, '.')), black(8, std::string(13, '.'));
    for (int y = 0; y < 2; ++y)
        red[static_cast<size_t>(y)].replace(0, 3, "###");
    for (int y = 5; y < 8; ++y)
        black[static_cast<size_t>(y)].replace(8, 5, "#####");
    EXPECT_EQ(Rows(redPlane), red);
    EXPECT_EQ(Rows(page), black);
}

} // namespace
