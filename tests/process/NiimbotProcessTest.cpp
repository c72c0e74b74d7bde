// The filter run as CUPS runs it, for Niimbot printers (model 26): the PPD's
// ModelName picks the print task and head, the job's options the density
// and label type. The encoder's tests hold the packets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PrinterTestKit.h"

namespace {

using niimbottest::BitmapRow;
using niimbottest::EmptyRows;
using niimbottest::Packet;

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 3 + y * 5) % 7) < 2;
}

// Row i of a page turned clockwise: column i, bottom row first.
ByteVec TurnedRow(unsigned height, unsigned i, const Black &black)
{
    ByteVec row((height + 7) / 8, 0);
    for (unsigned j = 0; j < height; ++j)
        if (black(i, height - 1 - j))
            row[j / 8] |= static_cast<uint8_t>(0x80 >> (j % 8));
    return row;
}

TEST(NiimbotProcess, WorkedExamples)
{
    const ByteVec end = Cat({Packet(0xE3, {1}), Packet(0xF3, {1})});
    ByteVec b21Rows, d110Rows;
    for (unsigned y = 0; y < 2; ++y)
        b21Rows = Cat({b21Rows, BitmapRow(y, PrinterRow(384, y, Pattern, 48), 1, 48)});
    for (unsigned i = 0; i < 160; ++i)
        d110Rows = Cat({d110Rows, BitmapRow(i, TurnedRow(96, i, Pattern), 1, 12)});
    struct Case {
        const char *model;
        std::string options;
        RasterPage page;
        ByteVec expected;
    };
    const std::vector<Case> cases = {
        {"B21", "Darkness=5 zeMediaTracking=BLine", OneBitPage(384, 2, 203, Pattern),
         Cat({Packet(0x21, {5}), Packet(0x23, {2}), Packet(0x01, {1}), Packet(0x03, {1}),
              Packet(0x13, {0, 2, 0x01, 0x80}), b21Rows, end})},
        // 20 x 12 mm: wider than the head, sent turned.
        {"D110", "zeMediaTracking=Transparent", OneBitPage(160, 96, 203, Pattern),
         Cat({Packet(0x21, {2}), Packet(0x23, {5}), Packet(0x01, {0, 1, 0, 0, 0, 0, 0}), Packet(0x03, {1}),
              Packet(0x13, {0, 160, 0, 96, 0, 1}), d110Rows, end})},
    };
    for (const Case &c : cases) {
        TempDir dir;
        TestPpd printer;
        printer.modelNumber = 26;
        printer.modelName = c.model;
        printer.options = {{"Darkness", {"-1", "1", "2", "3", "5"}},
                           {"zeMediaTracking", {"Gap", "BLine", "Transparent"}}};
        const FilterResult r = RunPages(dir, {c.page}, printer, c.options);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, c.expected) << c.model;
    }
}

} // namespace
