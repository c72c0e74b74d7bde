#include <gtest/gtest.h>

#include "StreamKit.h"

namespace qf::preview::test {
namespace {

// 390 x 3 dots: W = 52 row bytes (49 of image, 3 of padding).
// Frames: begin 0 (14 bytes), paper type 14 (16), rows 30, 108, 186
// (78 bytes each: 9 + 17 + 52), end 264 (14), feed 278 (16).
const Prepared &Strip()
{
    static const Prepared p = RandomPage(390, 3, 13);
    return p;
}
constexpr size_t kRow0 = 30, kRow1 = 108, kEnd = 264;
constexpr size_t kRowFrame = 78;

// Rebuilds the frame at `at` around its (changed) inner command so that its
// CRC is right again.
void Reframe(Bytes &b, size_t at)
{
    size_t n = b[at + 2] | (b[at + 3] << 8);
    Bytes inner(b.begin() + at + 4, b.begin() + at + 4 + n);
    Bytes frame = PaperangFrame(inner);
    std::copy(frame.begin(), frame.end(), b.begin() + at);
}

TEST(Paperang, GoodPageDecodesToThePreparedPage)
{
    Bytes b = PaperangPage(Strip());
    ASSERT_EQ(b.size(), kEnd + 30);
    DecodeResult r = Decode(b);
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    EXPECT_EQ(r.lang, Lang::Paperang);
    ASSERT_EQ(r.pages.size(), 1u);
    const Page &page = r.pages[0];
    EXPECT_EQ(page.black.widthBytes, 52);
    EXPECT_EQ(Diff(page.black, Strip()), "");
    EXPECT_EQ(page.Param("paper-type"), "0");
    EXPECT_EQ(page.Param("feed"), "0");
    EXPECT_EQ(page.Param("row-bytes"), "52");
}

TEST(Paperang, CrcUsesTheProtocolKey)
{
    // Begin printing: A5 01 05 00 | 05 19 03 00 00 | CRC | 5A.
    Bytes inner{0x05, 0x19, 0x03, 0x00, 0x00};
    Bytes frame = PaperangFrame(inner);
    uint32_t sent = frame[9] | (frame[10] << 8) | (frame[11] << 16) | (uint32_t(frame[12]) << 24);
    // The same CRC by the table-free bitwise form, continued from the key.
    uint32_t c = ~kPaperangCrcKey;
    for (uint8_t byte : inner) {
        c ^= byte;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    EXPECT_EQ(sent, ~c);
    EXPECT_NE(sent, uint32_t(crc32(0, inner.data(), 5)));
}

TEST(Paperang, PagesWithLocateAndRandomRowsRoundTrip)
{
    std::mt19937 rng(31);
    Bytes b;
    std::vector<Prepared> pages;
    for (int i = 0; i < 10; ++i) {
        pages.push_back(RandomPage(1 + int(rng() % 700), int(rng() % 25), rng()));
        Put(b, PaperangPage(pages.back()));
    }
    // A "Gap" page: begin, rows, end, paper locate 300.
    Prepared gap = RandomPage(384, 2, 1);
    Put(b, PaperangFrame(PaperangInner(0x19, 0x03, {})));
    Bytes rows = Gather(gap, gap.stride);
    for (int y = 0; y < 2; ++y)
        Put(b, PaperangFrame(PaperangRow(unsigned(y), rows.data() + y * 48, 48)));
    Put(b, PaperangFrame(PaperangInner(0x1A, 0x03, {})));
    Put(b, PaperangFrame(PaperangInner(0x21, 0x01, {0x2C, 0x01, 0x00, 0x00})));
    DecodeResult r = Decode(b);
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    ASSERT_EQ(r.pages.size(), pages.size() + 1);
    for (size_t i = 0; i < pages.size(); ++i)
        EXPECT_EQ(Diff(r.pages[i].black, pages[i]), "") << i;
    EXPECT_EQ(Diff(r.pages.back().black, gap), "");
    EXPECT_EQ(r.pages.back().Param("locate"), "300");
    EXPECT_EQ(r.pages.back().Param("paper-type", "none"), "none");
}

const Corruption kCorruptions[] = {
    {"row byte changed",
     [](Bytes &b) {
         b[kRow1 + 40] ^= 1;
         return kRow1 + kRowFrame - 5;
     },
     "CRC-32"},
    {"CRC without the key",
     [](Bytes &b) {
         Bytes inner(b.begin() + 4, b.begin() + 9);
         uint32_t plain = uint32_t(crc32(0, inner.data(), 5));
         for (int i = 0; i < 4; ++i)
             b[9 + i] = uint8_t(plain >> (8 * i));
         return size_t(9);
     },
     "CRC-32"},
    {"frame length one more",
     [](Bytes &b) {
         b[kRow0 + 2]++;
         return kRow0 + 2;
     },
     "frame length 69"},
    {"end byte missing",
     [](Bytes &b) {
         b[kRow0 + kRowFrame - 1] = 0x00;
         return kRow0 + kRowFrame - 1;
     },
     "5A ending"},
    {"wrong start byte",
     [](Bytes &b) {
         b[kRow1] = 0xA6;
         return kRow1;
     },
     "A5 starting a frame"},
    {"packet index skips",
     [](Bytes &b) {
         b[kRow1 + 9] = 2;
         Reframe(b, kRow1);
         return kRow1 + 9;
     },
     "packet index 1, found 2"},
    {"second length field",
     [](Bytes &b) {
         b[kRow0 + 11] = 61;
         Reframe(b, kRow0);
         return kRow0 + 11;
     },
     "row length field 60"},
    {"first width field",
     [](Bytes &b) {
         b[kRow0 + 14] = 51;
         Reframe(b, kRow0);
         return kRow0 + 14;
     },
     "row width 52"},
    {"second width field",
     [](Bytes &b) {
         b[kRow0 + 19] = 51;
         Reframe(b, kRow0);
         return kRow0 + 19;
     },
     "second row width 52"},
    {"byte 01 in the row header",
     [](Bytes &b) {
         b[kRow0 + 13] = 2;
         Reframe(b, kRow0);
         return kRow0 + 13;
     },
     "01 in the bitmap"},
    {"unknown code",
     [](Bytes &b) {
         b[5] = 0x30;
         Reframe(b, 0);
         return size_t(5);
     },
     "command code"},
    {"begin with byte 2 = 01",
     [](Bytes &b) {
         b[6] = 0x01;
         Reframe(b, 0);
         return size_t(6);
     },
     "03 after the begin printing"},
    {"paper type 1",
     [](Bytes &b) {
         b[23] = 1;
         Reframe(b, 14);
         return size_t(23);
     },
     "paper type 00 00 or 03 00"},
    {"end printing missing",
     [](Bytes &b) {
         b.erase(b.begin() + kEnd, b.begin() + kEnd + 14);
         return b.size();
     },
     "end printing (05 1A)"},
    {"rows before begin",
     [](Bytes &b) {
         b.erase(b.begin(), b.begin() + 14);
         return size_t(16);
     },
     "begin printing (19) before bitmap rows"},
    {"frame truncated",
     [](Bytes &b) {
         b.resize(kRow1 + 50);
         return b.size();
     },
     "frame of 78 bytes"},
    {"header truncated",
     [](Bytes &b) {
         b.resize(kRow1 + 3);
         return b.size();
     },
     "frame header"},
};

TEST(Paperang, CorruptionsAreFoundWhereTheyAre)
{
    for (const Corruption &c : kCorruptions) {
        SCOPED_TRACE(c.name);
        Bytes b = PaperangPage(Strip());
        size_t at = c.mutate(b);
        DecodeResult r = Decode(b, Lang::Paperang);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.errorOffset, at) << r.ErrorMessage();
        EXPECT_NE(r.expected.find(c.expected), std::string::npos) << r.expected;
    }
}

TEST(Paperang, RowWidthMustStayTheSameWithinAPage)
{
    Bytes b = PaperangFrame(PaperangInner(0x19, 0x03, {}));
    Bytes row(52, 0x0F);
    Put(b, PaperangFrame(PaperangRow(0, row.data(), 52)));
    size_t second = b.size();
    Put(b, PaperangFrame(PaperangRow(1, row.data(), 48)));
    DecodeResult r = Decode(b);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errorOffset, second + 9 + 5);
    EXPECT_NE(r.expected.find("as in the page's first row"), std::string::npos) << r.expected;
}

} // namespace
} // namespace qf::preview::test
