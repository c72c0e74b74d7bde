// A Niimbot roll as the printer's answers describe it, and whether a job's
// labels fit it.
#include <gtest/gtest.h>

#include "LoadedRoll.h"

namespace {

std::vector<uint8_t> Packet(uint8_t cmd, const std::vector<uint8_t> &data)
{
    std::vector<uint8_t> p = {0x55, 0x55, cmd, static_cast<uint8_t>(data.size())};
    uint8_t x = static_cast<uint8_t>(cmd ^ data.size());
    for (uint8_t b : data) {
        p.push_back(b);
        x ^= b;
    }
    p.insert(p.end(), {x, 0xAA, 0xAA});
    return p;
}

// A tag: id, barcode "A1", serial "S", 200 labels of which 20 used, type 1.
const std::vector<uint8_t> kTag = Packet(0x1B, {1, 2, 3, 4, 5, 6, 7, 8, 2, 'A', '1', 1, 'S', 0, 200, 0, 20, 1});
// Label information: gap 24 dots, 320 dots (40 mm) along, type 2, 96 dots
// (12 mm) across.
const std::vector<uint8_t> kInfo = Packet(0x69, {0, 24, 1, 64, 2, 0, 0, 0, 0, 0, 96});

TEST(LoadedRoll, WhatTheAnswersSay)
{
    struct Case {
        const char *what;
        std::vector<uint8_t> tag, info;
        bool sideways, hasTag, hasSize;
        int width, length;
    };
    const std::vector<uint8_t> noTag = Packet(0x1B, {0});
    const std::vector<uint8_t> huge = Packet(0x69, {0, 24, 0xFF, 0xFF, 1, 0, 0, 0, 0, 0x10, 0});
    const Case cases[] = {
        {"a tag and the size, across the head", kTag, kInfo, false, true, true, 1200, 4000},
        {"a tag and the size, fed sideways", kTag, kInfo, true, true, true, 4000, 1200},
        {"no answer", {}, {}, false, false, false, 0, 0},
        {"no tag", noTag, {}, false, false, false, 0, 0},
        {"a tag, no label information", kTag, {}, false, true, false, 0, 0},
        {"a size no head prints", kTag, huge, false, true, false, 0, 0},
        {"a tag with a bad check", {0x55, 0x55, 0x1B, 0x01, 0x00, 0x00, 0xAA, 0xAA}, kInfo, false, false, false, 0, 0},
    };
    for (const Case &c : cases) {
        const LoadedRoll r = ReadRoll(c.tag, c.info, 203, c.sideways);
        EXPECT_EQ(r.tag, c.hasTag) << c.what;
        EXPECT_EQ(r.size, c.hasSize) << c.what;
        EXPECT_EQ(r.tag, r.why.empty()) << c.what;
        if (c.hasSize) {
            EXPECT_EQ(r.label.width, c.width) << c.what;
            EXPECT_EQ(r.label.length, c.length) << c.what;
            EXPECT_EQ(r.labelType, 2) << c.what;
            EXPECT_EQ(r.total - r.used, 180) << c.what;
        }
    }
}

TEST(LoadedRoll, LabelsFitEitherWayWithAMillimetreToSpare)
{
    const LabelSize loaded{4000, 1200};
    EXPECT_TRUE(LabelFits({4000, 1200}, loaded));
    EXPECT_TRUE(LabelFits({1200, 4000}, loaded));
    EXPECT_TRUE(LabelFits({4100, 1300}, loaded));
    EXPECT_FALSE(LabelFits({4101, 1200}, loaded));
    EXPECT_FALSE(LabelFits({5000, 1500}, loaded));
    EXPECT_FALSE(LabelFits({2000, 2000}, loaded));
}

} // namespace
