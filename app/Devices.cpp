#include "Devices.h"
#include "BluetoothDevice.h"

#include "DeviceCheck.h"
#include "SocketDevice.h"
#ifdef QF_PAPPL_1_3
#include "UsbDevice.h"
#endif

#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <sys/stat.h>
#include <pappl/pappl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

DevicePolicy g_policy{std::string(), DefaultSerialPatterns()};

struct Baud {
    long rate;
    speed_t code;
};
const Baud kBauds[] = {
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

bool ListSerial(pappl_device_cb_t cb, void *data, pappl_deverror_cb_t, void *)
{
    for (const std::string &pattern : g_policy.serialPatterns) {
        glob_t found;
        if (glob(pattern.c_str(), 0, nullptr, &found) != 0)
            continue;
        bool stop = false;
        for (size_t i = 0; i < found.gl_pathc && !stop; ++i) {
            const std::string path = found.gl_pathv[i];
            const std::string uri = "serial:" + path;
            const std::string info = "Serial port " + path.substr(path.rfind('/') + 1);
            stop = cb(info.c_str(), uri.c_str(), "", data);
        }
        globfree(&found);
        if (stop)
            return true;
    }
    return false;
}

bool OpenSerial(pappl_device_t *device, const char *uri, const char *)
{
    const SerialAddress address = ParseSerialUri(uri);
    if (!address.problem.empty()) {
        papplDeviceError(device, "%s", address.problem.c_str());
        return false;
    }
    if (!SerialPortAllowed(address.path, g_policy)) {
        papplDeviceError(device, "'%s' is not a serial port this app opens.", address.path.c_str());
        return false;
    }
    speed_t code = 0;
    for (const Baud &b : kBauds)
        if (b.rate == address.baud)
            code = b.code;
    // O_NONBLOCK: a port whose modem lines say "not ready" must not hold the
    // job thread in open(); writes are blocking again below.
    int fd = open(address.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        papplDeviceError(device, "Unable to open '%s': %s", address.path.c_str(), strerror(errno));
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    struct termios tio;
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, code);
        cfsetospeed(&tio, code);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &tio);
    }
    papplDeviceSetData(device, new int(fd));
    return true;
}

void CloseSerial(pappl_device_t *device)
{
    int *fd = static_cast<int *>(papplDeviceGetData(device));
    if (!fd)
        return;
    tcdrain(*fd);
    close(*fd);
    delete fd;
    papplDeviceSetData(device, nullptr);
}

ssize_t ReadSerial(pappl_device_t *device, void *buffer, size_t bytes)
{
    int *fd = static_cast<int *>(papplDeviceGetData(device));
    if (!fd)
        return -1;
    struct pollfd p = {*fd, POLLIN, 0};
    int ready = poll(&p, 1, kDeviceReadMs);
    if (ready <= 0)
        return ready == 0 ? 0 : -1;
    return read(*fd, buffer, bytes);
}

pappl_preason_t SerialStatus(pappl_device_t *)
{
    return PAPPL_PREASON_NONE;
}

ssize_t WriteFd(pappl_device_t *device, const void *buffer, size_t bytes)
{
    int *fd = static_cast<int *>(papplDeviceGetData(device));
    return fd ? WriteAll(device, *fd, buffer, bytes) : -1;
}

// file: devices open their file themselves, at every job, inside the
// administrator's directory (see OpenFileDevice).
bool OpenFile(pappl_device_t *device, const char *uri, const char *name)
{
    std::string problem;
    const int fd = OpenFileDevice(uri ? uri : "", name ? name : "", g_policy, problem);
    if (fd < 0) {
        papplDeviceError(device, "%s", problem.c_str());
        return false;
    }
    papplDeviceSetData(device, new int(fd));
    return true;
}

void CloseFile(pappl_device_t *device)
{
    int *fd = static_cast<int *>(papplDeviceGetData(device));
    if (!fd)
        return;
    close(*fd);
    delete fd;
    papplDeviceSetData(device, nullptr);
}

void AddOwnSchemes()
{
    AddSocketScheme();
    papplDeviceAddScheme("file", PAPPL_DEVTYPE_FILE, nullptr, OpenFile, CloseFile, nullptr, WriteFd, nullptr, nullptr);
}

} // namespace

void AddDeviceSchemes()
{
#ifdef QF_PAPPL_1_3
    // PAPPL 1.3 adds its own schemes (file, usb, socket, snmp, dnssd) at
    // the first list, open or check, and only while none is registered,
    // and keeps the first device registered under a scheme. The app's
    // socket and file devices must be the ones used, so every scheme is the
    // app's own here, USB included; PAPPL's snmp and dnssd discovery is not
    // offered (a printer is added by its socket:// address).
    AddOwnSchemes();
    AddUsbScheme();
#else
    // PAPPL 1.4 adds its own schemes before the first one registered, and a
    // later registration under the same name replaces its device.
    AddOwnSchemes();
#endif
    papplDeviceAddScheme("serial", PAPPL_DEVTYPE_CUSTOM_LOCAL, ListSerial, OpenSerial, CloseSerial, ReadSerial, WriteFd,
                         SerialStatus, nullptr);
    AddBluetoothScheme();
}

void SetDevicePolicy(const DevicePolicy &policy)
{
    g_policy = policy;
}

const DevicePolicy &CurrentDevicePolicy()
{
    return g_policy;
}

bool DeviceUriAcceptable(pappl_system_t *system, const char *deviceUri)
{
    const std::string problem = DeviceUriProblem(deviceUri ? deviceUri : "", g_policy);
    if (problem.empty())
        return true;
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Refused device \"%s\": %s.", deviceUri ? deviceUri : "", problem.c_str());
    return false;
}
