// The TSPL encoder as a function: the planes are read, never changed, in
// either bitmap form, and the same inputs give the same label; the lines
// that the media kind and the page's size and resolution choose.
#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>

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

// The lines of a 32 x 3 label at 203 dpi from a settings record that sends
// no DENSITY line, split where the settings put theirs.
const std::vector<std::string> kSize = {"SIZE 4.00 mm,0.38 mm"};
const std::vector<std::string> kRibbon = {"SET RIBBON OFF"};
const std::vector<std::string> kPlace = {"REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET 0 dot"};
const std::vector<std::string> kSetc = {"SETC AUTODOTTED OFF", "SETC PAUSEKEY ON", "SETC WATERMARK ON", "CLS"};

// Every setting a label carries, each in its line and place, exact bytes.
TEST(TsplEncoder, LabelLinesBySetting)
{
    const Black blackDots = [](unsigned x, unsigned y) { return (x * 3 + y) % 5 == 0; };
    const Black redDots = [](unsigned x, unsigned y) { return (x + y) % 4 == 1; };
    const CxImage black = PreparedPage(32, 3, blackDots), red = PreparedPage(64, 2, redDots);
    const ByteVec blackBits = Storage(black), redBits = Storage(red);
    const ByteVec blackZ = Zlib(Inverted(blackBits)), redZ = Zlib(Inverted(redBits));
    auto bitmap = [](const std::string &head, const ByteVec &data) { return Cat({Bytes(head), data, Bytes("\r\n")}); };
    const ByteVec plainEnd = Cat({bitmap("BITMAP 0,0,4,3,1,", blackBits), Lines({"PRINT 1,1"})});
    auto label = [&](std::initializer_list<std::vector<std::string>> parts) {
        return Cat({Lines(Join(parts)), plainEnd});
    };
    auto post = [](const char *peel, const char *cutter, const char *partial, const char *tear) {
        return std::vector<std::string>{std::string("SET PEEL ") + peel, std::string("SET CUTTER ") + cutter,
                                        std::string("SET PARTIAL_CUTTER ") + partial, std::string("SET TEAR ") + tear};
    };
    struct Case {
        const char *name;
        std::function<void(tagREGSTRUCT &, int &, std::string &)> setup;
        ByteVec expected;
        bool twoColour = false;
    };
    const std::vector<Case> cases = {
        {"defaults", [](auto &, auto &, auto &) {}, label({kSize, kRibbon, kPlace, kSetc})},
        {"ribbon", [](auto &r, auto &, auto &) { r.iPrinttype = 1; }, label({kSize, {"SET RIBBON ON"}, kPlace, kSetc})},
        {"print type 2: no ribbon line", [](auto &r, auto &, auto &) { r.iPrinttype = 2; },
         label({kSize, kPlace, kSetc})},
        {"tear", [](auto &r, auto &, auto &) { r.iPostAction = 1; },
         label({kSize, kRibbon, post("OFF", "FALSE", "OFF", "ON"), kPlace, kSetc})},
        {"cutter after every label", [](auto &r, auto &, auto &) { r.iPostAction = 2; },
         label({kSize, kRibbon, post("OFF", "1", "OFF", "OFF"), kPlace, kSetc})},
        {"peel", [](auto &r, auto &, auto &) { r.iPostAction = 3; },
         label({kSize, kRibbon, post("ON", "FALSE", "OFF", "OFF"), kPlace, kSetc})},
        {"partial cutter after every label", [](auto &r, auto &, auto &) { r.iPostAction = 4; },
         label({kSize, kRibbon, post("OFF", "FALSE", "1", "OFF"), kPlace, kSetc})},
        {"post action 5: no SET lines", [](auto &r, auto &, auto &) { r.iPostAction = 5; },
         label({kSize, kRibbon, kPlace, kSetc})},
        // Millimetres to dots: add 0.5, truncate toward zero (-23.98 + 0.5 -> -23).
        {"reference", [](auto &r, auto &, auto &) { r.fReference[0] = 2, r.fReference[1] = -3; },
         label({kSize, kRibbon, {"REFERENCE 16,-23", "GAP 0 dot,0 dot", "OFFSET 0 dot"}, kSetc})},
        {"stop position", [](auto &r, auto &, auto &) { r.iOffset = -3; },
         label({kSize, kRibbon, {"REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET -23 dot"}, kSetc})},
        {"stop position at 300 dpi",
         [](auto &r, int &dpi, auto &) {
             r.iOffset = 10;
             dpi = 300;
         },
         label({{"SIZE 2.71 mm,0.25 mm"}, kRibbon, {"REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET 118 dot"}, kSetc})},
        {"gap and its offset",
         [](auto &r, auto &, auto &) {
             r.iMediaType = kMediaGap;
             r.fGap = 3;
             r.fGapOffset = 1.5f;
         },
         label({kSize, kRibbon, {"REFERENCE 0,0", "GAP 24 dot,12 dot", "OFFSET 0 dot"}, kSetc})},
        {"black mark of 3 mm, 2 mm on",
         [](auto &r, auto &, auto &) {
             r.iMediaType = kMediaBLine;
             r.fGap = 3;
             r.fGapOffset = 2;
         },
         label({kSize, kRibbon, {"REFERENCE 0,0", "BLINE 24 dot,16 dot", "OFFSET 0 dot"}, kSetc})},
        {"black mark lengths in whole millimetres",
         [](auto &r, auto &, auto &) {
             r.iMediaType = kMediaBLine;
             r.fGap = 3.9f;
             r.fGapOffset = -2.9f;
         },
         label({kSize, kRibbon, {"REFERENCE 0,0", "BLINE 24 dot,-15 dot", "OFFSET 0 dot"}, kSetc})},
        {"black mark beyond the int range stays defined",
         [](auto &r, auto &, auto &) {
             r.iMediaType = kMediaBLine;
             r.fGap = 3e9f;
             r.fGapOffset = -3e9f;
         },
         label({kSize, kRibbon, {"REFERENCE 0,0", "BLINE 2147483647 dot,-2147483648 dot", "OFFSET 0 dot"}, kSetc})},
        {"darkness 0", [](auto &r, auto &, auto &) { r.iDensity = 0; },
         label({kSize, kRibbon, kPlace, {"DENSITY 0"}, kSetc})},
        {"darkness 15 then speed 12",
         [](auto &r, auto &, auto &) {
             r.iDensity = 15;
             r.iSpeed = 12;
         },
         label({kSize, kRibbon, kPlace, {"DENSITY 15", "SPEED 12"}, kSetc})},
        {"speed 1", [](auto &r, auto &, auto &) { r.iSpeed = 1; }, label({kSize, kRibbon, kPlace, {"SPEED 1"}, kSetc})},
        {"speed 0 sends 4", [](auto &r, auto &, auto &) { r.iSpeed = 0; },
         label({kSize, kRibbon, kPlace, {"SPEED 4"}, kSetc})},
        {"speed 13 sends 4", [](auto &r, auto &, auto &) { r.iSpeed = 13; },
         label({kSize, kRibbon, kPlace, {"SPEED 4"}, kSetc})},
        {"dotted line, no pause key or watermark",
         [](auto &r, auto &, auto &) {
             r.iDottedline = true;
             r.bPauseKey = r.bWaterMark = false;
         },
         label({kSize, kRibbon, kPlace, {"SETC AUTODOTTED ON", "SETC PAUSEKEY OFF", "SETC WATERMARK OFF", "CLS"}})},
        {"SETC left out", [](auto &r, auto &, auto &) { r.bSendSetc = false; },
         label({kSize, kRibbon, kPlace, {"CLS"}})},
        {"the one model that prints with SFAYPRINT", [](auto &, auto &, std::string &m) { m = "do-zidivoz"; },
         Cat({Lines(Join({kSize, kRibbon, kPlace, kSetc})), bitmap("BITMAP 0,0,4,3,1,", blackBits),
              Lines({"SFAYPRINT 1,1"})})},
        {"its name in capitals is another model", [](auto &, auto &, std::string &m) { m = "DO-ZIDIVOZ"; },
         label({kSize, kRibbon, kPlace, kSetc})},
        {"compressed", [](auto &r, auto &, auto &) { r.bImageCompress = true; },
         Cat({Lines(Join({kSize, kRibbon, kPlace, kSetc})),
              bitmap("BITMAP 0,0,4,3,3," + std::to_string(blackZ.size()) + ",", blackZ), Lines({"PRINT 1,1"})})},
        {"two colour: each plane with its own size", [](auto &, auto &, auto &) {},
         Cat({Lines(Join({kSize, kRibbon, kPlace, kSetc, {"SETCOLOR RED 8"}})), bitmap("BITMAP 0,0,8,2,1,", redBits),
              Lines({"SETCOLOR BLACK"}), plainEnd}),
         true},
        {"two colour compressed", [](auto &r, auto &, auto &) { r.bImageCompress = true; },
         Cat({Lines(Join({kSize, kRibbon, kPlace, kSetc, {"SETCOLOR RED 8"}})),
              bitmap("BITMAP 0,0,8,2,3," + std::to_string(redZ.size()) + ",", redZ), Lines({"SETCOLOR BLACK"}),
              bitmap("BITMAP 0,0,4,3,3," + std::to_string(blackZ.size()) + ",", blackZ), Lines({"PRINT 1,1"})}),
         true},
    };
    for (const Case &c : cases) {
        tagREGSTRUCT reg;
        reg.iDensity = -1; // as from a PPD without Darkness
        int dpi = 203;
        std::string model = "Label";
        c.setup(reg, dpi, model);
        NS_QV_CLASS::CMyBuffer out;
        tspl::EncodePage(black, c.twoColour ? &red : nullptr, reg, dpi, model, out, compress,
                         [](const std::string &) {});
        const auto *p = reinterpret_cast<const uint8_t *>(out.GetBuffer());
        const ByteVec got(p, p + out.GetBufferLength());
        EXPECT_EQ(got, c.expected) << c.name << "\n" << Printable(got, 400);
    }
}

} // namespace
