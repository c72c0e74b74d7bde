// Which driver a USB printer's IEEE-1284 device ID picks.
#include <gtest/gtest.h>

#include <string>

#include "DriverTable.h"
#include "UsbAddress.h"

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
        {"MFG:Cat Printer;MDL:MXW01;", "cat-mxw01"},
        {"MFG:Cat Printer;MDL:GB03;CMD:CAT;", "cat-gb03"},
        {"MFG:NIIMBOT;MDL:D110;CMD:NIIMBOT;", "niimbot-d110"},
        {"MFG:Niimbot;MDL:B21;", "niimbot-b21"},
        {"MFG:Phomemo;MDL:M110;CMD:PHOMEMO;", "phomemo-m110"},
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

// A USB printer's URI: the one PAPPL 1.3's own USB device gave it, so that
// printers added before keep working.
TEST(DeviceId, UsbPrinterUriFromItsIdOrStrings)
{
    struct Case {
        const char *id, *maker, *product, *serial, *uri, *info;
    } cases[] = {
        {"MFG:Zebra;MDL:ZD421;CMD:ZPL;SN:D4J2;", "", "", "", "usb://Zebra/ZD421?serial=D4J2", "Zebra ZD421 (USB)"},
        {"MANUFACTURER:Xprinter;MODEL:XP 420B;", "X", "Y", "77", "usb://Xprinter/XP%20420B?serial=77",
         "Xprinter XP 420B (USB)"},
        {"MFG:HP;MDL:HP LaserJet;SERN:9;", "", "", "", "usb://HP/HP%20LaserJet?serial=9", "HP LaserJet (USB)"},
        {"MFG:TSC;MDL:TE200;SERIALNUMBER:ABC;", "", "", "", "usb://TSC/TE200?serial=:ABC", "TSC TE200 (USB)"},
        // No device ID: the USB strings; none of those either: placeholders.
        {"", "POS", "Receipt-58", "", "usb://POS/Receipt-58?serial=0.0", "POS Receipt-58 (USB)"},
        {"", "", "", "", "usb://Unknown/Product?serial=0.0", "Unknown Product (USB)"},
    };
    for (const Case &c : cases) {
        const UsbName name = UsbNameOf(c.id, c.maker, c.product, c.serial, "0.0");
        EXPECT_EQ(name.uri, c.uri) << c.id;
        EXPECT_EQ(name.info, c.info) << c.id;
    }
}

TEST(DeviceId, UsbReplyLengthEitherWayRound)
{
    const std::string text = "MFG:A;MDL:Bcdefgh;";
    const unsigned char n = static_cast<unsigned char>(text.size() + 2);
    std::string big = std::string(1, '\0') + static_cast<char>(n) + text + "garbage";
    std::string little = std::string(1, static_cast<char>(n)) + '\0' + text;
    const auto *b = reinterpret_cast<const unsigned char *>(big.data());
    const auto *l = reinterpret_cast<const unsigned char *>(little.data());
    EXPECT_EQ(DeviceIdOfReply(b, big.size()), text);
    EXPECT_EQ(DeviceIdOfReply(l, little.size()), text);
    EXPECT_EQ(DeviceIdOfReply(b, 10), text.substr(0, 8)); // a length beyond the reply is cut to it
    EXPECT_EQ(DeviceIdOfReply(b, 1), "");
}

} // namespace
