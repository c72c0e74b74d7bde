// CxImage container: layout, creation limits, raster import, copy, move,
// resolution.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ImageTestUtil.h"

namespace {

const char kErrZero[] = "CxImage::Create : width and height must be greater than zero";
const char kErrMax[] = "CXIMAGE_MAX_MEMORY exceeded";

tagBITMAPINFOHEADER BlockHeader(const CxImage &img)
{
    tagBITMAPINFOHEADER h;
    std::memcpy(&h, img.GetDIB(), sizeof(h));
    return h;
}

TEST(ImageCreate, LayoutPerDepth)
{
    struct Case {
        uint32_t w, bppIn, bpp, stride, colours;
    } cases[] = {{576, 1, 1, 72, 2}, {577, 1, 1, 76, 2}, {5, 24, 24, 16, 0}, {9, 4, 4, 8, 16},  {5, 8, 8, 8, 256},
                 {1, 0, 1, 4, 2},    {7, 2, 4, 4, 16},   {7, 5, 8, 8, 256},  {7, 32, 24, 24, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.bppIn);
        CxImage img;
        ASSERT_NE(img.Create(c.w, 3, c.bppIn), nullptr);
        EXPECT_EQ(img.GetBpp(), c.bpp);
        EXPECT_EQ(img.GetEffWidth(), c.stride);
        EXPECT_EQ(img.GetNumColors(), c.colours);
        EXPECT_EQ(img.GetSize(), 40 + 4 * c.colours + 3 * c.stride);
        EXPECT_EQ(img.GetBits(1), img.GetBits(0) + c.stride);
        EXPECT_EQ(img.GetBits(3), nullptr);
        const tagBITMAPINFOHEADER h = BlockHeader(img);
        EXPECT_EQ(std::memcmp(&h, &img.GetHeader(), sizeof(h)), 0);
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biHeight, 3);
        EXPECT_EQ(h.biSizeImage, 3 * c.stride);
        EXPECT_EQ(h.biXPelsPerMeter, 3780);
        const auto *p = static_cast<const uint8_t *>(img.GetDIB());
        for (uint32_t i = 40; i < img.GetSize(); i++)
            ASSERT_EQ(p[i], 0) << i; // zeroed
    }
}

TEST(ImageCreate, RefusesSizesWithTheirTexts)
{
    struct Case {
        uint32_t w, h, bpp;
        const char *err;
    } cases[] = {{0, 10, 8, kErrZero},
                 {10, 0, 8, kErrZero},
                 {20000, 20000, 24, kErrMax},
                 // pass the float limit, but the signed header or the 32-bit
                 // size fields cannot hold them
                 {0x80000000u, 1, 1, kErrMax},
                 {1, 0x80000000u, 1, kErrMax},
                 {1, 0x40000000u, 1, kErrMax},
                 {0xFFFFFFFFu, 0xFFFFFFFFu, 24, kErrMax}};
    for (const Case &c : cases) {
        CxImage img(4, 4, 8);
        EXPECT_EQ(img.Create(c.w, c.h, c.bpp), nullptr) << c.w << "x" << c.h;
        EXPECT_FALSE(img.IsValid());
        EXPECT_STREQ(img.GetLastError(), c.err);
        EXPECT_EQ(img.GetBits(0), nullptr);
    }
}

TEST(ImageCreateFromArray, RowsInOrderOrFlippedWithGreyPalette)
{
    uint8_t src[12] = {'A', 'A', 'A', 'A', 'B', 'B', 'B', 'B', 'C', 'C', 'C', 'C'};
    for (bool flip : {false, true}) {
        CxImage img;
        ASSERT_TRUE(img.CreateFromArray(src, 4, 3, 8, 4, flip));
        EXPECT_EQ(img.GetBits(0)[0], flip ? 'C' : 'A');
        EXPECT_EQ(img.GetBits(2)[0], flip ? 'A' : 'C');
        EXPECT_TRUE(img.IsGrayScale());
    }
    const uint8_t levels[][3] = {{1, 255, 0}, {4, 17, 34}, {8, 1, 2}}; // bpp, entry 1, entry 2
    for (const auto &l : levels) {
        CxImage img;
        ASSERT_TRUE(img.CreateFromArray(src, 8, 1, l[0], 4, false));
        EXPECT_EQ(img.GetPaletteColor(1).rgbGreen, l[1]);
        EXPECT_EQ(img.GetPaletteColor(2).rgbRed, l[2]);
    }
}

TEST(ImageCreateFromArray, ThirtyTwoBitsGiveColourAndAlpha)
{
    uint8_t src[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    CxImage img;
    ASSERT_TRUE(img.CreateFromArray(src, 2, 2, 32, 8, true));
    EXPECT_EQ(img.GetBpp(), 24u);
    const tagRGBQUAD c = img.GetPixelColor(1, 1, false); // source row 0, flipped
    EXPECT_EQ(c.rgbBlue, 5);                             // no byte reordered
    EXPECT_EQ(c.rgbRed, 7);
    EXPECT_EQ(img.AlphaGet(1, 1), 8);
    EXPECT_EQ(img.GetPixelColor(0, 0, true).rgbReserved, 12);
}

TEST(ImageCreateFromArray, NeverReadsPastTheLines)
{
    // Buffers of exactly bytesperline * height (ASan checks the reads).
    std::vector<uint8_t> src(6 * 2, 0x7F);
    CxImage img;
    ASSERT_TRUE(img.CreateFromArray(src.data(), 3, 2, 32, 6, false));
    EXPECT_EQ(img.GetPixelColor(0, 1, false).rgbRed, 0x7F);
    EXPECT_EQ(img.GetPixelColor(2, 1, false).rgbRed, 0);
    std::vector<uint8_t> narrow(2 * 3, 0xAB);
    ASSERT_TRUE(img.CreateFromArray(narrow.data(), 7, 3, 8, 2, false));
    EXPECT_EQ(img.GetBits(2)[1], 0xAB);
    EXPECT_EQ(img.GetBits(2)[2], 0);
}

TEST(ImageCreateFromArray, RefusalsKeepThePage)
{
    uint8_t page[4] = {9, 8, 7, 6}, other[64] = {};
    CxImage img;
    ASSERT_TRUE(img.CreateFromArray(page, 4, 1, 8, 4, false));
    for (uint32_t bpp : {0u, 2u, 3u, 16u, 48u}) {
        EXPECT_FALSE(img.CreateFromArray(other, 4, 1, bpp, 16, false)) << bpp;
        ASSERT_TRUE(img.IsValid());
        EXPECT_EQ(img.GetBits(0)[0], 9);
    }
    EXPECT_FALSE(img.CreateFromArray(nullptr, 4, 1, 8, 4, false));
    EXPECT_EQ(img.GetBits(0)[3], 6);
}

TEST(ImageResolution, DotsPerInchAndPixelsPerMetre)
{
    const int32_t cases[][3] = {{0, 96, 3780},     {-5, 96, 3780},
                                {203, 203, 7992},  {300, 300, 11811},
                                {600, 600, 23622}, {2147483647, 2147483647, 2147483647}}; // saturated
    for (const auto &c : cases) {
        CxImage img(2, 2, 1);
        img.SetXDPI(c[0]);
        img.SetYDPI(c[0]);
        EXPECT_EQ(img.GetXDPI(), c[1]);
        EXPECT_EQ(img.GetHeader().biYPelsPerMeter, c[2]);
        EXPECT_EQ(BlockHeader(img).biXPelsPerMeter, c[2]);
    }
}

TEST(ImageCopy, DeepCopyThenTransfer)
{
    CxImage src(10, 2, 1, 7);
    src.GetBits(1)[3] = 0x5A; // a padding byte
    src.SetXDPI(203);
    src.AlphaCreate();
    src.AlphaSet(9, 1, 17);
    CxImage copy(src);
    EXPECT_NE(copy.GetDIB(), src.GetDIB());
    EXPECT_EQ(std::memcmp(copy.GetDIB(), src.GetDIB(), src.GetSize()), 0);
    EXPECT_EQ(copy.GetType(), 7u);
    EXPECT_EQ(copy.GetXDPI(), 203);
    copy.AlphaSet(9, 1, 1);
    EXPECT_EQ(src.AlphaGet(9, 1), 17);
    EXPECT_EQ(CxImage(src, false, true, false).GetBits(1)[3], 0);

    CxImage target(4, 4, 8);
    const CxImage &same = target;
    target = same;        // self-assignment keeps the image
    target.CopyInfo(src); // only into empty images
    EXPECT_EQ(target.GetXDPI(), 96);
    void *dib = copy.GetDIB();
    ASSERT_TRUE(target.Transfer(copy));
    EXPECT_EQ(target.GetDIB(), dib);
    EXPECT_EQ(target.AlphaGet(9, 1), 1);
    EXPECT_FALSE(copy.IsValid() || copy.AlphaIsValid());
    EXPECT_EQ(copy.GetWidth() + copy.GetHeight(), 0u);
}

} // namespace
