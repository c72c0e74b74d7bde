// CxImage tone operations: grey conversion, Light, Gamma, Lut, Threshold,
// Mix, RGBtoHSB.
#include <gtest/gtest.h>

#include <vector>

#include "ImageTestUtil.h"
#include "ximage.h"

using imgtest::Bits;
using imgtest::Grey;
using imgtest::Indices;

namespace {

// One row holding every level 0..255.
CxImage AllLevels() {
  std::vector<uint8_t> row(256);
  for (int v = 0; v < 256; v++) row[v] = static_cast<uint8_t>(v);
  return Grey({row});
}

TEST(ImageGrayScale, TrueColourWeights) {
  struct Case {
    uint8_t b, g, r, grey;
  } cases[] = {{255, 0, 0, 29},   {0, 0, 255, 76},   {0, 255, 0, 149},
               {255, 255, 255, 255}, {0, 0, 0, 0},   {100, 100, 100, 100},
               {10, 200, 90, 145}};
  uint8_t src[7 * 4];
  for (int i = 0; i < 7; i++) {
    src[4 * i] = cases[i].b;
    src[4 * i + 1] = cases[i].g;
    src[4 * i + 2] = cases[i].r;
    src[4 * i + 3] = static_cast<uint8_t>(i);
  }
  CxImage img;
  ASSERT_TRUE(img.CreateFromArray(src, 7, 1, 32, 28, false));
  img.SetXDPI(203);
  ASSERT_TRUE(img.GrayScale());
  EXPECT_EQ(img.GetBpp(), 8u);
  EXPECT_TRUE(img.IsGrayScale());
  EXPECT_EQ(img.GetXDPI(), 203);
  for (int i = 0; i < 7; i++) {
    EXPECT_EQ(img.GetPixelIndex(i, 0), cases[i].grey) << i;
    EXPECT_EQ(img.AlphaGet(i, 0), i);  // the alpha plane comes along
  }
}

TEST(ImageGrayScale, PaletteImagesWidenToEightBits) {
  CxImage one = Bits({"0110"});
  ASSERT_TRUE(one.GrayScale());
  EXPECT_EQ(one.GetBpp(), 8u);
  EXPECT_EQ(imgtest::Row(one, 0), (std::vector<uint8_t>{0, 255, 255, 0}));

  CxImage four(3, 1, 4);
  four.SetGrayPalette();
  four.SetPaletteColor(2, 0, 0, 255);  // pure blue entry
  four.SetPixelIndex(0, 0, 1);
  four.SetPixelIndex(1, 0, 2);
  four.SetPixelIndex(2, 0, 15);
  ASSERT_TRUE(four.GrayScale());
  EXPECT_EQ(four.GetPixelIndex(0, 0), 17);
  EXPECT_EQ(four.GetPixelIndex(1, 0), 29);
  EXPECT_EQ(four.GetPixelIndex(2, 0), 255);

  // An 8-bit image with a colour palette: bytes go through the entries.
  CxImage pal(2, 1, 8);
  pal.SetGrayPalette();
  pal.SetPaletteColor(7, 255, 0, 0);
  pal.SetPixelIndex(0, 0, 7);
  pal.SetPixelIndex(1, 0, 9);
  ASSERT_TRUE(pal.GrayScale());
  EXPECT_TRUE(pal.IsGrayScale());
  EXPECT_EQ(pal.GetPixelIndex(0, 0), 76);
  EXPECT_EQ(pal.GetPixelIndex(1, 0), 9);

  CxImage empty;
  EXPECT_FALSE(empty.GrayScale());
}

TEST(ImageLight, TablesOnAGreyImage) {
  struct Case {
    int32_t brightness, contrast;
    std::vector<std::pair<int, int>> map;  // level -> new level
  } cases[] = {
      {0, 0, {{0, 0}, {1, 1}, {128, 128}, {254, 254}, {255, 255}}},
      {50, 0, {{0, 50}, {100, 150}, {205, 255}, {250, 255}}},
      {-50, 0, {{0, 0}, {49, 0}, {51, 1}, {254, 204}, {255, 255}}},
      {0, -100, {{0, 128}, {64, 128}, {254, 128}, {255, 255}}},
      {0, 100, {{64, 0}, {192, 255}, {130, 132}, {127, 126}, {128, 128}}},
      {0, 50, {{100, 86}, {10, 0}}},
      {2147483647, 2147483647, {{0, 0}, {128, 255}, {255, 255}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.brightness << "," << c.contrast);
    CxImage img = AllLevels();
    ASSERT_TRUE(img.Light(c.brightness, c.contrast));
    EXPECT_TRUE(img.IsGrayScale());
    for (auto m : c.map) EXPECT_EQ(img.GetPixelIndex(m.first, 0), m.second) << m.first;
  }
}

TEST(ImageLight, OneBitPageOnlyItsBlackEntryChanges) {
  CxImage img = Bits({"0101"});
  ASSERT_TRUE(img.Light(60, 0));
  EXPECT_EQ(img.GetPaletteColor(0).rgbRed, 60);
  EXPECT_EQ(img.GetPaletteColor(1).rgbRed, 255);
  EXPECT_EQ(Indices(img)[0], "0101");
}

TEST(ImageGamma, TablesAndRefusals) {
  struct Case {
    float gamma;
    std::vector<std::pair<int, int>> map;
  } cases[] = {
      {1.0f, {{0, 0}, {1, 1}, {64, 64}, {200, 200}, {255, 255}}},
      {2.0f, {{64, 127}, {16, 63}, {0, 0}, {255, 255}}},
      {0.5f, {{128, 64}, {16, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gamma);
    CxImage img = AllLevels();
    ASSERT_TRUE(img.Gamma(c.gamma));
    for (auto m : c.map) EXPECT_EQ(img.GetPixelIndex(m.first, 0), m.second) << m.first;
  }
  for (float bad : {0.0f, -1.0f}) {
    CxImage img = AllLevels();
    EXPECT_FALSE(img.Gamma(bad));
    EXPECT_EQ(img.GetPixelIndex(64, 0), 64);
  }
  CxImage empty;
  EXPECT_FALSE(empty.Gamma(2.0f));
}

TEST(ImageLut, WhiteIsNeverRemapped) {
  uint8_t invert[256];
  for (int v = 0; v < 256; v++) invert[v] = static_cast<uint8_t>(255 - v);
  CxImage img = AllLevels();
  ASSERT_TRUE(img.Lut(invert));
  EXPECT_EQ(img.GetPixelIndex(0, 0), 255);
  EXPECT_EQ(img.GetPixelIndex(254, 0), 1);
  EXPECT_EQ(img.GetPixelIndex(255, 0), 255);
  EXPECT_FALSE(img.Lut(nullptr));

  // 16 levels: the palette changes, the indices do not.
  CxImage four(2, 1, 4);
  four.SetGrayPalette();
  four.SetPixelIndex(1, 0, 3);
  ASSERT_TRUE(four.Lut(invert));
  EXPECT_EQ(four.GetPixelIndex(1, 0), 3);
  EXPECT_EQ(four.GetPaletteColor(3).rgbGreen, 255 - 51);
  EXPECT_EQ(four.GetPaletteColor(15).rgbGreen, 255);
}

TEST(ImageThreshold, LevelsAboveBecomeWhite) {
  struct Case {
    uint8_t level;
    int firstWhite;
  } cases[] = {{175, 176}, {0, 1}, {255, 256}, {128, 129}};
  for (const Case& c : cases) {
    CxImage img = AllLevels();
    img.AlphaCreate();
    ASSERT_TRUE(img.Threshold(c.level));
    EXPECT_EQ(img.GetBpp(), 1u);
    EXPECT_FALSE(img.AlphaIsValid());
    EXPECT_EQ(img.GetXDPI(), 96);
    EXPECT_EQ(img.GetPaletteColor(0).rgbRed, 0);
    EXPECT_EQ(img.GetPaletteColor(1).rgbRed, 255);
    for (int v = 0; v < 256; v++)
      ASSERT_EQ(img.GetPixelIndex(v, 0), v >= c.firstWhite ? 1 : 0)
          << int(c.level) << " " << v;
  }
}

TEST(ImageThreshold, OddWidthsPackMostSignificantBitFirst) {
  CxImage img = Grey({{200, 0, 200, 200, 0, 0, 0, 200, 0, 200, 200}});
  ASSERT_TRUE(img.Threshold(100));
  EXPECT_EQ(img.GetBits(0)[0], 0xB1);
  EXPECT_EQ(img.GetBits(0)[1], 0x60);
}

TEST(ImageThreshold, OneBitUntouched) {
  CxImage img = Bits({"1001"});
  img.SetPaletteColor(0, 9, 9, 9);
  const uint8_t before = img.GetBits(0)[0];
  ASSERT_TRUE(img.Threshold(50));
  EXPECT_EQ(img.GetBits(0)[0], before);
  EXPECT_EQ(img.GetPaletteColor(0).rgbRed, 9);
}

TEST(ImageMix, ShiftOfAOneBitPage) {
  // The picture shift: white page, copy mixed in at offset -8.
  CxImage page = Bits({"101100111010", "010011000101"});
  CxImage copy(page);
  for (uint32_t y = 0; y < page.GetHeight(); y++)
    std::fill(page.GetBits(y), page.GetBits(y) + page.GetEffWidth(), 0xFF);
  page.Mix(copy, OpSrcCopy, -8, 0, false);
  EXPECT_EQ(Indices(page), (std::vector<std::string>{"111111111011", "111111110100"}));

  CxImage down = Bits({"0000", "0000", "0000"});
  CxImage src = Bits({"1100", "0110", "0011"});
  down.Mix(src, OpSrcCopy, 1, 1, false);  // picture moves up one row, left one
  EXPECT_EQ(Indices(down), (std::vector<std::string>{"1100", "0110", "0000"}));

  CxImage keep = Bits({"0000"});
  keep.Mix(src, OpDstCopy, 0, 0, false);
  EXPECT_EQ(Indices(keep)[0], "0000");
}

TEST(ImageMix, SourceAlphaBlendsAndTransparentSkips) {
  CxImage dst(3, 1, 24);
  for (int x = 0; x < 3; x++) dst.SetPixelColor(x, 0, tagRGBQUAD{200, 200, 200, 0});
  CxImage src(3, 1, 24);
  for (int x = 0; x < 3; x++) src.SetPixelColor(x, 0, tagRGBQUAD{0, 100, 255, 0});
  src.AlphaCreate();
  src.AlphaSet(0, 0, 0);
  src.AlphaSet(1, 0, 51);
  dst.Mix(src, OpSrcCopy);
  EXPECT_EQ(dst.GetPixelColor(0, 0).rgbBlue, 200);  // transparent: kept
  const tagRGBQUAD mid = dst.GetPixelColor(1, 0);
  EXPECT_EQ(mid.rgbBlue, (200 * 204 + 0 * 51) / 255);
  EXPECT_EQ(mid.rgbRed, (200 * 204 + 255 * 51) / 255);
  EXPECT_EQ(dst.GetPixelColor(2, 0).rgbGreen, 100);
  EXPECT_FALSE(dst.AlphaIsValid());
}

TEST(ImageHSB, BrightnessInSinglePrecision) {
  struct Case {
    uint8_t r, g, b;
    float brightness;
  } cases[] = {{153, 0, 0, 60.0000038f}, {0, 0, 152, 59.6078453f},
               {255, 255, 255, 100.0f},  {0, 0, 0, 0.0f}};
  for (const Case& c : cases) {
    float h, s, b;
    CxImage::RGBtoHSB(tagRGBQUAD{c.b, c.g, c.r, 0}, h, s, b);
    EXPECT_EQ(b, c.brightness);
  }
  float h, s, b;
  CxImage::RGBtoHSB(tagRGBQUAD{0, 0, 153, 0}, h, s, b);
  EXPECT_GT(b, 60.0f);
  EXPECT_EQ(h, 0.0f);
  EXPECT_EQ(s, 100.0f);
}

}  // namespace
