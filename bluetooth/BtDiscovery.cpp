#include "BtDiscovery.h"

#include "BleGatt.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace bt {
namespace {

struct Adapter {
    bool powered = false;
};

struct Bus {
    sd_bus *bus = nullptr;
    ~Bus() { sd_bus_flush_close_unref(bus); }
};

struct Message {
    sd_bus_message *m = nullptr;
    ~Message() { sd_bus_message_unref(m); }
};

struct Props {
    std::string address, name, alias;
    bool paired = false, connected = false, powered = false, serialPort = false, leService = false;
};

// Reads one a{sv} of properties, keeping those we know.
int ReadProps(sd_bus_message *m, Props &p)
{
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    if (r < 0)
        return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char *key = nullptr;
        if ((r = sd_bus_message_read(m, "s", &key)) < 0)
            return r;
        const char *type = nullptr;
        if ((r = sd_bus_message_peek_type(m, nullptr, &type)) < 0)
            return r;
        const std::string k = key, t = type ? type : "";
        if ((k == "Address" || k == "Name" || k == "Alias") && t == "s") {
            const char *s = nullptr;
            if ((r = sd_bus_message_read(m, "v", "s", &s)) < 0)
                return r;
            (k == "Address" ? p.address : k == "Name" ? p.name : p.alias) = s ? s : "";
        } else if ((k == "Paired" || k == "Connected" || k == "Powered") && t == "b") {
            int b = 0;
            if ((r = sd_bus_message_read(m, "v", "b", &b)) < 0)
                return r;
            (k == "Paired" ? p.paired : k == "Connected" ? p.connected : p.powered) = b != 0;
        } else if (k == "UUIDs" && t == "as") {
            if ((r = sd_bus_message_enter_container(m, 'v', "as")) < 0 ||
                (r = sd_bus_message_enter_container(m, 'a', "s")) < 0)
                return r;
            const char *u = nullptr;
            while ((r = sd_bus_message_read(m, "s", &u)) > 0) {
                p.serialPort = p.serialPort || strcasecmp(u, kSerialPortUuid) == 0;
                p.leService = p.leService || IsPrinterService(u);
            }
            if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0 || (r = sd_bus_message_exit_container(m)) < 0)
                return r;
        } else if ((r = sd_bus_message_skip(m, "v")) < 0) {
            return r;
        }
        if ((r = sd_bus_message_exit_container(m)) < 0)
            return r;
    }
    if (r < 0)
        return r;
    return sd_bus_message_exit_container(m);
}

// A device's name comes over the air from anyone nearby: control characters
// become '_', and it is cut after 80 bytes, between characters.
std::string Printable(const std::string &name)
{
    std::string out;
    for (unsigned char c : name)
        out += (c < ' ' || c == 0x7f) ? '_' : static_cast<char>(c);
    if (out.size() > 80) {
        size_t cut = 80;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut;
        out.erase(cut);
    }
    return out;
}

// Printed to over Bluetooth LE: a device announcing a printer service, or
// named as a printer of a family that has only LE (cat printers) or mostly
// (Niimbot).
bool OverLe(const Device &d)
{
    return d.leService || d.guess.family == Family::Cat || d.guess.family == Family::Niimbot;
}

Scan Fail(Scan::Status status, const std::string &message)
{
    Scan s;
    s.status = status;
    s.message = message;
    return s;
}

} // namespace

Scan ScanBluez(int timeoutMs)
{
    Bus bus;
    int r = sd_bus_open_system(&bus.bus);
    if (r < 0)
        return Fail(Scan::Status::NoBus,
                    std::string("Bluetooth: the system D-Bus is not reachable (") + strerror(-r) + ").");
    sd_bus_set_method_call_timeout(bus.bus, static_cast<uint64_t>(timeoutMs) * 1000);

    sd_bus_error error = SD_BUS_ERROR_NULL;
    Message reply;
    r = sd_bus_call_method(bus.bus, "org.bluez", "/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", &error,
                           &reply.m, "");
    if (r < 0) {
        const bool absent = sd_bus_error_has_name(&error, "org.freedesktop.DBus.Error.ServiceUnknown") ||
                            sd_bus_error_has_name(&error, "org.freedesktop.DBus.Error.NameHasNoOwner");
        const std::string why = error.message ? error.message : strerror(-r);
        sd_bus_error_free(&error);
        if (absent)
            return Fail(Scan::Status::NoBluez, "Bluetooth: BlueZ is not running (start the bluetooth service).");
        return Fail(Scan::Status::Failed, "Bluetooth: BlueZ did not answer (" + why + ").");
    }

    std::map<std::string, Adapter> adapters;
    std::vector<std::pair<std::string, Props>> devices;
    sd_bus_message *m = reply.m;
    r = WalkManagedObjects(m, [&](const char *path, const char *iface) {
        if (strcmp(iface, "org.bluez.Adapter1") != 0 && strcmp(iface, "org.bluez.Device1") != 0)
            return sd_bus_message_skip(m, "a{sv}");
        Props p;
        const int read = ReadProps(m, p);
        if (read >= 0 && iface[10] == 'A')
            adapters[path].powered = p.powered;
        else if (read >= 0)
            devices.emplace_back(path, p);
        return read;
    });
    if (r < 0)
        return Fail(Scan::Status::Failed,
                    std::string("Bluetooth: BlueZ's answer was not understood (") + strerror(-r) + ").");

    if (adapters.empty())
        return Fail(Scan::Status::NoAdapter, "Bluetooth: no adapter found.");
    bool anyOn = false;
    for (const auto &a : adapters)
        anyOn = anyOn || a.second.powered;
    if (!anyOn)
        return Fail(Scan::Status::AdapterOff, "Bluetooth: the adapter is off (bluetoothctl power on).");

    Scan scan;
    scan.status = Scan::Status::Ok;
    for (const auto &[path, p] : devices) {
        // A device's object lives under its adapter's: /org/bluez/hci0/dev_...
        const std::string adapterPath = path.substr(0, path.rfind('/'));
        auto a = adapters.find(adapterPath);
        if (a == adapters.end() || !a->second.powered)
            continue;
        Device d;
        if (!ParseAddress(p.address, d.address))
            continue;
        d.name = Printable(!p.alias.empty() ? p.alias : !p.name.empty() ? p.name : FormatAddress(d.address));
        d.paired = p.paired;
        d.connected = p.connected;
        d.serialPort = p.serialPort;
        d.leService = p.leService;
        // The advertised name tells the model even when the user renamed it.
        d.guess = GuessModel(p.name.empty() ? d.name : p.name);
        if (d.guess.family == Family::Unknown)
            d.guess = GuessModel(d.name);
        if (OverLe(d)) {
            BleTarget t;
            t.address = d.address;
            d.uri = MakeBleUri(t);
        } else {
            Target t;
            t.address = d.address;
            t.family = d.guess.family;
            d.uri = MakeUri(t);
        }
        scan.devices.push_back(d);
    }
    return scan;
}

namespace {

template <typename Keep> std::vector<Device> Sorted(const Scan &scan, Keep keep)
{
    std::vector<Device> out;
    for (const Device &d : scan.devices)
        if (keep(d))
            out.push_back(d);
    std::sort(out.begin(), out.end(), [](const Device &a, const Device &b) {
        return a.name != b.name ? a.name < b.name : a.address < b.address;
    });
    return out;
}

} // namespace

std::vector<Device> PairedPrinters(const Scan &scan)
{
    return Sorted(scan, [](const Device &d) { return d.paired && d.serialPort && !d.leService; });
}

std::vector<Device> LePrinters(const Scan &scan)
{
    return Sorted(scan, OverLe);
}

Scan ScanBluezForLe(int timeoutMs, int scanMs)
{
    Scan scan = ScanBluez(timeoutMs);
    std::string why;
    if (scan.status == Scan::Status::Ok && scanMs > 0 && LePrinters(scan).empty() && ScanLe(scanMs, why))
        scan = ScanBluez(timeoutMs);
    return scan;
}

std::string Describe(const Device &d)
{
    std::string text = d.name + " (Bluetooth " + FormatAddress(d.address) + ")";
    text += d.guess.family == Family::Unknown ? ": model not recognised" : ": " + d.guess.makeModel;
    return text;
}

} // namespace bt
