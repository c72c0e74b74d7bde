// The names of a USB printer, from its IEEE-1284 device ID and its USB
// strings: the URI the app stores for it and the line it is listed with.
//   usb://Zebra/ZD421?serial=D4J213402345
// A printer keeps its URI across ports and restarts as long as it reports
// the same maker, model and serial number.
#pragma once

#include <cstddef>
#include <string>

struct UsbName {
    std::string uri;  // usb://MAKE/MODEL?serial=SERIAL
    std::string info; // "MAKE MODEL (USB)"
};

// The device ID of a GET_DEVICE_ID reply: two length bytes (the length
// counts them; most-significant byte first, though some printers send it
// the other way round), then the text.
std::string DeviceIdOfReply(const unsigned char *reply, size_t bytes);

// The names for a printer that sent DEVICE_ID (may be empty) and has the
// USB strings MAKER, PRODUCT and SERIAL (empty where the printer has none;
// FALLBACK_SERIAL, "configuration.interface", stands in for a missing
// serial number).
UsbName UsbNameOf(const std::string &deviceId, const std::string &maker, const std::string &product,
                  const std::string &serial, const std::string &fallbackSerial);
