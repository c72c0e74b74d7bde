// Byte-building helpers for the preview tests: prepared one-bit pages and
// the printer streams the filter makes of them.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "Decode.h"
#include "DecodePaperang.h"

namespace qf::preview::test {

using Bytes = std::vector<uint8_t>;

inline void Put(Bytes &b, const std::string &text)
{
    b.insert(b.end(), text.begin(), text.end());
}
inline void Put(Bytes &b, std::initializer_list<uint8_t> raw)
{
    b.insert(b.end(), raw);
}
inline void Put(Bytes &b, const Bytes &more)
{
    b.insert(b.end(), more.begin(), more.end());
}
inline void Le16(Bytes &b, unsigned v)
{
    Put(b, {uint8_t(v), uint8_t(v >> 8)});
}
inline void Le32(Bytes &b, uint32_t v)
{
    Put(b, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}
inline void Be16(Bytes &b, unsigned v)
{
    Put(b, {uint8_t(v >> 8), uint8_t(v)});
}
inline void Be32(Bytes &b, uint32_t v)
{
    Put(b, {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

// Offset of the first occurrence of `what` at or after `from`; npos if none.
inline size_t Find(const Bytes &b, const std::string &what, size_t from = 0)
{
    for (size_t i = from; i + what.size() <= b.size(); ++i)
        if (std::equal(what.begin(), what.end(), b.begin() + i, [](char c, uint8_t u) { return uint8_t(c) == u; }))
            return i;
    return std::string::npos;
}

// Replaces the first `what` with `with`; returns its offset.
inline size_t Replace(Bytes &b, const std::string &what, const std::string &with)
{
    size_t at = Find(b, what);
    if (at == std::string::npos)
        return at;
    b.erase(b.begin() + at, b.begin() + at + what.size());
    b.insert(b.begin() + at, with.begin(), with.end());
    return at;
}

// A prepared page as page preparation leaves it: one bit per pixel, 1 =
// white, most significant bit leftmost, rows padded to 4 bytes with white.
struct Prepared {
    int width = 0, height = 0;
    size_t stride = 0;
    Bytes bits;
    const uint8_t *Row(int y) const { return bits.data() + size_t(y) * stride; }
};

inline Prepared RandomPage(int width, int height, uint32_t seed)
{
    Prepared p;
    p.width = width;
    p.height = height;
    p.stride = ((size_t(width) + 31) / 32) * 4;
    p.bits.assign(p.stride * height, 0xFF);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (rng() % 3 == 0)
                p.bits[size_t(y) * p.stride + x / 8] &= uint8_t(~(0x80 >> (x % 8)));
    return p;
}

inline Bytes Negated(const Bytes &in)
{
    Bytes out(in);
    for (uint8_t &b : out)
        b = uint8_t(~b);
    return out;
}

// The first `w` bytes of every stored row, inverted (set bit = dot).
inline Bytes Gather(const Prepared &p, size_t w)
{
    Bytes out;
    for (int y = 0; y < p.height; ++y)
        for (size_t i = 0; i < w; ++i)
            out.push_back(uint8_t(~p.Row(y)[i]));
    return out;
}

inline Bytes ZlibCompress(const Bytes &in)
{
    uLongf size = compressBound(in.size());
    Bytes out(size);
    compress(out.data(), &size, in.data(), in.size());
    out.resize(size);
    return out;
}

// The PeriPage raster compression: zlib stream with a 1 KiB window, its
// 2-byte header dropped.
inline Bytes PeriPageCompress(const Bytes &in, int windowBits = 10)
{
    z_stream zs{};
    Bytes out(deflateBound(nullptr, in.size()) + 64);
    deflateInit2(&zs, -1, 8, windowBits, 8, 0);
    zs.next_in = const_cast<Bytef *>(in.data());
    zs.avail_in = uInt(in.size());
    zs.next_out = out.data();
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return Bytes(out.begin() + 2, out.end());
}

// --- TSPL -----------------------------------------------------------------
inline Bytes TsplBitmap(const Prepared &p, bool compressed)
{
    Bytes b;
    std::string head = "BITMAP 0,0," + std::to_string(p.stride) + "," + std::to_string(p.height) + ",";
    if (compressed) {
        Bytes z = ZlibCompress(Negated(p.bits));
        Put(b, head + "3," + std::to_string(z.size()) + ",");
        Put(b, z);
    } else {
        Put(b, head + "1,");
        Put(b, p.bits);
    }
    Put(b, "\r\n");
    return b;
}

inline Bytes TsplPage(const Prepared &p, bool compressed, const Prepared *red = nullptr)
{
    char size[96];
    std::snprintf(size, sizeof size, "SIZE %.2f mm,%.2f mm\r\n", p.width / (203 / 25.4), p.height / (203 / 25.4));
    Bytes b;
    Put(b, std::string(size) + "SET RIBBON OFF\r\nREFERENCE 0,0\r\nGAP 24 dot,0 dot\r\nOFFSET 0 dot\r\n"
                               "DENSITY 10\r\nSPEED 4\r\nSETC AUTODOTTED OFF\r\nSETC PAUSEKEY ON\r\n"
                               "SETC WATERMARK ON\r\nCLS\r\n");
    if (red) {
        Put(b, "SETCOLOR RED 8\r\n");
        Put(b, TsplBitmap(*red, compressed));
        Put(b, "SETCOLOR BLACK\r\n");
    }
    Put(b, TsplBitmap(p, compressed));
    Put(b, "PRINT 1,1\r\n");
    return b;
}

// --- CPCL -----------------------------------------------------------------
inline Bytes CpclPage(const Prepared &p, bool form)
{
    Bytes b;
    Put(b, "! 0 200 200 " + std::to_string(p.height) + " 1\r\nPAGE-WIDTH " + std::to_string(p.width) + "\r\nCG " +
               std::to_string(p.stride) + " " + std::to_string(p.height) + " 0 0\r\n");
    Put(b, Negated(p.bits));
    if (form)
        Put(b, "FORM\r\n");
    Put(b, "PRINT\r\n");
    return b;
}

// --- ESC/POS and PeriPage ---------------------------------------------------
inline Bytes GsV0(const Prepared &p)
{
    size_t w = (size_t(p.width) + 7) / 8;
    Bytes b{0x1D, 0x76, 0x30, 0x00};
    Le16(b, unsigned(w));
    Le16(b, unsigned(p.height));
    Put(b, Gather(p, w));
    return b;
}

// A page as the receipt renderer writes it, with `feedDots` of ESC J.
inline Bytes EscPosPage(const Prepared &p, int feedDots, bool cut)
{
    Bytes b{0x1B, 0x40, 0x00, 0x1B, 0x61, 0x01};
    Put(b, GsV0(p));
    if (feedDots >= 0 && feedDots <= 255)
        Put(b, {0x1B, 0x4A, uint8_t(feedDots)});
    if (feedDots > 255) {
        for (int i = 0; i < feedDots / 255; ++i)
            Put(b, {0x1B, 0x4A, 0xFF});
        if (feedDots % 255)
            Put(b, {0x1B, 0x4A, uint8_t(feedDots % 255)});
    }
    if (cut)
        Put(b, {0x1D, 0x56, 0x30});
    return b;
}

inline Bytes PeriPageRaster(const Prepared &p, bool compressed, int windowBits = 10)
{
    size_t w = (size_t(p.width) + 7) / 8;
    if (!compressed)
        return GsV0(p);
    if (w > 208)
        w = 208;
    Bytes z = PeriPageCompress(Gather(p, w), windowBits);
    Bytes b{0x1F, 0x00};
    Be16(b, unsigned(w));
    Be16(b, unsigned(p.height));
    Be32(b, uint32_t(z.size()));
    Put(b, z);
    return b;
}

// A "Gap" label page: paper 02, density 10, centred, 1D 0C after the image.
inline Bytes PeriPagePage(const Prepared &p, bool compressed)
{
    Bytes b{0x10, 0xFF, 0xFE, 0x01, 0x10, 0xFF, 0x10, 0x03, 0x02, 0x1B,
            0x40, 0x00, 0x10, 0xFF, 0x10, 0x00, 0x0A, 0x1B, 0x61, 0x01};
    Put(b, PeriPageRaster(p, compressed));
    Put(b, {0x1D, 0x0C, 0x10, 0xFF, 0xFE, 0x45});
    return b;
}

// --- Paperang ---------------------------------------------------------------
inline Bytes PaperangFrame(const Bytes &inner, uint32_t key = kPaperangCrcKey)
{
    Bytes b{0xA5, 0x01};
    Le16(b, unsigned(inner.size()));
    Put(b, inner);
    Le32(b, uint32_t(crc32(key, inner.data(), uInt(inner.size()))));
    Put(b, {0x5A});
    return b;
}

inline Bytes PaperangInner(uint8_t code, uint8_t b2, const Bytes &params)
{
    Bytes b{0x05, code, b2};
    Le16(b, unsigned(params.size()));
    Put(b, params);
    return b;
}

inline Bytes PaperangRow(unsigned index, const uint8_t *row, size_t w)
{
    Bytes params;
    Le16(params, index);
    Le16(params, unsigned(8 + w));
    Put(params, {0x01});
    Le16(params, unsigned(w));
    Put(params, {0x00, 0x00, 0x00});
    Le16(params, unsigned(w));
    params.insert(params.end(), row, row + w);
    return PaperangInner(0x1B, 0x03, params);
}

// A "Roll" page: begin, paper type 0, rows, end, feed 0.
inline Bytes PaperangPage(const Prepared &p)
{
    Bytes b = PaperangFrame(PaperangInner(0x19, 0x03, {}));
    Put(b, PaperangFrame(PaperangInner(0x20, 0x01, {0x00, 0x00})));
    Bytes rows = Gather(p, p.stride);
    for (int y = 0; y < p.height; ++y)
        Put(b, PaperangFrame(PaperangRow(unsigned(y), rows.data() + y * p.stride, p.stride)));
    Put(b, PaperangFrame(PaperangInner(0x1A, 0x03, {})));
    Put(b, PaperangFrame(PaperangInner(0x16, 0x03, {0x00, 0x00})));
    return b;
}

} // namespace qf::preview::test

namespace qf::preview::test {

// Empty when the decoded plane carries exactly the prepared page's dots.
inline std::string Diff(const Plane &plane, const Prepared &p)
{
    return CompareWithOneBit(plane, p.bits.data(), p.width, p.height, p.stride, true);
}

// A corruption of a good stream: the mutation returns the offset at which
// the decoder must report the error; `expected` is part of its text.
struct Corruption {
    const char *name;
    size_t (*mutate)(Bytes &b);
    const char *expected;
};

} // namespace qf::preview::test
