// The filter run as CUPS runs it, for a PeriPage printer (model 24). The
// encoder's and renderer's tests hold what each command is made of; here is
// what the running filter adds.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PrinterTestKit.h"

namespace {

using namespace peripage;

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 5 + y * 3) % 13) < 4;
}

class PeriPageProcess : public testing::Test {
protected:
    FilterResult Run(const std::vector<RasterPage> &pages, const std::string &options)
    {
        TestPpd printer;
        printer.modelNumber = 24;
        printer.modelName = "Portable printer";
        printer.options = {{"zeMediaTracking", {"Gap", "Continuous"}}, {"Darkness", {"Default", "10"}}};
        return RunPages(dir, pages, printer, options);
    }

    TempDir dir;
};

// The worked example: continuous paper at darkness 10, marked by the job.
TEST_F(PeriPageProcess, WorkedExample)
{
    const FilterResult r = Run({OneBitPage(384, 100, 203, Pattern)}, "Darkness=10 zeMediaTracking=Continuous");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, Cat({kWake, Paper(0x01), kEscInit, Density(0x0A), kCentre, GsV0(48, 100),
                          PrinterRows(384, 100, Pattern), kCutLine, kEnd}))
        << Printable(r.out);
    EXPECT_EQ(r.CountSyslog("new CPrinterESCPOS()"), 1);
    EXPECT_EQ(r.CountSyslog("new CPrinterPeriPage()"), 1);
}

} // namespace
