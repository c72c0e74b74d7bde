// CxImage geometry: Rotate, Rotate180, Mirror, Crop, Resample.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ImageTestUtil.h"
#include "ximage.h"

using imgtest::Bits;
using imgtest::Grey;
using imgtest::Indices;

namespace {

using Rows = std::vector<std::string>;

// 5 x 3, one bit; the first byte of stored row 0 is 1010 1000, so the value
// read outside the image (the lowest bit of that byte) is 0.
CxImage FiveByThree() {
  return Bits({"10101", "01100", "11011"});
}

TEST(ImageRotate, QuarterTurnsUseTheUnshiftedOffsets) {
  struct Case {
    float angle;
    Rows expected;
  } cases[] = {
      // result (x, y) <- source (w - y, x): row 0 reads column 5 (outside),
      // rows 1..4 hold source columns 4, 3, 2, 1.
      {90.0f, {"000", "101", "001", "110", "011"}},
      // result (x, y) <- source (y, h - x): column 0 reads row 3 (outside),
      // columns 1 and 2 hold source rows 2 and 1.
      {270.0f, {"010", "011", "001", "010", "010"}},
      {-90.0f, {"010", "011", "001", "010", "010"}},
  };
  for (const Case& c : cases) {
    CxImage img = FiveByThree();
    ASSERT_TRUE(img.Rotate(c.angle));
    EXPECT_EQ(img.GetWidth(), 3u);
    EXPECT_EQ(img.GetHeight(), 5u);
    EXPECT_EQ(Indices(img), c.expected) << c.angle;
  }
}

TEST(ImageRotate, OutsideValueIsTheLowBitOfTheFirstByte) {
  CxImage img = Bits({"000000010", "000000000"});  // column 7 of row 0 set
  ASSERT_TRUE(img.Rotate(90.0f));
  EXPECT_EQ(Indices(img)[0], "11");
  CxImage bg = FiveByThree();
  bg.SetTransIndex(1);
  ASSERT_TRUE(bg.Rotate(90.0f));
  EXPECT_EQ(Indices(bg)[0], "111");
}

TEST(ImageRotate, HalfTurnsAndZero) {
  for (float angle : {180.0f, -180.0f, 540.0f}) {
    CxImage img = FiveByThree();
    ASSERT_TRUE(img.Rotate(angle));
    EXPECT_EQ(Indices(img), (Rows{"11011", "00110", "10101"})) << angle;
  }
  for (float angle : {0.0f, 360.0f}) {
    CxImage img = FiveByThree();
    ASSERT_TRUE(img.Rotate(angle));
    EXPECT_EQ(Indices(img), (Rows{"10101", "01100", "11011"})) << angle;
  }
}

TEST(ImageRotate, ColourAlphaAndTarget) {
  CxImage img(4, 2, 24);
  img.SetPixelColor(3, 0, tagRGBQUAD{1, 2, 3, 0});
  img.AlphaCreate();
  img.AlphaSet(3, 0, 77);
  CxImage target;
  ASSERT_TRUE(img.Rotate(90.0f, &target));
  EXPECT_EQ(img.GetWidth(), 4u);  // the source stays
  ASSERT_EQ(target.GetWidth(), 2u);
  ASSERT_EQ(target.GetHeight(), 4u);
  // source (3, 0) lands where w - y = 3 and x = 0: result (0, 1)
  EXPECT_EQ(target.GetPixelColor(0, 1, false).rgbRed, 3);
  EXPECT_EQ(target.AlphaGet(0, 1), 77);
  EXPECT_EQ(target.AlphaGet(0, 0), 0);  // read from outside: 0

  CxImage half(img);
  ASSERT_TRUE(half.Rotate180());
  EXPECT_EQ(half.GetPixelColor(0, 1, false).rgbBlue, 1);
  EXPECT_EQ(half.AlphaGet(0, 1), 77);

  CxImage empty;
  EXPECT_FALSE(empty.Rotate(90.0f));
  EXPECT_FALSE(empty.Rotate180());
}

TEST(ImageRotate, TooLargeResultLeavesTheImageUnchanged) {
  // 33000 x 33000 one-bit passes the memory limit; turned by 45 degrees it
  // would not.
  CxImage img(33000, 33000, 1);
  ASSERT_TRUE(img.IsValid());
  void* dib = img.GetDIB();
  EXPECT_FALSE(img.Rotate(45.0f));
  EXPECT_EQ(img.GetDIB(), dib);
  EXPECT_EQ(img.GetWidth(), 33000u);
  EXPECT_STREQ(img.GetLastError(), "CXIMAGE_MAX_MEMORY exceeded");
}

TEST(ImageRotate, HalfTurnOfEveryDepth) {
  for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
    CxImage img(5, 3, bpp);
    img.SetGrayPalette();
    img.SetPixelColor(0, 0, tagRGBQUAD{255, 255, 255, 0});
    ASSERT_TRUE(img.Rotate180());
    EXPECT_EQ(img.GetPixelColor(4, 2).rgbRed, 255) << bpp;
    EXPECT_EQ(img.GetPixelColor(0, 0).rgbRed, 0) << bpp;
  }
}

TEST(ImageMirror, LeftToRightForEveryDepth) {
  for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
    CxImage img(10, 2, bpp);
    img.SetGrayPalette();
    img.SetPixelColor(0, 1, tagRGBQUAD{255, 255, 255, 0});
    img.SetPixelColor(3, 0, tagRGBQUAD{255, 255, 255, 0});
    img.AlphaCreate();
    img.AlphaSet(0, 1, 5);
    ASSERT_TRUE(img.Mirror(false, true));
    EXPECT_EQ(img.GetHeight(), 2u);
    EXPECT_EQ(img.GetPixelColor(9, 1, false).rgbRed, 255) << bpp;
    EXPECT_EQ(img.GetPixelColor(6, 0, false).rgbRed, 255) << bpp;
    EXPECT_EQ(img.GetPixelColor(0, 1, false).rgbRed, 0) << bpp;
    EXPECT_EQ(img.AlphaGet(9, 1), 5);
    ASSERT_TRUE(img.Mirror(false, false));
    EXPECT_EQ(img.AlphaGet(9, 1), 5);  // alpha left as it was
  }
}

TEST(ImageCrop, ClampingSwappingAndBottomUpRows) {
  const Rows src = {"1000000", "0100000", "0010000", "0001000"};  // w 7, h 4
  struct Case {
    int l, t, r, b;
    bool ok;
    Rows expected;
  } cases[] = {
      {0, 0, 7, 4, true, src},
      {2, 0, 7, 4, true, {"00000", "00000", "10000", "01000"}},
      {2, 0, 99, 4, true, {"00000", "00000", "10000", "01000"}},
      {7, 0, 2, 4, true, {"00000", "00000", "10000", "01000"}},
      // top counts from the last stored row: top 1 drops stored row 3
      {0, 1, 7, 4, true, {"1000000", "0100000", "0010000"}},
      {0, 4, 7, 3, true, {"1000000"}},
      {0, 3, 7, 4, true, {"1000000"}},
      {-5, 2, 2, 99, true, {"10", "01"}},
      {3, 0, 3, 4, false, {}},
      {0, 9, 7, 5, false, {}},
      {9, 0, 12, 4, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.l << "," << c.t << "," << c.r << "," << c.b);
    CxImage img = Bits(src);
    EXPECT_EQ(img.Crop(c.l, c.t, c.r, c.b), c.ok);
    EXPECT_EQ(Indices(img), c.ok ? c.expected : src);
  }
  CxImage img = Bits(src);
  CxImage target;
  ASSERT_TRUE(img.Crop(tagRECT{1, 0, 3, 2}, &target));
  // bottom 2 keeps stored rows 2 and 3
  EXPECT_EQ(Indices(target), (Rows{"01", "00"}));
  EXPECT_EQ(Indices(img), src);
}

TEST(ImageCrop, OneBitRowsAtEveryBitOffset) {
  std::mt19937 rng(17);
  Rows src(3, std::string(75, '0'));
  for (auto& r : src)
    for (auto& ch : r) ch = (rng() & 1) ? '1' : '0';
  for (int l = 0; l < 20; l++)
    for (int r : {l + 1, l + 7, l + 8, l + 9, 75}) {
      CxImage img = Bits(src);
      ASSERT_TRUE(img.Crop(l, 0, r, 3));
      Rows expected;
      for (const auto& row : src) expected.push_back(row.substr(l, r - l));
      ASSERT_EQ(Indices(img), expected) << l << ".." << r;
      // padding after the last pixel stays zero
      const uint32_t n = img.GetWidth();
      if (n % 8) {
        EXPECT_EQ(img.GetBits(0)[n / 8] & (0xFF >> (n % 8)), 0);
      }
    }
}

TEST(ImageCrop, DeeperImagesAndAlpha) {
  CxImage g = Grey({{1, 2, 3, 4}, {5, 6, 7, 8}});
  g.AlphaCreate();
  g.AlphaSet(2, 0, 9);
  ASSERT_TRUE(g.Crop(1, 0, 3, 2));
  EXPECT_EQ(imgtest::Row(g, 0), (std::vector<uint8_t>{2, 3, 0, 0}));
  EXPECT_EQ(g.AlphaGet(1, 0), 9);
  CxImage four(5, 1, 4);
  for (int x = 0; x < 5; x++) four.SetPixelIndex(x, 0, static_cast<uint8_t>(x + 10));
  ASSERT_TRUE(four.Crop(1, 0, 4, 1));
  EXPECT_EQ(four.GetPixelIndex(0, 0), 11);
  EXPECT_EQ(four.GetPixelIndex(2, 0), 13);
}

TEST(ImageResample, NearestPixel) {
  CxImage img = Grey({{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11}, {12, 13, 14, 15}});
  ASSERT_TRUE(img.Resample(2, 2, 1));
  EXPECT_EQ(imgtest::Row(img, 0)[0], 0);
  EXPECT_EQ(imgtest::Row(img, 0)[1], 2);
  EXPECT_EQ(imgtest::Row(img, 1)[0], 8);
  EXPECT_EQ(imgtest::Row(img, 1)[1], 10);

  CxImage up = Bits({"01"});
  ASSERT_TRUE(up.Resample(4, 2));
  EXPECT_EQ(Indices(up), (Rows{"0011", "0011"}));

  CxImage same = Bits({"01"});
  CxImage target;
  ASSERT_TRUE(same.Resample(2, 1, 1, &target));
  EXPECT_EQ(Indices(target), (Rows{"01"}));
  EXPECT_EQ(Indices(same), (Rows{"01"}));

  EXPECT_FALSE(same.Resample(0, 4));
  EXPECT_FALSE(same.Resample(-3, 4));
  EXPECT_EQ(Indices(same), (Rows{"01"}));
}

}  // namespace
