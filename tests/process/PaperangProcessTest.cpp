// The filter run as CUPS runs it, for a Paperang printer (model 23). The
// renderer's tests hold what each frame is made of; here is what the running
// filter adds. Frame() takes its CRC from zlib's crc32 seeded with the
// protocol key.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PrinterTestKit.h"

namespace {

using namespace paperang;

bool Pattern(unsigned x, unsigned y)
{
    return ((x * 3 + y * 5) % 7) < 2;
}

class PaperangProcess : public testing::Test {
protected:
    FilterResult Run(const std::vector<RasterPage> &pages, const std::string &options)
    {
        TestPpd printer;
        printer.modelNumber = 23;
        printer.modelName = "Portable printer";
        printer.options = {{"zeMediaTracking", {"Continuous", "Gap"}}};
        return RunPages(dir, pages, printer, options);
    }

    TempDir dir;
};

// The worked example: two rows on gap labels, marked by the job.
TEST_F(PaperangProcess, WorkedExample)
{
    const FilterResult r = Run({OneBitPage(384, 2, 203, Pattern)}, "zeMediaTracking=Gap");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, Cat({Frame(kBegin), Frame(RowInner(0, StoredRow(384, 0, Pattern))),
                          Frame(RowInner(1, StoredRow(384, 1, Pattern))), Frame(kEnd), Frame(kLocate300)}));
    // The first row's frame, head to first row byte, written out.
    ASSERT_GE(r.out.size(), 14u + 21u);
    EXPECT_EQ(Slice(r.out, 14, 35), ByteVec({0xA5, 0x01, 0x41, 0x00, 0x05, 0x1B, 0x03, 0x3C, 0x00, 0x00, 0x00,
                                             0x38, 0x00, 0x01, 0x30, 0x00, 0x00, 0x00, 0x00, 0x30, 0x00}));
    EXPECT_EQ(r.CountSyslog("MM_TP_CTRL_PRINT_START"), 1);
    EXPECT_EQ(r.CountSyslog("MM_TP_CTRL_PRINT_END"), 1);
}

} // namespace
