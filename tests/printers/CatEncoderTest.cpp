// The cat printer encoder as a function: CRC-8, every frame, the pages of
// both variants and the notifications, exact bytes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "CatEncoder.h"
#include "PrinterTestKit.h"

namespace {

using cattest::Frame;
using cattest::kLatticeEnd;
using cattest::kLatticeStart;

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 3 + y * 5) % 7) < 2;
}

ByteVec Bytes(const NS_QV_CLASS::CMyBuffer &out)
{
    const auto *p = reinterpret_cast<const uint8_t *>(out.GetBuffer());
    return ByteVec(p, p + out.GetBufferLength());
}

ByteVec Built(const std::function<void(NS_QV_CLASS::CMyBuffer &)> &build)
{
    NS_QV_CLASS::CMyBuffer out;
    build(out);
    return Bytes(out);
}

ByteVec Encoded(const CxImage &page, const tagREGSTRUCT &reg, const char *model)
{
    NS_QV_CLASS::CMyBuffer out;
    cat::EncodePage(page, reg, 203, cat::ModelFor(model), out);
    return Bytes(out);
}

TEST(CatCrc8, KnownValues)
{
    const std::vector<std::pair<ByteVec, uint8_t>> known = {
        {{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0xF4},
        {{}, 0x00},
        {{0x01}, 0x07},
        {{0xFF}, 0xF3},
        {kLatticeStart, 0xA1},
        {kLatticeEnd, 0x11},
    };
    for (const auto &k : known)
        EXPECT_EQ(cat::Crc8(k.first.data(), k.first.size()), k.second) << k.first.size();
}

TEST(CatFrames, ExactBytes)
{
    using namespace cat;
    const Model gb01 = ModelFor("GB01");
    struct Case {
        const char *name;
        std::function<void(NS_QV_CLASS::CMyBuffer &)> build;
        ByteVec expected;
    };
    const std::vector<Case> cases = {
        // Written out, CRC byte included.
        {"quality", [](auto &o) { AddQuality(o, 0x33); }, {0x51, 0x78, 0xA4, 0x00, 0x01, 0x00, 0x33, 0x99, 0xFF}},
        {"energy",
         [&](auto &o) { AddEnergy(o, gb01, 2); },
         {0x51, 0x78, 0xAF, 0x00, 0x02, 0x00, 0x00, 0x20, 0xE0, 0xFF}},
        {"feed 90", [](auto &o) { AddFeed(o, 90); }, {0x51, 0x78, 0xA1, 0x00, 0x02, 0x00, 0x5A, 0x00, 0x8E, 0xFF}},
        {"state request", [](auto &o) { AddStateRequest(o); }, {0x51, 0x78, 0xA3, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF}},
        {"mx intensity",
         [](auto &o) { AddMxIntensity(o, 0x80); },
         {0x22, 0x21, 0xA2, 0x00, 0x01, 0x00, 0x80, 0x89, 0xFF}},
        {"mx flush", [](auto &o) { AddMxFlush(o); }, {0x22, 0x21, 0xAD, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF}},
        // Through the independent frame builder.
        {"feed none below 0", [](auto &o) { AddFeed(o, -5); }, Frame(0xA1, {0x00, 0x00})},
        {"feed held at 16 bits", [](auto &o) { AddFeed(o, 70000); }, Frame(0xA1, {0xFF, 0xFF})},
        {"retract", [](auto &o) { AddRetract(o, 0x1234); }, Frame(0xA0, {0x34, 0x12})},
        {"mx status request", [](auto &o) { AddMxStatusRequest(o); }, Frame(0xA1, {0x00}, true)},
        {"payload too long", [](auto &o) { AddFrame(o, Variant::Classic, 0xA2, ByteVec(65536, 0)); }, {}},
        {"longest payload", [](auto &o) { AddFrame(o, Variant::Classic, 0xA2, ByteVec(65535, 0)); },
         Frame(0xA2, ByteVec(65535, 0))},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Built(c.build), c.expected) << c.name;
}

TEST(CatModels, SettingsToBytes)
{
    using namespace cat;
    const std::vector<std::pair<int, int>> steps = {{-1, 2}, {0, 0}, {1, 0}, {3, 2}, {5, 4}, {15, 4}};
    for (const auto &s : steps)
        EXPECT_EQ(EnergyStep(s.first), s.second) << s.first;
    const std::vector<std::pair<int, uint8_t>> speeds = {{-1, 0x23}, {1, 0x32}, {2, 0x2A}, {3, 0x23}, {12, 0x23}};
    for (const auto &s : speeds)
        EXPECT_EQ(SpeedByte(s.first), s.second) << s.first;
    const std::vector<std::pair<const char *, const char *>> names = {{"gb01", "GB01"},
                                                                      {"MX10", "MX10"},
                                                                      {"Cat Printer MXW01", "MXW01"},
                                                                      {"Cat Printer GB03", "GB03"},
                                                                      {"Cat Printer MX1", "GB01"},
                                                                      {"XMX10", "GB01"},
                                                                      {"", "GB01"},
                                                                      {"Fuzz", "GB01"}};
    for (const auto &n : names)
        EXPECT_STREQ(ModelFor(n.first).name, n.second) << n.first;
    EXPECT_EQ(ModelFor("MXW01").variant, Variant::Mxw01);
    // Darker steps never burn less, on every model.
    for (const Model &m : Models())
        for (int i = 1; i < kEnergySteps; ++i)
            EXPECT_GT(m.energy[i], m.energy[i - 1]) << m.name << " step " << i;
}

// Quality, energy, speed, lattice, one A2 frame per row, lattice end, feed.
// Rows are 48 bytes whatever the page's width.
TEST(CatEncoder, ClassicPage)
{
    tagREGSTRUCT reg;
    reg.iDensity = 5;
    reg.iSpeed = 1;
    reg.fFeedAfter = 10; // 80 dots at 203 dpi
    const ByteVec head =
        Cat({Frame(0xA4, {0x33}), Frame(0xAF, {0x00, 0x30}), Frame(0xBD, {0x32}), Frame(0xA6, kLatticeStart)});
    const ByteVec tail = Cat({Frame(0xA6, kLatticeEnd), Frame(0xA1, Le16(170))});
    for (unsigned width : {384u, 8u, 400u}) {
        const CxImage page = PreparedPage(width, 2, Pattern);
        const ByteVec before = Storage(page);
        EXPECT_EQ(Encoded(page, reg, "GB03"), Cat({head, Frame(0xA2, cattest::Row(width, 0, Pattern)),
                                                   Frame(0xA2, cattest::Row(width, 1, Pattern)), tail}))
            << width;
        EXPECT_EQ(Storage(page), before);
    }
    EXPECT_EQ(Encoded(CxImage(), reg, "GB03"), Cat({head, tail}));
}

// Intensity, the print request for the rows and the tail feed (at least 90
// lines), the lines as bulk blocks, flush.
TEST(CatEncoder, Mxw01Page)
{
    tagREGSTRUCT reg; // Darkness 8: the darkest step
    const ByteVec blank = Frame(0xFE, ByteVec(48, 0), true);
    auto blanks = [&](int n) {
        ByteVec b;
        for (int i = 0; i < n; ++i)
            b = Cat({b, blank});
        return b;
    };
    const CxImage page = PreparedPage(384, 2, Pattern);
    EXPECT_EQ(Encoded(page, reg, "MXW01"),
              Cat({Frame(0xA2, {0xC0}, true), Frame(0xA9, {92, 0x00, 0x30, 0x00}, true),
                   Frame(0xFE, cattest::Row(384, 0, Pattern), true), Frame(0xFE, cattest::Row(384, 1, Pattern), true),
                   blanks(90), Frame(0xAD, {0x00}, true)}));
    reg.iDensity = -1;
    reg.fFeedAfter = -3; // a negative feed is none
    EXPECT_EQ(Encoded(CxImage(), reg, "MXW01"),
              Cat({Frame(0xA2, {0x80}, true), Frame(0xA9, {90, 0x00, 0x30, 0x00}, true), blanks(90),
                   Frame(0xAD, {0x00}, true)}));
    EXPECT_EQ(cat::MxMaxRows(cat::TailRows(reg, 203)), 65535 - 90);
}

TEST(CatNotification, ParsesWholeFramesAndRefusesTheRest)
{
    using cat::NoticeKind;
    struct Case {
        const char *name;
        ByteVec bytes;
        bool ok;
        NoticeKind kind;
        std::string error; // a part of the reason
    };
    const ByteVec pause = {0x51, 0x78, 0xAE, 0x00, 0x01, 0x00, 0x10, 0x70, 0xFF};
    ByteVec badCrc = pause, noEnd = pause, badPreamble = pause;
    badCrc[7] ^= 1;
    noEnd[8] = 0xFE;
    badPreamble[1] = 0x79;
    const std::vector<Case> cases = {
        {"pause", pause, true, NoticeKind::Pause, ""},
        {"resume", Frame(0xAE, {0x00}), true, NoticeKind::Resume, ""},
        {"state", Frame(0xA3, {0x05, 0x00}), true, NoticeKind::State, ""},
        {"mx done", Frame(0xAA, {0x01}, true), true, NoticeKind::Done, ""},
        {"other", Frame(0xB1, {}), true, NoticeKind::Other, ""},
        {"empty", {}, false, NoticeKind::Other, "at least 8"},
        {"short", Slice(pause, 0, 7), false, NoticeKind::Other, "at least 8"},
        {"preamble", badPreamble, false, NoticeKind::Other, "51 78 or 22 21"},
        {"cut short", Slice(pause, 0, 8), false, NoticeKind::Other, "a frame of 9 bytes"},
        {"no FF", noEnd, false, NoticeKind::Other, "FF"},
        {"CRC", badCrc, false, NoticeKind::Other, "CRC-8"},
        {"flow byte", Frame(0xAE, {0x20}), false, NoticeKind::Other, "flow control"},
        {"state without byte", Frame(0xA3, {}), false, NoticeKind::Other, "state byte"},
    };
    for (const Case &c : cases) {
        const cat::Notice n = cat::ParseCatNotification(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(n.ok, c.ok) << c.name << ": " << n.error;
        if (c.ok) {
            EXPECT_EQ(n.kind, c.kind) << c.name;
            EXPECT_EQ(n.payload, Slice(c.bytes, 6, c.bytes.size() - 2)) << c.name;
        } else {
            EXPECT_NE(n.error.find(c.error), std::string::npos) << c.name << ": " << n.error;
        }
    }
    EXPECT_EQ(cat::ParseCatNotification(Frame(0xAA, {}, true).data(), 8).variant, cat::Variant::Mxw01);
    EXPECT_FALSE(cat::ParseCatNotification(nullptr, 9).ok);
}

} // namespace
