// Settings read from a real PPD through libcups, with their trace lines, and
// millimetre-to-dot conversion.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cups/cups.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <map>

#include "BaseRender.h"
#include "FilterRun.h"
#include "PrinterTestKit.h"
#include "SettingsReader.h"

namespace {

// The trace lines of GetPrinterParameters, kept instead of going to syslog.
struct TracingRender : CapturingRenderer<CBaseRender> {
    bool Logged(const std::string &line) const { return ("\n" + log).find("\n" + line + "\n") != std::string::npos; }
};

class Settings : public ::testing::Test {
protected:
    TempDir dir;
    ppd_file_t *ppd = nullptr;
    TracingRender render;

    // Opens a PPD with the options, marks defaults then the job options.
    void Load(const TestPpd &printer, const std::string &jobOptions = "")
    {
        ppd = ppdOpenFile(WritePpd(dir.path(), printer).c_str());
        ASSERT_NE(ppd, nullptr);
        ppdMarkDefaults(ppd);
        cups_option_t *options = nullptr;
        int n = cupsParseOptions(jobOptions.c_str(), 0, &options);
        cupsMarkOptions(ppd, n, options);
        cupsFreeOptions(n, options);
        render.m_pPPD = ppd;
        render.GetPrinterParameters();
    }
    ~Settings() override
    {
        if (ppd)
            ppdClose(ppd);
    }
};

TEST_F(Settings, MissingOptionsGivePrinterDefaults)
{
    Load(TestPpd{});
    const tagREGSTRUCT &r = render.m_Reg;
    EXPECT_EQ(r.iDensity, -1);
    EXPECT_EQ(r.iSpeed, -1);
    EXPECT_FALSE(render.Logged("iDensity = 8"));
    EXPECT_TRUE(render.Logged("GetMarkedOption: Darkness is error"));
    EXPECT_TRUE(render.Logged("GetMarkedOption: zePrintRate is error"));
    EXPECT_TRUE(render.Logged("iOffsetX = 0"));
    EXPECT_TRUE(render.Logged("iOffsetY = 0"));
    EXPECT_TRUE(render.Logged("iLiangdu = 0"));
    EXPECT_EQ(render.log.rfind("CCupsRender::GetPrinterParameters\n", 0), 0u);
    EXPECT_EQ(r.iGrayMethod, 3);
    EXPECT_EQ(r.iThreValue, 175);
    EXPECT_FLOAT_EQ(r.fGap, 3.0f);
    EXPECT_FALSE(r.bDoubleColor);
}

TEST_F(Settings, ChoicesBecomeValues)
{
    struct Case {
        std::string keyword, choice, trace;
        std::function<double(const tagREGSTRUCT &)> value;
        double expected;
    };
    std::vector<Case> cases = {
        {"MediaMethod", "Direct", "iPrinttype = 0", [](auto &r) { return r.iPrinttype; }, 0},
        {"MediaMethod", "Normal", "iPrinttype = 0", [](auto &r) { return r.iPrinttype; }, 0},
        {"MediaMethod", "Ribbon", "iPrinttype = 1", [](auto &r) { return r.iPrinttype; }, 1},
        {"AdjustHoriaontal", "-3", "fReference[0] = -3.0000", [](auto &r) { return r.fReference[0]; }, -3},
        {"AdjustVertical", "12mm", "fReference[1] = 12.0000", [](auto &r) { return r.fReference[1]; }, 12},
        {"zeMediaTracking", "Gap", "Gap = 1, 3.0000, 0.0000", [](auto &r) { return r.iMediaType; }, 1},
        {"zeMediaTracking", "BLine", "Gap = 2, 0.0000, 0.0000", [](auto &r) { return r.fGap; }, 0},
        {"zeMediaTracking", "A4Fold", "Gap = 10, 0.0000, 0.0000", [](auto &r) { return r.iMediaType; }, 10},
        {"zeMediaTracking", "Odd", "Gap = 0, 3.0000, 0.0000", [](auto &r) { return r.fGap; }, 3},
        {"zeMediaTracking", "Continuous", "Gap = 0, 0.0000, 0.0000", [](auto &r) { return r.iMediaType; }, 0},
        {"zeMediaTracking", "Perforated", "Gap = 3, 0.0000, 0.0000", [](auto &r) { return r.iMediaType; }, 3},
        {"zeMediaTracking", "Roll", "Gap = 4, 0.0000, 0.0000", [](auto &r) { return r.iMediaType; }, 4},
        {"zeMediaTracking", "Recording", "Gap = 5, 0.0000, 0.0000", [](auto &r) { return r.iMediaType; }, 5},
        {"zeMediaTracking", "Tattoo", "Gap = 6, 0.0000, 0.0000", [](auto &r) { return r.iMediaType; }, 6},
        {"MediaAlign", "Left", "iAlign = 0", [](auto &r) { return r.iAlign; }, 0},
        {"MediaAlign", "Right", "iAlign = 2", [](auto &r) { return r.iAlign; }, 2},
        {"MediaAlign", "right", "iAlign = 1", [](auto &r) { return r.iAlign; }, 1},
        {"FeedOffset", "-2", "iOffset = -2.0000", [](auto &r) { return r.fFeedAfter; }, -2},
        {"Rotate", "2", "iRotate = 2", [](auto &r) { return r.iRotate; }, 2},
        {"Darkness", "12", "iDensity = 12", [](auto &r) { return r.iDensity; }, 12},
        {"Darkness", "Default", "CCupsRender::GetPrinterParameters", [](auto &r) { return r.iDensity; }, -1},
        {"Darkness", "0", "iDensity = 0", [](auto &r) { return r.iDensity; }, 0},
        {"zePrintRate", "4", "iSpeed = 4", [](auto &r) { return r.iSpeed; }, 4},
        {"AutoDotted", "5", "iDottedline = 1", [](auto &r) { return r.iDottedline; }, 1},
        {"ImageOffsetX", "8", "iOffsetX = 8", [](auto &r) { return r.iOffsetX; }, 8},
        {"ImageOffsetY", "-2", "iOffsetY = -2", [](auto &r) { return r.iOffsetY; }, -2},
        {"CropEdgeBottom", "1", "iCropBottomEdge = 1.0000", [](auto &r) { return r.iCropBottomEdge; }, 1},
        {"CropEdgeLeft", "1", "iCropLeftEdge = 1.0000", [](auto &r) { return r.iCropLeftEdge; }, 1},
        {"Brightness", "abc", "iLiangdu = 0", [](auto &r) { return r.iLiangdu; }, 0},
        {"Contrast", "-40", "iDuibidu = -40", [](auto &r) { return r.iDuibidu; }, -40},
        {"ImageEnhance", "20", "iGamma = 20", [](auto &r) { return r.iGamma; }, 20},
        {"ImageFilter", "0", "iGrayMethod = 0", [](auto &r) { return r.iGrayMethod; }, 0},
        {"Threshold", "300", "iThreValue = 300", [](auto &r) { return r.iThreValue; }, 300},
        {"ImageCompress", "1", "ImageCompress = 1", [](auto &r) { return r.bImageCompress; }, 1},
        {"CropEdgeTop", "5", "iCropTopEdge = 5.0000", [](auto &r) { return r.iCropTopEdge; }, 5},
        {"CropEdgeRight", "-1", "fCropRightEdge = -1.0000", [](auto &r) { return r.fCropRightEdge; }, -1},
        {"qfBrightness", "40", "iLiangdu = 40", [](auto &r) { return r.iLiangdu; }, 40},
        {"GapHeight", "4", "fGap = 4.0000", [](auto &r) { return r.fGap; }, 4},
        {"GapOffset", "-1", "fGapOffset = -1.0000", [](auto &r) { return r.fGapOffset; }, -1},
        {"PostAction", "3", "iPostAction = 3", [](auto &r) { return r.iPostAction; }, 3},
        {"SendSetc", "0", "bSendSetc = 0", [](auto &r) { return r.bSendSetc; }, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.keyword + "=" + c.choice);
        TracingRender fresh;
        render.log.clear();
        render.m_Reg = tagREGSTRUCT();
        TestPpd printer;
        printer.options = {{c.keyword, {c.choice}}};
        Load(printer);
        EXPECT_TRUE(render.Logged(c.trace));
        EXPECT_DOUBLE_EQ(c.value(render.m_Reg), c.expected);
        ppdClose(ppd);
        ppd = nullptr;
    }
}

// The newer keywords are read after the ones they override, and only when
// offered: a PPD without them traces nothing of them.
TEST_F(Settings, NewerKeywordsOverrideOlderOnes)
{
    struct Case {
        std::string options;
        int brightness;
        float gap;
    } cases[] = {
        {"Brightness=60 qfBrightness=Default", 60, 0},
        {"Brightness=60 qfBrightness=-20 zeMediaTracking=BLine GapHeight=3", -20, 3},
    };
    for (const Case &c : cases) {
        TestPpd printer;
        printer.options = {{"Brightness", {"0", "60"}},
                           {"qfBrightness", {"Default", "-20"}},
                           {"zeMediaTracking", {"BLine"}},
                           {"GapHeight", {"0", "3"}}};
        render.m_Reg = tagREGSTRUCT();
        Load(printer, c.options);
        EXPECT_EQ(render.m_Reg.iLiangdu, c.brightness) << c.options;
        EXPECT_FLOAT_EQ(render.m_Reg.fGap, c.gap) << c.options;
        ppdClose(ppd);
        ppd = nullptr;
    }
    render.log.clear();
    Load(TestPpd{});
    EXPECT_EQ(render.log.find("qfBrightness"), std::string::npos);
    EXPECT_EQ(render.log.find("SendSetc"), std::string::npos);
}

TEST_F(Settings, JobOptionsOverrideDefaultsAndTheChoiceIsTraced)
{
    TestPpd printer;
    printer.options = {{"Darkness", {"Default", "10"}}};
    Load(printer, "Darkness=10");
    EXPECT_EQ(render.m_Reg.iDensity, 10);
    const bool traced = ("\n" + render.log)
                            .find("\nDarkness: marked=1, choice: 10, text: 10, code: , \t\t\tconflicted=0, "
                                  "keyword: Darkness, defchoice: Default") != std::string::npos;
    EXPECT_TRUE(traced);
}

TEST_F(Settings, DoubleColorAttribute)
{
    for (auto [value, expected] : {std::pair{"1", true}, {"0", false}, {"yes", false}}) {
        TestPpd printer;
        printer.attributes = {{"DoubleColor", value}};
        render.m_Reg = tagREGSTRUCT();
        Load(printer);
        EXPECT_EQ(render.m_Reg.bDoubleColor, expected) << value;
        ppdClose(ppd);
        ppd = nullptr;
    }
}

// Another front end's values, mapped onto the PPD keywords.
struct MapSource : SettingsSource {
    std::map<std::string, std::string> choices, attributes;
    std::vector<std::string> asked;
    std::string Choice(const char *keyword) override
    {
        asked.push_back(keyword);
        return choices.count(keyword) ? choices[keyword] : "";
    }
    std::string Attribute(const char *name) override { return attributes.count(name) ? attributes[name] : ""; }
};

TEST(ReadSettings, AnySourceFeedsTheSameRecordAndTrace)
{
    MapSource source;
    source.choices = {{"Rotate", "2"}, {"Darkness", "Default"}, {"FeedOffset", "4"}};
    source.attributes = {{"qfHeadWidth", "832"}};
    tagREGSTRUCT reg;
    std::string trace;
    ReadSettings(source, reg, [&](const std::string &line) { trace += line + "\n"; });
    EXPECT_EQ(reg.iRotate, 2);
    EXPECT_EQ(reg.iDensity, -1);
    EXPECT_FLOAT_EQ(reg.fFeedAfter, 4.0f);
    EXPECT_EQ(reg.iHeadWidth, 832);
    EXPECT_EQ(trace, "iOffset = 4.0000\niRotate = 2\niOffsetX = 0\niOffsetY = 0\niLiangdu = 0\niHeadWidth = 832\n");
    EXPECT_EQ(source.asked.front(), "MediaMethod");
    EXPECT_EQ(source.asked.back(), "SendSetc");

    MapSource none; // no head width declared: 0, untraced
    tagREGSTRUCT plain;
    ReadSettings(none, plain, [](const std::string &) {});
    EXPECT_EQ(plain.iHeadWidth, 0);
}

// Every setting that becomes a number in a printer command is held at what
// the printers take; the trace says what was used instead of the choice.
TEST(ReadSettings, CommandNumbersAreHeldAtWhatPrintersTake)
{
    struct Case {
        const char *keyword, *choice;
        std::function<double(const tagREGSTRUCT &)> value;
        double expected;
        const char *line; // "" when the choice is taken as it is
    } cases[] = {
        {"Darkness", "15", [](auto &r) { return r.iDensity; }, 15, ""},
        {"Darkness", "16", [](auto &r) { return r.iDensity; }, 15, "Darkness 16 is outside 0 to 15: 15 used"},
        {"Darkness", "99999", [](auto &r) { return r.iDensity; }, 15, "Darkness 99999 is outside 0 to 15: 15 used"},
        {"Darkness", "-1", [](auto &r) { return r.iDensity; }, -1, ""},
        {"Darkness", "-7", [](auto &r) { return r.iDensity; }, -1, "Darkness -7: the printer's own setting is used"},
        {"zePrintRate", "12", [](auto &r) { return r.iSpeed; }, 12, ""},
        {"zePrintRate", "1", [](auto &r) { return r.iSpeed; }, 1, ""},
        {"zePrintRate", "13", [](auto &r) { return r.iSpeed; }, 4, "zePrintRate 13 is outside 1 to 12 in/s: 4 used"},
        {"zePrintRate", "0", [](auto &r) { return r.iSpeed; }, 4, "zePrintRate 0 is outside 1 to 12 in/s: 4 used"},
        {"zePrintRate", "-3", [](auto &r) { return r.iSpeed; }, -1,
         "zePrintRate -3: the printer's own setting is used"},
        {"GapHeight", "25", [](auto &r) { return r.fGap; }, 25, ""},
        {"GapHeight", "2147483648", [](auto &r) { return r.fGap; }, 25.4,
         "GapHeight 2147483647 is outside 0 to 25.4 mm: 25.4 used"},
        {"GapHeight", "-2", [](auto &r) { return r.fGap; }, 0, "GapHeight -2 is outside 0 to 25.4 mm: 0 used"},
        {"GapOffset", "-152", [](auto &r) { return r.fGapOffset; }, -152, ""},
        {"GapOffset", "99999999999", [](auto &r) { return r.fGapOffset; }, 152.4,
         "GapOffset 2147483647 is outside -152.4 to 152.4 mm: 152.4 used"},
        {"AdjustHoriaontal", "-99999", [](auto &r) { return r.fReference[0]; }, -152.4,
         "AdjustHoriaontal -99999 is outside -152.4 to 152.4 mm: -152.4 used"},
        {"AdjustVertical", "153", [](auto &r) { return r.fReference[1]; }, 152.4,
         "AdjustVertical 153 is outside -152.4 to 152.4 mm: 152.4 used"},
        {"FeedOffset", "100", [](auto &r) { return r.fFeedAfter; }, 100, ""},
        {"FeedOffset", "2147483648", [](auto &r) { return r.fFeedAfter; }, 100,
         "FeedOffset 2147483647 is outside -25.4 to 100 mm: 100 used"},
        {"FeedOffset", "-26", [](auto &r) { return r.iOffset; }, -25.4,
         "FeedOffset -26 is outside -25.4 to 100 mm: -25.4 used"},
        {"CutterFeed", "101", [](auto &r) { return r.fCutterFeed; }, 100,
         "CutterFeed 101 is outside 0 to 100 mm: 100 used"},
        {"CutterFeed", "-1", [](auto &r) { return r.fCutterFeed; }, 0, "CutterFeed -1 is outside 0 to 100 mm: 0 used"},
        {"BandRows", "0", [](auto &r) { return r.iBandRows; }, 1, "BandRows 0 is outside 1 to 65535: 1 used"},
        {"BandRows", "65536", [](auto &r) { return r.iBandRows; }, 65535,
         "BandRows 65536 is outside 1 to 65535: 65535 used"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.keyword) + "=" + c.choice);
        MapSource source;
        source.choices = {{c.keyword, c.choice}};
        tagREGSTRUCT reg;
        std::vector<std::string> lines;
        std::vector<std::string> warnings;
        ReadSettings(
            source, reg, [&](const std::string &line) { lines.push_back(line); },
            [&](const std::string &line) { warnings.push_back(line); });
        EXPECT_NEAR(c.value(reg), c.expected, 1e-5);
        EXPECT_EQ(warnings, *c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
        const bool said = std::any_of(lines.begin(), lines.end(), [](const std::string &l) {
            return l.find(" is outside ") != std::string::npos || l.find("printer's own") != std::string::npos;
        });
        if (*c.line)
            EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end());
        else
            EXPECT_FALSE(said);
    }
}

TEST(ConvertUnits, MillimetresToDots)
{
    CBaseRender r;
    struct Case {
        int dpi;
        float mm;
        float dots;
        int rounded;
    } cases[] = {
        {203, 3.0f, 23.976377f, 24}, {300, 10.0f, 118.11024f, 118},  {203, -2.0f, -15.984252f, -15},
        {203, 1.5f, 11.988189f, 12}, {203, -3.0f, -23.976377f, -23}, {300, 3.0f, 35.433071f, 35},
    };
    for (const Case &c : cases) {
        r.m_iResolution = c.dpi;
        EXPECT_FLOAT_EQ(r.ConvertUnits(3, c.mm), c.dots);
        EXPECT_EQ(r.MillimetresToDots(c.mm), c.rounded);
    }
    r.m_iResolution = 203;
    EXPECT_EQ(r.ConvertUnits(5, 7.5f), 7.5f);
    EXPECT_EQ(r.ConvertUnits(0, 7.5f), 7.5f);
    EXPECT_EQ(r.MillimetresToDots(3e9f), INT_MAX);
    EXPECT_EQ(r.MillimetresToDots(-3e9f), INT_MIN);
}

} // namespace
