// Every encoder reserves its page at the exact size before appending: the
// command buffer grows once, to the page's length, whatever the family, the
// page's shape and the settings that add commands around the rows. A page
// that outgrows its reservation grows the buffer on every later append,
// which is quadratic where the allocator cannot grow in place.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "CatEncoder.h"
#include "CpclEncoder.h"
#include "EscPosEncoder.h"
#include "PaperangEncoder.h"
#include "PeriPageEncoder.h"
#include "PrinterTestKit.h"
#include "TsplEncoder.h"

namespace {

using NS_QV_CLASS::CMyBuffer;

// Irregular enough that zlib can't squeeze a page below the buffer's first
// storage of 1024 bytes.
bool Noise(unsigned x, unsigned y)
{
    uint32_t v = (x * 2654435761u) ^ (y * 40503u + 0x9E37u);
    v ^= v >> 13;
    v *= 0x5BD1E995u;
    return (v >> 15) & 1;
}

enum Family { kTspl, kTsplTwoColour, kEscPos, kEscPosContinued, kCpcl, kPaperang, kPeriPage, kCat, kCatMxw01 };

void Encode(Family family, const CxImage &page, const tagREGSTRUCT &reg, CMyBuffer &out)
{
    const auto trace = [](const std::string &) {};
    switch (family) {
    case kTspl:
        tspl::EncodePage(page, nullptr, reg, 203, "Label", out, compress, trace);
        break;
    case kTsplTwoColour:
        tspl::EncodePage(page, &page, reg, 203, "Label", out, compress, trace);
        break;
    case kEscPos:
        escpos::EncodePage(page, reg, 203, false, out);
        break;
    case kEscPosContinued:
        escpos::EncodePage(page, reg, 203, true, out);
        break;
    case kCpcl:
        cpcl::EncodePage(page, reg, 203, out);
        break;
    case kPaperang:
        paperang::EncodePage(page, reg, out, trace);
        break;
    case kPeriPage:
        peripage::EncodePage(page, reg, 203, out);
        break;
    case kCat:
    case kCatMxw01:
        cat::EncodePage(page, reg, 203, cat::ModelFor(family == kCat ? "GB01" : "MXW01"), out);
        break;
    }
}

struct Case {
    const char *name;
    Family family;
    unsigned width, height;
    std::function<void(tagREGSTRUCT &)> settings;
};

void Defaults(tagREGSTRUCT &) {}

TEST(EncoderReservation, PageGrowsTheBufferOnceToItsExactLength)
{
    const Case cases[] = {
        {"TSPL label", kTspl, 384, 240, Defaults},
        {"TSPL tall narrow label", kTspl, 8, 3000, Defaults},
        {"TSPL compressed, every line", kTspl, 384, 240,
         [](tagREGSTRUCT &r) {
             r.bImageCompress = true;
             r.iPostAction = 2;
             r.iMediaType = kMediaBLine;
             r.iSpeed = 3;
             r.fReference[0] = -12;
         }},
        {"TSPL two colours", kTsplTwoColour, 200, 100, Defaults},
        {"TSPL two colours compressed", kTsplTwoColour, 200, 100, [](tagREGSTRUCT &r) { r.bImageCompress = true; }},
        {"ESC/POS page", kEscPos, 384, 60, Defaults},
        {"ESC/POS bands, feeds over 255 dots, cut, drawers", kEscPos, 384, 100,
         [](tagREGSTRUCT &r) {
             r.iBandRows = 7;
             r.fFeedAfter = 64;
             r.fCutterFeed = 32;
             r.iCutMode = 3;
             r.iMoneyBox = 2;
         }},
        {"ESC/POS feed of whole ESC J steps", kEscPos, 384, 60,
         [](tagREGSTRUCT &r) {
             r.iUnit = 3; // dots
             r.fFeedAfter = 510;
             r.iMoneyBox = 1;
         }},
        {"ESC/POS receipt continued", kEscPosContinued, 384, 60,
         [](tagREGSTRUCT &r) {
             r.bReceipt = true;
             r.iCutMode = 4;
         }},
        {"ESC/POS tall narrow page", kEscPos, 8, 3000, Defaults},
        {"CPCL label", kCpcl, 384, 60, Defaults},
        {"CPCL gap label, offset reference", kCpcl, 8, 3000,
         [](tagREGSTRUCT &r) {
             r.iMediaType = kMediaGap;
             r.fReference[0] = 25;
         }},
        {"Paperang roll", kPaperang, 384, 60, [](tagREGSTRUCT &r) { r.iMediaType = kMediaRoll; }},
        {"Paperang perforated", kPaperang, 384, 60, [](tagREGSTRUCT &r) { r.iMediaType = kMediaPerforated; }},
        {"Paperang tall narrow gap labels", kPaperang, 8, 3000, [](tagREGSTRUCT &r) { r.iMediaType = kMediaGap; }},
        {"PeriPage page", kPeriPage, 384, 60, Defaults},
        {"PeriPage compressed, fed before and after", kPeriPage, 384, 60,
         [](tagREGSTRUCT &r) {
             r.bImageCompress = true;
             r.fFeedBefore = 40;
             r.fFeedAfter = 3;
             r.iMediaType = kMediaGap;
             r.iDensity = -1;
         }},
        {"PeriPage roll in bands", kPeriPage, 384, 60,
         [](tagREGSTRUCT &r) {
             r.iBandRows = 16;
             r.iMediaType = kMediaRoll;
         }},
        {"PeriPage tall narrow page", kPeriPage, 8, 3000, Defaults},
        {"Cat printer page, fed after", kCat, 384, 60, [](tagREGSTRUCT &r) { r.fFeedAfter = 20; }},
        {"Cat printer tall narrow page", kCat, 8, 3000, Defaults},
        {"MXW01 short page", kCatMxw01, 384, 10, Defaults},
        {"MXW01 page, fed after", kCatMxw01, 384, 60, [](tagREGSTRUCT &r) { r.fFeedAfter = 20; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const CxImage page = PreparedPage(c.width, c.height, Noise);
        tagREGSTRUCT reg;
        c.settings(reg);
        CMyBuffer out;
        const int growths = out.GetGrowthCount();
        Encode(c.family, page, reg, out);
        ASSERT_GT(out.GetBufferLength(), 1024) << "the page fits the buffer's first storage and shows nothing";
        EXPECT_EQ(out.GetGrowthCount() - growths, 1);
        EXPECT_EQ(out.GetBufferSize(), out.GetBufferLength());
    }
}

} // namespace
