// CPCL through the real filter: raster files and PPDs in, printer bytes out.
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

FilterResult RunLabels(const std::vector<RasterPage> &pages, const std::string &jobOptions, bool doubleColor = false)
{
    TempDir dir;
    TestPpd printer;
    printer.modelNumber = 22;
    printer.options = {{"zeMediaTracking", {"Continuous", "Gap", "BLine", "Perforated"}},
                       {"AdjustHoriaontal", {"0", "2", "-3"}},
                       {"ImageFilter", {"3", "0"}}};
    if (doubleColor)
        printer.attributes = {{"DoubleColor", "1"}};
    FilterResult r = RunPages(dir, pages, printer, jobOptions);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return r;
}

TEST(CpclProcess, WorkedExamples)
{
    struct Case {
        unsigned width;
        std::string jobOptions;
        std::vector<std::string> head; // up to the CG line
        std::vector<std::string> tail; // after the data
    };
    const Case cases[] = {
        {320, "zeMediaTracking=Gap", {"! 0 200 200 240 1", "PAGE-WIDTH 320", "CG 40 240 0 0"}, {"FORM", "PRINT"}},
        {320, "zeMediaTracking=BLine", {"! 0 200 200 240 1", "PAGE-WIDTH 320", "CG 40 240 0 0"}, {"FORM", "PRINT"}},
        {320, "zeMediaTracking=Continuous", {"! 0 200 200 240 1", "PAGE-WIDTH 320", "CG 40 240 0 0"}, {"PRINT"}},
        {320, "zeMediaTracking=Perforated", {"! 0 200 200 240 1", "PAGE-WIDTH 320", "CG 40 240 0 0"}, {"PRINT"}},
        {300, "zeMediaTracking=Gap", {"! 0 200 200 240 1", "PAGE-WIDTH 300", "CG 40 240 0 0"}, {"FORM", "PRINT"}},
        {320,
         "zeMediaTracking=Gap AdjustHoriaontal=2",
         {"! 16 200 200 240 1", "PAGE-WIDTH 320", "CG 40 240 0 0"},
         {"FORM", "PRINT"}},
        {320,
         "zeMediaTracking=Gap AdjustHoriaontal=-3",
         {"! -23 200 200 240 1", "PAGE-WIDTH 320", "CG 40 240 0 0"},
         {"FORM", "PRINT"}},
    };
    for (const Case &c : cases) {
        const RasterPage page = PatternPage(c.width, 240);
        const FilterResult r = RunLabels({page}, c.jobOptions);
        EXPECT_EQ(r.out, Cat({Lines(c.head), DotRows(page), Lines(c.tail)})) << c.width << " " << c.jobOptions << "\n"
                                                                             << Printable(r.out);
    }
}

TEST(CpclProcess, EveryPageIsALabelOfItsOwn)
{
    const RasterPage first = PatternPage(320, 240), second = PatternPage(72, 10);
    const FilterResult r = RunLabels({first, second}, "zeMediaTracking=Gap");
    EXPECT_EQ(r.out, Cat({Lines({"! 0 200 200 240 1", "PAGE-WIDTH 320", "CG 40 240 0 0"}), DotRows(first),
                          Lines({"FORM", "PRINT", "! 0 200 200 10 1", "PAGE-WIDTH 72", "CG 12 10 0 0"}),
                          DotRows(second), Lines({"FORM", "PRINT"})}));
}

TEST(CpclProcess, TwoColourPrintsOnlyTheBlackPlane)
{
    // Left half of the top six rows pure red, the bottom two rows black.
    RasterPage page;
    page.header = MakePageHeader(64, 8, 24, 203, 203);
    page.data.assign(64u * 8u * 3u, 0xFF);
    for (unsigned y = 0; y < 8; ++y) {
        for (unsigned x = 0; x < 64; ++x) {
            uint8_t *rgb = &page.data[(y * 64u + x) * 3u];
            if (y >= 6)
                rgb[0] = rgb[1] = rgb[2] = 0;
            else if (x < 32)
                rgb[1] = rgb[2] = 0;
        }
    }
    ByteVec dots(8 * 8, 0x00);
    std::fill(dots.begin() + 6 * 8, dots.end(), 0xFF);
    const FilterResult r = RunLabels({page}, "ImageFilter=0", true);
    EXPECT_EQ(r.out, Cat({Lines({"! 0 200 200 8 1", "PAGE-WIDTH 64", "CG 8 8 0 0"}), dots, Lines({"PRINT"})}))
        << Printable(r.out);
}

} // namespace
