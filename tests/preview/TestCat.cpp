#include <gtest/gtest.h>

#include <functional>

#include "DecodeCat.h"
#include "StreamKit.h"

namespace qf::preview::test {
namespace {

Bytes CatFrame(uint8_t cmd, const Bytes &payload, bool mx = false)
{
    Bytes b = {uint8_t(mx ? 0x22 : 0x51), uint8_t(mx ? 0x21 : 0x78), cmd, 0x00};
    Le16(b, unsigned(payload.size()));
    Put(b, payload);
    Put(b, {CatCrc8(payload.data(), payload.size()), 0xFF});
    return b;
}

// Row y of a prepared page (1 = white) as the printers take it: 48 bytes,
// the leftmost dot in bit 0, 1 a dot.
Bytes CatRow(const Prepared &p, int y)
{
    Bytes row(48, 0);
    for (int x = 0; x < p.width && x < 384; ++x)
        if (!(p.Row(y)[x / 8] & (0x80 >> (x % 8))))
            row[x / 8] |= uint8_t(1 << (x % 8));
    return row;
}

const Bytes kStart = {0xAA, 0x55, 0x17, 0x38, 0x44, 0x5F, 0x5F, 0x5F, 0x44, 0x38, 0x2C};
const Bytes kEnd = {0xAA, 0x55, 0x17, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x17};

// 28 bytes of settings, lattice start at 28 (19 bytes), rows from 47 (56
// bytes each), then lattice end and a feed of 90.
Bytes ClassicPage(const Prepared &p)
{
    Bytes b = CatFrame(0xA4, {0x33});
    Put(b, CatFrame(0xAF, {0x00, 0x20}));
    Put(b, CatFrame(0xBD, {0x23}));
    Put(b, CatFrame(0xA6, kStart));
    for (int y = 0; y < p.height; ++y)
        Put(b, CatFrame(0xA2, CatRow(p, y)));
    Put(b, CatFrame(0xA6, kEnd));
    Put(b, CatFrame(0xA1, {90, 0}));
    return b;
}

// Intensity, a request for `lines`, the page's rows and blank lines to
// make `lines`, flush.
Bytes MxPage(const Prepared &p, int lines)
{
    Bytes b = CatFrame(0xA2, {0x80}, true);
    Put(b, CatFrame(0xA9, {uint8_t(lines), uint8_t(lines >> 8), 0x30, 0x00}, true));
    for (int y = 0; y < lines; ++y)
        Put(b, CatFrame(0xFE, y < p.height ? CatRow(p, y) : Bytes(48, 0), true));
    Put(b, CatFrame(0xAD, {0x00}, true));
    return b;
}

const Prepared &Strip()
{
    static const Prepared p = RandomPage(384, 3, 17);
    return p;
}
constexpr size_t kRow0 = 47, kRowFrame = 56;

TEST(Cat, ClassicPagesDecodeToThePreparedPages)
{
    const Prepared narrow = RandomPage(200, 2, 3);
    Bytes b = ClassicPage(Strip());
    Put(b, ClassicPage(narrow));
    const DecodeResult r = Decode(b);
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    EXPECT_EQ(r.lang, Lang::Cat);
    ASSERT_EQ(r.pages.size(), 2u);
    EXPECT_EQ(Diff(r.pages[0].black, Strip()), "");
    EXPECT_EQ(Diff(r.pages[1].black, narrow), "");
    for (const Page &page : r.pages) {
        EXPECT_EQ(page.Param("quality"), "51");
        EXPECT_EQ(page.Param("energy"), "8192");
        EXPECT_EQ(page.Param("speed"), "35");
        EXPECT_EQ(page.Param("feed"), "90");
        EXPECT_EQ(page.Param("row-bytes"), "48");
    }
}

TEST(Cat, Mxw01PageHoldsItsRowsThenBlankLines)
{
    const DecodeResult r = Decode(MxPage(Strip(), 90));
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    EXPECT_EQ(r.lang, Lang::Cat);
    ASSERT_EQ(r.pages.size(), 1u);
    const Page &page = r.pages[0];
    ASSERT_EQ(page.black.height, 90);
    Plane top = page.black;
    top.height = Strip().height;
    top.bits.resize(size_t(top.height) * 48);
    EXPECT_EQ(Diff(top, Strip()), "");
    EXPECT_EQ(page.black.CountDots(), top.CountDots());
    EXPECT_EQ(page.Param("intensity"), "128");
    EXPECT_EQ(page.Param("lines"), "90");
}

struct Corruption {
    const char *name;
    bool mx;
    std::function<size_t(Bytes &)> mutate; // returns the offset the error must name
    const char *expected;
};

const Corruption kCorruptions[] = {
    {"CRC", false,
     [](Bytes &b) {
         b[kRow0 + 6] ^= 1;
         return kRow0 + 6 + 48;
     },
     "CRC-8"},
    {"rows before lattice start", false,
     [](Bytes &b) {
         b.erase(b.begin() + 28, b.begin() + kRow0);
         return size_t(28);
     },
     "lattice start (A6) before rows"},
    {"cut inside the page", false,
     [](Bytes &b) {
         b.resize(kRow0 + kRowFrame);
         return b.size();
     },
     "lattice end (A6) closing"},
    {"row narrower", false,
     [](Bytes &b) {
         const Bytes f = CatFrame(0xA2, Bytes(40, 0));
         b.erase(b.begin() + kRow0 + kRowFrame, b.begin() + kRow0 + 2 * kRowFrame);
         b.insert(b.begin() + kRow0 + kRowFrame, f.begin(), f.end());
         return kRow0 + kRowFrame + 4;
     },
     "as the page's first"},
    // MXW01: intensity 0 (9 bytes), request 9 (12 bytes), lines from 21.
    {"lines short of the request", true,
     [](Bytes &b) {
         b.erase(b.begin() + 21, b.begin() + 21 + 56);
         return b.size() - 9;
     },
     "90 lines before flush"},
};

TEST(Cat, CorruptionsAreFoundWhereTheyAre)
{
    for (const Corruption &c : kCorruptions) {
        SCOPED_TRACE(c.name);
        Bytes b = c.mx ? MxPage(Strip(), 90) : ClassicPage(Strip());
        const size_t at = c.mutate(b);
        const DecodeResult r = Decode(b, Lang::Cat);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.errorOffset, at) << r.ErrorMessage();
        EXPECT_NE(r.expected.find(c.expected), std::string::npos) << r.expected;
    }
}

} // namespace
} // namespace qf::preview::test
