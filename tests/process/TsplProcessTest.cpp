// TSPL through the real filter: raster files and PPDs in, printer bytes out.
#include <gtest/gtest.h>
#include <zlib.h>

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
                    const std::string &modelName = "Label 40", bool doubleColor = false)
{
    static const std::map<std::string, std::string> other = {
        {"zeMediaTracking", "Continuous"}, {"Darkness", "Default"}, {"zePrintRate", "Default"},
        {"MediaMethod", "Direct"},         {"AutoDotted", "0"},     {"ImageFilter", "3"}};
    TempDir dir;
    TestPpd printer;
    printer.modelNumber = 20;
    printer.modelName = modelName;
    if (doubleColor)
        printer.attributes = {{"DoubleColor", "1"}};
    std::string options;
    for (const auto &c : choices) {
        printer.options.push_back({c.first, {other.count(c.first) ? other.at(c.first) : "0", c.second}});
        options += c.first + "=" + c.second + " ";
    }
    FilterResult r = RunPages(dir, pages, printer, options);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return r;
}

const std::vector<std::string> kSetc = {"SETC AUTODOTTED OFF", "SETC PAUSEKEY ON", "SETC WATERMARK ON", "CLS"};

TEST(TsplProcess, PageStreamsBySetting)
{
    struct Case {
        Choices choices;
        std::vector<std::string> lines; // up to the SETC lines
        const char *print = "PRINT 1,1";
        std::string model = "Label 40";
        RasterPage page = PatternPage(320, 240, 203);
    };
    const Case cases[] = {
        // The worked example: a PPD without any of the options.
        {{}, {"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET 0 dot"}},
        {{{"zeMediaTracking", "BLine"}},
         {"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "BLINE 0 dot,0 dot", "OFFSET 0 dot"}},
        {{{"zeMediaTracking", "Perforated"}},
         {"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "OFFSET 0 dot"}},
        {{{"zeMediaTracking", "Roll"}}, {"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "OFFSET 0 dot"}},
        {{{"zePrintRate", "0"}},
         {"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET 0 dot", "SPEED 4"}},
        {{{"zePrintRate", "12"}},
         {"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET 0 dot", "SPEED 12"}},
        {{{"zePrintRate", "13"}},
         {"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET 0 dot", "SPEED 4"}},
        {{{"Darkness", "0"}},
         {"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET 0 dot", "DENSITY 0"}},
        {{{"FeedOffset", "-3"}},
         {"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET -23 dot"}},
        {{{"MediaMethod", "Ribbon"}, {"AdjustHoriaontal", "2"}, {"AdjustVertical", "-3"}},
         {"SIZE 40.04 mm,30.03 mm", "SET RIBBON ON", "REFERENCE 16,-23", "GAP 0 dot,0 dot", "OFFSET 0 dot"}},
        {{{"zeMediaTracking", "Gap"}},
         {"SIZE 27.09 mm,20.32 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 35 dot,0 dot", "OFFSET 0 dot"},
         "PRINT 1,1",
         "Label 40",
         PatternPage(320, 240, 300)},
        // 300 dots go out as the 40-byte stride.
        {{},
         {"SIZE 37.54 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET 0 dot"},
         "PRINT 1,1",
         "Label 40",
         PatternPage(300, 240, 203)},
        {{},
         {"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET 0 dot"},
         "SFAYPRINT 1,1",
         "do-zidivoz"},
        {{},
         {"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET 0 dot"},
         "PRINT 1,1",
         "DO-ZIDIVOZ"},
        {{},
         {"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET 0 dot"},
         "PRINT 1,1",
         "do-zidivoz "},
        {{},
         {"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET 0 dot"},
         "PRINT 1,1",
         "do-zidivo"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> lines = c.lines;
        lines.insert(lines.end(), kSetc.begin(), kSetc.end());
        const FilterResult r = RunJob({c.page}, c.choices, c.model);
        EXPECT_EQ(r.out, Cat({Lines(lines), Bytes("BITMAP 0,0,40,240,1,"), PreparedRows(c.page), Lines({"", c.print})}))
            << c.lines[3] << " / " << c.model << "\n"
            << Printable(r.out, 400);
    }
    // A 320-dot row is a whole number of words: the raster's bytes go out as they are.
    EXPECT_EQ(PreparedRows(cases[0].page), cases[0].page.data);
}

TEST(TsplProcess, CompressedBitmapInflatesToTheInvertedPage)
{
    const RasterPage page = PatternPage(320, 240, 203);
    const FilterResult r =
        RunJob({page}, {{"zeMediaTracking", "Gap"}, {"Darkness", "10"}, {"zePrintRate", "4"}, {"ImageCompress", "1"}});
    const ByteVec head =
        Cat({Lines({"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 24 dot,0 dot", "OFFSET 0 dot",
                    "DENSITY 10", "SPEED 4", "SETC AUTODOTTED OFF", "SETC PAUSEKEY ON", "SETC WATERMARK ON", "CLS"}),
             Bytes("BITMAP 0,0,40,240,3,")});
    const ByteVec tail = Bytes("\r\nPRINT 1,1\r\n");
    ASSERT_GT(r.out.size(), head.size() + tail.size());
    ASSERT_EQ(ByteVec(r.out.begin(), r.out.begin() + head.size()), head) << Printable(r.out, 400);
    size_t pos = head.size(), count = 0;
    while (r.out[pos] >= '0' && r.out[pos] <= '9')
        count = count * 10 + (r.out[pos++] - '0');
    ASSERT_EQ(r.out[pos++], ',');
    // The count covers the zlib stream exactly; CR LF and PRINT follow it.
    ASSERT_EQ(r.out.size(), pos + count + tail.size());
    EXPECT_EQ(ByteVec(r.out.end() - tail.size(), r.out.end()), tail);
    ByteVec inflated(9600);
    uLongf inflatedLen = inflated.size();
    ASSERT_EQ(uncompress(inflated.data(), &inflatedLen, r.out.data() + pos, count), Z_OK);
    EXPECT_EQ(inflated, Inverted(PreparedRows(page)));
}

TEST(TsplProcess, TwoColourSendsTheRedPlaneFirst)
{
    // Top-left quarter pure red, bottom-right quarter black, the rest white.
    RasterPage page;
    page.header = MakePageHeader(320, 240, 24, 203, 203);
    page.data.assign(320u * 240u * 3u, 0xFF);
    ByteVec red(9600, 0xFF), black(9600, 0xFF); // the planes: 0 bits are dots
    for (unsigned y = 0; y < 240; ++y) {
        for (unsigned x = 0; x < 320; ++x) {
            uint8_t *rgb = &page.data[(y * 320u + x) * 3u];
            if (y < 120 && x < 160) {
                rgb[1] = rgb[2] = 0;
                red[y * 40 + x / 8] = 0;
            } else if (y >= 120 && x >= 160) {
                rgb[0] = rgb[1] = rgb[2] = 0;
                black[y * 40 + x / 8] = 0;
            }
        }
    }
    // A threshold (ImageFilter 0) keeps each area solid.
    const FilterResult r = RunJob({page}, {{"ImageFilter", "0"}}, "Label 40", true);
    EXPECT_EQ(r.out, Cat({Lines({"SIZE 40.04 mm,30.03 mm", "SET RIBBON OFF", "REFERENCE 0,0", "GAP 0 dot,0 dot",
                                 "OFFSET 0 dot", "SETC AUTODOTTED OFF", "SETC PAUSEKEY ON", "SETC WATERMARK ON", "CLS",
                                 "SETCOLOR RED 8"}),
                          Bytes("BITMAP 0,0,40,240,1,"), red, Lines({"", "SETCOLOR BLACK"}),
                          Bytes("BITMAP 0,0,40,240,1,"), black, Lines({"", "PRINT 1,1"})}))
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
