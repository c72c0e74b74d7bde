#include "Page.h"

#include <algorithm>

namespace qf::preview {

bool Plane::Dot(int col, int row) const
{
    if (col < 0 || row < 0 || col >= WidthDots() || row >= height)
        return false;
    return (Row(row)[col / 8] >> (7 - col % 8)) & 1;
}

size_t Plane::CountDots() const
{
    size_t count = 0;
    for (uint8_t b : bits)
        count += static_cast<size_t>(__builtin_popcount(b));
    return count;
}

std::string Page::Param(const std::string &key, const std::string &fallback) const
{
    auto it = params.find(key);
    return it == params.end() ? fallback : it->second;
}

void Page::ComputeExtent()
{
    auto extent = [](const Plane &p, int &w, int &h) {
        if (p.widthBytes > 0 && p.height > 0) {
            w = std::max(w, p.x + p.WidthDots());
            h = std::max(h, p.y + p.height);
        }
    };
    width = 0;
    height = 0;
    extent(black, width, height);
    if (red)
        extent(*red, width, height);
}

static bool ImageDot(const uint8_t *image, size_t stride, int col, int row, bool oneIsWhite)
{
    bool bit = (image[static_cast<size_t>(row) * stride + col / 8] >> (7 - col % 8)) & 1;
    return oneIsWhite ? !bit : bit;
}

std::string CompareWithOneBit(const Plane &plane, const uint8_t *image, int width, int height, size_t stride,
                              bool oneIsWhite)
{
    // A stream with no rows may carry no row width either.
    if (height == 0 && plane.height == 0)
        return "";
    if (plane.height != height)
        return "plane has " + std::to_string(plane.height) + " rows, image " + std::to_string(height);
    if (plane.WidthDots() < width)
        return "plane is " + std::to_string(plane.WidthDots()) + " dots wide, image " + std::to_string(width);
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < plane.WidthDots(); ++col) {
            bool want = col < width && ImageDot(image, stride, col, row, oneIsWhite);
            if (plane.Dot(col, row) != want)
                return "dot " + std::to_string(col) + "," + std::to_string(row) + " is " +
                       (want ? "blank, image has a dot" : "printed, image has none");
        }
    }
    return "";
}

Plane PlaneFromOneBit(const uint8_t *image, int width, int height, size_t stride, bool oneIsWhite)
{
    Plane p;
    p.widthBytes = (width + 7) / 8;
    p.height = height;
    p.bits.assign(static_cast<size_t>(p.widthBytes) * height, 0);
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col)
            if (ImageDot(image, stride, col, row, oneIsWhite))
                p.bits[static_cast<size_t>(row) * p.widthBytes + col / 8] |= 0x80 >> (col % 8);
    return p;
}

} // namespace qf::preview
