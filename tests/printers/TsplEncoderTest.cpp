// The TSPL encoder as a function: the planes are read, never changed, in
// either bitmap form, and the same inputs give the same label.
#include <gtest/gtest.h>

#include "PrinterTestKit.h"
#include "TsplEncoder.h"

namespace {

ByteVec Encoded(const CxImage &black, const CxImage *red, const tagREGSTRUCT &reg)
{
    NS_QV_CLASS::CMyBuffer out;
    tspl::EncodePage(black, red, reg, 203, "Label", out, compress, [](const std::string &) {});
    const auto *p = reinterpret_cast<const uint8_t *>(out.GetBuffer());
    return ByteVec(p, p + out.GetBufferLength());
}

TEST(TsplEncoder, PlanesAreReadOnlyAndTheLabelRepeats)
{
    const CxImage black = PreparedPage(40, 6, [](unsigned x, unsigned y) { return (x * y) % 5 == 1; });
    const CxImage red = PreparedPage(40, 6, [](unsigned x, unsigned) { return x % 7 == 0; });
    const ByteVec blackBefore = Storage(black), redBefore = Storage(red);
    for (bool compress : {false, true}) {
        tagREGSTRUCT reg;
        reg.bImageCompress = compress;
        const ByteVec first = Encoded(black, &red, reg);
        EXPECT_EQ(Encoded(black, &red, reg), first) << compress;
        EXPECT_EQ(Storage(black), blackBefore) << compress;
        EXPECT_EQ(Storage(red), redBefore) << compress;
    }
}

} // namespace
