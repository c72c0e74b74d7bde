// CxImage container: creation limits, strides, raster import, copy, move,
// resolution.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ImageTestUtil.h"
#include "ximage.h"

using imgtest::Row;

namespace {

const char kErrZero[] =
    "CxImage::Create : width and height must be greater than zero";
const char kErrMax[] = "CXIMAGE_MAX_MEMORY exceeded";

TEST(ImageCreate, StrideColoursAndSize) {
  struct Case {
    uint32_t w, bppIn, bpp, stride, colours;
  } cases[] = {
      {576, 1, 1, 72, 2},   {577, 1, 1, 76, 2},   {5, 24, 24, 16, 0},
      {3, 4, 4, 4, 16},     {9, 4, 4, 8, 16},     {5, 8, 8, 8, 256},
      {1, 0, 1, 4, 2},      {7, 2, 4, 4, 16},     {7, 5, 8, 8, 256},
      {7, 16, 24, 24, 0},   {7, 32, 24, 24, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.bppIn);
    CxImage img;
    ASSERT_NE(img.Create(c.w, 3, c.bppIn), nullptr);
    EXPECT_EQ(img.GetBpp(), c.bpp);
    EXPECT_EQ(img.GetEffWidth(), c.stride);
    EXPECT_EQ(img.GetNumColors(), c.colours);
    EXPECT_EQ(img.GetPaletteSize(), 4 * c.colours);
    EXPECT_EQ(img.GetSize(), 40 + 4 * c.colours + 3 * c.stride);
    EXPECT_EQ(img.GetBits(1), img.GetBits(0) + c.stride);
    EXPECT_EQ(img.GetBits(3), nullptr);
    tagBITMAPINFOHEADER h;
    std::memcpy(&h, img.GetDIB(), sizeof(h));
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, static_cast<int32_t>(c.w));
    EXPECT_EQ(h.biHeight, 3);
    EXPECT_EQ(h.biBitCount, c.bpp);
    EXPECT_EQ(h.biSizeImage, 3 * c.stride);
    EXPECT_EQ(h.biClrUsed, c.colours);
    EXPECT_EQ(h.biXPelsPerMeter, 3780);
    // Palette and pixels start zeroed.
    const uint8_t* p = static_cast<const uint8_t*>(img.GetDIB()) + 40;
    for (uint32_t i = 0; i < img.GetSize() - 40; i++) ASSERT_EQ(p[i], 0) << i;
  }
}

TEST(ImageCreate, RefusesBadSizesWithTheirTexts) {
  struct Case {
    uint32_t w, h, bpp;
    const char* err;
  } cases[] = {
      {0, 10, 8, kErrZero},
      {10, 0, 8, kErrZero},
      {20000, 20000, 24, kErrMax},
      // Pass the float limit but overflow the signed header or the 32-bit
      // size fields: must be refused, not wrapped.
      {0x80000000u, 1, 1, kErrMax},
      {1, 0x80000000u, 1, kErrMax},
      {1, 0x40000000u, 1, kErrMax},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 24, kErrMax},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.bpp);
    CxImage img(4, 4, 8);
    ASSERT_TRUE(img.IsValid());
    EXPECT_EQ(img.Create(c.w, c.h, c.bpp), nullptr);
    EXPECT_FALSE(img.IsValid());
    EXPECT_STREQ(img.GetLastError(), c.err);
    EXPECT_EQ(img.GetBits(0), nullptr);
  }
}

TEST(ImageCreateFromArray, CopiesRowsInOrderOrFlipped) {
  uint8_t src[3 * 4] = {'A', 'A', 'A', 'A', 'B', 'B', 'B', 'B', 'C', 'C', 'C', 'C'};
  for (bool flip : {false, true}) {
    CxImage img;
    ASSERT_TRUE(img.CreateFromArray(src, 4, 3, 8, 4, flip));
    EXPECT_EQ(img.GetBits(0)[0], flip ? 'C' : 'A');
    EXPECT_EQ(img.GetBits(1)[0], 'B');
    EXPECT_EQ(img.GetBits(2)[0], flip ? 'A' : 'C');
    EXPECT_TRUE(img.IsGrayScale());
    EXPECT_FALSE(img.AlphaIsValid());
  }
}

TEST(ImageCreateFromArray, GreyPalettePerDepth) {
  uint8_t src[16] = {0x80};
  struct Case {
    uint32_t bpp;
    std::vector<uint8_t> levels;  // the first few palette entries
  } cases[] = {{1, {0, 255}}, {4, {0, 17, 34, 51}}, {8, {0, 1, 2, 3}}};
  for (const Case& c : cases) {
    CxImage img;
    ASSERT_TRUE(img.CreateFromArray(src, 8, 1, c.bpp, 4, false));
    for (size_t i = 0; i < c.levels.size(); i++) {
      const tagRGBQUAD q = img.GetPaletteColor(static_cast<uint8_t>(i));
      EXPECT_EQ(q.rgbRed, c.levels[i]);
      EXPECT_EQ(q.rgbGreen, c.levels[i]);
      EXPECT_EQ(q.rgbBlue, c.levels[i]);
    }
  }
  CxImage one;
  one.CreateFromArray(src, 8, 1, 1, 1, false);
  EXPECT_EQ(one.GetPixelIndex(0, 0), 1);  // a 1 bit is white
  EXPECT_EQ(one.GetPixelIndex(1, 0), 0);
}

TEST(ImageCreateFromArray, ThirtyTwoBitsGiveColourAndAlpha) {
  // Two pixels per row; bytes land unchanged in blue, green, red, alpha.
  uint8_t src[2 * 8] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  CxImage img;
  ASSERT_TRUE(img.CreateFromArray(src, 2, 2, 32, 8, true));
  EXPECT_EQ(img.GetBpp(), 24u);
  ASSERT_TRUE(img.AlphaIsValid());
  // flip: source row 0 is stored row 1
  const tagRGBQUAD c = img.GetPixelColor(1, 1, false);
  EXPECT_EQ(c.rgbBlue, 5);
  EXPECT_EQ(c.rgbGreen, 6);
  EXPECT_EQ(c.rgbRed, 7);
  EXPECT_EQ(img.AlphaGet(1, 1), 8);
  EXPECT_EQ(img.AlphaGet(0, 0), 12);
  EXPECT_EQ(img.GetPixelColor(0, 0, true).rgbReserved, 12);
}

TEST(ImageCreateFromArray, ShortLinesAreNotOverread) {
  // Exactly bytesperline * height bytes: a 32-bit page whose lines hold fewer
  // bytes than 4 * width must not be read past its end (ASan checks).
  std::vector<uint8_t> src(6 * 2, 0x7F);
  CxImage img;
  ASSERT_TRUE(img.CreateFromArray(src.data(), 3, 2, 32, 6, false));
  EXPECT_EQ(img.GetPixelColor(0, 1, false).rgbRed, 0x7F);
  EXPECT_EQ(img.GetPixelColor(2, 1, false).rgbRed, 0);
  // Lower depths: at most min(stride, bytesperline) bytes per row.
  std::vector<uint8_t> narrow(2 * 3, 0xAB);
  ASSERT_TRUE(img.CreateFromArray(narrow.data(), 7, 3, 8, 2, false));
  EXPECT_EQ(Row(img, 2), (std::vector<uint8_t>{0xAB, 0xAB, 0, 0, 0, 0, 0, 0}));
}

TEST(ImageCreateFromArray, RejectsDepthsAndNullKeepingThePage) {
  uint8_t src[64] = {};
  CxImage img;
  uint8_t page[4] = {9, 8, 7, 6};
  ASSERT_TRUE(img.CreateFromArray(page, 4, 1, 8, 4, false));
  for (uint32_t bpp : {0u, 2u, 3u, 16u, 48u}) {
    EXPECT_FALSE(img.CreateFromArray(src, 4, 1, bpp, 16, false)) << bpp;
    ASSERT_TRUE(img.IsValid());
    EXPECT_EQ(img.GetBits(0)[0], 9);
    EXPECT_EQ(img.GetBpp(), 8u);
  }
  EXPECT_FALSE(img.CreateFromArray(nullptr, 4, 1, 8, 4, false));
  EXPECT_EQ(img.GetBits(0)[3], 6);
  EXPECT_FALSE(img.CreateFromArray(src, 0, 1, 8, 4, false));
  EXPECT_FALSE(img.IsValid());
}

TEST(ImageResolution, DotsPerInchAndPixelsPerMetre) {
  struct Case {
    int32_t in, dpi, ppm;
  } cases[] = {{96, 96, 3780},      {0, 96, 3780},     {-5, 96, 3780},
               {203, 203, 7992},    {300, 300, 11811}, {600, 600, 23622},
               // would overflow the 32-bit field: saturated
               {2147483647, 2147483647, 2147483647}};
  for (const Case& c : cases) {
    CxImage img(2, 2, 1);
    img.SetXDPI(c.in);
    img.SetYDPI(c.in);
    EXPECT_EQ(img.GetXDPI(), c.dpi);
    EXPECT_EQ(img.GetYDPI(), c.dpi);
    EXPECT_EQ(img.GetHeader().biXPelsPerMeter, c.ppm);
    tagBITMAPINFOHEADER h;
    std::memcpy(&h, img.GetDIB(), sizeof(h));
    EXPECT_EQ(h.biXPelsPerMeter, c.ppm);
    EXPECT_EQ(h.biYPelsPerMeter, c.ppm);
  }
}

TEST(ImageCopy, DeepCopyWithPaddingAlphaAndAttributes) {
  CxImage src(10, 2, 1, 7);
  src.SetGrayPalette();
  src.GetBits(0)[1] = 0xFF;  // pixels 8, 9 and six padding bits
  src.GetBits(1)[3] = 0x5A;  // padding byte
  src.SetXDPI(203);
  src.AlphaCreate();
  src.AlphaSet(9, 1, 17);

  CxImage copy(src);
  ASSERT_TRUE(copy.IsValid());
  EXPECT_NE(copy.GetDIB(), src.GetDIB());
  EXPECT_EQ(std::memcmp(copy.GetDIB(), src.GetDIB(), src.GetSize()), 0);
  EXPECT_EQ(copy.GetBits(1)[3], 0x5A);
  EXPECT_EQ(copy.GetType(), 7u);
  EXPECT_EQ(copy.GetXDPI(), 203);
  EXPECT_EQ(copy.AlphaGet(9, 1), 17);
  copy.SetPixelIndex(0, 0, 1);
  copy.AlphaSet(9, 1, 1);
  EXPECT_EQ(src.GetPixelIndex(0, 0), 0);
  EXPECT_EQ(src.AlphaGet(9, 1), 17);

  CxImage noPixels(src, false, true, false);
  EXPECT_EQ(noPixels.GetBits(0)[1], 0);
  EXPECT_EQ(noPixels.GetPaletteColor(1).rgbRed, 255);
  EXPECT_FALSE(noPixels.AlphaIsValid());

  CxImage assigned;
  assigned = src;
  assigned = assigned;  // self-assignment keeps the image
  EXPECT_EQ(std::memcmp(assigned.GetDIB(), src.GetDIB(), src.GetSize()), 0);
}

TEST(ImageCopy, CopyInfoOnlyIntoEmptyImages) {
  CxImage src(3, 3, 8, 5);
  src.SetXDPI(300);
  CxImage empty;
  empty.CopyInfo(src);
  EXPECT_EQ(empty.GetXDPI(), 300);
  EXPECT_EQ(empty.GetType(), 5u);
  EXPECT_FALSE(empty.IsValid());
  CxImage full(2, 2, 8);
  full.CopyInfo(src);
  EXPECT_EQ(full.GetXDPI(), 96);
  EXPECT_EQ(full.GetType(), 0u);
}

TEST(ImageTransfer, MovesOwnershipAndEmptiesTheSource) {
  CxImage a(4, 4, 8);
  CxImage b(6, 2, 24);
  b.AlphaCreate();
  void* dib = b.GetDIB();
  ASSERT_TRUE(a.Transfer(b));
  EXPECT_EQ(a.GetDIB(), dib);
  EXPECT_EQ(a.GetWidth(), 6u);
  EXPECT_EQ(a.GetBpp(), 24u);
  EXPECT_TRUE(a.AlphaIsValid());
  EXPECT_FALSE(b.IsValid());
  EXPECT_EQ(b.GetWidth(), 0u);
  EXPECT_EQ(b.GetHeight(), 0u);
  EXPECT_FALSE(b.AlphaIsValid());
  EXPECT_TRUE(a.Transfer(a));
  EXPECT_EQ(a.GetDIB(), dib);
}

TEST(ImageAlpha, CreateFillsOpaqueAndNeedsPixels) {
  CxImage none;
  EXPECT_FALSE(none.AlphaCreate());
  CxImage img(3, 2, 8);
  ASSERT_TRUE(img.AlphaCreate());
  EXPECT_EQ(img.AlphaGet(2, 1), 255);
  EXPECT_EQ(img.AlphaGet(3, 1), 0);  // outside
  img.AlphaDelete();
  EXPECT_FALSE(img.AlphaIsValid());
  EXPECT_EQ(img.AlphaGetMax(), 255);
}

}  // namespace
