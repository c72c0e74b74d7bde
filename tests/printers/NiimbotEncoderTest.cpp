// The Niimbot encoder as a function: every packet, the rows of a page (runs,
// repeats, turned pages), the settings, and the replies, exact bytes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "NiimbotEncoder.h"
#include "PrinterTestKit.h"

namespace {

using niimbottest::BitmapRow;
using niimbottest::EmptyRows;
using niimbottest::Packet;

ByteVec Built(const std::function<void(NS_QV_CLASS::CMyBuffer &)> &build)
{
    NS_QV_CLASS::CMyBuffer out;
    build(out);
    const auto *p = reinterpret_cast<const uint8_t *>(out.GetBuffer());
    return ByteVec(p, p + out.GetBufferLength());
}

TEST(NiimbotPackets, ExactBytes)
{
    using namespace niimbot;
    using G = Group;
    struct Case {
        const char *name;
        std::function<void(NS_QV_CLASS::CMyBuffer &)> build;
        ByteVec expected;
    };
    const uint8_t row[3] = {0xF0, 0x01, 0xFF};
    const std::vector<Case> cases = {
        // Written out, XOR included.
        {"connect", [](auto &o) { AddConnect(o); }, {0x03, 0x55, 0x55, 0xC1, 0x01, 0x01, 0xC1, 0xAA, 0xAA}},
        {"heartbeat", [](auto &o) { AddHeartbeat(o); }, {0x55, 0x55, 0xDC, 0x01, 0x01, 0xDC, 0xAA, 0xAA}},
        {"tag request", [](auto &o) { AddRfidRequest(o); }, {0x55, 0x55, 0x1A, 0x01, 0x01, 0x1A, 0xAA, 0xAA}},
        {"density 3", [](auto &o) { AddDensity(o, 3); }, {0x55, 0x55, 0x21, 0x01, 0x03, 0x23, 0xAA, 0xAA}},
        {"start, legacy", [](auto &o) { AddStart(o, G::Legacy); }, {0x55, 0x55, 0x01, 0x01, 0x01, 0x01, 0xAA, 0xAA}},
        {"start, current",
         [](auto &o) { AddStart(o, G::Current); },
         {0x55, 0x55, 0x01, 0x07, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0xAA, 0xAA}},
        {"size, legacy",
         [](auto &o) { AddPageSize(o, G::Legacy, 240, 96); },
         {0x55, 0x55, 0x13, 0x04, 0x00, 0xF0, 0x00, 0x60, 0x87, 0xAA, 0xAA}},
        {"size, current",
         [](auto &o) { AddPageSize(o, G::Current, 240, 384); },
         {0x55, 0x55, 0x13, 0x06, 0x00, 0xF0, 0x01, 0x80, 0x00, 0x01, 0x65, 0xAA, 0xAA}},
        {"empty rows",
         [](auto &o) { AddEmptyRows(o, 300, 255); },
         {0x55, 0x55, 0x84, 0x03, 0x01, 0x2C, 0xFF, 0x55, 0xAA, 0xAA}},
        // Through the independent packet builder.
        {"page start, end, end print",
         [](auto &o) {
             AddPageStart(o);
             AddPageEnd(o);
             AddEnd(o);
         },
         Cat({Packet(0x03, {0x01}), Packet(0xE3, {0x01}), Packet(0xF3, {0x01})})},
        {"size held to 16 bits", [](auto &o) { AddPageSize(o, G::Legacy, 70000, -3); },
         Packet(0x13, {0xFF, 0xFF, 0x00, 0x00})},
        {"empty rows held to 1..255", [](auto &o) { AddEmptyRows(o, 0, 0); }, Packet(0x84, {0x00, 0x00, 0x01})},
        // Counts a third of a 12-byte head each: bytes 0-3, 4-7, 8-11.
        {"bitmap row", [&](auto &o) { AddBitmapRow(o, 7, row, 3, 2, 12); },
         Packet(0x85, {0x00, 0x07, 13, 0, 0, 0x02, 0xF0, 0x01, 0xFF})},
        {"data too long", [](auto &o) { AddPacket(o, 0x85, ByteVec(256, 0)); }, {}},
        {"longest data", [](auto &o) { AddPacket(o, 0x85, ByteVec(255, 1)); }, Packet(0x85, ByteVec(255, 1))},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Built(c.build), c.expected) << c.name;
}

TEST(NiimbotModels, SettingsToBytes)
{
    using namespace niimbot;
    const Model b1 = ModelFor("B1"), d110 = ModelFor("D110");
    const std::vector<std::tuple<const Model *, int, int>> densities = {{&b1, -1, 3}, {&b1, 0, 1},    {&b1, 5, 5},
                                                                        {&b1, 15, 5}, {&d110, -1, 2}, {&d110, 5, 3}};
    for (const auto &d : densities)
        EXPECT_EQ(DensityByte(*std::get<0>(d), std::get<1>(d)), std::get<2>(d)) << std::get<1>(d);
    const std::vector<std::pair<int, int>> types = {
        {kMediaGap, 1},       {kMediaBLine, 2}, {kMediaContinuous, 3}, {kMediaTransparent, 5},
        {kMediaBLineGap, 10}, {kMediaTube, 11}, {kMediaTattoo, 1},     {-4, 1}};
    for (const auto &t : types)
        EXPECT_EQ(LabelTypeFor(t.first), t.second) << t.first;
    const std::vector<std::pair<const char *, const char *>> names = {
        {"b1", "B1"}, {"Niimbot D110", "D110"}, {"NIIMBOT B18", "B18"}, {"Niimbot D11", "D11"}, {"XB1", "B21"},
        {"", "B21"},  {"Niimbot D1", "B21"}};
    for (const auto &n : names)
        EXPECT_STREQ(ModelFor(n.first).name, n.second) << n.first;
}

bool Stripes(unsigned x, unsigned y)
{
    return y >= 2 && (y == 5 ? x == 19 : x % 3 == 0);
}

// Density, label type, start, page start, size, the rows, page end, end.
// White runs go as 84, equal rows joined in one 85, runs split at 255.
TEST(NiimbotEncoder, Pages)
{
    using namespace niimbot;
    tagREGSTRUCT reg;
    reg.iDensity = 4;
    reg.iMediaType = kMediaBLine;
    auto head = [](uint8_t density, bool current, unsigned rows, unsigned cols) {
        const ByteVec size = current
                                 ? ByteVec{uint8_t(rows >> 8), uint8_t(rows), uint8_t(cols >> 8), uint8_t(cols), 0, 1}
                                 : ByteVec{uint8_t(rows >> 8), uint8_t(rows), uint8_t(cols >> 8), uint8_t(cols)};
        return Cat({Packet(0x21, {density}), Packet(0x23, {0x02}),
                    current ? Packet(0x01, {0, 1, 0, 0, 0, 0, 0}) : Packet(0x01, {1}), Packet(0x03, {1}),
                    Packet(0x13, size)});
    };
    const ByteVec tail = Cat({Packet(0xE3, {1}), Packet(0xF3, {1})});
    auto all = [](unsigned, unsigned) { return true; };
    auto corner = [](unsigned x, unsigned y) { return x == 0 && y == 95; };
    struct Case {
        const char *name, *model;
        unsigned width, height;
        Black black;
        ByteVec expected;
    };
    const std::vector<Case> cases = {
        {"runs and repeats", "B21", 20, 6, Stripes,
         Cat({head(4, false, 6, 20), EmptyRows(0, 2), BitmapRow(2, PrinterRow(20, 2, Stripes, 3), 3, 48),
              BitmapRow(5, PrinterRow(20, 5, Stripes, 3), 1, 48), tail})},
        {"white split at 255", "B1", 8, 600, [](unsigned, unsigned) { return false; },
         Cat({head(4, true, 600, 8), EmptyRows(0, 255), EmptyRows(255, 255), EmptyRows(510, 90), tail})},
        {"black split at 255", "B1", 8, 300, all,
         Cat({head(4, true, 300, 8), BitmapRow(0, {0xFF}, 255, 48), BitmapRow(255, {0xFF}, 45, 48), tail})},
        // Wider than its head: turned clockwise, the bottom-left dot first.
        {"turned", "D110", 200, 96, corner,
         Cat({head(3, true, 200, 96), BitmapRow(0, {0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 12), EmptyRows(1, 199),
              tail})},
        {"narrow page not turned", "D11", 96, 1, all,
         Cat({head(3, false, 1, 96), BitmapRow(0, ByteVec(12, 0xFF), 1, 12), tail})},
    };
    for (const Case &c : cases) {
        const CxImage page = PreparedPage(c.width, c.height, c.black);
        const ByteVec before = Storage(page);
        NS_QV_CLASS::CMyBuffer out;
        EncodePage(page, reg, ModelFor(c.model), out);
        const auto *p = reinterpret_cast<const uint8_t *>(out.GetBuffer());
        EXPECT_EQ(ByteVec(p, p + out.GetBufferLength()), c.expected) << c.name;
        EXPECT_EQ(Storage(page), before) << c.name;
    }
}

// Each reply parser takes its own whole packet and refuses anything else.
TEST(NiimbotReplies, Heartbeats)
{
    using namespace niimbot;
    struct Case {
        ByteVec packet;
        bool ok;
        int lid, paper, tag, charge; // -1 not known; else 1 open / out / read
    };
    ByteVec d13(13, 0), d19(19, 0), d20(20, 0), d10(10, 0);
    d13[9] = 1, d13[10] = 3, d13[12] = 1;
    d19[15] = 0, d19[16] = 2, d19[17] = 1, d19[18] = 0;
    d10[8] = 4, d10[9] = 1;
    d20[18] = 1, d20[19] = 1;
    const std::vector<Case> cases = {
        {Packet(0xDD, d13), true, 1, 0, 1, 3},
        {Packet(0xDD, d19), true, 0, 1, 0, 2},
        {Packet(0xDD, d10), true, 1, -1, -1, 4},
        {Packet(0xDD, d20), true, -1, 1, 1, -1},
        {Packet(0xD9, {4, 30, 0, 0, 0, 0, 0, 0, 0}), true, 0, 0, 1, 4},
        {Packet(0xD9, {4, 30, 1, 1, 1, 0, 0, 0}), false, 0, 0, 0, 0},
        {Packet(0xDD, ByteVec(11, 0)), false, 0, 0, 0, 0},
        {Packet(0xB3, ByteVec(13, 0)), false, 0, 0, 0, 0},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        const Heartbeat h = ParseHeartbeat(c.packet.data(), c.packet.size());
        ASSERT_EQ(h.ok, c.ok) << i << " " << h.error;
        if (!c.ok)
            continue;
        EXPECT_EQ(h.lidKnown ? int(h.lidOpen) : -1, c.lid) << i;
        EXPECT_EQ(h.paperKnown ? int(h.paperOut) : -1, c.paper) << i;
        EXPECT_EQ(h.tagKnown ? int(h.tagRead) : -1, c.tag) << i;
        EXPECT_EQ(h.charge, c.charge) << i;
    }
}

TEST(NiimbotReplies, PacketFaults)
{
    using namespace niimbot;
    const ByteVec good = Packet(0xB3, {0, 1, 100, 50});
    auto with = [&](size_t i, uint8_t b) {
        ByteVec p = good;
        p[i] = b;
        return p;
    };
    const std::vector<std::pair<ByteVec, const char *>> bad = {
        {with(0, 0x54), "55 55"},  {with(3, 5), "a packet of 12"},    {with(8, 0x00), "XOR"},
        {with(10, 0xAB), "AA AA"}, {Slice(good, 0, 6), "at least 7"}, {ByteVec(), "at least 7"},
    };
    for (const auto &b : bad) {
        const niimbot::Packet p = ParsePacket(b.first.data(), b.first.size());
        EXPECT_FALSE(p.ok);
        EXPECT_NE(p.error.find(b.second), std::string::npos) << p.error;
        EXPECT_FALSE(ParsePrintStatus(b.first.data(), b.first.size()).ok);
    }
    const PrintStatus s = ParsePrintStatus(good.data(), good.size());
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(std::make_tuple(s.page, s.printProgress, s.feedProgress, s.errorCode), std::make_tuple(1, 100, 50, 0));
    const ByteVec withError = Packet(0xB3, {0, 2, 10, 0, 0, 0, 3, 0, 0, 0});
    EXPECT_EQ(ParsePrintStatus(withError.data(), withError.size()).errorCode, 3);
}

TEST(NiimbotReplies, TagsAndLabelInfo)
{
    using namespace niimbot;
    const ByteVec fields = {1, 2, 3, 4, 5, 6, 7, 8, 3, 'A', 'B', 'C', 2, 'S', '1', 0x00, 0xE6, 0x00, 0x05, 0x01};
    const ByteVec whole = Packet(0x1B, fields);
    const Tag t = ParseTag(whole.data(), whole.size());
    ASSERT_TRUE(t.ok) << t.error;
    EXPECT_TRUE(t.present);
    EXPECT_EQ(t.uuid, ByteVec(fields.begin(), fields.begin() + 8));
    EXPECT_EQ(std::make_tuple(t.barcode, t.serial, t.total, t.used, t.type),
              std::make_tuple(std::string("ABC"), std::string("S1"), 230, 5, 1));
    const ByteVec none = Packet(0x1B, {0x00});
    const Tag n = ParseTag(none.data(), none.size());
    EXPECT_TRUE(n.ok && !n.present);
    // Every cut of the fields short of the last byte is refused.
    for (size_t len = 2; len < fields.size(); ++len) {
        const ByteVec cut = Packet(0x1B, Slice(fields, 0, len));
        EXPECT_FALSE(ParseTag(cut.data(), cut.size()).ok) << len;
    }
    const ByteVec info = Packet(0x69, {0, 24, 0x00, 0xF0, 1, 0, 30, 1, 44, 0x01, 0x80, 1, 224, 0, 0, 0, 0, 0});
    const LabelInfo l = ParseLabelInfo(info.data(), info.size());
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(std::make_tuple(l.gapDots, l.heightDots, l.type, l.widthDots), std::make_tuple(24, 240, 1, 384));
    const ByteVec shortInfo = Packet(0x69, {0, 24, 0});
    EXPECT_FALSE(ParseLabelInfo(shortInfo.data(), shortInfo.size()).ok);
}

} // namespace
