#include <gtest/gtest.h>

#include "StreamKit.h"

namespace qf::preview::test {
namespace {

// 300 x 20 dots: stride 40 bytes, 800 bitmap bytes.
const Prepared &Label()
{
    static const Prepared p = RandomPage(300, 20, 7);
    return p;
}

// Offset of the first BITMAP's data: after its fifth comma, or its sixth
// when the mode is 3 and a byte count follows.
size_t DataStart(const Bytes &b)
{
    size_t i = Find(b, "BITMAP ") + 7, modeAt = 0;
    for (int commas = 0; commas < 5; ++i)
        if (b[i] == ',' && ++commas == 4)
            modeAt = i + 1;
    if (b[modeAt] == '3')
        while (b[i++] != ',') {
        }
    return i;
}

TEST(Tspl, GoodStreamsDecodeToThePreparedPage)
{
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "mode 3" : "mode 1");
        DecodeResult r = Decode(TsplPage(Label(), compressed));
        ASSERT_TRUE(r.ok) << r.ErrorMessage();
        EXPECT_EQ(r.lang, Lang::TSPL);
        ASSERT_EQ(r.pages.size(), 1u);
        const Page &page = r.pages[0];
        EXPECT_EQ(Diff(page.black, Label()), "");
        EXPECT_FALSE(page.TwoColour());
        EXPECT_EQ(page.width, 320);
        EXPECT_EQ(page.height, 20);
        EXPECT_EQ(page.Param("size"), "37.54 mm,2.50 mm");
        EXPECT_EQ(page.Param("gap"), "24 dot,0 dot");
        EXPECT_EQ(page.Param("density"), "10");
        EXPECT_EQ(page.Param("speed"), "4");
        EXPECT_EQ(page.Param("ribbon"), "OFF");
        EXPECT_EQ(page.Param("watermark"), "ON");
        EXPECT_EQ(page.Param("compressed"), compressed ? "1" : "0");
        EXPECT_EQ(page.Param("print"), "1,1");
        EXPECT_EQ(page.Param("print-command"), "PRINT");
    }
}

TEST(Tspl, TwoColourPagesKeepBothPlanes)
{
    Prepared red = RandomPage(200, 30, 11);
    for (bool compressed : {false, true}) {
        DecodeResult r = Decode(TsplPage(Label(), compressed, &red));
        ASSERT_TRUE(r.ok) << r.ErrorMessage();
        ASSERT_EQ(r.pages.size(), 1u);
        ASSERT_TRUE(r.pages[0].TwoColour());
        EXPECT_EQ(Diff(*r.pages[0].red, red), "");
        EXPECT_EQ(Diff(r.pages[0].black, Label()), "");
        EXPECT_EQ(r.pages[0].Param("red-param"), "8");
        EXPECT_EQ(r.pages[0].width, 320); // the wider plane
        EXPECT_EQ(r.pages[0].height, 30); // the taller plane
    }
}

TEST(Tspl, PagesEndAtPrintAndSfayprint)
{
    Prepared second = RandomPage(64, 3, 2);
    Bytes b = TsplPage(Label(), false);
    Bytes more = TsplPage(second, true);
    Replace(more, "PRINT 1,1", "SFAYPRINT 1,1");
    Put(b, more);
    DecodeResult r = Decode(b);
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    ASSERT_EQ(r.pages.size(), 2u);
    EXPECT_EQ(Diff(r.pages[1].black, second), "");
    EXPECT_EQ(r.pages[1].Param("print-command"), "SFAYPRINT");
    EXPECT_EQ(r.pages[1].offset, TsplPage(Label(), false).size());
    EXPECT_EQ(r.pages[1].number, 2);
}

const Corruption kPlain[] = {
    {"LF missing after CR",
     [](Bytes &b) {
         size_t at = Find(b, "\r\n");
         b[at + 1] = 'X';
         return at + 1;
     },
     "LF after CR"},
    {"CR missing before LF",
     [](Bytes &b) {
         size_t at = Find(b, "CLS\r\n");
         b.erase(b.begin() + at + 3);
         return at + 3;
     },
     "CR before LF"},
    {"unknown command",
     [](Bytes &b) {
         size_t at = Find(b, "CLS");
         Replace(b, "CLS\r\n", "FEED 1\r\nCLS\r\n");
         return at;
     },
     "a TSPL command"},
    {"argument not a number", [](Bytes &b) { return Replace(b, "DENSITY 10", "DENSITY x0") + 8; }, "density"},
    {"trailing text", [](Bytes &b) { return Replace(b, "SPEED 4\r", "SPEED 4 \r") + 7; }, "CR LF ending the SPEED"},
    {"no CLS before BITMAP",
     [](Bytes &b) {
         Replace(b, "CLS\r\n", "");
         return Find(b, "BITMAP");
     },
     "CLS before"},
    {"bitmap mode 2", [](Bytes &b) { return Replace(b, "40,20,1,", "40,20,2,") + 6; }, "mode 1 (plain) or 3"},
    {"negative width", [](Bytes &b) { return Replace(b, "0,0,40,", "0,0,-4,") + 4; }, "bitmap width"},
    {"one row fewer than sent",
     [](Bytes &b) {
         Replace(b, "40,20,1,", "40,19,1,");
         return DataStart(b) + 40 * 19;
     },
     "CR LF after the bitmap data"},
    {"data truncated",
     [](Bytes &b) {
         b.resize(DataStart(b) + 100);
         return b.size();
     },
     "plain bitmap data"},
    {"no CR LF after data",
     [](Bytes &b) {
         size_t at = DataStart(b) + 800;
         b[at] = 'X';
         return at;
     },
     "CR LF after the bitmap data"},
    {"LF after data missing",
     [](Bytes &b) {
         size_t at = DataStart(b) + 801;
         b[at] = 'P';
         return at;
     },
     "LF after the CR"},
    {"PRINT missing",
     [](Bytes &b) {
         b.resize(b.size() - 11);
         return b.size();
     },
     "PRINT ending the page"},
    {"SIZE missing",
     [](Bytes &b) {
         b.erase(b.begin(), b.begin() + Find(b, "SET"));
         return Find(b, "PRINT");
     },
     "SIZE before PRINT"},
    {"second black bitmap",
     [](Bytes &b) {
         size_t at = Find(b, "PRINT");
         Bytes again = TsplBitmap(Label(), false);
         b.insert(b.begin() + at, again.begin(), again.end());
         return at;
     },
     "one bitmap per plane"},
};

TEST(Tspl, PlainCorruptionsAreFoundWhereTheyAre)
{
    for (const Corruption &c : kPlain) {
        SCOPED_TRACE(c.name);
        Bytes b = TsplPage(Label(), false);
        size_t at = c.mutate(b);
        DecodeResult r = Decode(b, Lang::TSPL);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.errorOffset, at) << r.ErrorMessage();
        EXPECT_NE(r.expected.find(c.expected), std::string::npos) << r.expected;
        EXPECT_TRUE(r.pages.empty());
    }
}

// n of "BITMAP 0,0,40,20,3,n," in the good compressed stream.
size_t ZlibLength()
{
    static const size_t n = ZlibCompress(Negated(Label().bits)).size();
    return n;
}

std::string ZHead(size_t h, size_t n)
{
    return "40," + std::to_string(h) + ",3," + std::to_string(n) + ",";
}

const Corruption kCompressed[] = {
    {"bad Adler-32",
     [](Bytes &b) {
         size_t end = DataStart(b) + ZlibLength();
         b[end - 1] ^= 1;
         return end - 4;
     },
     "Adler-32"},
    {"length one short",
     [](Bytes &b) {
         Replace(b, ZHead(20, ZlibLength()), ZHead(20, ZlibLength() - 1));
         return DataStart(b) + ZlibLength() - 1;
     },
     "4-byte Adler-32"},
    {"length one long",
     [](Bytes &b) {
         Replace(b, ZHead(20, ZlibLength()), ZHead(20, ZlibLength() + 1));
         return DataStart(b) + ZlibLength();
     },
     "end after its Adler-32"},
    {"length cuts the deflate data",
     [](Bytes &b) {
         Replace(b, ZHead(20, ZlibLength()), ZHead(20, 10));
         return DataStart(b) + 10;
     },
     "more deflate data"},
    {"inflates to fewer bytes",
     [](Bytes &b) {
         Replace(b, ZHead(20, ZlibLength()), ZHead(21, ZlibLength()));
         return DataStart(b);
     },
     "inflates to 800"},
    {"inflates to more bytes",
     [](Bytes &b) {
         Replace(b, ZHead(20, ZlibLength()), ZHead(19, ZlibLength()));
         return DataStart(b);
     },
     "inflates to more"},
    {"zlib method",
     [](Bytes &b) {
         size_t at = DataStart(b);
         b[at] = 0x79;
         return at;
     },
     "method 8"},
    {"zlib check bits",
     [](Bytes &b) {
         size_t at = DataStart(b);
         b[at + 1] ^= 1;
         return at + 1;
     },
     "multiple of 31"},
    {"data truncated",
     [](Bytes &b) {
         b.resize(DataStart(b) + 9);
         return b.size();
     },
     "zlib bitmap data"},
};

TEST(Tspl, CompressedCorruptionsAreFoundWhereTheyAre)
{
    for (const Corruption &c : kCompressed) {
        SCOPED_TRACE(c.name);
        Bytes b = TsplPage(Label(), true);
        size_t at = c.mutate(b);
        DecodeResult r = Decode(b, Lang::TSPL);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.errorOffset, at) << r.ErrorMessage();
        EXPECT_NE(r.expected.find(c.expected), std::string::npos) << r.expected;
    }
}

TEST(Tspl, CorruptDeflateDataFailsInsideTheBlock)
{
    Bytes b = TsplPage(Label(), true);
    size_t data = DataStart(b);
    b[data + ZlibLength() / 2] ^= 0x55;
    DecodeResult r = Decode(b);
    EXPECT_FALSE(r.ok);
    EXPECT_GE(r.errorOffset, data);
    EXPECT_LE(r.errorOffset, data + ZlibLength());
}

TEST(Tspl, RandomPagesRoundTripBitForBit)
{
    std::mt19937 rng(20240611);
    for (int i = 0; i < 40; ++i) {
        Prepared black = RandomPage(1 + int(rng() % 600), int(rng() % 50), rng());
        Prepared red = RandomPage(1 + int(rng() % 600), int(rng() % 50), rng());
        bool compressed = i % 2, twoColour = i % 3 == 0;
        DecodeResult r = Decode(TsplPage(black, compressed, twoColour ? &red : nullptr));
        ASSERT_TRUE(r.ok) << i << ": " << r.ErrorMessage();
        ASSERT_EQ(r.pages.size(), 1u);
        EXPECT_EQ(Diff(r.pages[0].black, black), "") << i;
        if (twoColour) {
            EXPECT_EQ(Diff(*r.pages[0].red, red), "") << i;
        }
    }
}

} // namespace
} // namespace qf::preview::test
