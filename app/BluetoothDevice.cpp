#include "BluetoothDevice.h"

#include <pappl/pappl.h>

#include <memory>
#include <string>

#include "BtDiscovery.h"
#include "BtLink.h"

namespace {

struct Open {
    bt::RfcommConnector connector;
    std::unique_ptr<bt::Link> link;
};

bool ListBluetooth(pappl_device_cb_t cb, void *data, pappl_deverror_cb_t errorCb, void *errorData)
{
    const bt::Scan scan = bt::ScanBluez();
    if (scan.status != bt::Scan::Status::Ok) {
        if (errorCb)
            errorCb(scan.message.c_str(), errorData);
        return false;
    }
    for (const bt::Device &d : bt::PairedPrinters(scan))
        if (cb(bt::Describe(d).c_str(), d.uri.c_str(), d.guess.deviceId.c_str(), data))
            return true;
    return false;
}

bool OpenBluetooth(pappl_device_t *device, const char *uri, const char *)
{
    bt::Target target;
    std::string error;
    if (!bt::ParseUri(uri, target, error)) {
        papplDeviceError(device, "%s", error.c_str());
        return false;
    }
    auto *open = new Open;
    open->link = std::make_unique<bt::Link>(open->connector, target);
    if (!open->link->Open(error)) {
        papplDeviceError(device, "%s", error.c_str());
        delete open;
        return false;
    }
    papplDeviceSetData(device, open);
    return true;
}

void CloseBluetooth(pappl_device_t *device)
{
    delete static_cast<Open *>(papplDeviceGetData(device)); // the link drains, then closes
    papplDeviceSetData(device, nullptr);
}

ssize_t ReadBluetooth(pappl_device_t *device, void *buffer, size_t bytes)
{
    auto *open = static_cast<Open *>(papplDeviceGetData(device));
    return open ? open->link->Read(buffer, bytes, 1000) : -1;
}

// The driver hands each page over in one write (PagePath writes a page
// whole, PAPPL's buffer is flushed after it), so each write starts a page.
ssize_t WriteBluetooth(pappl_device_t *device, const void *buffer, size_t bytes)
{
    auto *open = static_cast<Open *>(papplDeviceGetData(device));
    if (!open)
        return -1;
    std::string error;
    if (!open->link->WritePage(buffer, bytes, error)) {
        papplDeviceError(device, "%s", error.c_str());
        return -1;
    }
    return static_cast<ssize_t>(bytes);
}

pappl_preason_t BluetoothStatus(pappl_device_t *)
{
    return PAPPL_PREASON_NONE;
}

} // namespace

void AddBluetoothScheme()
{
    papplDeviceAddScheme(bt::kScheme, PAPPL_DEVTYPE_CUSTOM_LOCAL, ListBluetooth, OpenBluetooth, CloseBluetooth,
                         ReadBluetooth, WriteBluetooth, BluetoothStatus, nullptr);
}
