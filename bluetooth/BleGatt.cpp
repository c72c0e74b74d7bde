#include "BleGatt.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include "Clock.h"

namespace bt {
namespace {

void Pause(int ms)
{
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

struct Message {
    sd_bus_message *m = nullptr;
    ~Message() { sd_bus_message_unref(m); }
};

struct Error {
    sd_bus_error e = SD_BUS_ERROR_NULL;
    ~Error() { sd_bus_error_free(&e); }
    std::string Text(int r) const { return e.message ? e.message : strerror(-r); }
};

// The properties of one interface of one object, as far as they matter here.
struct Props {
    std::map<std::string, std::string> text; // s and o
    std::map<std::string, bool> flags;       // b
    std::map<std::string, unsigned> numbers; // q
    bool Flag(const char *k) const
    {
        auto f = flags.find(k);
        return f != flags.end() && f->second;
    }
    std::string Text(const char *k) const
    {
        auto f = text.find(k);
        return f == text.end() ? std::string() : f->second;
    }
};

int ReadProps(sd_bus_message *m, Props &p)
{
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    if (r < 0)
        return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char *key = nullptr;
        const char *type = nullptr;
        if ((r = sd_bus_message_read(m, "s", &key)) < 0 || (r = sd_bus_message_peek_type(m, nullptr, &type)) < 0)
            return r;
        const std::string t = type ? type : "";
        if (t == "s" || t == "o") {
            const char *s = nullptr;
            if ((r = sd_bus_message_read(m, "v", t.c_str(), &s)) < 0)
                return r;
            p.text[key] = s ? s : "";
        } else if (t == "b") {
            int b = 0;
            if ((r = sd_bus_message_read(m, "v", "b", &b)) < 0)
                return r;
            p.flags[key] = b != 0;
        } else if (t == "q") {
            uint16_t q = 0;
            if ((r = sd_bus_message_read(m, "v", "q", &q)) < 0)
                return r;
            p.numbers[key] = q;
        } else if ((r = sd_bus_message_skip(m, "v")) < 0) {
            return r;
        }
        if ((r = sd_bus_message_exit_container(m)) < 0)
            return r;
    }
    return r < 0 ? r : sd_bus_message_exit_container(m);
}

// Every object's interfaces of interest: path -> interface -> properties.
using Objects = std::map<std::string, std::map<std::string, Props>>;

bool Interesting(const char *iface)
{
    return strcmp(iface, "org.bluez.Adapter1") == 0 || strcmp(iface, "org.bluez.Device1") == 0 ||
           strcmp(iface, "org.bluez.GattService1") == 0 || strcmp(iface, "org.bluez.GattCharacteristic1") == 0;
}

int ManagedObjects(sd_bus *bus, Objects &out, std::string &error)
{
    Error e;
    Message reply;
    int r = sd_bus_call_method(bus, "org.bluez", "/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", &e.e,
                               &reply.m, "");
    if (r < 0) {
        error = sd_bus_error_has_name(&e.e, "org.freedesktop.DBus.Error.ServiceUnknown")
                    ? "BlueZ is not running (start the bluetooth service)"
                    : "BlueZ did not answer (" + e.Text(r) + ")";
        return r;
    }
    sd_bus_message *m = reply.m;
    r = WalkManagedObjects(m, [&](const char *path, const char *iface) {
        return Interesting(iface) ? ReadProps(m, out[path][iface]) : sd_bus_message_skip(m, "a{sv}");
    });
    if (r < 0)
        error = std::string("BlueZ's answer was not understood (") + strerror(-r) + ")";
    return r;
}

std::string DevicePath(const Objects &objects, const Address &address)
{
    for (const auto &[path, ifaces] : objects) {
        auto d = ifaces.find("org.bluez.Device1");
        Address a{};
        if (d != ifaces.end() && ParseAddress(d->second.Text("Address"), a) && a == address)
            return path;
    }
    return std::string();
}

std::string PoweredAdapter(const Objects &objects)
{
    for (const auto &[path, ifaces] : objects) {
        auto a = ifaces.find("org.bluez.Adapter1");
        if (a != ifaces.end() && a->second.Flag("Powered"))
            return path;
    }
    return std::string();
}

// The UUID of the GATT service an object belongs to, "" if none.
std::string ServiceOf(const Objects &objects, const Props &characteristic)
{
    auto s = objects.find(characteristic.Text("Service"));
    if (s == objects.end() || !s->second.count("org.bluez.GattService1"))
        return std::string();
    return s->second.at("org.bluez.GattService1").Text("UUID");
}

// The characteristic with this UUID under the device, in the profile's
// service, or (`anyService`) in any.
std::string Characteristic(const Objects &objects, const std::string &device, const GattProfile &profile,
                           const char *uuid, bool anyService)
{
    std::string found;
    for (const auto &[path, ifaces] : objects) {
        auto c = ifaces.find("org.bluez.GattCharacteristic1");
        if (*uuid == 0 || c == ifaces.end() || path.compare(0, device.size() + 1, device + "/") != 0 ||
            strcasecmp(c->second.Text("UUID").c_str(), uuid) != 0)
            continue;
        if (strcasecmp(ServiceOf(objects, c->second).c_str(), profile.service) == 0)
            return path;
        if (anyService && found.empty())
            found = path;
    }
    return found;
}

// The printer's characteristics: write, notify and bulk paths of the first
// profile whose service the device offers; failing that, the cat printers'
// characteristics wherever they are (some announce them in another service).
bool FindCharacteristics(const Objects &objects, const std::string &device, std::string (&paths)[3])
{
    const auto take = [&](const GattProfile &profile, bool anyService) {
        paths[0] = Characteristic(objects, device, profile, profile.write, anyService);
        paths[1] = Characteristic(objects, device, profile, profile.notify, anyService);
        paths[2] = Characteristic(objects, device, profile, profile.bulk, anyService);
        return !paths[0].empty() && !paths[1].empty();
    };
    for (const GattProfile &profile : kGattProfiles)
        if (take(profile, false))
            return true;
    return take(kCatProfile, true);
}

int SetTimeout(sd_bus *bus, long long deadline)
{
    const long long left = std::max(1LL, deadline - NowMs());
    return sd_bus_set_method_call_timeout(bus, static_cast<uint64_t>(left) * 1000);
}

// AcquireWrite or AcquireNotify: a descriptor of our own and the MTU, or -1.
int Acquire(sd_bus *bus, const std::string &path, const char *method, unsigned &mtu, std::string &why)
{
    Error e;
    Message reply;
    int r = sd_bus_call_method(bus, "org.bluez", path.c_str(), "org.bluez.GattCharacteristic1", method, &e.e, &reply.m,
                               "a{sv}", 0);
    int fd = -1;
    uint16_t m = 0;
    if (r >= 0)
        r = sd_bus_message_read(reply.m, "hq", &fd, &m);
    if (r < 0) {
        why = e.Text(r);
        return -1;
    }
    mtu = m;
    return fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

// What BlueZ gave: sockets where it could, else the D-Bus calls.
class BluezPort : public BlePort {
public:
    BluezPort(sd_bus *bus, std::string device, std::string control, std::string bulk, std::string notify)
        : bus_(bus), device_(std::move(device)), controlPath_(std::move(control)), bulkPath_(std::move(bulk)),
          notifyPath_(std::move(notify))
    {
    }
    ~BluezPort() override
    {
        for (int fd : {control_, bulk_, notify_})
            if (fd >= 0)
                close(fd);
        if (notifying_) {
            sd_bus_call_method(bus_, "org.bluez", notifyPath_.c_str(), "org.bluez.GattCharacteristic1", "StopNotify",
                               nullptr, nullptr, "");
        }
        sd_bus_slot_unref(valueSlot_);
        sd_bus_slot_unref(deviceSlot_);
        sd_bus_flush_close_unref(bus_);
    }
    BluezPort(const BluezPort &) = delete;
    BluezPort &operator=(const BluezPort &) = delete;

    bool Start(long long deadline, std::string &error)
    {
        std::string why;
        unsigned mtu = 0, notifyMtu = 0;
        SetTimeout(bus_, deadline);
        control_ = Acquire(bus_, controlPath_, "AcquireWrite", mtu, why);
        if (control_ >= 0 && !bulkPath_.empty()) {
            unsigned bulkMtu = 0;
            bulk_ = Acquire(bus_, bulkPath_, "AcquireWrite", bulkMtu, why);
        }
        if (control_ < 0)
            mtu = DbusMtu();
        payload_ = mtu > 3 ? mtu - 3 : 0;
        if (sd_bus_match_signal(bus_, &deviceSlot_, "org.bluez", device_.c_str(), "org.freedesktop.DBus.Properties",
                                "PropertiesChanged", &BluezPort::DeviceChanged, this) < 0) {
            error = "Unable to follow the printer's connection over D-Bus";
            return false;
        }
        notify_ = Acquire(bus_, notifyPath_, "AcquireNotify", notifyMtu, why);
        if (notify_ >= 0)
            return true;
        if (sd_bus_match_signal(bus_, &valueSlot_, "org.bluez", notifyPath_.c_str(), "org.freedesktop.DBus.Properties",
                                "PropertiesChanged", &BluezPort::ValueChanged, this) < 0) {
            error = "Unable to follow the printer's notifications over D-Bus";
            return false;
        }
        Error e;
        SetTimeout(bus_, deadline);
        const int r = sd_bus_call_method(bus_, "org.bluez", notifyPath_.c_str(), "org.bluez.GattCharacteristic1",
                                         "StartNotify", &e.e, nullptr, "");
        if (r < 0) {
            error = "The printer's notifications could not be switched on (" + e.Text(r) + ")";
            return false;
        }
        notifying_ = true;
        return true;
    }

    size_t Payload() const override { return payload_; }
    bool HasBulk() const override { return !bulkPath_.empty(); }

    int Write(Channel channel, const uint8_t *data, size_t size, int timeoutMs, std::string &error) override
    {
        const bool bulk = channel == Channel::Bulk;
        const int fd = bulk ? bulk_ : control_;
        if (fd >= 0)
            return WritePacket(fd, data, size, timeoutMs, error);
        const std::string &path = bulk ? bulkPath_ : controlPath_;
        if (path.empty()) {
            error = "The printer offers no bulk data characteristic";
            return -1;
        }
        Message call;
        Error e;
        int r = sd_bus_message_new_method_call(bus_, &call.m, "org.bluez", path.c_str(),
                                               "org.bluez.GattCharacteristic1", "WriteValue");
        if (r >= 0)
            r = sd_bus_message_append_array(call.m, 'y', data, size);
        if (r >= 0)
            r = sd_bus_message_append(call.m, "a{sv}", 1, "type", "s", "command");
        if (r >= 0)
            r = sd_bus_call(bus_, call.m, static_cast<uint64_t>(timeoutMs) * 1000, &e.e, nullptr);
        if (r >= 0)
            return 1;
        error = "The printer did not take data (" + e.Text(r) + ")";
        return r == -ETIMEDOUT ? 0 : -1;
    }

    ssize_t Notification(uint8_t *buffer, size_t size, int timeoutMs) override
    {
        if (notify_ >= 0)
            return ReadNotification(notify_, buffer, size, timeoutMs);
        const long long deadline = NowMs() + timeoutMs;
        for (;;) {
            int r;
            while ((r = sd_bus_process(bus_, nullptr)) > 0) {
            }
            if (r < 0 || gone_)
                return -1;
            if (!values_.empty()) {
                const std::vector<uint8_t> v = std::move(values_.front());
                values_.pop_front();
                const size_t n = std::min(size, v.size());
                memcpy(buffer, v.data(), n);
                return static_cast<ssize_t>(n);
            }
            const long long left = deadline - NowMs();
            if (left <= 0)
                return 0;
            sd_bus_wait(bus_, static_cast<uint64_t>(left) * 1000);
        }
    }

    bool Gone() override
    {
        while (sd_bus_process(bus_, nullptr) > 0) {
        }
        if (gone_)
            return true;
        std::vector<pollfd> p;
        for (int fd : {control_, notify_})
            if (fd >= 0)
                p.push_back({fd, POLLRDHUP, 0});
        if (p.empty() || poll(p.data(), p.size(), 0) <= 0)
            return false;
        for (const pollfd &q : p)
            if (q.revents & (POLLHUP | POLLERR | POLLNVAL | POLLRDHUP))
                return true;
        return false;
    }

    void Drain(int timeoutMs) override { DrainSockets({control_, bulk_}, timeoutMs); }

private:
    // The MTU property where BlueZ has one (5.62 on), else the least every
    // LE link has.
    unsigned DbusMtu()
    {
        uint16_t mtu = 0;
        if (sd_bus_get_property_trivial(bus_, "org.bluez", controlPath_.c_str(), "org.bluez.GattCharacteristic1", "MTU",
                                        nullptr, 'q', &mtu) >= 0 &&
            mtu > 0)
            return mtu;
        return 23;
    }

    static int DeviceChanged(sd_bus_message *m, void *self, sd_bus_error *)
    {
        const char *iface = nullptr;
        Props p;
        if (sd_bus_message_read(m, "s", &iface) >= 0 && strcmp(iface, "org.bluez.Device1") == 0 &&
            ReadProps(m, p) >= 0 && p.flags.count("Connected") && !p.flags["Connected"])
            static_cast<BluezPort *>(self)->gone_ = true;
        return 0;
    }

    static int ValueChanged(sd_bus_message *m, void *self, sd_bus_error *)
    {
        const char *iface = nullptr;
        if (sd_bus_message_read(m, "s", &iface) < 0 || strcmp(iface, "org.bluez.GattCharacteristic1") != 0 ||
            sd_bus_message_enter_container(m, 'a', "{sv}") < 0)
            return 0;
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char *key = nullptr;
            if (sd_bus_message_read(m, "s", &key) < 0)
                return 0;
            if (strcmp(key, "Value") == 0 && sd_bus_message_enter_container(m, 'v', "ay") >= 0) {
                const void *data = nullptr;
                size_t size = 0;
                if (sd_bus_message_read_array(m, 'y', &data, &size) >= 0 && size > 0) {
                    auto &values = static_cast<BluezPort *>(self)->values_;
                    if (values.size() < 64)
                        values.emplace_back(static_cast<const uint8_t *>(data),
                                            static_cast<const uint8_t *>(data) + size);
                }
                sd_bus_message_exit_container(m);
            } else if (sd_bus_message_skip(m, "v") < 0) {
                return 0;
            }
            sd_bus_message_exit_container(m);
        }
        return 0;
    }

    sd_bus *bus_;
    std::string device_, controlPath_, bulkPath_, notifyPath_;
    int control_ = -1, bulk_ = -1, notify_ = -1;
    size_t payload_ = 0;
    bool notifying_ = false;
    bool gone_ = false;
    sd_bus_slot *valueSlot_ = nullptr, *deviceSlot_ = nullptr;
    std::deque<std::vector<uint8_t>> values_;
};

// An LE scan on the adapter until `found` says so or the deadline; false
// when BlueZ would not scan.
template <typename Found>
bool ScanUntil(sd_bus *bus, const std::string &adapter, long long deadline, Found found, std::string &error)
{
    SetTimeout(bus, deadline);
    Message filter;
    int r = sd_bus_message_new_method_call(bus, &filter.m, "org.bluez", adapter.c_str(), "org.bluez.Adapter1",
                                           "SetDiscoveryFilter");
    if (r >= 0)
        r = sd_bus_message_append(filter.m, "a{sv}", 1, "Transport", "s", "le");
    if (r >= 0)
        sd_bus_call(bus, filter.m, 0, nullptr, nullptr);
    Error e;
    r = sd_bus_call_method(bus, "org.bluez", adapter.c_str(), "org.bluez.Adapter1", "StartDiscovery", &e.e, nullptr,
                           "");
    if (r < 0 && !sd_bus_error_has_name(&e.e, "org.bluez.Error.InProgress")) {
        error = "BlueZ could not scan (" + e.Text(r) + ")";
        return false;
    }
    std::string ignored;
    bool done = false;
    while (!done && NowMs() + 250 < deadline) {
        Pause(250);
        Objects objects;
        SetTimeout(bus, deadline);
        done = ManagedObjects(bus, objects, ignored) >= 0 && found(objects);
    }
    sd_bus_call_method(bus, "org.bluez", adapter.c_str(), "org.bluez.Adapter1", "StopDiscovery", nullptr, nullptr, "");
    return true;
}

} // namespace

std::unique_ptr<BlePort> BluezConnector::Connect(const BleTarget &target, int timeoutMs, std::string &error)
{
    const long long deadline = NowMs() + timeoutMs;
    const std::string who = "the printer at " + FormatAddress(target.address);
    sd_bus *bus = nullptr;
    int r = sd_bus_open_system(&bus);
    if (r < 0) {
        error = std::string("Bluetooth: the system D-Bus is not reachable (") + strerror(-r) + ").";
        return nullptr;
    }
    auto fail = [&](const std::string &why) {
        sd_bus_flush_close_unref(bus);
        error = "Unable to reach " + who + ": " + why + ".";
        return nullptr;
    };
    Objects objects;
    std::string why;
    SetTimeout(bus, deadline);
    if (ManagedObjects(bus, objects, why) < 0)
        return fail(why);
    const std::string adapter = PoweredAdapter(objects);
    if (adapter.empty())
        return fail("no Bluetooth adapter is on (bluetoothctl power on)");
    std::string device = DevicePath(objects, target.address);
    if (device.empty()) {
        ScanUntil(
            bus, adapter, deadline,
            [&](const Objects &seen) { return !(device = DevicePath(seen, target.address)).empty(); }, why);
        if (device.empty())
            return fail(why.empty() ? "it did not show up in a scan of " + std::to_string(timeoutMs / 1000) +
                                          " s (is it on, in range and not connected to a phone?)"
                                    : why);
    }

    Error e;
    SetTimeout(bus, deadline);
    r = sd_bus_call_method(bus, "org.bluez", device.c_str(), "org.bluez.Device1", "Connect", &e.e, nullptr, "");
    if (r < 0 && !sd_bus_error_has_name(&e.e, "org.bluez.Error.AlreadyConnected"))
        return fail(r == -ETIMEDOUT ? "it did not answer within " + std::to_string(timeoutMs / 1000) + " s"
                                    : "connecting failed (" + e.Text(r) + ")");
    for (;;) {
        int resolved = 0;
        SetTimeout(bus, deadline);
        if (sd_bus_get_property_trivial(bus, "org.bluez", device.c_str(), "org.bluez.Device1", "ServicesResolved",
                                        nullptr, 'b', &resolved) < 0)
            return fail("it vanished while connecting");
        if (resolved)
            break;
        if (NowMs() >= deadline)
            return fail("its services were not resolved within " + std::to_string(timeoutMs / 1000) + " s");
        Pause(100);
    }

    SetTimeout(bus, deadline);
    if (ManagedObjects(bus, objects = Objects(), why) < 0)
        return fail(why);
    std::string paths[3];
    if (!FindCharacteristics(objects, device, paths))
        return fail("it offers no printer service this app knows (the cat printers' AE30 or Niimbot's)");
    auto port = std::make_unique<BluezPort>(bus, device, paths[0], paths[2], paths[1]);
    if (!port->Start(deadline, why)) {
        error = "Unable to reach " + who + ": " + why + ".";
        return nullptr;
    }
    return port;
}

bool IsPrinterService(const char *uuid)
{
    for (const GattProfile &profile : kGattProfiles)
        if (strcasecmp(uuid, profile.service) == 0)
            return true;
    return false;
}

int WalkManagedObjects(sd_bus_message *m, const ReadInterface &read)
{
    int r = sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}");
    while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
        const char *path = nullptr;
        if ((r = sd_bus_message_read(m, "o", &path)) < 0 ||
            (r = sd_bus_message_enter_container(m, 'a', "{sa{sv}}")) < 0)
            break;
        while ((r = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
            const char *iface = nullptr;
            if ((r = sd_bus_message_read(m, "s", &iface)) < 0 || (r = read(path, iface)) < 0 ||
                (r = sd_bus_message_exit_container(m)) < 0)
                break;
        }
        if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0 || (r = sd_bus_message_exit_container(m)) < 0)
            break;
    }
    return r;
}

bool ScanLe(int ms, std::string &error)
{
    sd_bus *bus = nullptr;
    int r = sd_bus_open_system(&bus);
    if (r < 0) {
        error = std::string("the system D-Bus is not reachable (") + strerror(-r) + ")";
        return false;
    }
    const long long deadline = NowMs() + ms;
    Objects objects;
    SetTimeout(bus, deadline);
    bool ok = ManagedObjects(bus, objects, error) >= 0;
    const std::string adapter = ok ? PoweredAdapter(objects) : std::string();
    if (ok && adapter.empty()) {
        error = "no Bluetooth adapter is on";
        ok = false;
    }
    if (ok)
        ok = ScanUntil(
            bus, adapter, deadline, [](const Objects &) { return false; }, error);
    sd_bus_flush_close_unref(bus);
    return ok;
}

} // namespace bt
