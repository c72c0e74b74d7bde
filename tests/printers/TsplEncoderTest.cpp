// The TSPL encoder as a function: the planes are read, never changed, in
// either bitmap form, and the same inputs give the same label; the lines
// that the media kind and the page's size and resolution choose.
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

// A label of the page, from the media kind, at dpi, as the printer gets it.
ByteVec EncodedAt(const CxImage &page, int media, int dpi)
{
    tagREGSTRUCT reg;
    reg.iMediaType = media;
    reg.iDensity = -1; // as from a PPD without Darkness
    NS_QV_CLASS::CMyBuffer out;
    tspl::EncodePage(page, nullptr, reg, dpi, "Label", out, compress, [](const std::string &) {});
    const auto *p = reinterpret_cast<const uint8_t *>(out.GetBuffer());
    return ByteVec(p, p + out.GetBufferLength());
}

TEST(TsplEncoder, SizeSensingAndStrideByPageAndMedia)
{
    struct Case {
        const char *name;
        unsigned width;
        int dpi, media;
        std::vector<std::string> lines; // SIZE to OFFSET
        const char *bitmap;
    };
    const Case cases[] = {
        {"gap labels at 300 dpi",
         320,
         300,
         kMediaGap,
         {"SIZE 27.09 mm,2.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 35 dot,0 dot", "OFFSET 0 dot"},
         "BITMAP 0,0,40,24,1,"},
        {"perforated: no sensing line",
         320,
         203,
         kMediaPerforated,
         {"SIZE 40.04 mm,3.00 mm", "SET RIBBON OFF", "REFERENCE 0,0", "OFFSET 0 dot"},
         "BITMAP 0,0,40,24,1,"},
        {"roll: no sensing line",
         320,
         203,
         kMediaRoll,
         {"SIZE 40.04 mm,3.00 mm", "SET RIBBON OFF", "REFERENCE 0,0", "OFFSET 0 dot"},
         "BITMAP 0,0,40,24,1,"},
        // The size counts dots, the bitmap whole 4-byte words.
        {"300 dots at a 40-byte stride",
         300,
         203,
         kMediaContinuous,
         {"SIZE 37.54 mm,3.00 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET 0 dot"},
         "BITMAP 0,0,40,24,1,"},
    };
    for (const Case &c : cases) {
        const CxImage page = PreparedPage(c.width, 24, [](unsigned x, unsigned y) { return (x + 2 * y) % 7 == 0; });
        std::vector<std::string> lines = c.lines;
        lines.insert(lines.end(), {"SETC AUTODOTTED OFF", "SETC PAUSEKEY ON", "SETC WATERMARK ON", "CLS"});
        EXPECT_EQ(EncodedAt(page, c.media, c.dpi),
                  Cat({Lines(lines), Bytes(c.bitmap), Storage(page), Lines({"", "PRINT 1,1"})}))
            << c.name;
    }
}

} // namespace
