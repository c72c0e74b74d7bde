// The PeriPage encoder as a function: where the feed after a page goes, and
// the plain raster's full rows.
#include <gtest/gtest.h>

#include "PeriPageEncoder.h"
#include "PrinterTestKit.h"

namespace {

using namespace peripage;

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 5 + y * 3) % 13) < 4;
}

ByteVec Encoded(const CxImage &page, const tagREGSTRUCT &reg)
{
    NS_QV_CLASS::CMyBuffer out;
    EncodePage(page, reg, 203, out);
    const auto *p = reinterpret_cast<const uint8_t *>(out.GetBuffer());
    return ByteVec(p, p + out.GetBufferLength());
}

// After the feed to the next mark, before the cut line.
TEST(PeriPageEncoder, FeedAfterThePageByMedia)
{
    const ByteVec feed = {0x1B, 0x4A, 0x50}; // 10 mm at 203 dpi
    struct Case {
        int media;
        ByteVec paper, tail;
    };
    const Case cases[] = {
        {kMediaBLine, Paper(0x00), Cat({kToMark, feed, kEnd})},
        {kMediaRoll, Paper(0x01), Cat({feed, kCutLine, kEnd})},
    };
    for (const Case &c : cases) {
        tagREGSTRUCT reg;
        reg.iDensity = -1;
        reg.iMediaType = c.media;
        reg.fFeedAfter = 10;
        EXPECT_EQ(Encoded(PreparedPage(16, 3, Pattern), reg),
                  Cat({kWake, c.paper, kEscInit, kCentre, GsV0(2, 3), PrinterRows(16, 3, Pattern), c.tail}))
            << c.media;
    }
}

// Only compressed rows are held to 208 bytes at 203 dpi.
TEST(PeriPageEncoder, PlainRowsAreSentWhole)
{
    tagREGSTRUCT reg;
    reg.iDensity = -1;
    EXPECT_EQ(Encoded(PreparedPage(1728, 4, Pattern), reg), Cat({kWake, Paper(0x01), kEscInit, kCentre, GsV0(216, 4),
                                                                 PrinterRows(1728, 4, Pattern), kCutLine, kEnd}));
}

} // namespace
