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

// First match wins: the specific models before their families.
const Pattern kPatterns[] = {
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
