#include "BluetoothDevice.h"

#include <pappl/pappl.h>

#include <time.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "BleGatt.h"
#include "BtDiscovery.h"
#include "BtLink.h"
#include "LeJob.h"

namespace {

// Why the link's last write failed: the page path's writer sets it, the
// job's end reads it.
struct LastError {
    std::mutex mutex;
    std::string text;
    void Set(const std::string &e)
    {
        std::lock_guard<std::mutex> lock(mutex);
        text = e;
    }
    std::string Get()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return text;
    }
};

struct Open {
    bt::RfcommConnector connector;
    std::unique_ptr<bt::Link> link;
    LastError error;
};

// One question to BlueZ serves both schemes' listings of one device list
// (PAPPL asks them one after the other): its answer, and so a fault or a
// silent BlueZ, is told and waited for once.
bt::Scan SharedScan(bool &fresh)
{
    static std::mutex mutex;
    static bt::Scan last;
    static long long takenMs = -1;
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const long long now = static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    std::lock_guard<std::mutex> lock(mutex);
    fresh = takenMs < 0 || now - takenMs > 2000;
    if (fresh) {
        last = bt::ScanBluez();
        clock_gettime(CLOCK_MONOTONIC, &ts);
        takenMs = static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    }
    return last;
}

// The scan for a listing; a fault is told by the listing that asked.
bool ScanFor(bt::Scan &scan, pappl_deverror_cb_t errorCb, void *errorData)
{
    bool fresh = false;
    scan = SharedScan(fresh);
    if (scan.status == bt::Scan::Status::Ok)
        return true;
    if (fresh && errorCb)
        errorCb(scan.message.c_str(), errorData);
    return false;
}

bool ListBluetooth(pappl_device_cb_t cb, void *data, pappl_deverror_cb_t errorCb, void *errorData)
{
    bt::Scan scan;
    if (!ScanFor(scan, errorCb, errorData))
        return false;
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
        open->error.Set(error);
        return -1;
    }
    return static_cast<ssize_t>(bytes);
}

pappl_preason_t BluetoothStatus(pappl_device_t *)
{
    return PAPPL_PREASON_NONE;
}

// ------------------------------------------------------ Bluetooth LE

struct OpenLe {
    bt::BluezConnector connector;
    std::unique_ptr<bt::BleLink> link;
    std::unique_ptr<bt::BleSink> sink;
    LastError error;
};

bool ListLe(pappl_device_cb_t cb, void *data, pappl_deverror_cb_t errorCb, void *errorData)
{
    bt::Scan scan;
    if (!ScanFor(scan, errorCb, errorData))
        return false;
    if (bt::LePrinters(scan).empty())
        scan = bt::ScanBluezForLe();
    for (const bt::Device &d : bt::LePrinters(scan))
        if (cb(bt::Describe(d).c_str(), d.uri.c_str(), d.guess.deviceId.c_str(), data))
            return true;
    return false;
}

bool OpenLePrinter(pappl_device_t *device, const char *uri, const char *)
{
    bt::BleTarget target;
    std::string error;
    if (!bt::ParseBleUri(uri, target, error)) {
        papplDeviceError(device, "%s", error.c_str());
        return false;
    }
    auto *open = new OpenLe;
    open->link = std::make_unique<bt::BleLink>(open->connector, target, bt::CatFlow);
    if (!open->link->Open(error)) {
        papplDeviceError(device, "%s", error.c_str());
        delete open;
        return false;
    }
    open->sink = std::make_unique<bt::BleSink>(*open->link);
    papplDeviceSetData(device, open);
    return true;
}

// A printer that says when it has printed is waited for, so that the job
// ends when the paper has come out; the link then drains and closes.
void CloseLe(pappl_device_t *device)
{
    auto *open = static_cast<OpenLe *>(papplDeviceGetData(device));
    if (open && !open->link->Broken()) {
        std::string error;
        if (!bt::AwaitPrinted(*open->link, *open->sink, 120000, error))
            papplDeviceError(device, "%s", error.c_str());
    }
    delete open;
    papplDeviceSetData(device, nullptr);
}

ssize_t ReadLe(pappl_device_t *device, void *buffer, size_t bytes)
{
    auto *open = static_cast<OpenLe *>(papplDeviceGetData(device));
    return open ? open->link->Read(buffer, bytes, 1000) : -1;
}

// As on RFCOMM, each write is a page (or a status question).
ssize_t WriteLe(pappl_device_t *device, const void *buffer, size_t bytes)
{
    auto *open = static_cast<OpenLe *>(papplDeviceGetData(device));
    if (!open)
        return -1;
    std::string error;
    if (!open->sink->WritePage(buffer, bytes, error)) {
        papplDeviceError(device, "%s", error.c_str());
        open->error.Set(error);
        return -1;
    }
    return static_cast<ssize_t>(bytes);
}

} // namespace

void AddBluetoothScheme()
{
    papplDeviceAddScheme(bt::kScheme, PAPPL_DEVTYPE_CUSTOM_LOCAL, ListBluetooth, OpenBluetooth, CloseBluetooth,
                         ReadBluetooth, WriteBluetooth, BluetoothStatus, nullptr);
    papplDeviceAddScheme(bt::kBleScheme, PAPPL_DEVTYPE_CUSTOM_LOCAL, ListLe, OpenLePrinter, CloseLe, ReadLe, WriteLe,
                         BluetoothStatus, nullptr);
}

std::string LinkError(pappl_job_t *job, pappl_device_t *device)
{
    const char *uri = papplPrinterGetDeviceURI(papplJobGetPrinter(job));
    if (!device || !uri)
        return std::string();
    if (strncmp(uri, "quillbt:", 8) == 0) {
        auto *open = static_cast<Open *>(papplDeviceGetData(device));
        return open ? open->error.Get() : std::string();
    }
    if (strncmp(uri, "quillble:", 9) == 0) {
        auto *open = static_cast<OpenLe *>(papplDeviceGetData(device));
        return open ? open->error.Get() : std::string();
    }
    return std::string();
}
