// CxImage::Dither: every method checked against a plain pixel-by-pixel scan
// written straight from the rules, plus the properties page preparation
// relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ImageTestUtil.h"
#include "ximadither_isa.h"

using imgtest::RandomGrey;
using imgtest::Uniform;

namespace {

using Result = std::vector<std::vector<int>>;

struct Tap {
    int dx, dy, w;
};

// The error-diffusion kernels as {S, taps}, dx toward higher columns.
std::pair<int, std::vector<Tap>> KernelFor(int method)
{
    const std::vector<Tap> row2 = {{-2, 2, 1}, {-1, 2, 2}, {0, 2, 4}, {1, 2, 2}, {2, 2, 1}};
    switch (method) {
    case 2:
        return {32, {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}}};
    case 3: {
        std::vector<Tap> t = {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}};
        t.insert(t.end(), row2.begin(), row2.end());
        return {42, t};
    }
    case 4:
        return {48,
                {{1, 0, 7},
                 {2, 0, 5},
                 {-2, 1, 3},
                 {-1, 1, 5},
                 {0, 1, 7},
                 {1, 1, 5},
                 {2, 1, 3},
                 {-2, 2, 1},
                 {-1, 2, 3},
                 {0, 2, 5},
                 {1, 2, 3},
                 {2, 2, 1}}};
    case 5:
        return {32,
                {{1, 0, 5},
                 {2, 0, 3},
                 {-2, 1, 2},
                 {-1, 1, 4},
                 {0, 1, 5},
                 {1, 1, 4},
                 {2, 1, 2},
                 {-1, 2, 2},
                 {0, 2, 3},
                 {1, 2, 2}}};
    case 6:
        return {200,
                {{2, 0, 32},
                 {-3, 1, 12},
                 {-1, 1, 26},
                 {1, 1, 30},
                 {3, 1, 16},
                 {-2, 2, 12},
                 {0, 2, 26},
                 {2, 2, 12},
                 {-3, 3, 5},
                 {-1, 3, 12},
                 {1, 3, 12},
                 {3, 3, 5}}};
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

const int kP16[16][16] = {{1, 235, 59, 219, 15, 231, 55, 215, 2, 232, 56, 216, 12, 228, 52, 212},
                          {129, 65, 187, 123, 143, 79, 183, 119, 130, 66, 184, 120, 140, 76, 180, 116},
                          {33, 193, 17, 251, 47, 207, 31, 247, 34, 194, 18, 248, 44, 204, 28, 244},
                          {161, 97, 145, 81, 175, 111, 159, 95, 162, 98, 146, 82, 172, 108, 156, 92},
                          {9, 225, 49, 209, 5, 239, 63, 223, 10, 226, 50, 210, 6, 236, 60, 220},
                          {137, 73, 177, 113, 133, 69, 191, 127, 138, 74, 178, 114, 134, 70, 188, 124},
                          {41, 201, 25, 241, 37, 197, 21, 255, 42, 202, 26, 242, 38, 198, 22, 252},
                          {169, 105, 153, 89, 165, 101, 149, 85, 170, 106, 154, 90, 166, 102, 150, 86},
                          {3, 233, 57, 217, 13, 229, 53, 213, 0, 234, 58, 218, 14, 230, 54, 214},
                          {131, 67, 185, 121, 141, 77, 181, 117, 128, 64, 186, 122, 142, 78, 182, 118},
                          {35, 195, 19, 249, 45, 205, 29, 245, 32, 192, 16, 250, 46, 206, 30, 246},
                          {163, 99, 147, 83, 173, 109, 157, 93, 160, 96, 144, 80, 174, 110, 158, 94},
                          {11, 227, 51, 211, 7, 237, 61, 221, 8, 224, 48, 208, 4, 238, 62, 222},
                          {139, 75, 179, 115, 135, 71, 189, 125, 136, 72, 176, 112, 132, 68, 190, 126},
                          {43, 203, 27, 243, 39, 199, 23, 253, 40, 200, 24, 240, 36, 196, 20, 254},
                          {171, 107, 155, 91, 167, 103, 151, 87, 168, 104, 152, 88, 164, 100, 148, 84}};

// The plain scan, with the range-checked accessors.
Result Reference(CxImage src, int method)
{
    src.GrayScale();
    const int w = static_cast<int>(src.GetWidth()), h = static_cast<int>(src.GetHeight());
    const auto kernel = KernelFor(method);
    Result out(h, std::vector<int>(w, 0));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const int g = src.GetPixelIndex(x, y);
            switch (method) {
            case 1:
                out[y][x] = kM1[y % 4][x % 4] < g * 16 / 255;
                continue;
            case 7:
                out[y][x] = kT7[y % 4][x % 4] < g;
                continue;
            case 8:
                out[y][x] = (g >> 2) != 0 && (g >> 2) >= kP8[x % 8][y % 8];
                continue;
            case 9:
                out[y][x] = g > kP16[x % 16][y % 16] || g == 255;
                continue;
            default:
                break;
            }
            const int e = g <= 128 ? g : g - 255;
            out[y][x] = g > 128;
            for (const Tap &t : kernel.second) {
                if (!src.IsInside(x + t.dx, y + t.dy))
                    continue;
                int v = src.GetPixelIndex(x + t.dx, y + t.dy) + e * t.w / kernel.first;
                src.SetPixelIndex(x + t.dx, y + t.dy, static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v));
            }
        }
    return out;
}

Result Bits(const CxImage &img)
{
    Result out(img.GetHeight(), std::vector<int>(img.GetWidth()));
    for (uint32_t y = 0; y < img.GetHeight(); y++)
        for (uint32_t x = 0; x < img.GetWidth(); x++)
            out[y][x] = img.GetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y));
    return out;
}

TEST(ImageDither, MatchesThePlainScan)
{
    // Widths around the vector blocks, the 64-column chunks and the kernel
    // reach; heights around the rows diffused at once; one wide image for all
    // sixteen lanes. Every code path the machine can run.
    struct Size {
        uint32_t w, h;
    };
    std::vector<Size> sizes;
    for (uint32_t w : {1u, 2u, 3u, 7u, 8u, 15u, 16u, 17u, 31u, 33u, 63u, 64u, 65u, 66u, 67u, 129u, 130u, 333u, 700u})
        for (uint32_t h : {1u, 2u, 3u, 5u})
            sizes.push_back({w, h});
    sizes.push_back({2311, 37});
    sizes.push_back({4500, 6}); // beyond two share windows
    const int best = qf_image_detail::DitherIsaLevel();
    for (int isa = 0; isa <= best; isa++) {
        ASSERT_EQ(qf_image_detail::SetDitherIsaLevel(isa), isa);
        uint32_t seed = 1;
        for (int method = 0; method <= 9; method++)
            for (const Size &s : sizes)
                for (bool extremes : {false, true}) {
                    CxImage img = RandomGrey(s.w, s.h, seed++, extremes);
                    const Result expected = Reference(img, method);
                    ASSERT_TRUE(img.Dither(method));
                    ASSERT_EQ(img.GetBpp(), 1u);
                    ASSERT_EQ(Bits(img), expected) << "isa " << isa << " method " << method << " " << s.w << "x" << s.h;
                }
    }
    qf_image_detail::SetDitherIsaLevel(best);
}

TEST(ImageDither, PropertiesOfEveryMethod)
{
    for (int method = -1; method <= 11; method++) {
        SCOPED_TRACE(method);
        CxImage img = RandomGrey(37, 5, 7);
        img.SetXDPI(203);
        img.AlphaCreate();
        img.AlphaSet(36, 4, 33);
        ASSERT_TRUE(img.Dither(method));
        EXPECT_EQ(img.GetXDPI(), 203);
        EXPECT_EQ(img.AlphaGet(36, 4), 33); // the alpha plane survives
        const tagRGBQUAD b = img.GetPaletteColor(0), w = img.GetPaletteColor(1);
        EXPECT_EQ(std::memcmp(&b, "\0\0\0\0", 4), 0);
        EXPECT_EQ(std::memcmp(&w, "\xFF\xFF\xFF\0", 4), 0);

        // No dot is ever printed on pure white, whatever lies around it.
        const CxImage mixed = RandomGrey(100, 35, 11, true);
        CxImage dithered(mixed);
        ASSERT_TRUE(dithered.Dither(method));
        for (int y = 0; y < 35; y++)
            for (int x = 0; x < 100; x++) {
                if (mixed.GetPixelIndex(x, y) == 255) {
                    ASSERT_EQ(dithered.GetPixelIndex(x, y), 1) << x << "," << y;
                }
            }

        // A one-bit image is left exactly as it is.
        CxImage one(45, 6, 1);
        for (uint32_t y = 0; y < 6; y++)
            for (uint32_t i = 0; i < one.GetEffWidth(); i++)
                one.GetBits(y)[i] = static_cast<uint8_t>(i * 37 + y);
        const CxImage before(one);
        ASSERT_TRUE(one.Dither(method));
        EXPECT_EQ(std::memcmp(one.GetDIB(), before.GetDIB(), before.GetSize()), 0);
    }
    for (int method : {11, -1, 1000}) { // every other number is Floyd-Steinberg
        CxImage a = RandomGrey(70, 6, 3), b = RandomGrey(70, 6, 3);
        ASSERT_TRUE(a.Dither(0));
        ASSERT_TRUE(b.Dither(method));
        EXPECT_EQ(Bits(a), Bits(b)) << method;
    }
}

TEST(ImageDither, FirstPixelsOfUniformGrey)
{
    struct Case {
        int method;
        uint8_t level;
        std::vector<int> row0;
    } cases[] = {
        {0, 128, {0, 1, 0, 1}}, // black; +56 makes the next one 184, white
        {2, 129, {1, 0, 1, 0}}, // white; Burkes passes -126 * 8 / 32 = -31: 98
        {6, 128, {0, 0, 1, 1}}, // Stevenson-Arce has no tap at dx = +1
    };
    for (const Case &c : cases) {
        CxImage img = Uniform(4, 2, c.level);
        ASSERT_TRUE(img.Dither(c.method));
        EXPECT_EQ(Bits(img)[0], c.row0) << c.method;
    }
}

int WhiteIn(const CxImage &img, int n)
{
    int count = 0;
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++)
            count += img.GetPixelIndex(x, y);
    return count;
}

TEST(ImageDither, OrderedMatrices)
{
    // Each matrix holds each of its values once, so a uniform level g gives a
    // known count of white pixels per tile.
    for (int g = 0; g < 256; g++) {
        const int expected[4][3] = {
            {1, 4, g * 16 / 255}, {7, 4, (g + 15) / 16}, {8, 8, g >> 2 ? (g >> 2) + 1 : 0}, {9, 16, g + (g == 255)}};
        for (const auto &e : expected) {
            CxImage img = Uniform(16, 16, static_cast<uint8_t>(g));
            ASSERT_TRUE(img.Dither(e[0]));
            ASSERT_EQ(WhiteIn(img, e[1]), e[2]) << "method " << e[0] << " level " << g;
        }
    }
    // The 8 x 8 and 16 x 16 matrices are indexed [x mod n][y mod n].
    const int spots[][5] = {{9, 254, 6, 7, 0}, {9, 254, 7, 6, 1}, {9, 3, 0, 8, 1},   {9, 3, 8, 0, 0},
                            {8, 8, 0, 4, 1},   {8, 8, 4, 0, 0},   {8, 8, 16, 20, 1}, {9, 254, 22, 23, 0}};
    for (const auto &s : spots) { // method, level, x, y, white
        CxImage img = Uniform(32, 32, static_cast<uint8_t>(s[1]));
        ASSERT_TRUE(img.Dither(s[0]));
        EXPECT_EQ(img.GetPixelIndex(s[2], s[3]), s[4]) << s[0] << " at " << s[2] << "," << s[3];
    }
}

// Method 10, for text and barcodes with pictures.
TEST(ImageDither, EdgesThresholdedGreyAreasDiffused)
{
    // Grey beside pure black or white is cut at mid-grey, whole columns alike;
    // pure levels pass.
    const Result edges = Bits([] {
        CxImage img = imgtest::Grey(std::vector<std::vector<uint8_t>>(6, {0, 128, 129, 255, 200, 40, 255, 90, 0}));
        img.Dither(10);
        return img;
    }());
    for (const auto &row : edges)
        EXPECT_EQ(row, (std::vector<int>{0, 0, 1, 1, 1, 0, 1, 0, 0}));

    // Inside a grey area the tone is kept, as dots.
    for (int level : {40, 128, 200}) {
        CxImage img = Uniform(64, 64, static_cast<uint8_t>(level));
        ASSERT_TRUE(img.Dither(10));
        const int white = WhiteIn(img, 64);
        EXPECT_NEAR(white, 64 * 64 * level / 255, 64) << level;
    }

    // No error crosses a pure column: the area right of it comes out the same
    // whatever lies left of it.
    auto right = [](uint8_t left) {
        std::vector<std::vector<uint8_t>> rows(20, std::vector<uint8_t>(41, 150));
        for (auto &r : rows) {
            std::fill(r.begin(), r.begin() + 20, left);
            r[20] = 0;
        }
        CxImage img = imgtest::Grey(rows);
        img.Dither(10);
        Result bits = Bits(img);
        for (auto &r : bits)
            r.erase(r.begin(), r.begin() + 21);
        return bits;
    };
    EXPECT_EQ(right(30), right(220));
}

// A page of rectangles: pure black, pure white, flat grey and grey noise with
// or without pure pixels in it, over grey noise.
CxImage PatchPage(uint32_t w, uint32_t h, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<std::vector<uint8_t>> rows(h, std::vector<uint8_t>(w));
    for (auto &r : rows)
        for (auto &v : r)
            v = static_cast<uint8_t>(1 + rng() % 254);
    for (int n = 0; n < 12; n++) {
        const uint32_t x0 = static_cast<uint32_t>(rng() % w), y0 = static_cast<uint32_t>(rng() % h);
        const uint32_t x1 = std::min(w, x0 + 1 + static_cast<uint32_t>(rng() % 80));
        const uint32_t y1 = std::min(h, y0 + 1 + static_cast<uint32_t>(rng() % 20));
        const uint32_t kind = static_cast<uint32_t>(rng() % 5), flat = static_cast<uint32_t>(rng() % 256);
        for (uint32_t y = y0; y < y1; y++)
            for (uint32_t x = x0; x < x1; x++) {
                const uint32_t u = static_cast<uint32_t>(rng());
                const uint8_t noise = static_cast<uint8_t>(u % 256);
                const uint8_t levels[5] = {0, 255, static_cast<uint8_t>(flat), noise,
                                           (u >> 8) % 4 == 0 ? static_cast<uint8_t>((u >> 12) & 1 ? 255 : 0) : noise};
                rows[y][x] = levels[kind];
            }
    }
    return imgtest::Grey(rows);
}

// A grey area (a ramp across the page, levels 1 to 254) with a black bar
// through it, white below, and a rectangle of pure pixels at a random place.
CxImage GreyAreaPage(uint32_t w, uint32_t h, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<std::vector<uint8_t>> rows(h, std::vector<uint8_t>(w));
    const uint32_t bar = static_cast<uint32_t>(rng() % w), white = h - h / 4;
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++)
            rows[y][x] = y >= white ? 255
                         : x == bar ? 0
                                    : static_cast<uint8_t>(1 + (x * 253 + y * 7) / std::max(1u, w));
    const uint32_t x0 = static_cast<uint32_t>(rng() % w), y0 = static_cast<uint32_t>(rng() % h);
    for (uint32_t y = y0; y < std::min(h, y0 + 3); y++)
        for (uint32_t x = x0; x < std::min(w, x0 + 20); x++)
            rows[y][x] = (x + y) % 2 ? 255 : 0;
    return imgtest::Grey(rows);
}

// Every vector path of every method gives the portable path's bits.
TEST(ImageDither, VectorPathsMatchThePortableOne)
{
    struct Size {
        uint32_t w, h;
    };
    const Size sizes[] = {{1, 3},  {2, 2},  {15, 4},  {16, 3},   {17, 5},  {31, 4},  {32, 3},
                          {33, 6}, {34, 2}, {47, 7},  {48, 5},   {49, 4},  {63, 3},  {64, 9},
                          {65, 8}, {66, 4}, {97, 11}, {130, 17}, {333, 6}, {700, 9}, {812, 40}};
    const int best = qf_image_detail::DitherIsaLevel();
    uint32_t seed = 100;
    for (int method = 0; method <= 10; method++)
        for (const Size &s : sizes)
            for (int page = 0; page < 3; page++) {
                const CxImage img = page == 2 ? GreyAreaPage(s.w, s.h, seed)
                                    : page    ? PatchPage(s.w, s.h, seed)
                                              : RandomGrey(s.w, s.h, seed, true);
                seed++;
                qf_image_detail::SetDitherIsaLevel(0);
                CxImage portable(img);
                ASSERT_TRUE(portable.Dither(method));
                for (int isa = 1; isa <= best; isa++) {
                    ASSERT_EQ(qf_image_detail::SetDitherIsaLevel(isa), isa);
                    CxImage vec(img);
                    ASSERT_TRUE(vec.Dither(method));
                    ASSERT_EQ(Bits(vec), Bits(portable))
                        << "isa " << isa << " method " << method << " " << s.w << "x" << s.h << " page " << page;
                }
            }
    qf_image_detail::SetDitherIsaLevel(best);
}

// Threshold shares the row kernels' instruction-set levels.
TEST(ImageDither, ThresholdVectorPathsMatchThePortableOne)
{
    const int best = qf_image_detail::DitherIsaLevel();
    uint32_t seed = 500;
    for (uint32_t w : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 33u, 130u, 812u})
        for (int level : {0, 1, 127, 128, 129, 254, 255}) {
            const CxImage img = RandomGrey(w, 3, seed++, true);
            qf_image_detail::SetDitherIsaLevel(0);
            CxImage portable(img);
            ASSERT_TRUE(portable.Threshold(static_cast<uint8_t>(level)));
            for (int isa = 1; isa <= best; isa++) {
                ASSERT_EQ(qf_image_detail::SetDitherIsaLevel(isa), isa);
                CxImage vec(img);
                ASSERT_TRUE(vec.Threshold(static_cast<uint8_t>(level)));
                for (uint32_t y = 0; y < 3; y++) // padding bits included
                    ASSERT_EQ(std::memcmp(vec.GetBits(y), portable.GetBits(y), portable.GetEffWidth()), 0)
                        << "isa " << isa << " width " << w << " level " << level << " row " << y;
            }
        }
    qf_image_detail::SetDitherIsaLevel(best);
}

TEST(ImageDither, OtherInputs)
{
    CxImage rgb(3, 1, 24);
    rgb.SetPixelColor(0, 0, tagRGBQUAD{255, 255, 255, 0});
    ASSERT_TRUE(rgb.Dither(0));
    EXPECT_EQ(Bits(rgb)[0], (std::vector<int>{1, 0, 0}));
    EXPECT_FALSE(CxImage().Dither(0));
    CxImage escaped = Uniform(8, 4, 255);
    escaped.SetEscape(1); // stops before the first row: nothing decided
    ASSERT_TRUE(escaped.Dither(2));
    EXPECT_EQ(escaped.GetBits(3)[0], 0);
}

} // namespace
