// TSPL through the real filter: raster files and PPDs in, printer bytes out.
// The encoder's tests hold what each label line is made of; here is what the
// running filter adds.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "PrinterTestKit.h"

namespace {

using Choices = std::vector<std::pair<std::string, std::string>>; // keyword, the choice the job marks
// In Lines({"", ...}) the empty first line is the CR LF that closes a
// BITMAP's data.

// A one-bit raster page (1 = white) whose bits run through a pattern.
RasterPage PatternPage(unsigned width, unsigned height, unsigned dpi)
{
    RasterPage page;
    page.header = MakePageHeader(width, height, 1, dpi, dpi);
    page.data.resize(static_cast<size_t>(page.header.cupsBytesPerLine) * height);
    for (size_t i = 0; i < page.data.size(); ++i)
        page.data[i] = static_cast<uint8_t>(i * 13 + (i >> 6));
    return page;
}

// A job through a PPD (model 20) that offers each chosen option with one
// other choice; the job's options mark the chosen ones.
FilterResult RunJob(const std::vector<RasterPage> &pages, const Choices &choices = {},
                    const std::string &modelName = "Label 40")
{
    static const std::map<std::string, std::string> other = {{"zeMediaTracking", "Continuous"},
                                                             {"Darkness", "Default"},
                                                             {"zePrintRate", "Default"},
                                                             {"MediaMethod", "Direct"}};
    TempDir dir;
    TestPpd printer;
    printer.modelNumber = 20;
    printer.modelName = modelName;
    std::string options;
    for (const auto &c : choices) {
        printer.options.push_back({c.first, {other.count(c.first) ? other.at(c.first) : "0", c.second}});
        options += c.first + "=" + c.second + " ";
    }
    FilterResult r = RunPages(dir, pages, printer, options);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return r;
}

// The worked example: every option the label lines carry, marked by the job.
TEST(TsplProcess, WorkedExample)
{
    const RasterPage page = PatternPage(320, 240, 203);
    const FilterResult r = RunJob({page}, {{"zeMediaTracking", "Gap"},
                                           {"MediaMethod", "Ribbon"},
                                           {"AdjustHoriaontal", "2"},
                                           {"AdjustVertical", "-3"},
                                           {"FeedOffset", "-3"},
                                           {"Darkness", "10"},
                                           {"zePrintRate", "4"}});
    // A 320-dot row is a whole number of words: the raster's bytes go out as they are.
    EXPECT_EQ(r.out, Cat({Lines({"SIZE 40.04 mm,30.03 mm", "SET RIBBON ON", "REFERENCE 16,-23", "GAP 24 dot,0 dot",
                                 "OFFSET -23 dot", "DENSITY 10", "SPEED 4", "SETC AUTODOTTED OFF", "SETC PAUSEKEY ON",
                                 "SETC WATERMARK ON", "CLS"}),
                          Bytes("BITMAP 0,0,40,240,1,"), page.data, Lines({"", "PRINT 1,1"})}))
        << Printable(r.out, 400);
}

// The PPD's ModelName reaches the encoder: one model's firmware wants SFAYPRINT.
TEST(TsplProcess, ModelNameChoosesThePrintCommand)
{
    const FilterResult r = RunJob({PatternPage(64, 16, 203)}, {}, "do-zidivoz");
    const ByteVec tail = Bytes("\r\nSFAYPRINT 1,1\r\n");
    EXPECT_EQ(Slice(r.out, r.out.size() - std::min(r.out.size(), tail.size()), r.out.size()), tail)
        << Printable(r.out, 400);
}

TEST(TsplProcess, EachPageIsWholeAndAPageWithoutResolutionIsRefused)
{
    const RasterPage first = PatternPage(320, 240, 203), noDpi = PatternPage(64, 16, 0),
                     last = PatternPage(64, 16, 203);
    const FilterResult r = RunJob({first, noDpi, last});
    EXPECT_TRUE(r.HasErrLine("ERROR: Page 2 has a resolution of 0 x 0 dpi; pages of 50 to 3000 dpi print. It was "
                             "skipped. Check the resolution setting of the print queue."))
        << r.err;
    EXPECT_EQ(r.out,
              Cat({Lines({"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 0 dot,0 dot",
                          "OFFSET 0 dot", "SETC AUTODOTTED OFF", "SETC PAUSEKEY ON", "SETC WATERMARK ON", "CLS"}),
                   Bytes("BITMAP 0,0,40,240,1,"), PreparedRows(first), Lines({"", "PRINT 1,1"}),
                   Lines({"SIZE 8.01 mm,2.00 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET 0 dot",
                          "SETC AUTODOTTED OFF", "SETC PAUSEKEY ON", "SETC WATERMARK ON", "CLS"}),
                   Bytes("BITMAP 0,0,8,16,1,"), PreparedRows(last), Lines({"", "PRINT 1,1"})}));
}

} // namespace
