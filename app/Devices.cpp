#include "Devices.h"
#include "BluetoothDevice.h"

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

const char *const kPatterns[] = {"/dev/ttyUSB*", "/dev/ttyACM*", "/dev/rfcomm*"};

struct Baud {
    long rate;
    speed_t code;
};
const Baud kBauds[] = {
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

bool ListSerial(pappl_device_cb_t cb, void *data, pappl_deverror_cb_t, void *)
{
    for (const char *pattern : kPatterns) {
        glob_t found;
        if (glob(pattern, 0, nullptr, &found) != 0)
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
    // serial:/dev/ttyUSB0 or serial:///dev/ttyUSB0, then ?baud=N.
    std::string path = uri + strlen("serial:");
    while (path.compare(0, 2, "//") == 0)
        path.erase(0, 1);
    long rate = 115200;
    const size_t q = path.find('?');
    if (q != std::string::npos) {
        const std::string query = path.substr(q + 1);
        path.erase(q);
        if (query.compare(0, 5, "baud=") == 0)
            rate = strtol(query.c_str() + 5, nullptr, 10);
    }
    bool known = false;
    for (const char *pattern : kPatterns)
        known = known || path.compare(0, strlen(pattern) - 1, pattern, strlen(pattern) - 1) == 0;
    if (!known) {
        papplDeviceError(device, "'%s' is not a serial port this app opens.", path.c_str());
        return false;
    }
    speed_t code = 0;
    for (const Baud &b : kBauds)
        if (b.rate == rate)
            code = b.code;
    if (!code) {
        papplDeviceError(device, "Unsupported baud rate %ld.", rate);
        return false;
    }
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        papplDeviceError(device, "Unable to open '%s': %s", path.c_str(), strerror(errno));
        return false;
    }
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
    int ready = poll(&p, 1, 10000);
    if (ready <= 0)
        return ready == 0 ? 0 : -1;
    return read(*fd, buffer, bytes);
}

pappl_preason_t SerialStatus(pappl_device_t *)
{
    return PAPPL_PREASON_NONE;
}

// ------------------------------------------------------------------ file

bool OpenFile(pappl_device_t *device, const char *uri, const char *name)
{
    std::string path = uri + strlen("file:");
    while (path.compare(0, 2, "//") == 0)
        path.erase(0, 1);
    const size_t q = path.find('?');
    if (q != std::string::npos)
        path.erase(q);
    if (path.empty()) {
        papplDeviceError(device, "No file name in '%s'.", uri);
        return false;
    }
    int fd = -1;
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::string base;
        for (const char *p = name && *name ? name : "job"; *p; ++p) {
            unsigned char c = static_cast<unsigned char>(*p);
            base += (c < ' ' || c == '/' || c >= 0x7f) ? '_' : static_cast<char>(c);
        }
        for (int n = 1; fd < 0 && n < 1000; ++n) {
            std::string file = path + "/" + base + (n > 1 ? "-" + std::to_string(n) : std::string()) + ".prn";
            fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0 && errno != EEXIST)
                break;
        }
    } else if (stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode)) {
        fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    } else {
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    if (fd < 0) {
        papplDeviceError(device, "Unable to open '%s': %s", path.c_str(), strerror(errno));
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

ssize_t WriteFd(pappl_device_t *device, const void *buffer, size_t bytes)
{
    int *fd = static_cast<int *>(papplDeviceGetData(device));
    if (!fd)
        return -1;
    const char *p = static_cast<const char *>(buffer);
    size_t done = 0;
    while (done < bytes) {
        ssize_t n = write(*fd, p + done, bytes - done);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            // The device went away (unplugged, Bluetooth out of range, disk full).
            papplDeviceError(device, "Unable to write printer data: %s", strerror(errno));
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

} // namespace

void AddDeviceSchemes()
{
    papplDeviceAddScheme("serial", PAPPL_DEVTYPE_CUSTOM_LOCAL, ListSerial, OpenSerial, CloseSerial, ReadSerial, WriteFd,
                         SerialStatus, nullptr);
    papplDeviceAddScheme("file", PAPPL_DEVTYPE_FILE, nullptr, OpenFile, CloseFile, nullptr, WriteFd, nullptr, nullptr);
    AddBluetoothScheme();
}
