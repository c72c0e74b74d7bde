// Paperang renderer: CRC table and keyed CRC against zlib, frame layout, the
// commands, one frame per row and the page sequence by media type.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "PrinterPaperang.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The key every Paperang frame's CRC is seeded with.
constexpr uint32_t kKey = 0x35769521;

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Le16(unsigned v)
{
    return {uint8_t(v & 0xFF), uint8_t(v >> 8)};
}

Bytes Le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// CRC by zlib, independent of the renderer's table.
uint32_t ZlibCrc(const Bytes &inner)
{
    // zlib reads a null buffer as a request for its start value.
    static const uint8_t none = 0;
    return uint32_t(crc32(kKey, inner.empty() ? &none : inner.data(), uInt(inner.size())));
}

Bytes Frame(const Bytes &inner)
{
    return Cat({{0xA5, 0x01}, Le16(unsigned(inner.size())), inner, Le32(ZlibCrc(inner)), {0x5A}});
}

Bytes Inner(uint8_t code, uint8_t byte2, const Bytes &params)
{
    return Cat({{0x05, code, byte2}, Le16(unsigned(params.size())), params});
}

const Bytes kBegin = Inner(0x19, 0x03, {});
const Bytes kEnd = Inner(0x1A, 0x03, {});
const Bytes kLocate300 = Inner(0x21, 0x01, Le32(300));
const Bytes kFeed0 = Inner(0x16, 0x03, Le16(0));

Bytes PaperType(unsigned v)
{
    return Inner(0x20, 0x01, Le16(v));
}

Bytes RowInner(unsigned index, const Bytes &row)
{
    const unsigned w = unsigned(row.size());
    return Inner(0x1B, 0x03, Cat({Le16(index), Le16(8 + w), {0x01}, Le16(w), {0, 0, 0}, Le16(w), row}));
}

class TestPaperang : public CPrinterPaperang {
public:
    void WriteSpool(const void *data, int len) override
    {
        const auto *p = static_cast<const uint8_t *>(data);
        writes.emplace_back(p, p + len);
    }
    void AddLog(const char *, ...) override {}

    Bytes Built() const
    {
        const auto *p = reinterpret_cast<const uint8_t *>(m_CmdBuffer.GetBuffer());
        return Bytes(p, p + m_CmdBuffer.GetBufferLength());
    }

    std::vector<Bytes> writes;
};

using Black = std::function<bool(unsigned, unsigned)>;

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

// Row y as the printer gets it: the whole stored row, a set bit prints, the
// alignment bytes zero.
Bytes PrinterRow(unsigned width, unsigned stride, unsigned y, const Black &black)
{
    Bytes row(stride, 0);
    for (unsigned x = 0; x < width; ++x)
        if (black(x, y))
            row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    return row;
}

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 3 + y * 5) % 7) < 2;
}

// Splits a stream into frames, checking the framing and every CRC against
// zlib; returns the inner commands.
std::vector<Bytes> Unframe(const Bytes &s)
{
    std::vector<Bytes> inners;
    size_t pos = 0;
    while (pos < s.size()) {
        EXPECT_GE(s.size() - pos, 9u);
        if (s.size() - pos < 9)
            break;
        EXPECT_EQ(s[pos], 0xA5) << "at " << pos;
        EXPECT_EQ(s[pos + 1], 0x01) << "at " << pos;
        const size_t n = s[pos + 2] | size_t(s[pos + 3]) << 8;
        EXPECT_LE(pos + 9 + n, s.size());
        if (pos + 9 + n > s.size())
            break;
        const Bytes inner(s.begin() + long(pos + 4), s.begin() + long(pos + 4 + n));
        const uint8_t *c = s.data() + pos + 4 + n;
        const uint32_t crc = uint32_t(c[0]) | uint32_t(c[1]) << 8 | uint32_t(c[2]) << 16 | uint32_t(c[3]) << 24;
        EXPECT_EQ(crc, ZlibCrc(inner)) << "frame at " << pos;
        EXPECT_EQ(s[pos + 8 + n], 0x5A) << "at " << pos;
        inners.push_back(inner);
        pos += 9 + n;
    }
    return inners;
}

TEST(PaperangCrc, TableIsTheReflectedCrc32Table)
{
    TestPaperang r;
    const z_crc_t *zlibTable = get_crc_table();
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(r.m_CrcTable[i], uint32_t(zlibTable[i])) << i;
}

TEST(PaperangCrc, KeyedCrcMatchesZlib)
{
    TestPaperang r;
    std::mt19937 rng(7);
    std::vector<Bytes> inputs = {{}, {0x00}, {0xFF}, {0x05, 0x19, 0x03, 0x00, 0x00}, Bytes(1000, 0xAB)};
    for (int i = 0; i < 200; ++i) {
        Bytes b(rng() % 300);
        for (uint8_t &x : b)
            x = uint8_t(rng());
        inputs.push_back(b);
    }
    for (const Bytes &in : inputs)
        EXPECT_EQ(r.MakeCrc32(in.data(), unsigned(in.size())), ZlibCrc(in)) << in.size();
    // The empty command leaves the key itself.
    EXPECT_EQ(r.MakeCrc32(nullptr, 0), kKey);
}

TEST(PaperangCommands, BuildersFrameTheirInnerCommand)
{
    struct Case {
        const char *name;
        std::function<void(TestPaperang &)> build;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        // Literal frames, CRC bytes included.
        {"begin", [](TestPaperang &r) { r.cmdBeginPrinting(); },
         {0xA5, 0x01, 0x05, 0x00, 0x05, 0x19, 0x03, 0x00, 0x00, 0x57, 0x1F, 0xE7, 0xA5, 0x5A}},
        {"end", [](TestPaperang &r) { r.cmdEndPrinting(); },
         {0xA5, 0x01, 0x05, 0x00, 0x05, 0x1A, 0x03, 0x00, 0x00, 0xB9, 0xB0, 0x52, 0xB7, 0x5A}},
        {"locate 300", [](TestPaperang &r) { r.cmdPaperLocate(300); },
         {0xA5, 0x01, 0x09, 0x00, 0x05, 0x21, 0x01, 0x04, 0x00, 0x2C, 0x01, 0x00, 0x00, 0x40, 0x5F, 0x67, 0x66,
          0x5A}},
        {"feed 0", [](TestPaperang &r) { r.cmdFeed(0); },
         {0xA5, 0x01, 0x07, 0x00, 0x05, 0x16, 0x03, 0x02, 0x00, 0x00, 0x00, 0x20, 0x0B, 0x74, 0x62, 0x5A}},
        {"feed 0x1234", [](TestPaperang &r) { r.cmdFeed(0x1234); }, Frame(Inner(0x16, 0x03, {0x34, 0x12}))},
        {"feed keeps 16 bits", [](TestPaperang &r) { r.cmdFeed(0x11170); }, Frame(Inner(0x16, 0x03, {0x70, 0x11}))},
        {"locate 0x01020304", [](TestPaperang &r) { r.cmdPaperLocate(0x01020304); },
         Frame(Inner(0x21, 0x01, {0x04, 0x03, 0x02, 0x01}))},
        {"paper type perforated", [](TestPaperang &r) { r.cmdSetPaperType(3); }, Frame(PaperType(3))},
        {"paper type roll", [](TestPaperang &r) { r.cmdSetPaperType(4); }, Frame(PaperType(0))},
        {"paper type continuous", [](TestPaperang &r) { r.cmdSetPaperType(0); }, {}},
        {"paper type gap", [](TestPaperang &r) { r.cmdSetPaperType(1); }, {}},
        {"paper type recording", [](TestPaperang &r) { r.cmdSetPaperType(5); }, {}},
        {"package of 3 bytes",
         [](TestPaperang &r) {
             uint8_t d[] = {1, 2, 3};
             r.cmdChildClassPackage(d, 3);
         },
         Frame({1, 2, 3})},
        {"raw bytes", [](TestPaperang &r) { r.AddToBuffer("\x01\x02", 2); }, {0x01, 0x02}},
    };
    for (const Case &c : cases) {
        TestPaperang r;
        c.build(r);
        EXPECT_EQ(r.Built(), c.expected) << c.name;
        EXPECT_TRUE(r.writes.empty()) << c.name;
    }
}

// The length field is 16 bits: the longest inner command is 65535 bytes.
TEST(PaperangCommands, PackageLengthLimit)
{
    for (int n : {65535, 65536, 70000}) {
        Bytes inner(size_t(n), 0x5C);
        TestPaperang r;
        r.cmdChildClassPackage(inner.data(), n);
        const Bytes got = r.Built();
        if (n <= 65535) {
            ASSERT_EQ(got.size(), size_t(n) + 9);
            EXPECT_EQ(got[2], 0xFF);
            EXPECT_EQ(got[3], 0xFF);
            EXPECT_EQ(Unframe(got), std::vector<Bytes>{inner});
        } else {
            EXPECT_TRUE(got.empty()) << n;
        }
    }
}

TEST(PaperangPage, SequenceByMediaType)
{
    auto black = Pattern;
    const Bytes row0 = PrinterRow(384, 48, 0, black);
    const Bytes row1 = PrinterRow(384, 48, 1, black);
    struct Case {
        int media;
        std::vector<Bytes> inners;
    };
    const std::vector<Case> cases = {
        {0, {kBegin, RowInner(0, row0), RowInner(1, row1), kEnd, kFeed0}},
        {1, {kBegin, RowInner(0, row0), RowInner(1, row1), kEnd, kLocate300}},
        {2, {kBegin, RowInner(0, row0), RowInner(1, row1), kEnd, kLocate300}},
        {3, {kBegin, PaperType(3), RowInner(0, row0), RowInner(1, row1), kEnd, kLocate300}},
        {4, {kBegin, PaperType(0), RowInner(0, row0), RowInner(1, row1), kEnd, kFeed0}},
        {5, {kBegin, RowInner(0, row0), RowInner(1, row1), kEnd}},
        {6, {kBegin, RowInner(0, row0), RowInner(1, row1), kEnd}},
        {8, {kBegin, RowInner(0, row0), RowInner(1, row1), kEnd}},
        {10, {kBegin, RowInner(0, row0), RowInner(1, row1), kEnd}},
    };
    for (const Case &c : cases) {
        TestPaperang r;
        r.m_Reg.iMediaType = c.media;
        r.m_Image = PreparedPage(384, 2, black);
        r.OnPaintBmp();
        ASSERT_EQ(r.writes.size(), 1u) << c.media;
        Bytes expected;
        for (const Bytes &inner : c.inners)
            expected = Cat({expected, Frame(inner)});
        EXPECT_EQ(r.writes[0], expected) << c.media;
        EXPECT_EQ(r.m_CmdBuffer.GetBufferLength(), 0);
    }
}

TEST(PaperangPage, HeightZero)
{
    struct Case {
        int media;
        std::vector<Bytes> inners;
    };
    const std::vector<Case> cases = {
        {0, {kBegin, kEnd, kFeed0}},
        {1, {kBegin, kEnd, kLocate300}},
        {4, {kBegin, PaperType(0), kEnd, kFeed0}},
        {7, {kBegin, kEnd}},
    };
    for (const Case &c : cases) {
        TestPaperang r;
        r.m_Reg.iMediaType = c.media;
        r.m_Image = CxImage();
        r.OnPaintBmp();
        ASSERT_EQ(r.writes.size(), 1u);
        EXPECT_EQ(Unframe(r.writes[0]), c.inners) << c.media;
    }
}

TEST(PaperangPage, PacketIndexRestartsEveryPageAndWraps)
{
    TestPaperang r;
    r.m_Reg.iMediaType = 6;
    for (int page = 0; page < 2; ++page) {
        r.m_Image = PreparedPage(8, 3, Pattern);
        r.OnPaintBmp();
    }
    ASSERT_EQ(r.writes.size(), 2u);
    for (const Bytes &page : r.writes) {
        const std::vector<Bytes> inners = Unframe(page);
        ASSERT_EQ(inners.size(), 5u);
        for (unsigned y = 0; y < 3; ++y)
            EXPECT_EQ(inners[1 + y], RowInner(y, PrinterRow(8, 4, y, Pattern)));
    }

    // Only the low 16 bits of the row number are sent.
    TestPaperang tall;
    tall.m_Reg.iMediaType = 6;
    tall.m_Image = PreparedPage(8, 65538, Pattern);
    tall.OnPaintBmp();
    ASSERT_EQ(tall.writes.size(), 1u);
    const std::vector<Bytes> inners = Unframe(tall.writes[0]);
    ASSERT_EQ(inners.size(), 65538u + 2);
    EXPECT_EQ(inners[1 + 65535], RowInner(65535, PrinterRow(8, 4, 65535, Pattern)));
    EXPECT_EQ(inners[1 + 65536], RowInner(0, PrinterRow(8, 4, 65536, Pattern)));
    EXPECT_EQ(inners[1 + 65537], RowInner(1, PrinterRow(8, 4, 65537, Pattern)));
}

} // namespace
