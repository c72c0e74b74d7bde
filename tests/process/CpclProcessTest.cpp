// CPCL through the real filter: raster files and PPDs in, printer bytes out.
// The renderer's tests hold what each command is made of; here is what the
// running filter adds.
#include <gtest/gtest.h>

#include "PrinterTestKit.h"

namespace {

// A one-bit raster page (1 = white) whose bits run through a pattern.
RasterPage PatternPage(unsigned width, unsigned height)
{
    RasterPage page;
    page.header = MakePageHeader(width, height, 1, 203, 203);
    page.data.resize(static_cast<size_t>(page.header.cupsBytesPerLine) * height);
    for (size_t i = 0; i < page.data.size(); ++i)
        page.data[i] = static_cast<uint8_t>(i * 31 + (i >> 7));
    return page;
}

// The page as CG carries it: the prepared rows with a 1 bit a dot, so every
// bit after the last pixel 0 (blank).
ByteVec DotRows(const RasterPage &page)
{
    return Inverted(PreparedRows(page));
}

FilterResult RunLabels(const std::vector<RasterPage> &pages, const std::string &jobOptions)
{
    TempDir dir;
    TestPpd printer;
    printer.modelNumber = 22;
    printer.options = {{"zeMediaTracking", {"Continuous", "Gap", "BLine", "Perforated"}},
                       {"AdjustHoriaontal", {"0", "2"}}};
    FilterResult r = RunPages(dir, pages, printer, jobOptions);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return r;
}

// The worked example: gap labels shifted 2 mm right, marked by the job.
TEST(CpclProcess, WorkedExample)
{
    const RasterPage page = PatternPage(320, 240);
    const FilterResult r = RunLabels({page}, "zeMediaTracking=Gap AdjustHoriaontal=2");
    EXPECT_EQ(r.out, Cat({Lines({"! 16 200 200 240 1", "PAGE-WIDTH 320", "CG 40 240 0 0"}), DotRows(page),
                          Lines({"FORM", "PRINT"})}))
        << Printable(r.out);
}

TEST(CpclProcess, EveryPageIsALabelOfItsOwn)
{
    const RasterPage first = PatternPage(320, 240), second = PatternPage(72, 10);
    const FilterResult r = RunLabels({first, second}, "zeMediaTracking=Gap");
    EXPECT_EQ(r.out, Cat({Lines({"! 0 200 200 240 1", "PAGE-WIDTH 320", "CG 40 240 0 0"}), DotRows(first),
                          Lines({"FORM", "PRINT", "! 0 200 200 10 1", "PAGE-WIDTH 72", "CG 12 10 0 0"}),
                          DotRows(second), Lines({"FORM", "PRINT"})}));
}

} // namespace
