// What a Bluetooth device's advertised name says about the printer: the
// family and, where the name tells, the model, from the names these printers
// are sold and announce themselves under.
#pragma once

#include <string>

#include "BtTarget.h"

namespace bt {

struct Guess {
    Family family = Family::Unknown;
    std::string driver;    // the app's driver name ("paperang-p1"), empty when unknown
    std::string makeModel; // "Paperang P1", "Generic ESC/POS Receipt 58mm", "Unknown"
    std::string deviceId;  // IEEE 1284 style "MFG:...;MDL:...;CMD:...;" or empty
};

Guess GuessModel(const std::string &name);

} // namespace bt
