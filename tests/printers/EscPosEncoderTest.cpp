// The ESC/POS encoder as a function: the page is read, never changed, and a
// receipt's later pages carry only their rows.
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

} // namespace
