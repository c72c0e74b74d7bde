#include <gtest/gtest.h>

#include "StreamKit.h"

namespace qf::preview::test {
namespace {

// 385 x 10 dots: 49 bytes per raster row (the 385th dot alone in the last
// byte), 490 raster bytes from offset 14.
const Prepared &Receipt()
{
    static const Prepared p = [] {
        Prepared p = RandomPage(385, 10, 3);
        p.bits[9 * p.stride] = 0x55; // last row starts with AA once inverted: no command byte
        return p;
    }();
    return p;
}
constexpr size_t kRaster = 6; // 1D 76 30 after 1B 40 00 1B 61 01
constexpr size_t kData = kRaster + 8;
constexpr size_t kEnd = kData + 490;

TEST(EscPos, GoodPageDecodesWithFeedTotalAndCut)
{
    DecodeResult r = Decode(EscPosPage(Receipt(), 320, true));
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    EXPECT_EQ(r.lang, Lang::ESCPOS);
    ASSERT_EQ(r.pages.size(), 1u);
    const Page &page = r.pages[0];
    EXPECT_EQ(page.black.widthBytes, 49);
    EXPECT_EQ(Diff(page.black, Receipt()), "");
    EXPECT_EQ(page.Param("align"), "1");
    EXPECT_EQ(page.Param("mode"), "0");
    EXPECT_EQ(page.Param("feed"), "320");
    EXPECT_EQ(page.Param("cut"), "full");
    std::string listing = FormatListing(r);
    EXPECT_NE(listing.find("feed total 320 dots in 2 ESC J"), std::string::npos) << listing;
}

TEST(EscPos, EveryInitialisedRasterIsAPage)
{
    std::mt19937 rng(4);
    Bytes b{0x1B, 0x70, 0x00, 0xFF, 0xFF}; // drawer pulse before the first page
    std::vector<Prepared> pages;
    for (int i = 0; i < 8; ++i) {
        pages.push_back(RandomPage(1 + int(rng() % 600), int(rng() % 30), rng()));
        Put(b, EscPosPage(pages.back(), i % 3 ? int(rng() % 700) : -1, false));
    }
    Put(b, {0x1D, 0x56, 0x31}); // end-of-job partial cut
    DecodeResult r = Decode(b);
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    ASSERT_EQ(r.pages.size(), pages.size());
    for (size_t i = 0; i < pages.size(); ++i)
        EXPECT_EQ(Diff(r.pages[i].black, pages[i]), "") << i;
    EXPECT_EQ(r.pages[0].Param("drawer"), "before");
    EXPECT_EQ(r.pages.back().Param("cut"), "partial");
}

// A receipt: consecutive rasters of one width are bands of one page; a
// command between them, or another width, starts a new page.
TEST(EscPos, ConsecutiveRastersOfOneWidthAreBandsOfOnePage)
{
    const Prepared a = RandomPage(384, 256, 5), b = RandomPage(384, 40, 6), narrow = RandomPage(200, 8, 7);
    struct Case {
        const char *name;
        Bytes between;
        const Prepared &second;
        size_t pages;
    } cases[] = {
        {"nothing between", {}, b, 1},
        {"a feed between", {0x1B, 0x4A, 0x08}, b, 2},
        {"another width", {}, narrow, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes s{0x1B, 0x40, 0x00, 0x1B, 0x61, 0x01};
        Put(s, GsV0(a));
        Put(s, c.between);
        Put(s, GsV0(c.second));
        Put(s, {0x1B, 0x4A, 0x60, 0x1D, 0x56, 0x30});
        DecodeResult r = Decode(s);
        ASSERT_TRUE(r.ok) << r.ErrorMessage();
        ASSERT_EQ(r.pages.size(), c.pages);
        if (c.pages == 1) {
            Prepared both = a;
            both.height += b.height;
            both.bits.insert(both.bits.end(), b.bits.begin(), b.bits.end());
            EXPECT_EQ(Diff(r.pages[0].black, both), "");
            EXPECT_EQ(r.pages[0].Param("bands"), "2");
            EXPECT_EQ(r.pages[0].Param("band-rows"), "256");
        }
        EXPECT_EQ(r.pages.back().Param("cut"), "full");
    }
}

TEST(EscPos, JobWithoutPagesIsJustItsCut)
{
    DecodeResult r = Decode(Bytes{0x1D, 0x56, 0x30});
    EXPECT_TRUE(r.ok) << r.ErrorMessage();
    EXPECT_TRUE(r.pages.empty());
}

const Corruption kCorruptions[] = {
    {"init without its NUL",
     [](Bytes &b) {
         b[2] = 0x01;
         return size_t(2);
     },
     "00 after ESC @"},
    {"justification 3",
     [](Bytes &b) {
         b[5] = 0x03;
         return size_t(5);
     },
     "justification"},
    {"raster mode 4",
     [](Bytes &b) {
         b[kRaster + 3] = 0x04;
         return kRaster + 3;
     },
     "raster mode"},
    {"one row fewer than sent",
     [](Bytes &b) {
         b[kRaster + 6] = 9;
         return kData + 49 * 9;
     },
     "an ESC/POS command"},
    {"one row more than sent",
     [](Bytes &b) {
         b[kRaster + 6] = 11;
         return b.size();
     },
     "raster data of 49 x 11"},
    {"raster truncated",
     [](Bytes &b) {
         b.resize(kData + 100);
         return b.size();
     },
     "raster data"},
    {"header truncated",
     [](Bytes &b) {
         b.resize(kRaster + 5);
         return b.size();
     },
     "GS v 0 header"},
    {"cut with mode byte 00",
     [](Bytes &b) {
         b[kEnd + 5] = 0x00;
         return kEnd + 5;
     },
     "cut mode 30"},
    {"unknown ESC command",
     [](Bytes &b) {
         b[kEnd + 1] = 0x21;
         return kEnd;
     },
     "an ESC/POS command"},
    {"feed truncated",
     [](Bytes &b) {
         b.resize(kEnd + 2);
         return b.size();
     },
     "ESC J"},
};

TEST(EscPos, CorruptionsAreFoundWhereTheyAre)
{
    for (const Corruption &c : kCorruptions) {
        SCOPED_TRACE(c.name);
        Bytes b = EscPosPage(Receipt(), 80, true); // ... 1B 4A 50 1D 56 30
        size_t at = c.mutate(b);
        DecodeResult r = Decode(b, Lang::ESCPOS);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.errorOffset, at) << r.ErrorMessage();
        EXPECT_NE(r.expected.find(c.expected), std::string::npos) << r.expected;
    }
}

} // namespace
} // namespace qf::preview::test
