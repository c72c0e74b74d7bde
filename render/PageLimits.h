// What a page may be. The filter refuses a raster page beyond these before
// reading it, and every step that builds a new page image (rotation, shift,
// crop, colour planes) checks the image it is about to make against them.
//
// Real pages are far inside: the widest thermal media, 4 to 6 inches at
// 600 dpi, is 2400 to 3600 dots; A4 landscape at 600 dpi is 7016 dots wide;
// a long receipt is a few metres, 20 000 to 50 000 rows at 203 dpi.
#pragma once

#include <cstdint>

// Raster bytes of a page, and bytes of any page image made from it.
constexpr uint64_t kMaxPageBytes = 268435456; // 256 MiB
// Dots across: more than twice A3 landscape at 600 dpi.
constexpr uint64_t kMaxPageWidth = 20000;
// Rows down: 16 m of receipt at 203 dpi, 5.5 m at 600 dpi.
constexpr uint64_t kMaxPageHeight = 131072;
// Either side of an image made from a page: a rotated page may be as wide as
// the longest page is long.
constexpr uint64_t kMaxImageSide = kMaxPageHeight;
// Pixels of a page: every per-pixel step's cost follows this. Eight A4 pages
// at 600 dpi; a 6-inch 600 dpi label 17 m long.
constexpr uint64_t kMaxPagePixels = 268435456; // 2^28
// Resolution in dots per inch, on both axes.
constexpr int kMinPageDpi = 50;
constexpr int kMaxPageDpi = 3000;

// Bytes of an image of width x height pixels of `bitsPerPixel` bits the way
// the image engine stores it: rows padded to 32 bits, 32-bit pixels kept as
// 24.
constexpr uint64_t PageImageBytes(uint64_t width, uint64_t height, unsigned bitsPerPixel)
{
    const uint64_t bpp = bitsPerPixel == 32 ? 24 : bitsPerPixel;
    return (width * bpp + 31) / 32 * 4 * height;
}

// Whether an image made from a page (rotated, shifted, cropped, split into
// planes) stays within the limits. Checked in 64 bits before the image is
// made, so no size wraps.
constexpr bool PageImageFits(uint64_t width, uint64_t height, unsigned bitsPerPixel)
{
    return width <= kMaxImageSide && height <= kMaxImageSide && width * height <= kMaxPagePixels &&
           PageImageBytes(width, height, bitsPerPixel) <= kMaxPageBytes;
}
