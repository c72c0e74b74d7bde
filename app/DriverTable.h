// The printer models the app serves, one per shipped PPD, and how each PPD
// option shows up over IPP. Nothing here knows PAPPL.
#pragma once

#include <string>
#include <vector>

struct PpdChoice {
    const char *name; // choice keyword as the PPD spells it
    const char *text;
};

struct PpdOption {
    const char *keyword;
    const char *text;
    const char *defaultChoice;
    std::vector<PpdChoice> choices;
};

struct PpdMedia {
    const char *name; // PageSize choice
    const char *text;
    double width, length; // points
};

struct PpdAttribute {
    const char *name, *value;
};

struct PpdModel {
    const char *driverName; // e.g. "tspl-203", from the PPD file name
    const char *nickName;
    const char *manufacturer;
    const char *modelName; // the PPD's ModelName, as the filter reads it
    const char *deviceId;  // 1284DeviceID, "" when the PPD has none
    int modelNumber;
    int xDpi, yDpi;
    bool colorDevice;
    std::vector<PpdMedia> media;
    const char *defaultMedia;
    // Custom page size range in points; all 0 without one.
    double minWidth, minLength, maxWidth, maxLength;
    std::vector<PpdAttribute> attributes;
    std::vector<PpdOption> options;

    const PpdOption *FindOption(const char *keyword) const;
    std::string FindAttribute(const char *name) const;
};

const std::vector<PpdModel> &AllModels();
const PpdModel *FindModel(const std::string &driverName);

// The driver for a printer that reports the IEEE-1284 device ID DEVICE_ID
// ("MFG:TSC;MDL:TTP-244 Pro;CMD:TSPL2;"), or nullptr when the ID does not
// say what the printer speaks. First a model whose PPD names its maker and
// model (or carries the same 1284DeviceID MFG and MDL), then the command
// set: TSPL or TSPL2 a 203 dpi TSPL label printer, CPCL a CPCL label
// printer, ESC/POS (or ESCPOS) a receipt printer, 58 mm when its model name
// says 58, else 80 mm.
const char *DriverForDeviceId(const std::string &deviceId);

// Most vendor attributes a printer may have (PAPPL_MAX_VENDOR in PAPPL 1.3;
// PapplDriver.cpp checks that they agree).
constexpr int kMaxVendor = 32;

// How one PPD option is offered over IPP.
enum class IppKind {
    Vendor,     // a vendor attribute of its own
    Darkness,   // print-darkness / printer-darkness-configured
    Speed,      // print-speed
    Tracking,   // media-tracking
    LeftOffset, // media-left-offset (millimetres in the PPD)
    TopOffset,  // media-top-offset (millimetres in the PPD)
    LabelMode,  // label-mode-configured
    ColorMode,  // print-color-mode
    Fixed,      // not offered: Resolution has one choice per model
};

struct IppOption {
    const PpdOption *option;
    IppKind kind;
    std::string name; // vendor attribute name (IppKind::Vendor only)
};

// Every option of the model with its IPP form, in PPD order. At most
// `maxVendor` options become vendor attributes; the rest keep their PPD
// default and are listed in `dropped`.
std::vector<IppOption> IppOptions(const PpdModel &model, int maxVendor, std::vector<std::string> *dropped = nullptr);

// The IPP keyword for a word choice ("BLine" -> "bline").
std::string KeywordOf(const char *choice);
