// The Bluetooth printers BlueZ knows, read from its D-Bus API (org.bluez's
// object manager, Adapter1 and Device1) on the system bus
// ($DBUS_SYSTEM_BUS_ADDRESS when set).
#pragma once

#include <string>
#include <vector>

#include "BtGuess.h"
#include "BtTarget.h"

namespace bt {

constexpr const char *kSerialPortUuid = "00001101-0000-1000-8000-00805f9b34fb";

struct Device {
    Address address{};
    std::string name; // Alias, or Name when there is no alias
    bool paired = false;
    bool connected = false;
    bool serialPort = false; // offers the Serial Port Profile
    bool leService = false;  // announces the LE printer service (AE30)
    Guess guess;
    std::string uri;
};

struct Scan {
    enum class Status { Ok, NoBus, NoBluez, NoAdapter, AdapterOff, Failed };
    Status status = Status::Failed;
    std::string message;         // one line when status is not Ok
    std::vector<Device> devices; // every device of a powered adapter
};

// Asks BlueZ once; never waits longer than timeoutMs.
Scan ScanBluez(int timeoutMs = 3000);

// The devices worth offering as printers: paired, with the Serial Port
// Profile, sorted by name.
std::vector<Device> PairedPrinters(const Scan &scan);

// The Bluetooth LE printers BlueZ has seen (no pairing needed): those that
// announce the printer service or whose name is a cat printer's, sorted by
// name, with quillble: URIs.
std::vector<Device> LePrinters(const Scan &scan);
// ScanBluez, after letting BlueZ look for LE devices for scanMs first when
// it knows no LE printer yet (they need no pairing, so nothing else would
// make them known).
constexpr int kLeScanMs = 3000;
Scan ScanBluezForLe(int timeoutMs = 3000, int scanMs = kLeScanMs);
// "PeriPage_A1B2 (Bluetooth 00:11:22:33:44:AA): PeriPage A6"
std::string Describe(const Device &d);

} // namespace bt
