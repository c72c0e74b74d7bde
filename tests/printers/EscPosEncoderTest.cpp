// The ESC/POS encoder as a function: the page is read, never changed, and a
// receipt's later pages carry only their rows; the alignment, the mode byte
// and the row width that a page's settings and size choose.
#include <gtest/gtest.h>

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

} // namespace
