// CxImage tone operations: GrayScale, Light, Gamma, Lut, Threshold, Mix,
// RGBtoHSB.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "ImageTestUtil.h"

using imgtest::Bits;
using imgtest::Grey;
using imgtest::Indices;
using imgtest::Rows;

namespace {

// One row holding every level 0..255.
CxImage AllLevels()
{
    std::vector<uint8_t> row(256);
    for (int v = 0; v < 256; v++)
        row[v] = static_cast<uint8_t>(v);
    return Grey({row});
}

TEST(ImageGrayScale, TrueColourWeightsAndAlpha)
{
    const uint8_t cases[][4] = {// blue, green, red, grey
                                {255, 0, 0, 29},      {0, 0, 255, 76},      {0, 255, 0, 149},
                                {255, 255, 255, 255}, {100, 100, 100, 100}, {10, 200, 90, 145}};
    uint8_t src[6 * 4];
    for (int i = 0; i < 6; i++) {
        std::copy(cases[i], cases[i] + 3, src + 4 * i);
        src[4 * i + 3] = static_cast<uint8_t>(i);
    }
    CxImage img;
    ASSERT_TRUE(img.CreateFromArray(src, 6, 1, 32, 24, false));
    img.SetXDPI(203);
    ASSERT_TRUE(img.GrayScale());
    EXPECT_TRUE(img.IsGrayScale());
    EXPECT_EQ(img.GetXDPI(), 203);
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(img.GetPixelIndex(i, 0), cases[i][3]) << i;
        EXPECT_EQ(img.AlphaGet(i, 0), i);
    }
    EXPECT_FALSE(CxImage().GrayScale());
}

TEST(ImageGrayScale, PaletteImagesThroughTheirEntries)
{
    CxImage one = Bits({"0110"});
    ASSERT_TRUE(one.GrayScale());
    EXPECT_EQ(one.GetBpp(), 8u);
    EXPECT_EQ(one.GetPixelIndex(1, 0) + one.GetPixelIndex(3, 0), 255);

    CxImage four(3, 1, 4);
    four.SetGrayPalette();
    four.SetPaletteColor(2, 0, 0, 255); // pure blue
    for (int x = 0; x < 3; x++)
        four.SetPixelIndex(x, 0, static_cast<uint8_t>(x == 2 ? 15 : x + 1));
    ASSERT_TRUE(four.GrayScale());
    EXPECT_EQ(std::vector<uint8_t>(four.GetBits(0), four.GetBits(0) + 3), (std::vector<uint8_t>{17, 29, 255}));
}

TEST(ImageTone, TablesOnAGreyImage)
{
    using Op = std::function<bool(CxImage &)>;
    struct Case {
        const char *name;
        Op op;
        std::vector<std::pair<int, int>> map; // level -> new level
    } cases[] = {
        {"Light(0,0)", [](CxImage &i) { return i.Light(0, 0); }, {{0, 0}, {128, 128}, {254, 254}}},
        {"Light(50,0)", [](CxImage &i) { return i.Light(50, 0); }, {{0, 50}, {205, 255}, {250, 255}}},
        {"Light(-50,0)", [](CxImage &i) { return i.Light(-50, 0); }, {{49, 0}, {51, 1}, {254, 204}, {255, 255}}},
        {"Light(0,-100)", [](CxImage &i) { return i.Light(0, -100); }, {{0, 128}, {254, 128}, {255, 255}}},
        {"Light(0,100)", [](CxImage &i) { return i.Light(0, 100); }, {{64, 0}, {192, 255}, {130, 132}, {127, 126}}},
        {"Light(0,50)", [](CxImage &i) { return i.Light(0, 50); }, {{100, 86}, {10, 0}}},
        {"Light(max,max)", [](CxImage &i) { return i.Light(2147483647, 2147483647); }, {{0, 0}, {128, 255}}},
        {"Gamma(1)", [](CxImage &i) { return i.Gamma(1.0f); }, {{1, 1}, {64, 64}, {200, 200}}},
        {"Gamma(2)", [](CxImage &i) { return i.Gamma(2.0f); }, {{64, 127}, {16, 63}, {0, 0}, {255, 255}}},
        {"Gamma(0.5)", [](CxImage &i) { return i.Gamma(0.5f); }, {{128, 64}, {16, 1}}},
    };
    for (const Case &c : cases) {
        CxImage img = AllLevels();
        ASSERT_TRUE(c.op(img)) << c.name;
        EXPECT_TRUE(img.IsGrayScale()) << c.name;
        for (auto m : c.map)
            EXPECT_EQ(img.GetPixelIndex(m.first, 0), m.second) << c.name << " " << m.first;
    }
    for (float bad : {0.0f, -1.0f}) {
        CxImage img = AllLevels();
        EXPECT_FALSE(img.Gamma(bad));
        EXPECT_EQ(img.GetPixelIndex(64, 0), 64);
    }
    EXPECT_FALSE(CxImage().Gamma(2.0f));
}

TEST(ImageTone, WhiteIsNeverRemapped)
{
    uint8_t invert[256];
    for (int v = 0; v < 256; v++)
        invert[v] = static_cast<uint8_t>(255 - v);
    CxImage img = AllLevels();
    ASSERT_TRUE(img.Lut(invert));
    EXPECT_EQ(img.GetPixelIndex(0, 0), 255);
    EXPECT_EQ(img.GetPixelIndex(254, 0), 1);
    EXPECT_EQ(img.GetPixelIndex(255, 0), 255);
    EXPECT_FALSE(img.Lut(nullptr));

    CxImage four(2, 1, 4); // 16 levels: entries change, indices do not
    four.SetGrayPalette();
    four.SetPixelIndex(1, 0, 3);
    ASSERT_TRUE(four.Lut(invert));
    EXPECT_EQ(four.GetPixelIndex(1, 0), 3);
    EXPECT_EQ(four.GetPaletteColor(3).rgbGreen, 255 - 51);
    EXPECT_EQ(four.GetPaletteColor(15).rgbGreen, 255);

    CxImage page = Bits({"0101"}); // one bit: only the black entry changes
    ASSERT_TRUE(page.Light(60, 0));
    EXPECT_EQ(page.GetPaletteColor(0).rgbRed, 60);
    EXPECT_EQ(page.GetPaletteColor(1).rgbRed, 255);
    EXPECT_EQ(Indices(page)[0], "0101");
}

TEST(ImageThreshold, LevelsAboveBecomeWhite)
{
    const int cases[][2] = {{175, 176}, {0, 1}, {255, 256}, {128, 129}}; // level, first white
    for (const auto &c : cases) {
        CxImage img = AllLevels();
        img.AlphaCreate();
        ASSERT_TRUE(img.Threshold(static_cast<uint8_t>(c[0])));
        EXPECT_EQ(img.GetBpp(), 1u);
        EXPECT_FALSE(img.AlphaIsValid());
        EXPECT_EQ(img.GetPaletteColor(1).rgbRed, 255);
        for (int v = 0; v < 256; v++)
            ASSERT_EQ(img.GetPixelIndex(v, 0), v >= c[1]) << c[0] << " " << v;
    }
    CxImage odd = Grey({{200, 0, 200, 200, 0, 0, 0, 200, 0, 200, 200}});
    ASSERT_TRUE(odd.Threshold(100));
    EXPECT_EQ(odd.GetBits(0)[0], 0xB1); // the MSB is the leftmost pixel
    EXPECT_EQ(odd.GetBits(0)[1], 0x60);

    CxImage one = Bits({"1001"});
    one.SetPaletteColor(0, 9, 9, 9);
    ASSERT_TRUE(one.Threshold(50));
    EXPECT_EQ(one.GetBits(0)[0], 0x90);
    EXPECT_EQ(one.GetPaletteColor(0).rgbRed, 9);
}

TEST(ImageMix, OffsetsCoverOnlyTheSource)
{
    CxImage page = Bits({"101100111010", "010011000101"});
    CxImage copy(page);
    for (uint32_t y = 0; y < 2; y++)
        std::fill(page.GetBits(y), page.GetBits(y) + 4, 0xFF);
    page.Mix(copy, OpSrcCopy, -8, 0, false); // the picture shift by 8
    EXPECT_EQ(Indices(page), (Rows{"111111111011", "111111110100"}));

    CxImage down = Bits({"0000", "0000", "0000"}), diag = Bits({"1100", "0110", "0011"});
    down.Mix(diag, OpSrcCopy, 1, 1); // up one row and left one column
    EXPECT_EQ(Indices(down), (Rows{"1100", "0110", "0000"}));
    CxImage keep = Bits({"0000"}), src = Bits({"1111"});
    keep.Mix(src, OpDstCopy);
    EXPECT_EQ(Indices(keep)[0], "0000");
}

TEST(ImageMix, SourceOpacityBlends)
{
    CxImage dst(3, 1, 24), src(3, 1, 24);
    for (int x = 0; x < 3; x++) {
        dst.SetPixelColor(x, 0, tagRGBQUAD{200, 200, 200, 0});
        src.SetPixelColor(x, 0, tagRGBQUAD{0, 100, 255, 0});
    }
    src.AlphaCreate();
    src.AlphaSet(0, 0, 0); // transparent: kept
    src.AlphaSet(1, 0, 51);
    dst.Mix(src, OpSrcCopy);
    EXPECT_EQ(dst.GetPixelColor(0, 0).rgbBlue, 200);
    EXPECT_EQ(dst.GetPixelColor(1, 0).rgbRed, (200 * 204 + 255 * 51) / 255);
    EXPECT_EQ(dst.GetPixelColor(2, 0).rgbGreen, 100);
}

TEST(ImageHSB, BrightnessInSinglePrecision)
{
    const float cases[][2] = {{153, 60.0000038f}, {152, 59.6078453f}, {255, 100.0f}, {0, 0.0f}};
    for (const auto &c : cases) {
        float h, s, b;
        CxImage::RGBtoHSB(tagRGBQUAD{0, 0, static_cast<uint8_t>(c[0]), 0}, h, s, b);
        EXPECT_EQ(b, c[1]) << c[0];
    }
}

} // namespace
