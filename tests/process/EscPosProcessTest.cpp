// The filter run as CUPS runs it, for an ESC/POS printer (model 21): raster
// file and PPD in, printer bytes out. The encoder's and renderer's tests hold
// what each command is made of; here is what the running filter adds.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PrinterTestKit.h"

namespace {

using namespace escpos;

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 7 + y * 3) % 11) < 4;
}

class EscPosProcess : public testing::Test {
protected:
    FilterResult Run(const std::vector<RasterPage> &pages, const std::string &options)
    {
        TestPpd printer;
        printer.modelNumber = 21;
        printer.modelName = "Receipt printer";
        printer.options = {{"FeedOffset", {"0", "10"}}};
        return RunPages(dir, pages, printer, options);
    }

    TempDir dir;
};

// The worked example: a 48 mm receipt with a 10 mm feed after it.
TEST_F(EscPosProcess, WorkedExample)
{
    const FilterResult r = Run({OneBitPage(384, 200, 203, Pattern)}, "FeedOffset=10");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, Cat({kInit, kCentre, RasterHead(0, 48, 200), PrinterRows(384, 200, Pattern), Feed(0x50)}))
        << Printable(r.out);
    EXPECT_EQ(r.CountSyslog("new CPrinterESCPOS()"), 1);
}

} // namespace
