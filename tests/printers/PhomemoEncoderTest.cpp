// The Phomemo encoder as a function: the settings' bytes, the pages of every
// variant and the replies, exact bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PhomemoEncoder.h"
#include "PrinterTestKit.h"

namespace {

using phomemotest::HeadRow;
using phomemotest::Raster;

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 3 + y * 5) % 7) < 2;
}

ByteVec Encoded(const CxImage &page, const tagREGSTRUCT &reg, const char *model)
{
    NS_QV_CLASS::CMyBuffer out;
    const phomemo::Model m = phomemo::ModelFor(model);
    phomemo::EncodePage(page, reg, m, out);
    const auto *p = reinterpret_cast<const uint8_t *>(out.GetBuffer());
    const ByteVec bytes(p, p + out.GetBufferLength());
    EXPECT_EQ(static_cast<int64_t>(bytes.size()), phomemo::PageBytes(m, page.GetHeight())) << model;
    return bytes;
}

std::vector<ByteVec> Rows(unsigned head, unsigned width, unsigned height)
{
    std::vector<ByteVec> rows;
    for (unsigned y = 0; y < height; ++y)
        rows.push_back(HeadRow(head, width, y, Pattern));
    return rows;
}

TEST(PhomemoModels, NamesAndSettingBytes)
{
    struct Case {
        const char *name;
        const char *model;
        int dots;
    };
    for (const Case &c : std::vector<Case>{{"M110", "M110", 384},
                                           {"phomemo m220", "M220", 576},
                                           {"Phomemo D30", "D30", 96},
                                           {"M02S", "M02S", 384},
                                           {"XM02", "M110", 384},
                                           {"", "M110", 384}}) {
        const phomemo::Model m = phomemo::ModelFor(c.name);
        EXPECT_STREQ(m.name, c.model) << c.name;
        EXPECT_EQ(m.dots, c.dots) << c.name;
    }
    const std::vector<std::pair<int, int>> density = {{-1, 8}, {0, 1}, {1, 1}, {15, 15}, {16, 15}, {-7, 1}};
    for (const auto &d : density)
        EXPECT_EQ(phomemo::DensityByte(d.first), d.second) << d.first;
    const std::vector<std::pair<int, int>> speed = {{-1, 5}, {0, 1}, {3, 3}, {9, 5}};
    for (const auto &s : speed)
        EXPECT_EQ(phomemo::SpeedByte(s.first), s.second) << s.first;
    const std::vector<std::pair<int, int>> media = {
        {kMediaGap, 0x0A}, {kMediaBLine, 0x26}, {kMediaContinuous, 0x0B}, {kMediaRoll, 0x0B}, {99, 0x0B}};
    for (const auto &m : media)
        EXPECT_EQ(phomemo::MediaByte(m.first), m.second) << m.first;
}

TEST(PhomemoPages, ExactBytes)
{
    tagREGSTRUCT reg;
    reg.iDensity = 10;
    reg.iSpeed = 3;
    reg.iMediaType = kMediaGap;
    const ByteVec labelHead = {0x1B, 0x4E, 0x0D, 0x03, 0x1B, 0x4E, 0x04, 0x0A, 0x1F, 0x11, 0x0A};
    struct Case {
        const char *model;
        unsigned width, height;
        ByteVec expected;
    };
    const std::vector<Case> cases = {
        // A 40 mm label on the 48 mm head: 5 blank bytes either side.
        {"M110", 320, 3, Cat({labelHead, Raster(Rows(384, 320, 3)), phomemotest::kLabelFooter})},
        // 300 rows: a band of 255 and one of 45.
        {"M220", 576, 300, Cat({labelHead, Raster(Rows(576, 576, 300)), phomemotest::kLabelFooter})},
        {"D30", 96, 2,
         Cat({{0x1B, 0x4E, 0x04, 0x0A, 0x1F, 0x11, 0x0A}, Raster(Rows(96, 96, 2)), phomemotest::kLabelFooter})},
        {"M02", 384, 2,
         Cat({phomemotest::kM02Header, {0x1B, 0x4E, 0x04, 0x0A}, Raster(Rows(384, 384, 2)), phomemotest::kM02Footer})},
        // An odd width: the last byte's dots past the page are white.
        {"M110", 13, 1, Cat({labelHead, Raster(Rows(384, 13, 1)), phomemotest::kLabelFooter})},
        // No rows: one empty raster command.
        {"M110", 8, 0, Cat({labelHead, {0x1D, 0x76, 0x30, 0x00, 48, 0, 0, 0}, phomemotest::kLabelFooter})},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Encoded(PreparedPage(c.width, c.height, Pattern), reg, c.model), c.expected)
            << c.model << " " << c.width << "x" << c.height;
}

TEST(PhomemoReplies, ParsedOrRefused)
{
    using phomemo::ReplyKind;
    struct Case {
        ByteVec bytes;
        bool ok;
        size_t used;
        std::vector<ReplyKind> kinds;
    };
    const std::vector<Case> cases = {
        {{}, true, 0, {}},
        {{0x1A, 0x06, 0x88, 0x1A, 0x05, 0x99}, true, 6, {ReplyKind::Paper, ReplyKind::Cover}},
        {{0x1A, 0x0F, 0x0C, 0x1A, 0x04, 0x50, 0x1A, 0x07}, true, 6, {ReplyKind::Printed, ReplyKind::Battery}},
        {{0x1A, 0x08, 0x01, 0x1A, 0x0F, 0x01}, true, 6, {ReplyKind::Other, ReplyKind::Other}},
        {{0x1A, 0x05, 0x97}, false, 0, {}},
        {{0x1A, 0x06, 0x89, 0x00}, false, 3, {ReplyKind::Paper}},
        {{0x1B, 0x06, 0x89}, false, 0, {}},
    };
    for (const Case &c : cases) {
        const phomemo::Replies r = phomemo::ParseReplies(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(r.ok, c.ok) << c.bytes.size() << " " << r.error;
        EXPECT_EQ(r.error.empty(), c.ok);
        EXPECT_EQ(r.used, c.used);
        std::vector<ReplyKind> kinds;
        for (const phomemo::Reply &one : r.replies)
            kinds.push_back(one.kind);
        EXPECT_EQ(kinds, c.kinds) << c.bytes.size();
    }
}

} // namespace
