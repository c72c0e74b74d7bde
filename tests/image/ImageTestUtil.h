// Small image builders shared by the image engine tests.
#ifndef QF_IMAGE_TEST_UTIL_H
#define QF_IMAGE_TEST_UTIL_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "ximage.h"

namespace imgtest {

using Rows = std::vector<std::string>;

// An 8-bit grey image (identity palette); rows[y][x] is stored row y.
inline CxImage Grey(const std::vector<std::vector<uint8_t>> &rows)
{
    std::vector<uint8_t> buf;
    for (const auto &r : rows)
        buf.insert(buf.end(), r.begin(), r.end());
    const auto w = static_cast<uint32_t>(rows[0].size());
    CxImage img;
    img.CreateFromArray(buf.data(), w, static_cast<uint32_t>(rows.size()), 8, w, false);
    return img;
}

inline CxImage Uniform(uint32_t w, uint32_t h, uint8_t level)
{
    return Grey(std::vector<std::vector<uint8_t>>(h, std::vector<uint8_t>(w, level)));
}

// Seeded grey noise; `extremes` mixes in 0 and 255 so that diffused levels
// hit both clamps.
inline CxImage RandomGrey(uint32_t w, uint32_t h, uint32_t seed, bool extremes = false)
{
    std::mt19937 rng(seed);
    std::vector<std::vector<uint8_t>> rows(h, std::vector<uint8_t>(w));
    for (auto &r : rows)
        for (auto &v : r) {
            const uint32_t u = rng();
            v = static_cast<uint8_t>(u);
            if (extremes && (u >> 8) % 3 == 0)
                v = ((u >> 12) & 1) ? 255 : 0;
        }
    return Grey(rows);
}

// A one-bit image with the black-and-white palette from '0'/'1' strings.
inline CxImage Bits(const Rows &rows)
{
    CxImage img(static_cast<uint32_t>(rows[0].size()), static_cast<uint32_t>(rows.size()), 1);
    img.SetGrayPalette();
    for (size_t y = 0; y < rows.size(); y++)
        for (size_t x = 0; x < rows[y].size(); x++)
            img.SetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y), rows[y][x] == '1');
    return img;
}

// Pixel indices, one string per stored row (a digit per index below 10).
inline Rows Indices(const CxImage &img)
{
    Rows out;
    for (uint32_t y = 0; y < img.GetHeight(); y++) {
        std::string s;
        for (uint32_t x = 0; x < img.GetWidth(); x++)
            s += static_cast<char>('0' + img.GetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y)));
        out.push_back(s);
    }
    return out;
}

} // namespace imgtest

#endif // QF_IMAGE_TEST_UTIL_H
