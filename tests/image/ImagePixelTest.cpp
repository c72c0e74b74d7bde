// CxImage palette entries, pixel access, nearest colour and transparency.
#include <gtest/gtest.h>

#include "ImageTestUtil.h"

using imgtest::Bits;
using imgtest::Indices;

namespace {

tagRGBQUAD Rgb(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 0)
{
    return tagRGBQUAD{b, g, r, a};
}

TEST(ImageNearest, ThresholdTiesAndCache)
{
    CxImage bw(8, 1, 1);
    bw.SetGrayPalette();
    const uint8_t cases[][2] = {{0, 0}, {127, 0}, {128, 1}, {255, 1}};
    for (const auto &c : cases)
        EXPECT_EQ(bw.GetNearestIndex(Rgb(c[0], c[0], c[0])), c[1]);

    CxImage pal(2, 1, 4); // entries 0 and 3 black, 1 and 2 grey 2
    pal.SetPaletteColor(1, 2, 2, 2);
    pal.SetPaletteColor(2, 2, 2, 2);
    EXPECT_EQ(pal.GetNearestIndex(Rgb(1, 1, 1)), 0); // a tie: the lowest index
    EXPECT_EQ(pal.GetNearestIndex(Rgb(2, 2, 2)), 1);
    pal.SetPaletteColor(1, 9, 9, 9); // the cached answer must not survive
    EXPECT_EQ(pal.GetNearestIndex(Rgb(2, 2, 2)), 2);
    pal.SetGrayPalette();
    EXPECT_EQ(pal.GetNearestIndex(Rgb(2, 2, 2)), 0);
    EXPECT_EQ(pal.GetNearestIndex(Rgb(16, 16, 16, 200)), 1); // fourth byte ignored
    EXPECT_EQ(CxImage().GetNearestIndex(Rgb(255, 255, 255)), 0);
}

TEST(ImagePixels, IndexWritesKeepTheOtherPixelsOfTheByte)
{
    struct Case {
        uint32_t bpp;
        int32_t x;
        uint8_t index, byte0, byte1;
    } cases[] = {
        // one bit: only the lowest bit of the index is written
        {1, 0, 2, 0x25, 0x00},    {1, 1, 3, 0x65, 0x00},    {1, 7, 0, 0x64, 0x00},
        {1, 8, 1, 0x64, 0x00}, // outside: nothing
        {4, 0, 0x1C, 0xC5, 0x00}, {4, 1, 0x03, 0xC3, 0x00}, {4, 2, 0xFF, 0xC3, 0xF0},
    };
    CxImage one(8, 1, 1), four(3, 1, 4);
    one.GetBits(0)[0] = 0xA5;
    four.GetBits(0)[0] = 0xA5;
    for (const Case &c : cases) {
        CxImage &img = c.bpp == 1 ? one : four;
        img.SetPixelIndex(c.x, 0, c.index);
        EXPECT_EQ(img.GetBits(0)[0], c.byte0) << c.bpp << " " << c.x;
        EXPECT_EQ(img.GetBits(0)[1], c.byte1) << c.bpp << " " << c.x;
        if (img.IsInside(c.x, 0)) {
            EXPECT_EQ(img.GetPixelIndex(c.x, 0), c.index & (c.bpp == 1 ? 1 : 15));
        }
    }
}

TEST(ImagePixels, OutsideReadsTheFirstByteOrTheBackground)
{
    CxImage img(16, 2, 1);
    img.SetGrayPalette();
    img.GetBits(0)[0] = 0xB7;
    for (auto xy : {std::pair<int, int>{-1, 0}, {16, 0}, {0, 2}, {0, -1}})
        EXPECT_EQ(img.GetPixelIndex(xy.first, xy.second), 0xB7);
    img.SetTransIndex(1);
    EXPECT_EQ(img.GetPixelIndex(-1, 0), 1);
    EXPECT_EQ(img.GetPixelColor(-1, 0).rgbRed, 255);
    img.SetTransIndex(5); // beyond the palette
    EXPECT_EQ(img.GetTransIndex(), 0);
    EXPECT_EQ(CxImage().GetPixelIndex(0, 0), 0);
    EXPECT_EQ(CxImage(2, 2, 24).GetPixelIndex(0, 0), 0);
}

TEST(ImagePixels, ColoursAndPackedColours)
{
    CxImage rgb(3, 2, 24);
    rgb.SetPixelColor(2, 1, Rgb(10, 20, 30, 40), false);
    EXPECT_EQ(rgb.GetBits(1)[6], 30);               // blue first
    EXPECT_EQ(rgb.GetPixelColor(-4, 9).rgbBlue, 0); // outside: pixel (0, 0)
    rgb.AlphaCreate();
    rgb.SetPixelColor(2, 1, Rgb(10, 20, 30, 40), true);
    EXPECT_EQ(rgb.GetPixelColor(2, 1, true).rgbReserved, 40);
    EXPECT_EQ(rgb.GetPixelColor(2, 1, false).rgbReserved, 0);
    EXPECT_EQ(CxImage::RGBtoRGBQUAD(0x00123456).rgbRed, 0x56); // red in the low byte
    CxImage bw = Bits({"00000000"});
    bw.SetPixelColor(3, 0, 16777215u);
    EXPECT_EQ(Indices(bw)[0], "00010000");
    CxImage g8(1, 1, 8), g4(1, 1, 4); // only the identity palette is grey
    g8.SetGrayPalette();
    g4.SetGrayPalette();
    EXPECT_TRUE(g8.IsGrayScale());
    EXPECT_FALSE(g4.IsGrayScale() || bw.IsGrayScale() || rgb.IsGrayScale());
}

TEST(ImageTransparency, BackgroundIndexAndAlpha)
{
    CxImage img = Bits({"01"});
    EXPECT_FALSE(img.IsTransparent(0, 0));
    img.SetTransIndex(1);
    EXPECT_FALSE(img.IsTransparent(0, 0));
    EXPECT_TRUE(img.IsTransparent(1, 0));
    img.SetTransIndex(-1);
    img.AlphaCreate();
    img.AlphaSet(0, 0, 0);
    EXPECT_TRUE(img.IsTransparent(0, 0));
    EXPECT_FALSE(img.IsTransparent(1, 0));
    EXPECT_TRUE(img.IsTransparent(2, 0)); // outside reads alpha 0
    CxImage other(3, 1, 8);
    EXPECT_FALSE(other.AlphaCopy(img)); // sizes differ
}

} // namespace
