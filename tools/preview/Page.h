// Decoded page of a printer byte stream: one or two planes of dots plus the
// page parameters that the stream set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qf::preview {

// Largest plane a stream may describe, in bytes of packed dots. A hostile
// header could otherwise claim gigabytes; real pages are a few hundred KiB.
constexpr uint64_t kMaxPlaneBytes = 256ull * 1024 * 1024;

// One bitmap of dots, normalised whatever the stream's own bit sense was:
// height rows of widthBytes bytes, row 0 first, the most significant bit of
// a byte the leftmost dot, a 1 bit a dot that is printed.
struct Plane {
    int x = 0; // placement on the page, in dots
    int y = 0;
    int widthBytes = 0; // bytes per row as carried by the stream
    int height = 0;     // rows
    std::vector<uint8_t> bits;

    int WidthDots() const { return widthBytes * 8; }
    const uint8_t *Row(int row) const { return bits.data() + static_cast<size_t>(row) * widthBytes; }
    // Dot at column col of row `row`; false outside the plane.
    bool Dot(int col, int row) const;
    // Number of dots that print.
    size_t CountDots() const;
};

struct Page {
    int number = 0;    // 1-based, in stream order
    size_t offset = 0; // byte offset of the page's first command
    int width = 0;     // in dots: the extent of the planes on the page
    int height = 0;
    Plane black;              // the only plane of one-colour pages
    std::optional<Plane> red; // TSPL two-colour pages only
    // Settings the page's commands carried, by name (see Decode.h for the
    // names each language sets); the value is the decoded argument text.
    std::map<std::string, std::string> params;

    bool TwoColour() const { return red.has_value(); }
    // Parameter as text, or `fallback` when the page did not set it.
    std::string Param(const std::string &key, const std::string &fallback = "") const;
    // Sets width and height from the planes' extents.
    void ComputeExtent();
};

// Compares a decoded plane with a one-bit image of `width` x `height`
// pixels, rows `stride` bytes apart, most significant bit leftmost.
// With oneIsWhite a 1 bit is an unprinted pixel (the sense of a prepared
// page); otherwise a 1 bit is a dot. Dots of the plane right of the image
// width must be blank, and the plane must be at least as wide as the image
// and exactly as high (an image without rows matches any plane without
// rows). The plane's x/y placement is ignored. Returns an
// empty string when they match, else a description of the first difference.
std::string CompareWithOneBit(const Plane &plane, const uint8_t *image, int width, int height, size_t stride,
                              bool oneIsWhite);

// Builds a plane from such a one-bit image; the plane gets (width + 7) / 8
// bytes per row and blank dots right of the image width.
Plane PlaneFromOneBit(const uint8_t *image, int width, int height, size_t stride, bool oneIsWhite);

} // namespace qf::preview
