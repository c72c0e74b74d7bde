// The app's PPD options over IPP: the driver table generated from the
// shipped PPDs, and a job's IPP values turned into PPD choices.
#include <gtest/gtest.h>

#include <string>

#include "DriverTable.h"
#include "JobSettings.h"

namespace {

const PpdModel &Model(const char *driver)
{
    const PpdModel *m = FindModel(driver);
    EXPECT_NE(m, nullptr) << driver;
    return *m;
}

TEST(DriverTable, EveryShippedModelFitsPapplsVendorLimit)
{
    ASSERT_EQ(AllModels().size(), 30u);
    for (const PpdModel &m : AllModels()) {
        std::vector<std::string> dropped;
        IppOptions(m, kMaxVendor, &dropped);
        EXPECT_TRUE(dropped.empty()) << m.driverName << " drops " << (dropped.empty() ? "" : dropped[0]);
    }
}

TEST(DriverTable, MediaTrackingIsStandardOnlyWhereIppHasEveryChoice)
{
    struct Case {
        const char *driver;
        IppKind kind;
    } cases[] = {{"tspl-203", IppKind::Tracking},
                 {"cpcl-203", IppKind::Tracking},
                 {"peripage-a6", IppKind::Vendor},
                 {"paperang-p1", IppKind::Vendor}};
    for (const Case &c : cases) {
        for (const IppOption &o : IppOptions(Model(c.driver), kMaxVendor)) {
            if (std::string(o.option->keyword) == "zeMediaTracking") {
                EXPECT_EQ(o.kind, c.kind) << c.driver;
            }
        }
    }
}

struct ApplyCase {
    const char *driver;
    void (*set)(JobValues &);
    const char *keyword;
    const char *choice;
};

const ApplyCase kApply[] = {
    {"tspl-203", [](JobValues &) {}, "Darkness", "Default"},
    {"tspl-203", [](JobValues &) {}, "zePrintRate", "Default"},
    {"tspl-203", [](JobValues &) {}, "ImageFilter", "11"},
    {"tspl-203", [](JobValues &v) { v.printDarkness = 40; }, "Darkness", "14"},
    {"tspl-203", [](JobValues &v) { v.printDarkness = -100; }, "Darkness", "0"},
    {"tspl-203", [](JobValues &v) { v.printDarkness = 100; }, "Darkness", "15"},
    {"tspl-203", [](JobValues &v) { v.darknessConfigured = 20, v.darknessChosen = true; }, "Darkness", "3"},
    {"tspl-203", [](JobValues &v) { v.darknessConfigured = 53, v.darknessChosen = true; }, "Darkness", "8"},
    {"tspl-203", [](JobValues &v) { v.darknessConfigured = 20; }, "Darkness", "Default"},
    {"tspl-203", [](JobValues &v) { v.printSpeed = 4 * 2540; }, "zePrintRate", "4"},
    {"tspl-203", [](JobValues &v) { v.tracking = "mark"; }, "zeMediaTracking", "BLine"},
    {"tspl-203", [](JobValues &v) { v.tracking = "continuous"; }, "zeMediaTracking", "Continuous"},
    {"tspl-203", [](JobValues &v) { v.leftOffset = 200; }, "AdjustHoriaontal", "2"},
    {"tspl-203", [](JobValues &v) { v.topOffset = 1000; }, "AdjustVertical", "10"},
    {"tspl-203", [](JobValues &v) { v.labelMode = "peel-off"; }, "PostAction", "3"},
    {"tspl-203", [](JobValues &v) { v.vendor["dithering"] = "1"; }, "ImageFilter", "1"},
    {"tspl-203", [](JobValues &v) { v.vendor["crop-edge-top"] = "-1"; }, "CropEdgeTop", "-1"},
    {"tspl-203", [](JobValues &v) { v.vendor["print-method"] = "ribbon"; }, "MediaMethod", "Ribbon"},
    {"tspl-203", [](JobValues &v) { v.mediaWidth = 5000, v.mediaLength = 3000; }, "PageSize", "50x30mm"},
    {"tspl-203", [](JobValues &v) { v.mediaWidth = 4000, v.mediaLength = 1000; }, "PageSize", "Custom.40.00x10.00mm"},
    {"peripage-a6", [](JobValues &v) { v.vendor["paper-type"] = "recording"; }, "zeMediaTracking", "Recording"},
    // Cat printers have no "printer's own" darkness: the PPD's middle step.
    {"cat-gb01", [](JobValues &) {}, "Darkness", "3"},
    {"cat-gb01", [](JobValues &v) { v.printDarkness = 100; }, "Darkness", "5"},
    {"cat-mxw01", [](JobValues &) {}, "zePrintRate", "Default"},
    // Niimbot: the darkest density of the model's own range; its label kinds beyond IPP's.
    {"niimbot-d110", [](JobValues &v) { v.printDarkness = 100; }, "Darkness", "3"},
    {"niimbot-b1", [](JobValues &v) { v.printDarkness = 100; }, "Darkness", "5"},
    {"niimbot-b18", [](JobValues &v) { v.vendor["paper-type"] = "tube"; }, "zeMediaTracking", "Tube"},
    {"escpos-58", [](JobValues &v) { v.printDarkness = 40; }, "Darkness", ""},
    {"tspl-2colour-203", [](JobValues &v) { v.color = true; }, "ColorModel", "RGB"},
    {"tspl-2colour-203", [](JobValues &) {}, "ColorModel", "Gray"},
};

TEST(JobSettings, IppValuesPickThePpdChoices)
{
    for (const ApplyCase &c : kApply) {
        JobSettings settings(Model(c.driver));
        JobValues values;
        c.set(values);
        EXPECT_EQ(settings.Apply(values, kMaxVendor), "") << c.driver << " " << c.keyword;
        EXPECT_EQ(settings.Choice(c.keyword), c.choice) << c.driver << " " << c.keyword;
    }
}

TEST(JobSettings, ANewPrintersDarknessIsOneOfTheWebInterfacesSteps)
{
    // PAPPL offers 100 * i / (levels - 1) percent; 16 levels: 0, 6, ..., 46, 53, ...
    EXPECT_EQ(InitialDarknessConfigured(16), 53);
    for (int levels = 2; levels <= 64; ++levels) {
        const int percent = InitialDarknessConfigured(levels);
        bool offered = false;
        for (int i = 0; i < levels; ++i)
            offered = offered || 100 * i / (levels - 1) == percent;
        EXPECT_TRUE(offered) << levels;
    }
}

TEST(JobSettings, AValueNoChoiceNamesIsRefusedAndChangesNothing)
{
    JobSettings settings(Model("tspl-203"));
    JobValues values;
    values.printDarkness = 40;
    values.vendor["dithering"] = "99";
    EXPECT_NE(settings.Apply(values, kMaxVendor).find("dithering"), std::string::npos);
    EXPECT_EQ(settings.Choice("Darkness"), "Default");
    EXPECT_EQ(settings.Attribute("cupsModelNumber"), "20");
}

} // namespace
