// Paperang renderer: CRC table and keyed CRC against zlib, frame layout, the
// commands, one frame per row and the page sequence by media type.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "PrinterPaperang.h"
#include "PrinterTestKit.h"

namespace {

using namespace paperang;
using TestPaperang = CapturingRenderer<CPrinterPaperang>;

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 3 + y * 5) % 7) < 2;
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
    std::vector<ByteVec> inputs = {{}, {0x00}, {0xFF}, {0x05, 0x19, 0x03, 0x00, 0x00}, ByteVec(1000, 0xAB)};
    for (int i = 0; i < 200; ++i) {
        ByteVec b(rng() % 300);
        for (uint8_t &x : b)
            x = uint8_t(rng());
        inputs.push_back(b);
    }
    for (const ByteVec &in : inputs)
        EXPECT_EQ(r.MakeCrc32(in.data(), unsigned(in.size())), Crc(in)) << in.size();
    // The empty command leaves the key itself.
    EXPECT_EQ(r.MakeCrc32(nullptr, 0), kCrcKey);
}

TEST(PaperangCommands, BuildersFrameTheirInnerCommand)
{
    struct Case {
        const char *name;
        std::function<void(TestPaperang &)> build;
        ByteVec expected;
    };
    const std::vector<Case> cases = {
        // Literal frames, CRC bytes included.
        {"begin",
         [](TestPaperang &r) { r.cmdBeginPrinting(); },
         {0xA5, 0x01, 0x05, 0x00, 0x05, 0x19, 0x03, 0x00, 0x00, 0x57, 0x1F, 0xE7, 0xA5, 0x5A}},
        {"end",
         [](TestPaperang &r) { r.cmdEndPrinting(); },
         {0xA5, 0x01, 0x05, 0x00, 0x05, 0x1A, 0x03, 0x00, 0x00, 0xB9, 0xB0, 0x52, 0xB7, 0x5A}},
        {"locate 300",
         [](TestPaperang &r) { r.cmdPaperLocate(300); },
         {0xA5, 0x01, 0x09, 0x00, 0x05, 0x21, 0x01, 0x04, 0x00, 0x2C, 0x01, 0x00, 0x00, 0x40, 0x5F, 0x67, 0x66, 0x5A}},
        {"feed 0",
         [](TestPaperang &r) { r.cmdFeed(0); },
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
        ByteVec inner(size_t(n), 0x5C);
        TestPaperang r;
        r.cmdChildClassPackage(inner.data(), n);
        const ByteVec got = r.Built();
        if (n <= 65535) {
            ASSERT_EQ(got.size(), size_t(n) + 9);
            EXPECT_EQ(got[2], 0xFF);
            EXPECT_EQ(got[3], 0xFF);
            EXPECT_EQ(Unframe(got), std::vector<ByteVec>{inner});
        } else {
            EXPECT_TRUE(got.empty()) << n;
        }
    }
}

// One write per page; the frames by media type are the encoder's
// (PaperangEncoderTest).
TEST(PaperangPage, SequenceByMediaType)
{
    auto black = Pattern;
    const ByteVec row0 = StoredRow(384, 0, black);
    const ByteVec row1 = StoredRow(384, 1, black);
    struct Case {
        int media;
        std::vector<ByteVec> inners;
    };
    const std::vector<Case> cases = {
        {0, {kBegin, RowInner(0, row0), RowInner(1, row1), kEnd, kFeed0}},
        {3, {kBegin, PaperType(3), RowInner(0, row0), RowInner(1, row1), kEnd, kLocate300}},
    };
    for (const Case &c : cases) {
        TestPaperang r;
        r.m_Reg.iMediaType = c.media;
        r.m_Image = PreparedPage(384, 2, black);
        r.OnPaintBmp();
        ASSERT_EQ(r.writes.size(), 1u) << c.media;
        ByteVec expected;
        for (const ByteVec &inner : c.inners)
            expected = Cat({expected, Frame(inner)});
        EXPECT_EQ(r.writes[0], expected) << c.media;
        EXPECT_EQ(r.m_CmdBuffer.GetBufferLength(), 0);
    }
}

TEST(PaperangPage, HeightZero)
{
    struct Case {
        int media;
        std::vector<ByteVec> inners;
    };
    const std::vector<Case> cases = {
        {0, {kBegin, kEnd, kFeed0}},
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

TEST(PaperangPage, PacketIndexRestartsEveryPage)
{
    TestPaperang r;
    r.m_Reg.iMediaType = 6;
    for (int page = 0; page < 2; ++page) {
        r.m_Image = PreparedPage(8, 3, Pattern);
        r.OnPaintBmp();
    }
    ASSERT_EQ(r.writes.size(), 2u);
    for (const ByteVec &page : r.writes) {
        const std::vector<ByteVec> inners = Unframe(page);
        ASSERT_EQ(inners.size(), 5u);
        for (unsigned y = 0; y < 3; ++y)
            EXPECT_EQ(inners[1 + y], RowInner(y, StoredRow(8, y, Pattern)));
    }
}

// The family's own row limit is far beyond the widest page the page check
// lets through: that page goes out whole.
TEST(PaperangPage, WidestPageThePageCheckTakesPrintsWhole)
{
    TestPaperang r;
    r.m_Reg.iMediaType = kMediaRecording;
    r.m_Image = PreparedPage(20000, 1, Pattern);
    testing::internal::CaptureStderr();
    r.OnPaintBmp();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(r.writes.size(), 1u);
    EXPECT_EQ(Unframe(r.writes[0]), (std::vector<ByteVec>{kBegin, RowInner(0, StoredRow(20000, 0, Pattern)), kEnd}));
}

} // namespace
