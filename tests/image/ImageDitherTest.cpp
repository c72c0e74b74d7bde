// CxImage::Dither: exact results of every method, checked against a plain
// pixel-by-pixel scan written straight from the rules.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ImageTestUtil.h"
#include "ximage.h"

using imgtest::Grey;
using imgtest::RandomGrey;
using imgtest::UniformGrey;

namespace {

struct Tap {
  int dx, dy, w;
};
struct RefKernel {
  int S;
  std::vector<Tap> taps;
};

RefKernel RefKernelFor(int method) {
  switch (method) {
    case 2:
      return {32, {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}}};
    case 3:
      return {42, {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2},
                   {-2, 2, 1}, {-1, 2, 2}, {0, 2, 4}, {1, 2, 2}, {2, 2, 1}}};
    case 4:
      return {48, {{1, 0, 7}, {2, 0, 5}, {-2, 1, 3}, {-1, 1, 5}, {0, 1, 7}, {1, 1, 5}, {2, 1, 3},
                   {-2, 2, 1}, {-1, 2, 3}, {0, 2, 5}, {1, 2, 3}, {2, 2, 1}}};
    case 5:
      return {32, {{1, 0, 5}, {2, 0, 3}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 5}, {1, 1, 4}, {2, 1, 2},
                   {-1, 2, 2}, {0, 2, 3}, {1, 2, 2}}};
    case 6:
      return {200, {{2, 0, 32}, {-3, 1, 12}, {-1, 1, 26}, {1, 1, 30}, {3, 1, 16}, {-2, 2, 12},
                    {0, 2, 26}, {2, 2, 12}, {-3, 3, 5}, {-1, 3, 12}, {1, 3, 12}, {3, 3, 5}}};
    default:
      return {16, {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}}};
  }
}

const int kM1[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
const int kT7[4][4] = {{0, 192, 48, 240}, {128, 64, 176, 112}, {32, 224, 16, 208}, {160, 96, 144, 80}};
const int kP8[8][8] = {{0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
                       {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
                       {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
                       {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};

// The plain scan: one-bit result indices, row by row.
std::vector<std::vector<int>> Reference(CxImage src, int method) {
  src.GrayScale();
  const int w = static_cast<int>(src.GetWidth()), h = static_cast<int>(src.GetHeight());
  std::vector<std::vector<int>> out(h, std::vector<int>(w, 0));
  const bool ordered = method == 1 || method == 7 || method == 8;
  const RefKernel k = RefKernelFor(method);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const int g = src.GetPixelIndex(x, y);
      if (ordered) {
        if (method == 1) out[y][x] = kM1[y % 4][x % 4] < g * 16 / 255;
        if (method == 7) out[y][x] = kT7[y % 4][x % 4] < g;
        if (method == 8) out[y][x] = (g >> 2) != 0 && (g >> 2) >= kP8[x % 8][y % 8];
        continue;
      }
      const int e = g <= 128 ? g : g - 255;
      out[y][x] = g > 128;
      for (const Tap& t : k.taps) {
        if (!src.IsInside(x + t.dx, y + t.dy)) continue;
        int v = src.GetPixelIndex(x + t.dx, y + t.dy) + e * t.w / k.S;
        v = v < 0 ? 0 : v > 255 ? 255 : v;
        src.SetPixelIndex(x + t.dx, y + t.dy, static_cast<uint8_t>(v));
      }
    }
  return out;
}

std::vector<std::vector<int>> Result(const CxImage& img) {
  std::vector<std::vector<int>> out(img.GetHeight(), std::vector<int>(img.GetWidth()));
  for (uint32_t y = 0; y < img.GetHeight(); y++)
    for (uint32_t x = 0; x < img.GetWidth(); x++)
      out[y][x] = img.GetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y));
  return out;
}

const int kReferenceMethods[] = {0, 1, 2, 3, 4, 5, 6, 7, 8};

TEST(ImageDither, MatchesThePlainScanOnRandomImages) {
  // Widths around the 16-byte blocks, the 64-column chunks and the kernel
  // reach; heights around the three rows diffused together.
  const uint32_t widths[] = {1, 2, 3, 4, 7, 8, 15, 16, 17, 63, 64, 65, 66, 67, 127, 128, 129, 130, 200, 333, 700};
  const uint32_t heights[] = {1, 2, 3, 4, 5, 7};
  uint32_t seed = 1;
  for (int method : kReferenceMethods)
    for (uint32_t w : widths)
      for (uint32_t h : heights)
        for (bool extremes : {false, true}) {
          SCOPED_TRACE(testing::Message() << "method " << method << " " << w << "x" << h
                                          << (extremes ? " extremes" : ""));
          CxImage img = RandomGrey(w, h, seed++, extremes);
          const auto expected = Reference(img, method);
          ASSERT_TRUE(img.Dither(method));
          ASSERT_EQ(img.GetBpp(), 1u);
          ASSERT_EQ(Result(img), expected);
        }
}

TEST(ImageDither, LargePageMatchesThePlainScan) {
  // Wide enough for many rows to be diffused at once.
  for (int method : {0, 2, 3, 4, 5, 6}) {
    CxImage img = RandomGrey(2311, 37, 99u + static_cast<uint32_t>(method), true);
    const auto expected = Reference(img, method);
    ASSERT_TRUE(img.Dither(method));
    EXPECT_EQ(Result(img), expected) << method;
  }
}

TEST(ImageDither, EveryMethodGivesABlackWhiteOneBitImage) {
  for (int method = -1; method <= 10; method++) {
    CxImage img = RandomGrey(37, 5, 7, false);
    img.SetXDPI(203);
    ASSERT_TRUE(img.Dither(method)) << method;
    EXPECT_EQ(img.GetBpp(), 1u);
    EXPECT_EQ(img.GetXDPI(), 203);
    const tagRGBQUAD b = img.GetPaletteColor(0), w = img.GetPaletteColor(1);
    EXPECT_TRUE(b.rgbRed == 0 && b.rgbGreen == 0 && b.rgbBlue == 0 && b.rgbReserved == 0);
    EXPECT_TRUE(w.rgbRed == 255 && w.rgbGreen == 255 && w.rgbBlue == 255 && w.rgbReserved == 0);
  }
}

TEST(ImageDither, WhitePageStaysWhite) {
  for (int method = 0; method <= 9; method++)
    for (uint32_t w : {1u, 9u, 100u}) {
      CxImage img = UniformGrey(w, 19, 255);
      ASSERT_TRUE(img.Dither(method));
      for (uint32_t y = 0; y < 19; y++)
        for (uint32_t x = 0; x < w; x++) {
          // The 16x16 matrix holds 255 once, at x = 6, y = 7 (mod 16): that
          // dot stays black even on white.
          const int expected = method == 9 && x % 16 == 6 && y % 16 == 7 ? 0 : 1;
          ASSERT_EQ(img.GetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y)), expected)
              << method << " " << x << "," << y;
        }
    }
}

TEST(ImageDither, OneBitImageIsLeftAlone) {
  std::mt19937 rng(5);
  for (int method = -1; method <= 10; method++) {
    CxImage img(45, 6, 1);
    img.SetGrayPalette();
    for (uint32_t y = 0; y < 6; y++)
      for (uint32_t i = 0; i < img.GetEffWidth(); i++) img.GetBits(y)[i] = static_cast<uint8_t>(rng());
    const CxImage before(img);
    ASSERT_TRUE(img.Dither(method));
    EXPECT_EQ(std::memcmp(img.GetDIB(), before.GetDIB(), before.GetSize()), 0) << method;
  }
}

TEST(ImageDither, FirstPixelsOfUniformGrey) {
  struct Case {
    int method;
    uint8_t level;
    const char* row0;  // the first few result pixels of stored row 0
  } cases[] = {
      // 128 is black, +56 makes the next pixel 184: white.
      {0, 128, "0101"},
      // 129 is white; Burkes passes -126 * 8 / 32 = -31: 98, black.
      {2, 129, "1010"},
      {0, 129, "10"},
      // Stevenson-Arce has no tap at dx = +1.
      {6, 128, "0011"},
  };
  for (const Case& c : cases) {
    CxImage img = UniformGrey(4, 2, c.level);
    ASSERT_TRUE(img.Dither(c.method));
    std::string got;
    for (size_t x = 0; x < std::strlen(c.row0); x++)
      got += static_cast<char>('0' + img.GetPixelIndex(static_cast<int32_t>(x), 0));
    EXPECT_EQ(got, c.row0) << c.method;
  }
}

TEST(ImageDither, DefaultMethodIsFloydSteinberg) {
  for (int method : {10, -1, 1000}) {
    CxImage a = RandomGrey(70, 6, 3, false), b = RandomGrey(70, 6, 3, false);
    ASSERT_TRUE(a.Dither(0));
    ASSERT_TRUE(b.Dither(method));
    EXPECT_EQ(Result(a), Result(b)) << method;
  }
}

int WhiteCount(const CxImage& img, int x0, int y0, int n) {
  int count = 0;
  for (int y = y0; y < y0 + n; y++)
    for (int x = x0; x < x0 + n; x++) count += img.GetPixelIndex(x, y);
  return count;
}

TEST(ImageDither, OrderedLevels) {
  struct Case {
    int method;
    uint8_t level;
    int block;
    int white;  // white pixels per block
  } cases[] = {
      {1, 255, 4, 16}, {1, 0, 4, 0},   {1, 128, 4, 8},   {7, 255, 4, 16}, {7, 0, 4, 0},
      {7, 100, 4, 7},  {8, 3, 8, 0},   {8, 0, 8, 0},     {8, 255, 8, 64}, {9, 0, 16, 0},
      {9, 255, 16, 255}, {9, 128, 16, 128},
  };
  for (const Case& c : cases) {
    CxImage img = UniformGrey(32, 32, c.level);
    ASSERT_TRUE(img.Dither(c.method));
    for (int by = 0; by < 32; by += c.block)
      for (int bx = 0; bx < 32; bx += c.block)
        EXPECT_EQ(WhiteCount(img, bx, by, c.block), c.white)
            << c.method << " level " << int(c.level) << " at " << bx << "," << by;
  }
}

TEST(ImageDither, OrderedMatricesHoldEveryThresholdOnce) {
  // Each matrix holds each of its values once, so a uniform level g gives a
  // known number of white pixels per tile.
  for (int g = 0; g < 256; g++) {
    const int expected[] = {g * 16 / 255, (g + 15) / 16, g >> 2 ? (g >> 2) + 1 : 0, g};
    const int methods[] = {1, 7, 8, 9};
    const int tiles[] = {4, 4, 8, 16};
    for (int i = 0; i < 4; i++) {
      CxImage img = UniformGrey(16, 16, static_cast<uint8_t>(g));
      ASSERT_TRUE(img.Dither(methods[i]));
      ASSERT_EQ(WhiteCount(img, 0, 0, tiles[i]), expected[i]) << methods[i] << " level " << g;
    }
  }
}

TEST(ImageDither, LargeMatricesAreIndexedColumnFirst) {
  struct Case {
    int method;
    uint8_t level;
    int x, y, white;
  } cases[] = {
      {9, 255, 6, 7, 0},  {9, 255, 7, 6, 1},   // P16[6][7] = 255
      {9, 3, 0, 8, 1},    {9, 3, 8, 0, 0},     // P16[0][8] = 2, P16[8][0] = 3
      {8, 8, 0, 4, 1},    {8, 8, 4, 0, 0},     // P8[0][4] = 2, P8[4][0] = 3
      {8, 8, 16, 20, 1},  {9, 255, 22, 23, 0},
  };
  for (const Case& c : cases) {
    CxImage img = UniformGrey(32, 32, c.level);
    ASSERT_TRUE(img.Dither(c.method));
    EXPECT_EQ(img.GetPixelIndex(c.x, c.y), c.white) << c.method << " " << c.x << "," << c.y;
  }
}

TEST(ImageDither, AlphaPlaneSurvives) {
  for (int method : {0, 9}) {
    CxImage img = RandomGrey(20, 3, 11, false);
    img.AlphaCreate();
    img.AlphaSet(19, 2, 33);
    ASSERT_TRUE(img.Dither(method));
    EXPECT_EQ(img.AlphaGet(19, 2), 33);
  }
}

TEST(ImageDither, TrueColourAndEmptyInputs) {
  CxImage rgb(3, 1, 24);
  rgb.SetPixelColor(0, 0, tagRGBQUAD{255, 255, 255, 0});
  ASSERT_TRUE(rgb.Dither(0));
  EXPECT_EQ(rgb.GetBpp(), 1u);
  EXPECT_EQ(rgb.GetPixelIndex(0, 0), 1);
  EXPECT_EQ(rgb.GetPixelIndex(1, 0), 0);
  CxImage empty;
  EXPECT_FALSE(empty.Dither(0));
}

TEST(ImageDither, EscapeStopsBeforeTheFirstRow) {
  CxImage img = UniformGrey(8, 4, 255);
  img.SetEscape(1);
  ASSERT_TRUE(img.Dither(2));
  EXPECT_EQ(img.GetBits(3)[0], 0);  // nothing was decided: all black
}

}  // namespace
