#include <gtest/gtest.h>

#include "StreamKit.h"

namespace qf::preview::test {
namespace {

// 300 x 20 dots: stride 40 bytes, 800 graphics bytes.
const Prepared &Label()
{
    static const Prepared p = [] {
        Prepared p = RandomPage(300, 20, 5);
        p.bits[19 * p.stride] = 0x55; // last row starts with AA once inverted: no command letter
        return p;
    }();
    return p;
}

size_t DataStart(const Bytes &b)
{
    return Find(b, "0 0\r\n", Find(b, "CG ")) + 5;
}

TEST(Cpcl, GoodLabelsDecodeToThePreparedPage)
{
    for (bool form : {false, true}) {
        DecodeResult r = Decode(CpclPage(Label(), form));
        ASSERT_TRUE(r.ok) << r.ErrorMessage();
        EXPECT_EQ(r.lang, Lang::CPCL);
        ASSERT_EQ(r.pages.size(), 1u);
        const Page &page = r.pages[0];
        EXPECT_EQ(Diff(page.black, Label()), "");
        EXPECT_EQ(page.Param("page-width"), "300");
        EXPECT_EQ(page.Param("label-height"), "20");
        EXPECT_EQ(page.Param("hres"), "200");
        EXPECT_EQ(page.Param("quantity"), "1");
        EXPECT_EQ(page.Param("form", "0"), form ? "1" : "0");
    }
}

TEST(Cpcl, SeveralLabelsAndRandomPagesRoundTrip)
{
    std::mt19937 rng(99);
    Bytes b;
    std::vector<Prepared> pages;
    for (int i = 0; i < 12; ++i) {
        pages.push_back(RandomPage(1 + int(rng() % 500), int(rng() % 40), rng()));
        Put(b, CpclPage(pages.back(), i % 2));
    }
    DecodeResult r = Decode(b);
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    ASSERT_EQ(r.pages.size(), pages.size());
    for (size_t i = 0; i < pages.size(); ++i)
        EXPECT_EQ(Diff(r.pages[i].black, pages[i]), "") << i;
}

const Corruption kCorruptions[] = {
    {"CG one row fewer than sent",
     [](Bytes &b) {
         Replace(b, "CG 40 20 ", "CG 40 19 ");
         return DataStart(b) + 40 * 19;
     },
     "FORM or PRINT right after"},
    {"CG rows beyond the label",
     [](Bytes &b) {
         Replace(b, "! 0 200 200 20 1", "! 0 200 200 19 1");
         return Find(b, "CG ") + 6;
     },
     "to fit the label height 19"},
    {"data truncated",
     [](Bytes &b) {
         b.resize(DataStart(b) + 500);
         return b.size();
     },
     "graphics data"},
    {"PRINT missing",
     [](Bytes &b) {
         b.resize(b.size() - 7);
         return b.size();
     },
     "PRINT ending the label"},
    {"header without quantity", [](Bytes &b) { return Replace(b, " 20 1\r", " 20\r") + 3; }, "\" \""},
    {"header line end missing CR",
     [](Bytes &b) {
         size_t at = Find(b, "\r\n");
         b.erase(b.begin() + at);
         return at;
     },
     "CR before LF"},
    {"label without header",
     [](Bytes &b) {
         b.erase(b.begin(), b.begin() + Find(b, "PAGE"));
         return size_t(0);
     },
     "\"! \" starting a label"},
    {"unknown command", [](Bytes &b) { return Replace(b, "PAGE-WIDTH", "PAGE-HEIGHT"); }, "a CPCL command"},
};

TEST(Cpcl, CorruptionsAreFoundWhereTheyAre)
{
    for (const Corruption &c : kCorruptions) {
        SCOPED_TRACE(c.name);
        Bytes b = CpclPage(Label(), true);
        size_t at = c.mutate(b);
        DecodeResult r = Decode(b, Lang::CPCL);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.errorOffset, at) << r.ErrorMessage();
        EXPECT_NE(r.expected.find(c.expected), std::string::npos) << r.expected;
    }
}

} // namespace
} // namespace qf::preview::test
