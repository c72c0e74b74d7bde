// The ESC/POS encoder as a function: the page is read, never changed, and a
// receipt's later pages carry only their rows; the alignment, the mode byte
// and the row width that a page's settings and size choose.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EscPosEncoder.h"
#include "PrinterTestKit.h"

namespace {

ByteVec Encoded(const CxImage &page, const tagREGSTRUCT &reg, bool receiptStarted)
{
    NS_QV_CLASS::CMyBuffer out;
    escpos::EncodePage(page, reg, 203, receiptStarted, out);
    const auto *p = reinterpret_cast<const uint8_t *>(out.GetBuffer());
    return ByteVec(p, p + out.GetBufferLength());
}

TEST(EscPosEncoder, PageIsReadOnlyAndReceiptPagesAfterTheFirstAreRowsOnly)
{
    const Black black = [](unsigned x, unsigned y) { return (x + y) % 3 == 0; };
    const CxImage page = PreparedPage(20, 4, black);
    const ByteVec before = Storage(page);
    const ByteVec rows = PrinterRows(20, 4, black);

    tagREGSTRUCT reg;
    EXPECT_EQ(Encoded(page, reg, false), Cat({escpos::kInit, escpos::kCentre, escpos::RasterHead(0, 3, 4), rows}));
    EXPECT_EQ(Storage(page), before);

    reg.bReceipt = true;
    EXPECT_EQ(Encoded(page, reg, true), Cat({escpos::RasterHead(0, 3, 4), rows}));
    EXPECT_TRUE(Encoded(PreparedPage(20, 4, [](unsigned, unsigned) { return false; }), reg, true).empty());
}

TEST(EscPosEncoder, AlignmentModeAndRowWidthByPage)
{
    const Black black = [](unsigned x, unsigned y) { return x == 384 || (x * 7 + y * 3) % 11 < 4; };
    struct Case {
        const char *name;
        unsigned width;
        int dpi, align;
        ByteVec start; // ESC a and the GS v 0 head
    };
    const Case cases[] = {
        {"left", 24, 203, 0, Cat({{0x1B, 0x61, 0x00}, escpos::RasterHead(0, 3, 3)})},
        {"right", 24, 203, 2, Cat({{0x1B, 0x61, 0x02}, escpos::RasterHead(0, 3, 3)})},
        {"100 dpi doubles the dots", 24, 100, 1, Cat({escpos::kCentre, escpos::RasterHead(3, 3, 3)})},
        // The last byte holds the 385th dot alone.
        {"odd width keeps its last dot", 385, 203, 1, Cat({escpos::kCentre, escpos::RasterHead(0, 49, 3)})},
    };
    for (const Case &c : cases) {
        tagREGSTRUCT reg;
        reg.iAlign = c.align;
        NS_QV_CLASS::CMyBuffer out;
        escpos::EncodePage(PreparedPage(c.width, 3, black), reg, c.dpi, false, out);
        const auto *p = reinterpret_cast<const uint8_t *>(out.GetBuffer());
        EXPECT_EQ(ByteVec(p, p + out.GetBufferLength()), Cat({escpos::kInit, c.start, PrinterRows(c.width, 3, black)}))
            << c.name;
    }
}

const ByteVec kDrawer = {0x1B, 0x70, 0x00, 0xFF, 0xFF};
const ByteVec kFullCut = {0x1D, 0x56, 0x30};
const ByteVec kPartialCut = {0x1D, 0x56, 0x31};

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 7 + y * 3) % 11) < 4;
}

ByteVec Bytes(const NS_QV_CLASS::CMyBuffer &out)
{
    const auto *p = reinterpret_cast<const uint8_t *>(out.GetBuffer());
    return ByteVec(p, p + out.GetBufferLength());
}

// A page of its own (not a receipt): the drawer pulse before or after it,
// the feed after it, the cut after it or at the end of the job.
TEST(EscPosEncoder, CutDrawerAndFeedOfAPage)
{
    const ByteVec raster = Cat({escpos::RasterHead(0, 2, 2), PrinterRows(16, 2, Pattern)});
    const ByteVec start = Cat({escpos::kInit, escpos::kCentre}), feed = escpos::Feed(0x50); // 10 mm
    struct Case {
        int moneyBox, cutMode;
        ByteVec page, jobEnd;
    };
    const Case cases[] = {
        {0, 0, Cat({start, raster, feed}), {}},
        {1, 0, Cat({kDrawer, start, raster, feed}), {}},
        {2, 0, Cat({start, raster, feed, kDrawer}), {}},
        {3, 0, Cat({start, raster, feed}), {}},
        {0, 1, Cat({start, raster, feed}), kFullCut},
        {0, 2, Cat({start, raster, feed}), kPartialCut},
        {0, 3, Cat({start, raster, feed, kFullCut}), {}},
        {0, 4, Cat({start, raster, feed, kPartialCut}), {}},
        {0, 5, Cat({start, raster, feed}), {}},
        {2, 3, Cat({start, raster, feed, kFullCut, kDrawer}), {}},
        {1, 4, Cat({kDrawer, start, raster, feed, kPartialCut}), {}},
        {1, 1, Cat({kDrawer, start, raster, feed}), kFullCut},
    };
    for (const Case &c : cases) {
        tagREGSTRUCT reg;
        reg.iMoneyBox = c.moneyBox;
        reg.iCutMode = c.cutMode;
        reg.fFeedAfter = 10;
        NS_QV_CLASS::CMyBuffer page, end;
        escpos::EncodePage(PreparedPage(16, 2, Pattern), reg, 203, false, page);
        escpos::EncodeJobEnd(reg, 203, false, end);
        EXPECT_EQ(Bytes(page), c.page) << c.moneyBox << "/" << c.cutMode;
        EXPECT_EQ(Bytes(end), c.jobEnd) << c.moneyBox << "/" << c.cutMode;
    }
}

// ESC J feeds at most 255 dots: a longer feed is several commands, and no
// command of 0 dots follows a whole multiple.
TEST(EscPosEncoder, FeedAfterThePageInCommandsOfAtMost255Dots)
{
    using escpos::Feed;
    struct Case {
        int dpi;
        float mm;
        ByteVec feed;
    };
    const Case cases[] = {
        {203, 10, Feed(0x50)},                       // 79.92 dots
        {203, 40, Cat({Feed(0xFF), Feed(0x41)})},    // 319.69 dots
        {254, 25.4f, Feed(0xFE)},                    // 254
        {254, 25.5f, Feed(0xFF)},                    // 255: one command
        {254, 25.6f, Cat({Feed(0xFF), Feed(0x01)})}, // 256
        {254, 51.0f, Cat({Feed(0xFF), Feed(0xFF)})}, // 510
        {254, 76.6f, Cat({Feed(0xFF), Feed(0xFF), Feed(0xFF), Feed(0x01)})},
        {203, 0.01f, Feed(0x00)}, // under half a dot
        {203, 0, {}},
        {203, -2, {}}, // never a backward feed
    };
    for (const Case &c : cases) {
        tagREGSTRUCT reg;
        reg.fFeedAfter = c.mm;
        NS_QV_CLASS::CMyBuffer out;
        escpos::EncodePage(PreparedPage(8, 1, Pattern), reg, c.dpi, false, out);
        const ByteVec head =
            Cat({escpos::kInit, escpos::kCentre, escpos::RasterHead(0, 1, 1), PrinterRows(8, 1, Pattern)});
        EXPECT_EQ(Bytes(out), Cat({head, c.feed})) << c.mm << " mm at " << c.dpi << " dpi";
    }
}

// Receipt mode: one ESC @ per job, each page's rows down to its last printed
// one in bands of BandRows, nothing for a white page, the drawer once, and
// the feed to the cutter before a cut.
TEST(EscPosEncoder, ReceiptPagesBandsAndTheEndOfTheReceipt)
{
    auto page = [](unsigned ink) {
        return PreparedPage(16, 6, [ink](unsigned x, unsigned y) { return y < ink && Pattern(x, y); });
    };
    const ByteVec rows = PrinterRows(16, 6, Pattern);
    auto band = [&](unsigned from, unsigned to) {
        return Cat({escpos::RasterHead(0, 2, to - from), Slice(rows, from * 2, to * 2)});
    };
    const ByteVec start = Cat({escpos::kInit, escpos::kCentre});
    const ByteVec end = Cat({escpos::Feed(96), kFullCut}); // 12 mm at 203 dpi
    struct Case {
        const char *name;
        int cutMode, moneyBox, bandRows;
        std::vector<unsigned> inkRows; // per page; 0 = a white page
        std::vector<ByteVec> pieces;   // each page's, then the end of job's (empty ones left out)
    };
    const std::vector<Case> cases = {
        {"end cut", 1, 0, 256, {3, 5}, {Cat({start, band(0, 3)}), band(0, 5), end}},
        {"bands", 1, 0, 4, {6}, {Cat({start, band(0, 4), band(4, 6)}), end}},
        {"band rows held to 1", 0, 0, 0, {2}, {Cat({start, band(0, 1), band(1, 2)})}},
        {"white page adds nothing",
         2,
         0,
         256,
         {0, 2, 0},
         {Cat({start, band(0, 2)}), Cat({escpos::Feed(96), kPartialCut})}},
        {"cut after every page", 3, 0, 256, {4, 1}, {Cat({start, band(0, 4), end}), Cat({band(0, 1), end})}},
        {"partial cut after every page", 4, 0, 256, {1}, {Cat({start, band(0, 1), escpos::Feed(96), kPartialCut})}},
        {"drawer before, once", 0, 1, 256, {1, 1}, {Cat({kDrawer, start, band(0, 1)}), band(0, 1)}},
        {"drawer after the cut", 1, 2, 256, {6}, {Cat({start, band(0, 6)}), Cat({end, kDrawer})}},
        {"blank job: drawer, no cut", 1, 1, 256, {0}, {kDrawer}},
        {"blank job: nothing", 1, 0, 256, {0, 0}, {}},
    };
    for (const Case &c : cases) {
        tagREGSTRUCT reg;
        reg.bReceipt = true;
        reg.fCutterFeed = 12;
        reg.iCutMode = c.cutMode;
        reg.iMoneyBox = c.moneyBox;
        reg.iBandRows = c.bandRows;
        std::vector<ByteVec> pieces;
        bool started = false;
        for (unsigned ink : c.inkRows) {
            NS_QV_CLASS::CMyBuffer out;
            escpos::EncodePage(page(ink), reg, 203, started, out);
            if (out.GetBufferLength() > 0) {
                pieces.push_back(Bytes(out));
                started = true;
            }
        }
        NS_QV_CLASS::CMyBuffer out;
        escpos::EncodeJobEnd(reg, 203, started, out);
        if (out.GetBufferLength() > 0)
            pieces.push_back(Bytes(out));
        EXPECT_EQ(pieces, c.pieces) << c.name;
    }
}

// GS v 0 counts rows in 16 bits: a taller page goes out in bands of 65535
// rows, one after the other with nothing between them.
TEST(EscPosEncoder, TallPageInBandsOf65535Rows)
{
    const Black stripes = [](unsigned x, unsigned y) { return (x + y) % 3 == 0; };
    const CxImage page = PreparedPage(8, 65537, stripes);
    const ByteVec rows = PrinterRows(8, 65537, stripes);
    NS_QV_CLASS::CMyBuffer out;
    escpos::EncodePage(page, tagREGSTRUCT(), 203, false, out);
    EXPECT_EQ(Bytes(out), Cat({escpos::kInit, escpos::kCentre, escpos::RasterHead(0, 1, 65535), Slice(rows, 0, 65535),
                               escpos::RasterHead(0, 1, 2), Slice(rows, 65535, 65537)}));
}

} // namespace
