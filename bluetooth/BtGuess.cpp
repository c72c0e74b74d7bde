#include "BtGuess.h"

#include <algorithm>
#include <cctype>

namespace bt {
namespace {

struct Pattern {
    const char *needle; // lower case; a leading '^' anchors it at the start
    Family family;
    const char *driver;
    const char *makeModel;
    const char *deviceId;
};

// First match wins: the specific models before their families. The cat
// printers announce their model as their whole name.
const Pattern kPatterns[] = {
    {"^gb01", Family::Cat, "cat-gb01", "Cat printer GB01", "MFG:Cat Printer;MDL:GB01;CMD:CAT;"},
    {"^gb02", Family::Cat, "cat-gb02", "Cat printer GB02", "MFG:Cat Printer;MDL:GB02;CMD:CAT;"},
    {"^gb03", Family::Cat, "cat-gb03", "Cat printer GB03", "MFG:Cat Printer;MDL:GB03;CMD:CAT;"},
    {"^gt01", Family::Cat, "cat-gt01", "Cat printer GT01", "MFG:Cat Printer;MDL:GT01;CMD:CAT;"},
    {"^mxw01", Family::Cat, "cat-mxw01", "Cat printer MXW01", "MFG:Cat Printer;MDL:MXW01;CMD:CAT;"},
    {"^mx05", Family::Cat, "cat-mx05", "Cat printer MX05", "MFG:Cat Printer;MDL:MX05;CMD:CAT;"},
    {"^mx06", Family::Cat, "cat-mx06", "Cat printer MX06", "MFG:Cat Printer;MDL:MX06;CMD:CAT;"},
    {"^mx08", Family::Cat, "cat-mx08", "Cat printer MX08", "MFG:Cat Printer;MDL:MX08;CMD:CAT;"},
    {"^mx09", Family::Cat, "cat-mx09", "Cat printer MX09", "MFG:Cat Printer;MDL:MX09;CMD:CAT;"},
    {"^mx10", Family::Cat, "cat-mx10", "Cat printer MX10", "MFG:Cat Printer;MDL:MX10;CMD:CAT;"},
    {"^mx11", Family::Cat, "cat-mx11", "Cat printer MX11", "MFG:Cat Printer;MDL:MX11;CMD:CAT;"},
    // Niimbot printers announce their model and a serial number: "D110-H123".
    {"^d110", Family::Niimbot, "niimbot-d110", "Niimbot D110", "MFG:NIIMBOT;MDL:D110;CMD:NIIMBOT;"},
    {"^d11", Family::Niimbot, "niimbot-d11", "Niimbot D11", "MFG:NIIMBOT;MDL:D11;CMD:NIIMBOT;"},
    {"^b18", Family::Niimbot, "niimbot-b18", "Niimbot B18", "MFG:NIIMBOT;MDL:B18;CMD:NIIMBOT;"},
    {"^b21", Family::Niimbot, "niimbot-b21", "Niimbot B21", "MFG:NIIMBOT;MDL:B21;CMD:NIIMBOT;"},
    {"^b1-", Family::Niimbot, "niimbot-b1", "Niimbot B1", "MFG:NIIMBOT;MDL:B1;CMD:NIIMBOT;"},
    // Phomemo's announce their model ("M110", "M02 Pro").
    {"^m02", Family::Phomemo, "phomemo-m02", "Phomemo M02", "MFG:Phomemo;MDL:M02;CMD:PHOMEMO;"},
    {"^m110", Family::Phomemo, "phomemo-m110", "Phomemo M110", "MFG:Phomemo;MDL:M110;CMD:PHOMEMO;"},
    {"^m120", Family::Phomemo, "phomemo-m110", "Phomemo M110", "MFG:Phomemo;MDL:M110;CMD:PHOMEMO;"},
    {"^m220", Family::Phomemo, "phomemo-m220", "Phomemo M220", "MFG:Phomemo;MDL:M220;CMD:PHOMEMO;"},
    {"^m221", Family::Phomemo, "phomemo-m220", "Phomemo M220", "MFG:Phomemo;MDL:M220;CMD:PHOMEMO;"},
    {"paperang_p2", Family::Paperang, "paperang-p2", "Paperang P2", "MFG:Paperang;MDL:P2;"},
    {"paperang p2", Family::Paperang, "paperang-p2", "Paperang P2", "MFG:Paperang;MDL:P2;"},
    {"paperang", Family::Paperang, "paperang-p1", "Paperang P1", "MFG:Paperang;MDL:P1;"},
    {"peripage+", Family::PeriPage, "peripage-a6plus", "PeriPage A6+", "MFG:PeriPage;MDL:A6+;"},
    {"peripage a6+", Family::PeriPage, "peripage-a6plus", "PeriPage A6+", "MFG:PeriPage;MDL:A6+;"},
    {"peripage", Family::PeriPage, "peripage-a6", "PeriPage A6", "MFG:PeriPage;MDL:A6;"},
    {"^pos-80", Family::EscPos, "escpos-80", "Generic ESC/POS Receipt 80mm",
     "MFG:Generic;MDL:ESC/POS Receipt 80mm;CMD:ESC/POS;"},
    {"^pos80", Family::EscPos, "escpos-80", "Generic ESC/POS Receipt 80mm",
     "MFG:Generic;MDL:ESC/POS Receipt 80mm;CMD:ESC/POS;"},
    {"^xp-80", Family::EscPos, "escpos-80", "Generic ESC/POS Receipt 80mm",
     "MFG:Generic;MDL:ESC/POS Receipt 80mm;CMD:ESC/POS;"},
    {"^xp-3", Family::Tspl, "tspl-203", "Generic TSPL Label 203dpi", "MFG:Generic;MDL:TSPL Label 203dpi;CMD:TSPL;"},
    {"^xp-4", Family::Tspl, "tspl-203", "Generic TSPL Label 203dpi", "MFG:Generic;MDL:TSPL Label 203dpi;CMD:TSPL;"},
    {"^xp-d4", Family::Tspl, "tspl-203", "Generic TSPL Label 203dpi", "MFG:Generic;MDL:TSPL Label 203dpi;CMD:TSPL;"},
    {"^itpp", Family::Tspl, "tspl-203", "Generic TSPL Label 203dpi", "MFG:Generic;MDL:TSPL Label 203dpi;CMD:TSPL;"},
    {"^mtp-", Family::EscPos, "escpos-58", "Generic ESC/POS Receipt 58mm",
     "MFG:Generic;MDL:ESC/POS Receipt 58mm;CMD:ESC/POS;"},
    {"^pt-2", Family::EscPos, "escpos-58", "Generic ESC/POS Receipt 58mm",
     "MFG:Generic;MDL:ESC/POS Receipt 58mm;CMD:ESC/POS;"},
    {"^rpp0", Family::EscPos, "escpos-58", "Generic ESC/POS Receipt 58mm",
     "MFG:Generic;MDL:ESC/POS Receipt 58mm;CMD:ESC/POS;"},
    {"^pos-58", Family::EscPos, "escpos-58", "Generic ESC/POS Receipt 58mm",
     "MFG:Generic;MDL:ESC/POS Receipt 58mm;CMD:ESC/POS;"},
    {"^pos58", Family::EscPos, "escpos-58", "Generic ESC/POS Receipt 58mm",
     "MFG:Generic;MDL:ESC/POS Receipt 58mm;CMD:ESC/POS;"},
    {"^xp-58", Family::EscPos, "escpos-58", "Generic ESC/POS Receipt 58mm",
     "MFG:Generic;MDL:ESC/POS Receipt 58mm;CMD:ESC/POS;"},
    {"^xp-p", Family::EscPos, "escpos-58", "Generic ESC/POS Receipt 58mm",
     "MFG:Generic;MDL:ESC/POS Receipt 58mm;CMD:ESC/POS;"},
    {"^goojprt", Family::EscPos, "escpos-58", "Generic ESC/POS Receipt 58mm",
     "MFG:Generic;MDL:ESC/POS Receipt 58mm;CMD:ESC/POS;"},
    {"^bluetooth printer", Family::EscPos, "escpos-58", "Generic ESC/POS Receipt 58mm",
     "MFG:Generic;MDL:ESC/POS Receipt 58mm;CMD:ESC/POS;"},
    {"^printer001", Family::EscPos, "escpos-58", "Generic ESC/POS Receipt 58mm",
     "MFG:Generic;MDL:ESC/POS Receipt 58mm;CMD:ESC/POS;"},
};

} // namespace

Guess GuessModel(const std::string &name)
{
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const Pattern &p : kPatterns) {
        const bool anchored = p.needle[0] == '^';
        const std::string needle = anchored ? p.needle + 1 : p.needle;
        const size_t at = lower.find(needle);
        if (at == std::string::npos || (anchored && at != 0))
            continue;
        return Guess{p.family, p.driver, p.makeModel, p.deviceId};
    }
    return Guess{Family::Unknown, "", "Unknown", ""};
}

} // namespace bt
