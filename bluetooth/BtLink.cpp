#include "BtLink.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>

#include "Clock.h"

#ifndef BTPROTO_RFCOMM
#define BTPROTO_RFCOMM 3
#endif

namespace bt {
namespace {

// The kernel's struct sockaddr_rc: the address least significant byte first.
struct RfcommAddress {
    sa_family_t family;
    uint8_t bdaddr[6];
    uint8_t channel;
};
static_assert(offsetof(RfcommAddress, bdaddr) == 2 && offsetof(RfcommAddress, channel) == 8, "sockaddr_rc layout");

// Errors that mean the other end is gone, as opposed to a local fault.
bool LinkGoneError(int e)
{
    return e == EPIPE || e == ECONNRESET || e == ENOTCONN || e == ECONNABORTED || e == EHOSTDOWN || e == EHOSTUNREACH ||
           e == ETIMEDOUT || e == EIO || e == EBADFD;
}

ssize_t SendSome(int fd, const unsigned char *data, size_t size)
{
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == ENOTSOCK)
        n = write(fd, data, size);
    return n;
}

std::string Duration(int ms)
{
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::string Where(const Target &t)
{
    return FormatAddress(t.address) + " (channel " + std::to_string(t.channel) + ")";
}

} // namespace

int RfcommConnector::Connect(const Target &target, int timeoutMs, std::string &error)
{
    int fd = socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, BTPROTO_RFCOMM);
    if (fd < 0) {
        error = std::string("This system offers no Bluetooth sockets (") + strerror(errno) +
                "): is the kernel's Bluetooth support loaded, and may this service use AF_BLUETOOTH?";
        return -1;
    }
    RfcommAddress address;
    memset(&address, 0, sizeof address);
    address.family = AF_BLUETOOTH;
    for (int i = 0; i < 6; ++i)
        address.bdaddr[i] = target.address[5 - i];
    address.channel = static_cast<uint8_t>(target.channel);
    int rc = connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    if (rc < 0 && (errno == EINPROGRESS || errno == EAGAIN)) {
        struct pollfd p = {fd, POLLOUT, 0};
        rc = poll(&p, 1, timeoutMs);
        if (rc == 0) {
            close(fd);
            error = "No answer from " + Where(target) + " within " + std::to_string(timeoutMs / 1000) +
                    " s: is the printer on, in range and paired?";
            return -1;
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        if (rc < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) < 0)
            soError = errno;
        errno = soError;
        rc = soError ? -1 : 0;
    }
    if (rc < 0) {
        const int e = errno;
        close(fd);
        error = "Unable to connect to " + Where(target) + ": " + strerror(e) +
                (e == EHOSTDOWN || e == ECONNREFUSED || e == ETIMEDOUT
                     ? " (is the printer on and paired, and is this its serial port channel?)"
                     : "");
        return -1;
    }
    return fd;
}

void Link::RealSleep(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

Link::Link(Connector &connector, const Target &target, const Times &times, Sleep sleep)
    : connector_(connector), target_(target), times_(times), sleep_(std::move(sleep)), pacing_(target.Effective())
{
    if (pacing_.chunk <= 0)
        pacing_.chunk = kMinChunk;
}

Link::~Link()
{
    Close();
}

bool Link::Connect(std::string &error)
{
    Drop();
    fd_ = connector_.Connect(target_, times_.connectMs, error);
    if (fd_ < 0)
        return false;
    int flags = fcntl(fd_, F_GETFL);
    if (flags >= 0)
        fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    fresh_ = true;
    return true;
}

bool Link::Open(std::string &error)
{
    rule_.Opened();
    return Connect(error);
}

void Link::Drop()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool Link::Dropped()
{
    if (fd_ < 0)
        return true;
    for (;;) {
        struct pollfd p = {fd_, POLLIN | POLLRDHUP, 0};
        if (poll(&p, 1, 0) <= 0)
            return false;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL | POLLRDHUP))
            return true;
        // Replies the printer sent unasked (status bytes): read and let go.
        unsigned char scratch[256];
        ssize_t n = recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n < 0 && errno == ENOTSOCK)
            n = read(fd_, scratch, sizeof scratch);
        if (n == 0)
            return true;
        if (n < 0)
            return errno != EAGAIN && errno != EINTR;
    }
}

bool Link::SendChunk(const unsigned char *data, size_t size, size_t &sent, std::string &error, bool &linkGone)
{
    size_t done = 0;
    while (done < size) {
        const int limit = fresh_ ? times_.firstWriteMs : times_.writeMs;
        const long long deadline = NowMs() + limit;
        ssize_t n;
        for (;;) {
            n = SendSome(fd_, data + done, size - done);
            if (n >= 0 || (errno != EAGAIN && errno != EINTR))
                break;
            const long long left = deadline - NowMs();
            struct pollfd p = {fd_, POLLOUT, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) == 0) {
                linkGone = false;
                error = "The printer at " + Where(target_) + " took no data for " + Duration(limit);
                return false;
            }
        }
        if (n < 0) {
            linkGone = LinkGoneError(errno);
            error = std::string("The link to the printer at ") + Where(target_) + " failed: " + strerror(errno);
            return false;
        }
        fresh_ = false;
        done += static_cast<size_t>(n);
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool Link::Send(const unsigned char *data, size_t size, size_t &sent, std::string &error, bool &linkGone)
{
    const size_t chunk = static_cast<size_t>(pacing_.chunk);
    for (size_t at = 0; at < size; at += chunk) {
        if (!SendChunk(data + at, std::min(chunk, size - at), sent, error, linkGone))
            return false;
        sleep_(pacing_.pauseMs);
    }
    return true;
}

bool Link::WritePage(const void *data, size_t size, std::string &error)
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    const bool ok = rule_.Page(
        size, [this] { return Dropped(); }, [this](std::string &why) { return Connect(why); },
        [&](size_t &sent, std::string &e, bool &gone) { return Send(bytes, size, sent, e, gone); }, error);
    if (!ok)
        Drop();
    return ok;
}

bool Link::WriteMore(const void *data, size_t size, std::string &error)
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    const bool ok = rule_.More(
        fd_ >= 0, [&](size_t &sent, std::string &e, bool &gone) { return Send(bytes, size, sent, e, gone); }, error);
    if (!ok && rule_.Broken())
        Drop();
    return ok;
}

ssize_t Link::Read(void *buffer, size_t size, int timeoutMs)
{
    if (fd_ < 0)
        return -1;
    struct pollfd p = {fd_, POLLIN, 0};
    const int rc = poll(&p, 1, timeoutMs);
    if (rc < 0)
        return -1;
    if (rc == 0)
        return 0;
    ssize_t n = recv(fd_, buffer, size, MSG_DONTWAIT);
    if (n < 0 && errno == ENOTSOCK)
        n = read(fd_, buffer, size);
    if (n == 0)
        return -1;
    if (n < 0)
        return errno == EAGAIN || errno == EINTR ? 0 : -1;
    return n;
}

// Bytes written but not yet gone out. A Bluetooth socket's TIOCOUTQ tells the
// free room in its send buffer, other descriptors tell what is queued.
int QueuedBytes(int fd)
{
    int outq = 0;
    if (ioctl(fd, TIOCOUTQ, &outq) != 0)
        return 0;
    int domain = 0, sendBuffer = 0;
    socklen_t len = sizeof domain;
    if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &len) != 0 || domain != AF_BLUETOOTH)
        return outq;
    len = sizeof sendBuffer;
    if (getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, &len) != 0)
        return 0;
    return sendBuffer > outq ? sendBuffer - outq : 0;
}

void Link::Close()
{
    if (fd_ < 0)
        return;
    // Closing an RFCOMM socket discards what has not left yet: wait for the
    // send queue to empty first.
    const long long deadline = NowMs() + times_.drainMs;
    while (!rule_.Broken() && QueuedBytes(fd_) > 0 && NowMs() < deadline) {
        struct pollfd p = {fd_, POLLRDHUP, 0};
        if (poll(&p, 1, 20) > 0 && (p.revents & (POLLHUP | POLLERR | POLLRDHUP)))
            break;
    }
    Drop();
}

} // namespace bt
