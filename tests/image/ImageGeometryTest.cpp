// CxImage geometry: Rotate, Rotate180, Mirror, Crop, Resample.
#include <gtest/gtest.h>

#include <random>

#include "ImageTestUtil.h"

using imgtest::Bits;
using imgtest::Grey;
using imgtest::Indices;
using imgtest::Rows;

namespace {

// 5 x 3, one bit. The first byte of stored row 0 is 1010 1000: the value
// read outside the image (the low bit of that byte) is 0.
const Rows kFive = {"10101", "01100", "11011"};

TEST(ImageRotate, AnglesOfPagePreparation)
{
    struct Case {
        float angle;
        Rows expected;
    } cases[] = {
        // The right edge turned to the top: row y is source column w - 1 - y.
        {90.0f, {"101", "001", "110", "011", "101"}},
        {450.0f, {"101", "001", "110", "011", "101"}},
        {-270.0f, {"101", "001", "110", "011", "101"}},
        // The left edge turned to the top: row y is source column y, last row first.
        {270.0f, {"101", "110", "011", "100", "101"}},
        {-90.0f, {"101", "110", "011", "100", "101"}},
        {180.0f, {"11011", "00110", "10101"}},
        {-180.0f, {"11011", "00110", "10101"}},
        {540.0f, {"11011", "00110", "10101"}},
        {0.0f, kFive}, // the general path, extra loop row and column dropped
        {360.0f, kFive},
    };
    for (const Case &c : cases) {
        CxImage img = Bits(kFive);
        ASSERT_TRUE(img.Rotate(c.angle));
        EXPECT_EQ(Indices(img), c.expected) << c.angle;
    }
    EXPECT_FALSE(CxImage().Rotate(90.0f));
    EXPECT_FALSE(CxImage().Rotate180());
}

// A quarter turn moves every dot to exactly one place and loses none, at
// every depth and across byte boundaries of one-bit rows.
TEST(ImageRotate, QuarterTurnsMoveEveryDot)
{
    const uint32_t w = 11, h = 7;
    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
        CxImage src(w, h, bpp);
        src.SetGrayPalette();
        const uint32_t levels = bpp == 24 ? 256 : 1u << bpp;
        auto level = [&](uint32_t x, uint32_t y) { return static_cast<uint8_t>((x * 7 + y * 3 + x * y) % levels); };
        for (uint32_t y = 0; y < h; y++)
            for (uint32_t x = 0; x < w; x++) {
                const uint8_t v = level(x, y);
                if (bpp == 24)
                    src.SetPixelColor(static_cast<int32_t>(x), static_cast<int32_t>(y),
                                      tagRGBQUAD{v, static_cast<uint8_t>(v ^ 0x55), static_cast<uint8_t>(255 - v), 0});
                else
                    src.SetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y), v);
            }
        for (float angle : {90.0f, 270.0f}) {
            SCOPED_TRACE(std::to_string(bpp) + " bpp, " + std::to_string(angle));
            CxImage out;
            ASSERT_TRUE(src.Rotate(angle, &out));
            ASSERT_EQ(out.GetWidth(), h);
            ASSERT_EQ(out.GetHeight(), w);
            for (uint32_t y = 0; y < w; y++)
                for (uint32_t x = 0; x < h; x++) {
                    const uint32_t sx = angle == 90.0f ? w - 1 - y : y;
                    const uint32_t sy = angle == 90.0f ? x : h - 1 - x;
                    const auto ox = static_cast<int32_t>(x), oy = static_cast<int32_t>(y);
                    const auto ix = static_cast<int32_t>(sx), iy = static_cast<int32_t>(sy);
                    if (bpp == 24) {
                        const tagRGBQUAD a = out.GetPixelColor(ox, oy, false), b = src.GetPixelColor(ix, iy, false);
                        ASSERT_TRUE(a.rgbBlue == b.rgbBlue && a.rgbGreen == b.rgbGreen && a.rgbRed == b.rgbRed)
                            << x << "," << y;
                    } else {
                        ASSERT_EQ(out.GetPixelIndex(ox, oy), src.GetPixelIndex(ix, iy)) << x << "," << y;
                    }
                }
        }
    }
}

// One dot at column 7 of the top row of a 64 x 2 page: turned either way it
// stays one dot, at the place the turn takes it to.
TEST(ImageRotate, QuarterTurnsKeepALoneDot)
{
    Rows page(2, std::string(64, '1'));
    page[0][7] = '0';
    for (float angle : {90.0f, 270.0f}) {
        CxImage img = Bits(page);
        ASSERT_TRUE(img.Rotate(angle));
        ASSERT_EQ(img.GetWidth(), 2u);
        ASSERT_EQ(img.GetHeight(), 64u);
        const Rows turned = Indices(img);
        int dots = 0;
        for (const std::string &row : turned)
            for (char c : row)
                dots += c == '0';
        EXPECT_EQ(dots, 1) << angle;
        if (angle == 90.0f)
            EXPECT_EQ(turned[56], "01"); // column 7 from the left is row 56 from the top
        else
            EXPECT_EQ(turned[7], "10");
    }
}

TEST(ImageRotate, ColourAlphaAndTarget)
{
    CxImage img(4, 2, 24);
    img.SetPixelColor(3, 0, tagRGBQUAD{1, 2, 3, 0});
    img.AlphaCreate();
    img.AlphaSet(3, 0, 77);
    img.AlphaSet(0, 1, 5);
    CxImage target;
    ASSERT_TRUE(img.Rotate(90.0f, &target));
    EXPECT_EQ(img.GetWidth(), 4u); // the source stays
    ASSERT_EQ(target.GetWidth(), 2u);
    ASSERT_EQ(target.GetHeight(), 4u);
    EXPECT_EQ(target.GetPixelColor(0, 0, false).rgbRed, 3); // from (w - 1, 0)
    EXPECT_EQ(target.AlphaGet(0, 0), 77);
    EXPECT_EQ(target.AlphaGet(1, 3), 5); // from (0, h - 1)

    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
        CxImage half(5, 3, bpp);
        half.SetGrayPalette();
        half.SetPixelColor(0, 0, tagRGBQUAD{255, 255, 255, 0});
        half.AlphaCreate();
        half.AlphaSet(0, 0, 9);
        ASSERT_TRUE(half.Rotate180());
        EXPECT_EQ(half.GetPixelColor(4, 2, false).rgbRed, 255) << bpp;
        EXPECT_EQ(half.GetPixelColor(0, 0, false).rgbRed, 0) << bpp;
        EXPECT_EQ(half.AlphaGet(4, 2), 9);
    }
}

TEST(ImageRotate, TooLargeResultLeavesTheImageUnchanged)
{
    // Within the memory limit, but not once turned by 45 degrees.
    CxImage img(33000, 33000, 1);
    void *dib = img.GetDIB();
    ASSERT_NE(dib, nullptr);
    EXPECT_FALSE(img.Rotate(45.0f));
    EXPECT_EQ(img.GetDIB(), dib);
    EXPECT_EQ(img.GetWidth(), 33000u);
    EXPECT_STREQ(img.GetLastError(), "CXIMAGE_MAX_MEMORY exceeded");
}

TEST(ImageMirror, LeftToRightForEveryDepth)
{
    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
        CxImage img(10, 2, bpp);
        img.SetGrayPalette();
        img.SetPixelColor(3, 1, tagRGBQUAD{255, 255, 255, 0});
        img.AlphaCreate();
        img.AlphaSet(0, 1, 5);
        ASSERT_TRUE(img.Mirror(false, true));
        EXPECT_EQ(img.GetPixelColor(6, 1, false).rgbRed, 255) << bpp;
        EXPECT_EQ(img.GetPixelColor(3, 1, false).rgbRed, 0) << bpp;
        EXPECT_EQ(img.AlphaGet(9, 1), 5);
    }
}

TEST(ImageCrop, ClampingSwappingAndBottomUpRows)
{
    const Rows src = {"1000000", "0100000", "0010000", "0001000"}; // 7 x 4
    const Rows noFirstTwo = {"00000", "00000", "10000", "01000"};
    struct Case {
        int l, t, r, b;
        Rows expected; // empty: Crop fails, image unchanged
    } cases[] = {
        {0, 0, 7, 4, src},
        {2, 0, 7, 4, noFirstTwo},
        {2, 0, 99, 4, noFirstTwo},
        {7, 0, 2, 4, noFirstTwo},
        {0, 1, 7, 4, {"1000000", "0100000", "0010000"}}, // top 1 drops stored row 3
        {0, 4, 7, 3, {"1000000"}},
        {-5, 2, 2, 99, {"10", "01"}},
        {3, 0, 3, 4, {}},
        {0, 9, 7, 5, {}},
        {9, 0, 12, 4, {}},
    };
    for (const Case &c : cases) {
        CxImage img = Bits(src);
        EXPECT_EQ(img.Crop(c.l, c.t, c.r, c.b), !c.expected.empty()) << c.l << "," << c.t;
        EXPECT_EQ(Indices(img), c.expected.empty() ? src : c.expected) << c.l << "," << c.t;
    }
    CxImage img = Bits(src), target;
    ASSERT_TRUE(img.Crop(tagRECT{1, 0, 3, 2}, &target));
    EXPECT_EQ(Indices(target), (Rows{"01", "00"})); // bottom 2: stored rows 2, 3
    EXPECT_EQ(Indices(img), src);
}

TEST(ImageCrop, EveryBitOffsetAndDepth)
{
    std::mt19937 rng(17);
    Rows src(3, std::string(75, '0'));
    for (auto &r : src)
        for (auto &ch : r)
            ch = (rng() & 1) ? '1' : '0';
    for (int l = 0; l < 20; l++)
        for (int r : {l + 1, l + 7, l + 8, l + 9, 75}) {
            CxImage img = Bits(src);
            ASSERT_TRUE(img.Crop(l, 0, r, 3));
            Rows expected;
            for (const auto &row : src)
                expected.push_back(row.substr(l, r - l));
            ASSERT_EQ(Indices(img), expected) << l << ".." << r;
            const uint32_t n = img.GetWidth();
            if (n % 8) {
                EXPECT_EQ(img.GetBits(0)[n / 8] & (0xFF >> (n % 8)), 0); // padding bits 0
            }
        }
    CxImage g = Grey({{1, 2, 3, 4}, {5, 6, 7, 8}});
    g.AlphaCreate();
    g.AlphaSet(2, 0, 9);
    ASSERT_TRUE(g.Crop(1, 0, 3, 2));
    EXPECT_EQ(g.GetBits(0)[0], 2);
    EXPECT_EQ(g.GetBits(0)[1], 3);
    EXPECT_EQ(g.AlphaGet(1, 0), 9);
    CxImage four(5, 1, 4);
    for (int x = 0; x < 5; x++)
        four.SetPixelIndex(x, 0, static_cast<uint8_t>(x + 10));
    ASSERT_TRUE(four.Crop(1, 0, 4, 1));
    EXPECT_EQ(four.GetPixelIndex(0, 0), 11);
    EXPECT_EQ(four.GetPixelIndex(2, 0), 13);
}

TEST(ImageResample, NearestPixel)
{
    CxImage img = Grey({{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11}, {12, 13, 14, 15}});
    ASSERT_TRUE(img.Resample(2, 2, 1));
    // source pixels (0,0), (2,0), (0,2), (2,2)
    EXPECT_EQ(img.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 2);
    EXPECT_EQ(img.GetPixelIndex(0, 1), 8);
    EXPECT_EQ(img.GetPixelIndex(1, 1), 10);
    CxImage up = Bits({"01"});
    ASSERT_TRUE(up.Resample(4, 2));
    EXPECT_EQ(Indices(up), (Rows{"0011", "0011"}));
    CxImage same = Bits({"01"}), target;
    ASSERT_TRUE(same.Resample(2, 1, 1, &target));
    EXPECT_EQ(Indices(target), (Rows{"01"}));
    EXPECT_FALSE(same.Resample(0, 4));
    EXPECT_FALSE(same.Resample(-3, 4));
    EXPECT_EQ(Indices(same), (Rows{"01"}));
}

} // namespace
