// Bluetooth LE printers through BlueZ's D-Bus API on the system bus
// ($DBUS_SYSTEM_BUS_ADDRESS when set): finding the device (a bounded LE scan
// when BlueZ does not know it yet), connecting, waiting for its services, and
// the printer's characteristics: AE01 to write, AE02 for notifications and,
// where the printer has it, AE03 for bulk data.
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

constexpr const char *kCatServiceUuid = "0000ae30-0000-1000-8000-00805f9b34fb";
constexpr const char *kCatWriteUuid = "0000ae01-0000-1000-8000-00805f9b34fb";
constexpr const char *kCatNotifyUuid = "0000ae02-0000-1000-8000-00805f9b34fb";
constexpr const char *kCatBulkUuid = "0000ae03-0000-1000-8000-00805f9b34fb";

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
