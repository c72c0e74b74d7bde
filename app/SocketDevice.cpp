#include "SocketDevice.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <cups/cups.h>
#include <pappl/pappl.h>

namespace {

struct Connection {
    int fd = -1;
    http_addrlist_t *addresses = nullptr;
};

bool OpenSocket(pappl_device_t *device, const char *uri, const char *)
{
    char scheme[32], userpass[256], host[256], resource[256];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, userpass, sizeof userpass, host, sizeof host,
                        &port, resource, sizeof resource) < HTTP_URI_STATUS_OK ||
        !host[0]) {
        papplDeviceError(device, "Bad printer address '%s'.", uri);
        return false;
    }
    if (port <= 0)
        port = 9100;
    const std::string service = std::to_string(port);
    auto *c = new Connection;
    c->addresses = httpAddrGetList(host, AF_UNSPEC, service.c_str());
    if (!c->addresses) {
        papplDeviceError(device, "Unable to look up '%s:%d': %s", host, port, cupsLastErrorString());
        delete c;
        return false;
    }
    if (!httpAddrConnect2(c->addresses, &c->fd, 30000, nullptr) || c->fd < 0) {
        papplDeviceError(device, "Unable to connect to '%s:%d': %s", host, port, cupsLastErrorString());
        httpAddrFreeList(c->addresses);
        delete c;
        return false;
    }
    papplDeviceSetData(device, c);
    return true;
}

void CloseSocket(pappl_device_t *device)
{
    auto *c = static_cast<Connection *>(papplDeviceGetData(device));
    if (!c)
        return;
    close(c->fd);
    httpAddrFreeList(c->addresses);
    delete c;
    papplDeviceSetData(device, nullptr);
}

ssize_t ReadSocket(pappl_device_t *device, void *buffer, size_t bytes)
{
    auto *c = static_cast<Connection *>(papplDeviceGetData(device));
    if (!c)
        return -1;
    struct pollfd p = {c->fd, POLLIN, 0};
    int ready;
    while ((ready = poll(&p, 1, kDeviceReadMs)) < 0 && errno == EINTR) {
    }
    if (ready <= 0)
        return -1;
    ssize_t n;
    while ((n = recv(c->fd, buffer, bytes, 0)) < 0 && errno == EINTR) {
    }
    return n;
}

ssize_t WriteSocket(pappl_device_t *device, const void *buffer, size_t bytes)
{
    auto *c = static_cast<Connection *>(papplDeviceGetData(device));
    return c ? WriteAll(device, c->fd, buffer, bytes) : -1;
}

} // namespace

ssize_t WriteAll(pappl_device_t *device, int fd, const void *buffer, size_t bytes)
{
    const char *p = static_cast<const char *>(buffer);
    size_t done = 0;
    while (done < bytes) {
        const ssize_t n = write(fd, p + done, bytes - done);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            // The printer went away (unplugged, switched off, out of
            // Bluetooth range) or the disk is full.
            papplDeviceError(device, "Unable to write printer data: %s", strerror(errno));
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

void AddSocketScheme()
{
    papplDeviceAddScheme2("socket", PAPPL_DEVTYPE_SOCKET, nullptr, OpenSocket, CloseSocket, ReadSocket, WriteSocket,
                          nullptr, nullptr, nullptr);
}
