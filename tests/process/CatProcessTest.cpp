// The filter run as CUPS runs it, for cat printers (model 25): the PPD's
// ModelName picks the variant and its energy table, the job's options the
// darkness, speed and feed. The encoder's tests hold the frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PrinterTestKit.h"

namespace {

using cattest::Frame;

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 3 + y * 5) % 7) < 2;
}

TEST(CatProcess, WorkedExamples)
{
    const ByteVec rows = Cat({Frame(0xA2, cattest::Row(384, 0, Pattern)), Frame(0xA2, cattest::Row(384, 1, Pattern))});
    ByteVec mxLines =
        Cat({Frame(0xFE, cattest::Row(384, 0, Pattern), true), Frame(0xFE, cattest::Row(384, 1, Pattern), true)});
    for (int i = 0; i < 90 + 40; ++i)
        mxLines = Cat({mxLines, Frame(0xFE, ByteVec(48, 0), true)});
    struct Case {
        const char *model;
        std::string options;
        ByteVec expected;
    };
    const std::vector<Case> cases = {
        {"GB01", "Darkness=1 zePrintRate=2",
         Cat({Frame(0xA4, {0x33}), Frame(0xAF, {0x00, 0x10}), Frame(0xBD, {0x2A}), Frame(0xA6, cattest::kLatticeStart),
              rows, Frame(0xA6, cattest::kLatticeEnd), Frame(0xA1, Le16(90))})},
        {"MXW01", "FeedOffset=5",
         Cat({Frame(0xA2, {0x80}, true), Frame(0xA9, {132, 0x00, 0x30, 0x00}, true), mxLines,
              Frame(0xAD, {0x00}, true)})},
    };
    for (const Case &c : cases) {
        TempDir dir;
        TestPpd printer;
        printer.modelNumber = 25;
        printer.modelName = c.model;
        printer.options = {
            {"Darkness", {"3", "1", "5"}}, {"zePrintRate", {"Default", "1", "2"}}, {"FeedOffset", {"0", "5"}}};
        const FilterResult r = RunPages(dir, {OneBitPage(384, 2, 203, Pattern)}, printer, c.options);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, c.expected) << c.model;
    }
}

} // namespace
