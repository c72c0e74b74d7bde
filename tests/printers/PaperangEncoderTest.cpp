// The Paperang encoder as a function: the frames of a page by media type, one
// row per frame with its packet index, exact bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PaperangEncoder.h"
#include "PrinterTestKit.h"

namespace {

using namespace paperang;

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 3 + y * 5) % 7) < 2;
}

ByteVec Encoded(const CxImage &page, int media)
{
    tagREGSTRUCT reg;
    reg.iMediaType = media;
    NS_QV_CLASS::CMyBuffer out;
    EncodePage(page, reg, out, [](const std::string &) {});
    const auto *p = reinterpret_cast<const uint8_t *>(out.GetBuffer());
    return ByteVec(p, p + out.GetBufferLength());
}

ByteVec Framed(const std::vector<ByteVec> &inners)
{
    ByteVec all;
    for (const ByteVec &inner : inners)
        all = Cat({all, Frame(inner)});
    return all;
}

// Begin, the paper type (perforated and roll paper only), the rows, end,
// then a locate on marked paper or a feed of 0 on rolls.
TEST(PaperangEncoder, FramesOfAPageByMedia)
{
    const ByteVec row0 = StoredRow(384, 0, Pattern), row1 = StoredRow(384, 1, Pattern);
    const ByteVec rows = Cat({Frame(RowInner(0, row0)), Frame(RowInner(1, row1))});
    struct Case {
        int media;
        std::vector<ByteVec> before, after; // inner commands around the rows
    };
    const std::vector<Case> cases = {
        {kMediaContinuous, {kBegin}, {kEnd, kFeed0}},
        {kMediaGap, {kBegin}, {kEnd, kLocate300}},
        {kMediaBLine, {kBegin}, {kEnd, kLocate300}},
        {kMediaPerforated, {kBegin, PaperType(3)}, {kEnd, kLocate300}},
        {kMediaRoll, {kBegin, PaperType(0)}, {kEnd, kFeed0}},
        {kMediaRecording, {kBegin}, {kEnd}},
        {kMediaTattoo, {kBegin}, {kEnd}},
        {kMediaContinuousRoll, {kBegin}, {kEnd}},
        {kMediaA4Fold, {kBegin}, {kEnd}},
    };
    const CxImage page = PreparedPage(384, 2, Pattern);
    const ByteVec before = Storage(page);
    for (const Case &c : cases)
        EXPECT_EQ(Encoded(page, c.media), Cat({Framed(c.before), rows, Framed(c.after)})) << c.media;
    EXPECT_EQ(Storage(page), before);

    // A page without rows still begins and ends.
    EXPECT_EQ(Encoded(CxImage(), kMediaRoll), Framed({kBegin, PaperType(0), kEnd, kFeed0}));
    EXPECT_EQ(Encoded(CxImage(), kMediaGap), Framed({kBegin, kEnd, kLocate300}));
}

// Each row's packet index is its row number; only its low 16 bits are sent.
TEST(PaperangEncoder, PacketIndexIsTheRowNumberModulo65536)
{
    const CxImage page = PreparedPage(8, 65538, Pattern);
    const std::vector<ByteVec> inners = Unframe(Encoded(page, kMediaTattoo));
    ASSERT_EQ(inners.size(), 65538u + 2);
    EXPECT_EQ(inners[0], kBegin);
    for (unsigned y : {0u, 1u, 2u, 65535u})
        EXPECT_EQ(inners[1 + y], RowInner(y, StoredRow(8, y, Pattern))) << y;
    EXPECT_EQ(inners[1 + 65536], RowInner(0, StoredRow(8, 65536, Pattern)));
    EXPECT_EQ(inners[1 + 65537], RowInner(1, StoredRow(8, 65537, Pattern)));
    EXPECT_EQ(inners.back(), kEnd);
}

} // namespace
