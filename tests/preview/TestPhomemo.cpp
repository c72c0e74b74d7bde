#include <gtest/gtest.h>

#include <functional>

#include "DecodePhomemo.h"
#include "StreamKit.h"

namespace qf::preview::test {
namespace {

// GS v 0 bands of at most 255 rows.
Bytes Bands(const Prepared &p)
{
    const size_t w = (size_t(p.width) + 7) / 8;
    const Bytes all = Gather(p, w);
    Bytes b;
    int y = 0;
    do {
        const int rows = std::min(255, p.height - y);
        Put(b, {0x1D, 0x76, 0x30, 0x00});
        Le16(b, unsigned(w));
        Le16(b, unsigned(rows));
        b.insert(b.end(), all.begin() + long(y * w), all.begin() + long((y + rows) * w));
        y += rows;
    } while (y < p.height);
    return b;
}

// Speed, density, media (11 bytes), the bands from 11, the footer.
Bytes LabelPage(const Prepared &p)
{
    Bytes b = {0x1B, 0x4E, 0x0D, 0x05, 0x1B, 0x4E, 0x04, 0x08, 0x1F, 0x11, 0x0A};
    Put(b, Bands(p));
    Put(b, {0x1F, 0xF0, 0x05, 0x00, 0x1F, 0xF0, 0x03, 0x00});
    return b;
}

Bytes M02Page(const Prepared &p)
{
    Bytes b = {0x1B, 0x40, 0x1B, 0x61, 0x01, 0x1F, 0x11, 0x02, 0x04, 0x1B, 0x4E, 0x04, 0x0A};
    Put(b, Bands(p));
    Put(b, {0x1B, 0x64, 0x02, 0x1B, 0x64, 0x02});
    return b;
}

const Prepared &Label()
{
    static const Prepared p = RandomPage(384, 300, 5);
    return p;
}

TEST(Phomemo, PagesDecodeToThePreparedPages)
{
    const Prepared narrow = RandomPage(96, 3, 9);
    Bytes b = LabelPage(Label());
    Put(b, LabelPage(narrow));
    DecodeResult r = Decode(b);
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    EXPECT_EQ(r.lang, Lang::Phomemo);
    ASSERT_EQ(r.pages.size(), 2u);
    EXPECT_EQ(Diff(r.pages[0].black, Label()), "");
    EXPECT_EQ(Diff(r.pages[1].black, narrow), "");
    EXPECT_EQ(r.pages[0].Param("bands"), "2");
    for (const Page &page : r.pages) {
        EXPECT_EQ(page.Param("speed"), "5");
        EXPECT_EQ(page.Param("density"), "8");
        EXPECT_EQ(page.Param("media"), "gap");
        EXPECT_EQ(page.Param("end"), "label");
    }

    const Prepared strip = RandomPage(384, 4, 11);
    r = Decode(M02Page(strip));
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    EXPECT_EQ(r.lang, Lang::Phomemo);
    ASSERT_EQ(r.pages.size(), 1u);
    EXPECT_EQ(Diff(r.pages[0].black, strip), "");
    EXPECT_EQ(r.pages[0].Param("header"), "4");
    EXPECT_EQ(r.pages[0].Param("align"), "1");
    EXPECT_EQ(r.pages[0].Param("feed"), "4");
}

struct Fault {
    const char *name;
    std::function<size_t(Bytes &)> mutate; // returns the offset the error must name
    const char *expected;
};

// The label page: settings 0..10, first band header at 11, its data from 19.
const Fault kFaults[] = {
    {"density zero",
     [](Bytes &b) {
         b[7] = 0;
         return size_t(7);
     },
     "density 1 to 15"},
    {"raster mode",
     [](Bytes &b) {
         b[14] = 0x01;
         return size_t(14);
     },
     "raster mode 00"},
    {"band too tall",
     [](Bytes &b) {
         b[17] = 0x00;
         b[18] = 0x01;
         return size_t(17);
     },
     "at most 255 rows"},
    {"narrower second band",
     [](Bytes &b) {
         const size_t second = 19 + 255 * 48;
         b[second + 4] = 47;
         return second + 4;
     },
     "as the page's first band"},
    {"cut inside the page",
     [](Bytes &b) {
         b.resize(b.size() - 8);
         return b.size();
     },
     "closing the page"},
    {"data cut short",
     [](Bytes &b) {
         b.resize(19 + 100);
         return b.size();
     },
     "bytes of raster data"},
    {"end of print first",
     [](Bytes &b) {
         b[b.size() - 6] = 0x03;
         return b.size() - 8;
     },
     "1F F0 05 00 before 1F F0 03 00"},
};

TEST(Phomemo, FaultsAreFoundWhereTheyAre)
{
    for (const Fault &f : kFaults) {
        SCOPED_TRACE(f.name);
        Bytes b = LabelPage(Label());
        const size_t at = f.mutate(b);
        const DecodeResult r = Decode(b, Lang::Phomemo);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.errorOffset, at) << r.ErrorMessage();
        EXPECT_NE(r.expected.find(f.expected), std::string::npos) << r.expected;
    }
}

} // namespace
} // namespace qf::preview::test
