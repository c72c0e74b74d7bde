// Bluetooth LE printers through BlueZ's D-Bus API on the system bus
// ($DBUS_SYSTEM_BUS_ADDRESS when set): finding the device (a bounded LE scan
// when BlueZ does not know it yet), connecting, waiting for its services, and
// the printer's characteristics, by the service it offers (GattProfile).
//
// The characteristics are taken with AcquireWrite and AcquireNotify (a
// socket each, one packet a write); where BlueZ or the printer does not offer
// them, with WriteValue (type "command") and StartNotify (the Value's
// PropertiesChanged signals).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "BleLink.h"

struct sd_bus_message;

namespace bt {

// The LE printers' services and their characteristics: one to write the
// printer's language to, one it notifies on (they may be the same) and, for
// some, one for bulk data.
struct GattProfile {
    const char *service;
    const char *write;
    const char *notify;
    const char *bulk; // "" when the printer has none
};

// The cat printers (AE30); the MXW01 has AE03 for its lines.
constexpr GattProfile kCatProfile = {"0000ae30-0000-1000-8000-00805f9b34fb", "0000ae01-0000-1000-8000-00805f9b34fb",
                                     "0000ae02-0000-1000-8000-00805f9b34fb", "0000ae03-0000-1000-8000-00805f9b34fb"};
// Niimbot's label printers: one characteristic that is written and notifies.
constexpr GattProfile kNiimbotProfile = {"e7810a71-73ae-499d-8c15-faa9aef0c3f2", "bef8d6c9-9c21-4c9e-b632-bd58c1009f9f",
                                         "bef8d6c9-9c21-4c9e-b632-bd58c1009f9f", ""};
constexpr GattProfile kGattProfiles[] = {kCatProfile, kNiimbotProfile};

// Whether a device announcing this service UUID is an LE printer.
bool IsPrinterService(const char *uuid);

class BluezConnector : public BleConnector {
public:
    std::unique_ptr<BlePort> Connect(const BleTarget &target, int timeoutMs, std::string &error) override;
};

// Lets BlueZ look for LE devices for `ms` on the first adapter that is on
// (what it sees is then in its device list); false with the reason when it
// could not.
bool ScanLe(int ms, std::string &error);

// Walks the answer of BlueZ's GetManagedObjects, a{oa{sa{sv}}}: `read` is
// given each object's path and interface name and reads or skips that
// interface's a{sv}; a negative result ends the walk and is returned.
using ReadInterface = std::function<int(const char *path, const char *iface)>;
int WalkManagedObjects(sd_bus_message *m, const ReadInterface &read);

} // namespace bt
