// Which driver a USB printer's IEEE-1284 device ID picks.
#include <gtest/gtest.h>

#include <string>

#include "DriverTable.h"

namespace {

struct Case {
    const char *deviceId;
    const char *driver; // nullptr: left for the user to add
};

TEST(DeviceId, PicksTheDriverTheIdNames)
{
    const Case cases[] = {
        // The command set.
        {"MFG:TSC;MDL:TTP-244 Pro;CMD:TSPL2;CLS:PRINTER;", "tspl-203"},
        {"MANUFACTURER:Xprinter;MODEL:XP-420B;COMMAND SET:TSPL;", "tspl-203"},
        {"MFG:Zebra;MDL:QLn220;CMD:ZPL,CPCL;", "cpcl-203"},
        {"MFG:EPSON;CMD:ESC/POS;MDL:TM-T88V;CLS:PRINTER;", "escpos-80"},
        {"mfg:Generic;mdl:POS-58;cmd:escpos;", "escpos-58"},
        {"MFG:Xprinter;MDL:XP-58IIH;CMD: ESC/POS ;", "escpos-58"},
        // The printer's own order decides between two languages.
        {"MFG:Any;MDL:Dual;CMD:ESC/POS,TSPL;", "escpos-80"},
        // A PPD's maker and model.
        {"MFG:Paperang;MDL:P2;", "paperang-p2"},
        {"MFG:PeriPage;MDL:A6+;CMD:;", "peripage-a6plus"},
        {"MFG:peripage;MDL:a6;", "peripage-a6"},
        // Nothing said, or a language of other printers.
        {"MFG:EPSON;MDL:ET-2750;CMD:ESCPL2,BDC,D4,ESCPR1;", nullptr},
        {"MFG:Zebra;MDL:ZD420;CMD:ZPL;", nullptr},
        {"MFG:Generic;MDL:TSPL Label 203dpi;", nullptr},
        {"MFG:Acme;MDL:Label;CMD:TSPLX,XCPCL;", nullptr},
        {"", nullptr},
        {";;::;", nullptr},
        {"CMD", nullptr},
    };
    for (const Case &c : cases) {
        const char *driver = DriverForDeviceId(c.deviceId);
        if (!c.driver)
            EXPECT_EQ(driver, nullptr) << c.deviceId << " picked " << driver;
        else
            EXPECT_STREQ(driver ? driver : "(none)", c.driver) << c.deviceId;
    }
}

TEST(DeviceId, EveryPickedDriverIsInTheTable)
{
    for (const char *id : {"CMD:TSPL;", "CMD:CPCL;", "CMD:ESC/POS;", "MDL:58;CMD:ESC/POS;"}) {
        const char *driver = DriverForDeviceId(id);
        ASSERT_NE(driver, nullptr) << id;
        EXPECT_NE(FindModel(driver), nullptr) << driver;
    }
}

} // namespace
