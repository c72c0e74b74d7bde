// CxImage palette entries, pixel access, nearest colour and transparency.
#include <gtest/gtest.h>

#include "ImageTestUtil.h"
#include "ximage.h"

using imgtest::Bits;
using imgtest::Indices;

namespace {

tagRGBQUAD Rgb(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 0) {
  return tagRGBQUAD{b, g, r, a};
}

TEST(ImageNearest, BlackWhiteThresholdTiesAndCache) {
  CxImage img(8, 1, 1);
  img.SetGrayPalette();
  struct Case {
    uint8_t level, index;
  } cases[] = {{0, 0}, {127, 0}, {128, 1}, {255, 1}};
  for (const Case& c : cases)
    EXPECT_EQ(img.GetNearestIndex(Rgb(c.level, c.level, c.level)), c.index)
        << int(c.level);

  // Equal distances: the lowest index wins.
  CxImage pal(2, 1, 4);
  pal.SetPaletteColor(0, 0, 0, 0);
  pal.SetPaletteColor(1, 2, 2, 2);
  pal.SetPaletteColor(2, 2, 2, 2);
  pal.SetPaletteColor(3, 0, 0, 0);
  EXPECT_EQ(pal.GetNearestIndex(Rgb(1, 1, 1)), 0);
  EXPECT_EQ(pal.GetNearestIndex(Rgb(2, 2, 2)), 1);
  // The cached answer must not survive a palette change.
  pal.SetPaletteColor(1, 9, 9, 9);
  EXPECT_EQ(pal.GetNearestIndex(Rgb(2, 2, 2)), 2);
  pal.SetGrayPalette();
  EXPECT_EQ(pal.GetNearestIndex(Rgb(2, 2, 2)), 0);
  // The fourth byte takes no part in the distance.
  EXPECT_EQ(pal.GetNearestIndex(Rgb(16, 16, 16, 200)), 1);

  CxImage empty;
  EXPECT_EQ(empty.GetNearestIndex(Rgb(255, 255, 255)), 0);
}

TEST(ImagePixels, OneBitIndexWritesOnlyTheLowestBit) {
  CxImage img(8, 1, 1);
  img.GetBits(0)[0] = 0xA5;  // 1010 0101
  struct Case {
    int32_t x;
    uint8_t index;
    uint8_t byte;
  } cases[] = {{0, 2, 0x25}, {1, 3, 0x65}, {7, 0, 0x64}, {6, 1, 0x66}};
  for (const Case& c : cases) {
    img.SetPixelIndex(c.x, 0, c.index);
    EXPECT_EQ(img.GetBits(0)[0], c.byte) << c.x;
  }
  img.SetPixelIndex(8, 0, 1);   // outside: nothing
  img.SetPixelIndex(-1, 0, 1);
  EXPECT_EQ(img.GetBits(0)[1], 0);
}

TEST(ImagePixels, FourBitNibbles) {
  CxImage img(3, 1, 4);
  img.SetPixelIndex(0, 0, 0x1C);
  img.SetPixelIndex(1, 0, 0x03);
  img.SetPixelIndex(2, 0, 0xFF);
  EXPECT_EQ(img.GetBits(0)[0], 0xC3);
  EXPECT_EQ(img.GetBits(0)[1], 0xF0);
  EXPECT_EQ(img.GetPixelIndex(0, 0), 0xC);
  EXPECT_EQ(img.GetPixelIndex(1, 0), 0x3);
}

TEST(ImagePixels, OutsideReadsFirstByteOrBackground) {
  CxImage img(16, 2, 1);
  img.SetGrayPalette();
  img.GetBits(0)[0] = 0xB7;
  for (auto xy : {std::pair<int, int>{-1, 0}, {16, 0}, {0, 2}, {0, -1}})
    EXPECT_EQ(img.GetPixelIndex(xy.first, xy.second), 0xB7);
  img.SetTransIndex(1);
  EXPECT_EQ(img.GetPixelIndex(-1, 0), 1);
  img.SetTransIndex(5);  // beyond the palette: becomes 0
  EXPECT_EQ(img.GetTransIndex(), 0);

  CxImage empty;
  EXPECT_EQ(empty.GetPixelIndex(0, 0), 0);
  CxImage rgb(2, 2, 24);
  EXPECT_EQ(rgb.GetPixelIndex(0, 0), 0);
}

TEST(ImagePixels, ColourAccessByDepth) {
  CxImage rgb(3, 2, 24);
  rgb.SetPixelColor(2, 1, Rgb(10, 20, 30, 40), false);
  EXPECT_EQ(rgb.GetBits(1)[6], 30);  // blue first
  EXPECT_EQ(rgb.GetBits(1)[8], 10);
  tagRGBQUAD c = rgb.GetPixelColor(2, 1);
  EXPECT_EQ(c.rgbRed, 10);
  EXPECT_EQ(c.rgbReserved, 0);
  // Outside without a background: the colour of pixel (0, 0).
  rgb.SetPixelColor(0, 0, Rgb(1, 2, 3), false);
  EXPECT_EQ(rgb.GetPixelColor(-4, 9).rgbBlue, 3);
  // Alpha replaces the fourth byte only when asked for.
  rgb.AlphaCreate();
  rgb.SetPixelColor(2, 1, Rgb(10, 20, 30, 40), true);
  EXPECT_EQ(rgb.GetPixelColor(2, 1, true).rgbReserved, 40);
  EXPECT_EQ(rgb.GetPixelColor(2, 1, false).rgbReserved, 0);

  // Packed colours: red in the low byte.
  const tagRGBQUAD q = CxImage::RGBtoRGBQUAD(0x00123456);
  EXPECT_EQ(q.rgbRed, 0x56);
  EXPECT_EQ(q.rgbGreen, 0x34);
  EXPECT_EQ(q.rgbBlue, 0x12);
  CxImage bw = Bits({"00000000"});
  bw.SetPixelColor(3, 0, 16777215u);
  EXPECT_EQ(Indices(bw)[0], "00010000");
  bw.SetPixelColor(3, 0, 0x00707070u);
  EXPECT_EQ(Indices(bw)[0], "00000000");
}

TEST(ImagePalette, GreyScaleDetection) {
  CxImage g8(1, 1, 8), g4(1, 1, 4), g1(1, 1, 1), rgb(1, 1, 24), none;
  for (CxImage* img : {&g8, &g4, &g1}) img->SetGrayPalette();
  EXPECT_TRUE(g8.IsGrayScale());
  EXPECT_FALSE(g4.IsGrayScale());
  EXPECT_FALSE(g1.IsGrayScale());
  EXPECT_FALSE(rgb.IsGrayScale());
  EXPECT_FALSE(none.IsGrayScale());
  g8.SetPaletteColor(200, 200, 200, 201);
  EXPECT_FALSE(g8.IsGrayScale());
  EXPECT_EQ(g1.GetPaletteColor(2).rgbRed, 0);  // beyond the palette
}

TEST(ImageTransparency, BackgroundIndexAndAlpha) {
  CxImage img = Bits({"01"});
  EXPECT_FALSE(img.IsTransparent(0, 0));
  img.SetTransIndex(1);
  EXPECT_FALSE(img.IsTransparent(0, 0));
  EXPECT_TRUE(img.IsTransparent(1, 0));
  EXPECT_EQ(img.GetTransColor().rgbRed, 255);
  img.SetTransIndex(-1);
  img.AlphaCreate();
  img.AlphaSet(0, 0, 0);
  EXPECT_TRUE(img.IsTransparent(0, 0));
  EXPECT_FALSE(img.IsTransparent(1, 0));
  EXPECT_TRUE(img.IsTransparent(2, 0));  // outside reads alpha 0

  CxImage other(2, 1, 8);
  EXPECT_TRUE(other.AlphaCopy(img));
  EXPECT_EQ(other.AlphaGet(0, 0), 0);
  CxImage wrongSize(3, 1, 8);
  EXPECT_FALSE(wrongSize.AlphaCopy(img));
}

}  // namespace
