// The filter run as CUPS runs it, for Phomemo printers (model 27): the PPD's
// ModelName picks the variant and head width, the job's options the
// darkness, speed and media. The encoder's tests hold the commands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PrinterTestKit.h"

namespace {

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 3 + y * 5) % 7) < 2;
}

TEST(PhomemoProcess, WorkedExamples)
{
    using phomemotest::HeadRow;
    struct Case {
        const char *model;
        unsigned width;
        std::string options;
        ByteVec expected;
    };
    const std::vector<Case> cases = {
        {"M110", 320, "Darkness=12 zePrintRate=2 zeMediaTracking=BLine",
         Cat({{0x1B, 0x4E, 0x0D, 0x02, 0x1B, 0x4E, 0x04, 0x0C, 0x1F, 0x11, 0x26},
              phomemotest::Raster({HeadRow(384, 320, 0, Pattern), HeadRow(384, 320, 1, Pattern)}),
              phomemotest::kLabelFooter})},
        {"D30", 96, "",
         Cat({{0x1B, 0x4E, 0x04, 0x08, 0x1F, 0x11, 0x0A},
              phomemotest::Raster({HeadRow(96, 96, 0, Pattern), HeadRow(96, 96, 1, Pattern)}),
              phomemotest::kLabelFooter})},
    };
    for (const Case &c : cases) {
        TempDir dir;
        TestPpd printer;
        printer.modelNumber = 27;
        printer.modelName = c.model;
        printer.options = {{"Darkness", {"8", "12"}},
                           {"zePrintRate", {"Default", "2"}},
                           {"zeMediaTracking", {"Gap", "Continuous", "BLine"}}};
        const FilterResult r = RunPages(dir, {OneBitPage(c.width, 2, 203, Pattern)}, printer, c.options);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, c.expected) << c.model;
    }
}

} // namespace
