#include <gtest/gtest.h>

#include "StreamKit.h"

namespace qf::preview::test {
namespace {

// 384 x 30 dots: 48 bytes per row, 1440 raster bytes.
const Prepared &Label()
{
    static const Prepared p = RandomPage(384, 30, 21);
    return p;
}
constexpr size_t kRaster = 20; // after start, paper, init, density, align
constexpr size_t kData = kRaster + 10;

size_t DeflateLength()
{
    static const size_t n = PeriPageCompress(Gather(Label(), 48)).size();
    return n;
}

TEST(PeriPage, GoodPagesDecodeToThePreparedPage)
{
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "plain");
        DecodeResult r = Decode(PeriPagePage(Label(), compressed));
        ASSERT_TRUE(r.ok) << r.ErrorMessage();
        EXPECT_EQ(r.lang, Lang::PeriPage);
        ASSERT_EQ(r.pages.size(), 1u);
        const Page &page = r.pages[0];
        EXPECT_EQ(Diff(page.black, Label()), "");
        EXPECT_EQ(page.Param("paper"), "2");
        EXPECT_EQ(page.Param("density"), "10");
        EXPECT_EQ(page.Param("align"), "1");
        EXPECT_EQ(page.Param("locate"), "1");
        EXPECT_EQ(page.Param("compressed"), compressed ? "1" : "0");
    }
}

TEST(PeriPage, WideCompressedPagesKeep208BytesPerRow)
{
    Prepared wide = RandomPage(1728, 4, 8);
    DecodeResult r = Decode(PeriPagePage(wide, true));
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    ASSERT_EQ(r.pages.size(), 1u);
    EXPECT_EQ(r.pages[0].black.widthBytes, 208);
    EXPECT_EQ(CompareWithOneBit(r.pages[0].black, wide.bits.data(), 1664, 4, wide.stride, true), "");
}

TEST(PeriPage, RandomPagesRoundTripBitForBit)
{
    std::mt19937 rng(77);
    Bytes b;
    std::vector<Prepared> pages;
    for (int i = 0; i < 16; ++i) {
        pages.push_back(RandomPage(1 + int(rng() % 1600), int(rng() % 40), rng()));
        Put(b, PeriPagePage(pages.back(), i % 2));
    }
    DecodeResult r = Decode(b);
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    ASSERT_EQ(r.pages.size(), pages.size());
    for (size_t i = 0; i < pages.size(); ++i)
        EXPECT_EQ(Diff(r.pages[i].black, pages[i]), "") << i;
}

TEST(PeriPage, FrameWithoutImageIsAnEmptyPage)
{
    Bytes b{0x10, 0xFF, 0xFE, 0x01, 0x1B, 0x40, 0x00, 0x10, 0x50, 0x10, 0xFF, 0xFE, 0x45};
    DecodeResult r = Decode(b);
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    ASSERT_EQ(r.pages.size(), 1u);
    EXPECT_EQ(r.pages[0].width, 0);
    EXPECT_EQ(r.pages[0].Param("cut-line"), "1");
}

void SetLength(Bytes &b, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        b[kRaster + 6 + i] = uint8_t(n >> (24 - 8 * i));
}

const Corruption kCorruptions[] = {
    {"bad Adler-32",
     [](Bytes &b) {
         b[kData + DeflateLength() - 1] ^= 0x10;
         return kData + DeflateLength() - 4;
     },
     "Adler-32"},
    {"length one short",
     [](Bytes &b) {
         SetLength(b, uint32_t(DeflateLength() - 1));
         return kData + DeflateLength() - 1;
     },
     "4-byte Adler-32"},
    {"length one long",
     [](Bytes &b) {
         SetLength(b, uint32_t(DeflateLength() + 1));
         return kData + DeflateLength();
     },
     "end after its Adler-32"},
    {"length beyond the input",
     [](Bytes &b) {
         SetLength(b, 1u << 30);
         return b.size();
     },
     "compressed raster data"},
    {"height one row more",
     [](Bytes &b) {
         b[kRaster + 5] = 31;
         return kData;
     },
     "inflates to 1440"},
    {"width one byte less",
     [](Bytes &b) {
         b[kRaster + 3] = 47;
         return kData;
     },
     "inflates to more"},
    {"density above 0F",
     [](Bytes &b) {
         b[16] = 0x10;
         return size_t(16);
     },
     "density 00 to 0F"},
    {"paper type 06",
     [](Bytes &b) {
         b[8] = 0x06;
         return size_t(8);
     },
     "paper type 00 to 05"},
    {"end of page missing",
     [](Bytes &b) {
         b.resize(b.size() - 4);
         return b.size();
     },
     "10 FF FE 45 ending"},
    {"command after the page",
     [](Bytes &b) {
         Put(b, {0x1B, 0x40, 0x00});
         return b.size() - 3;
     },
     "10 FF FE 01"},
    {"page inside a page",
     [](Bytes &b) {
         Bytes start{0x10, 0xFF, 0xFE, 0x01};
         b.insert(b.begin() + 4, start.begin(), start.end());
         return size_t(4);
     },
     "10 FF FE 45 ending"},
    {"end of page truncated",
     [](Bytes &b) {
         b.resize(b.size() - 2);
         return b.size();
     },
     "the rest of the command"},
};

TEST(PeriPage, CorruptionsAreFoundWhereTheyAre)
{
    for (const Corruption &c : kCorruptions) {
        SCOPED_TRACE(c.name);
        Bytes b = PeriPagePage(Label(), true);
        size_t at = c.mutate(b);
        DecodeResult r = Decode(b, Lang::PeriPage);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.errorOffset, at) << r.ErrorMessage();
        EXPECT_NE(r.expected.find(c.expected), std::string::npos) << r.expected;
    }
}

TEST(PeriPage, DeflateReachingBeyondTheOneKiBWindowIsRefused)
{
    // Rows 8 to 15 repeat rows 0 to 7, 1600 bytes back: a 32 KiB window
    // copies them, the printer's 1 KiB window cannot.
    Prepared p = RandomPage(1600, 16, 9);
    std::copy(p.bits.begin(), p.bits.begin() + 1600, p.bits.begin() + 1600);
    Bytes b{0x10, 0xFF, 0xFE, 0x01};
    Put(b, PeriPageRaster(p, true, 15));
    Put(b, {0x10, 0xFF, 0xFE, 0x45});
    DecodeResult r = Decode(b);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.expected.find("too far back"), std::string::npos) << r.ErrorMessage();
    EXPECT_TRUE(Decode(PeriPagePage(p, true)).ok);
}

} // namespace
} // namespace qf::preview::test
