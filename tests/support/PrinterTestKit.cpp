#include "PrinterTestKit.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

ByteVec Le16(unsigned v)
{
    return {uint8_t(v & 0xFF), uint8_t(v >> 8)};
}

ByteVec Le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

ByteVec Be32(uint32_t v)
{
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

ByteVec Slice(const ByteVec &s, size_t from, size_t to)
{
    from = std::min(from, s.size());
    return ByteVec(s.begin() + long(from), s.begin() + long(std::max(from, std::min(to, s.size()))));
}

ByteVec Inverted(ByteVec data)
{
    for (uint8_t &b : data)
        b = static_cast<uint8_t>(~b);
    return data;
}

ByteVec Lines(const std::vector<std::string> &lines)
{
    std::string all;
    for (const std::string &l : lines)
        all += l + "\r\n";
    return Bytes(all);
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

ByteVec Zlib(const ByteVec &data)
{
    uLongf n = compressBound(data.size());
    ByteVec out(n);
    EXPECT_EQ(compress(out.data(), &n, data.data(), data.size()), Z_OK);
    out.resize(n);
    return out;
}

CxImage PreparedPage(unsigned width, unsigned height, const Black &black)
{
    CxImage img;
    img.Create(width, height, 1);
    img.SetGrayPalette();
    for (unsigned y = 0; y < height; ++y) {
        uint8_t *row = img.GetBits(y);
        memset(row, 0xFF, img.GetEffWidth());
        for (unsigned x = 0; x < width; ++x)
            if (black(x, y))
                row[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
    }
    return img;
}

RasterPage OneBitPage(unsigned width, unsigned height, unsigned dpi, const Black &black)
{
    RasterPage page = MakeWhitePage(width, height, 1, dpi, dpi);
    const unsigned bpl = page.header.cupsBytesPerLine;
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x)
            if (black(x, y))
                page.data[size_t(y) * bpl + x / 8] &= uint8_t(~(0x80 >> (x % 8)));
    return page;
}

ByteVec Storage(const CxImage &img)
{
    return ByteVec(img.GetBits(0), img.GetBits(0) + static_cast<size_t>(img.GetEffWidth()) * img.GetHeight());
}

ByteVec PreparedRows(const RasterPage &page)
{
    const unsigned width = page.header.cupsWidth, bpl = page.header.cupsBytesPerLine;
    ByteVec rows;
    for (unsigned y = 0; y < page.header.cupsHeight; ++y) {
        ByteVec row((width + 31) / 32 * 4, 0xFF);
        const uint8_t *in = &page.data[static_cast<size_t>(y) * bpl];
        std::copy(in, in + width / 8, row.begin());
        if (width % 8)
            row[width / 8] = in[width / 8] | (0xFF >> (width % 8));
        rows.insert(rows.end(), row.begin(), row.end());
    }
    return rows;
}

ByteVec PrinterRow(unsigned width, unsigned y, const Black &black, unsigned bytes)
{
    ByteVec row(bytes, 0);
    for (unsigned x = 0; x < width && x / 8 < bytes; ++x)
        if (black(x, y))
            row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    return row;
}

ByteVec StoredRow(unsigned width, unsigned y, const Black &black)
{
    return PrinterRow(width, y, black, (width + 31) / 32 * 4);
}

ByteVec PrinterRows(unsigned width, unsigned height, const Black &black, unsigned bytes)
{
    if (bytes == 0)
        bytes = (width + 7) / 8;
    ByteVec out;
    out.reserve(size_t(bytes) * height);
    for (unsigned y = 0; y < height; ++y) {
        const ByteVec row = PrinterRow(width, y, black, bytes);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

FilterResult RunPages(const TempDir &dir, const std::vector<RasterPage> &pages, const TestPpd &printer,
                      const std::string &options)
{
    FilterCall call;
    call.options = options;
    call.inputFile = dir.File("job.ras");
    EXPECT_TRUE(WriteRasterFile(call.inputFile, pages, RasterFormat::Uncompressed));
    call.ppd = WritePpd(dir.path(), printer);
    return RunFilter(call);
}

namespace escpos {

ByteVec RasterHead(uint8_t mode, unsigned w, unsigned h)
{
    return Cat({{0x1D, 0x76, 0x30, mode}, Le16(w), Le16(h)});
}

ByteVec Feed(uint8_t n)
{
    return {0x1B, 0x4A, n};
}

} // namespace escpos

namespace peripage {

ByteVec Paper(uint8_t p)
{
    return {0x10, 0xFF, 0x10, 0x03, p};
}

ByteVec Density(uint8_t n)
{
    return {0x10, 0xFF, 0x10, 0x00, n};
}

ByteVec GsV0(unsigned w, unsigned h)
{
    return escpos::RasterHead(0x00, w, h);
}

Compressed ReadCompressed(const ByteVec &s, size_t &pos)
{
    Compressed c;
    if (s.size() < pos + 10 || s[pos] != 0x1F || s[pos + 1] != 0x00) {
        ADD_FAILURE() << "no compressed raster at " << pos;
        return c;
    }
    c.w = unsigned(s[pos + 2]) << 8 | s[pos + 3];
    c.h = unsigned(s[pos + 4]) << 8 | s[pos + 5];
    c.length = uint32_t(s[pos + 6]) << 24 | uint32_t(s[pos + 7]) << 16 | uint32_t(s[pos + 8]) << 8 | s[pos + 9];
    pos += 10;
    if (c.length < 4 || pos + c.length > s.size()) {
        ADD_FAILURE() << "bad length " << c.length << " at " << pos - 10;
        return c;
    }

    z_stream zs{};
    inflateInit2(&zs, -15);
    ByteVec out(size_t(c.w) * c.h + 64);
    zs.next_in = const_cast<Bytef *>(s.data() + pos);
    zs.avail_in = c.length - 4;
    zs.next_out = out.data();
    zs.avail_out = uInt(out.size());
    EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(zs.avail_in, 0u) << "data between the deflate end and the Adler-32";
    out.resize(zs.total_out);
    inflateEnd(&zs);
    c.rows = out;

    const uint8_t *t = s.data() + pos + c.length - 4;
    const uint32_t adler = uint32_t(t[0]) << 24 | uint32_t(t[1]) << 16 | uint32_t(t[2]) << 8 | t[3];
    c.adlerOk = adler == adler32(adler32(0, nullptr, 0), c.rows.data(), uInt(c.rows.size()));
    pos += c.length;
    return c;
}

} // namespace peripage

namespace paperang {

uint32_t Crc(const ByteVec &inner)
{
    // zlib reads a null buffer as a request for its start value.
    static const uint8_t none = 0;
    return uint32_t(crc32(kCrcKey, inner.empty() ? &none : inner.data(), uInt(inner.size())));
}

ByteVec Inner(uint8_t code, uint8_t byte2, const ByteVec &params)
{
    return Cat({{0x05, code, byte2}, Le16(unsigned(params.size())), params});
}

ByteVec Frame(const ByteVec &inner)
{
    return Cat({{0xA5, 0x01}, Le16(unsigned(inner.size())), inner, Le32(Crc(inner)), {0x5A}});
}

ByteVec RowInner(unsigned index, const ByteVec &row)
{
    const unsigned w = unsigned(row.size());
    return Inner(0x1B, 0x03, Cat({Le16(index), Le16(8 + w), {0x01}, Le16(w), {0, 0, 0}, Le16(w), row}));
}

ByteVec PaperType(unsigned v)
{
    return Inner(0x20, 0x01, Le16(v));
}

std::vector<ByteVec> Unframe(const ByteVec &s)
{
    std::vector<ByteVec> inners;
    size_t pos = 0;
    while (pos < s.size()) {
        if (s.size() - pos < 9 || s[pos] != 0xA5 || s[pos + 1] != 0x01) {
            ADD_FAILURE() << "no frame at " << pos;
            break;
        }
        const size_t n = s[pos + 2] | size_t(s[pos + 3]) << 8;
        if (pos + 9 + n > s.size()) {
            ADD_FAILURE() << "frame at " << pos << " runs past the end";
            break;
        }
        const ByteVec inner(s.begin() + long(pos + 4), s.begin() + long(pos + 4 + n));
        const uint8_t *c = s.data() + pos + 4 + n;
        const uint32_t crc = uint32_t(c[0]) | uint32_t(c[1]) << 8 | uint32_t(c[2]) << 16 | uint32_t(c[3]) << 24;
        EXPECT_EQ(crc, Crc(inner)) << "frame at " << pos;
        EXPECT_EQ(s[pos + 8 + n], 0x5A) << "frame at " << pos;
        inners.push_back(inner);
        pos += 9 + n;
    }
    return inners;
}

} // namespace paperang

namespace cattest {

uint8_t Crc8(const ByteVec &payload)
{
    uint8_t c = 0;
    for (uint8_t b : payload) {
        c ^= b;
        for (int k = 0; k < 8; ++k)
            c = static_cast<uint8_t>((c & 0x80) ? (c << 1) ^ 0x07 : c << 1);
    }
    return c;
}

ByteVec Frame(uint8_t cmd, const ByteVec &payload, bool mx)
{
    ByteVec f = {static_cast<uint8_t>(mx ? 0x22 : 0x51), static_cast<uint8_t>(mx ? 0x21 : 0x78), cmd, 0x00};
    const ByteVec n = Le16(static_cast<unsigned>(payload.size()));
    f.insert(f.end(), n.begin(), n.end());
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back(Crc8(payload));
    f.push_back(0xFF);
    return f;
}

ByteVec Row(unsigned width, unsigned y, const Black &black)
{
    ByteVec row(48, 0);
    for (unsigned x = 0; x < width && x < 384; ++x)
        if (black(x, y))
            row[x / 8] |= static_cast<uint8_t>(1u << (x % 8));
    return row;
}

} // namespace cattest

namespace niimbottest {

ByteVec Packet(uint8_t cmd, const ByteVec &data)
{
    ByteVec p = {0x55, 0x55, cmd, static_cast<uint8_t>(data.size())};
    uint8_t x = static_cast<uint8_t>(cmd ^ data.size());
    for (uint8_t b : data) {
        p.push_back(b);
        x ^= b;
    }
    p.push_back(x);
    p.push_back(0xAA);
    p.push_back(0xAA);
    return p;
}

ByteVec Counts(const ByteVec &row, unsigned headBytes)
{
    ByteVec c(3, 0);
    for (size_t i = 0; i < row.size(); ++i)
        for (int k = 0; k < 8; ++k)
            if (i / (headBytes / 3) < 3 && ((row[i] >> k) & 1) && c[i / (headBytes / 3)] < 255)
                ++c[i / (headBytes / 3)];
    return c;
}

ByteVec BitmapRow(unsigned number, const ByteVec &row, unsigned repeat, unsigned headBytes)
{
    ByteVec d = {static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number)};
    const ByteVec c = Counts(row, headBytes);
    d.insert(d.end(), c.begin(), c.end());
    d.push_back(static_cast<uint8_t>(repeat));
    d.insert(d.end(), row.begin(), row.end());
    return Packet(0x85, d);
}

ByteVec EmptyRows(unsigned number, unsigned count)
{
    return Packet(0x84, {static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number), static_cast<uint8_t>(count)});
}

} // namespace niimbottest
namespace phomemotest {

ByteVec HeadRow(unsigned headDots, unsigned width, unsigned y, const Black &black)
{
    const unsigned head = headDots / 8, bytes = (width + 7) / 8;
    const unsigned left = bytes < head ? (head - bytes) / 2 : 0;
    ByteVec row(head, 0);
    for (unsigned x = 0; x < width && x / 8 < head - left; ++x)
        if (black(x, y))
            row[left + x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
    return row;
}

ByteVec Raster(const std::vector<ByteVec> &rows)
{
    ByteVec out;
    const unsigned w = rows.empty() ? 0 : static_cast<unsigned>(rows[0].size());
    size_t i = 0;
    do {
        const size_t n = std::min<size_t>(255, rows.size() - i);
        const ByteVec head = {0x1D, 0x76, 0x30, 0x00};
        out.insert(out.end(), head.begin(), head.end());
        const ByteVec wb = Le16(w), hb = Le16(static_cast<unsigned>(n));
        out.insert(out.end(), wb.begin(), wb.end());
        out.insert(out.end(), hb.begin(), hb.end());
        for (size_t k = 0; k < n; ++k)
            out.insert(out.end(), rows[i + k].begin(), rows[i + k].end());
        i += n;
    } while (i < rows.size());
    return out;
}

} // namespace phomemotest
