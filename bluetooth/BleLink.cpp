#include "BleLink.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "Clock.h"

namespace bt {
namespace {

bool GoneError(int e)
{
    return e == EPIPE || e == ECONNRESET || e == ENOTCONN || e == ECONNABORTED || e == EHOSTDOWN || e == EHOSTUNREACH ||
           e == ETIMEDOUT || e == EIO || e == EBADF;
}

void CloseFd(int fd)
{
    if (fd >= 0)
        close(fd);
}

// What a notification may hold at most; BlueZ hands over one per read.
constexpr size_t kMaxNotification = 512;

// Notifications kept for Read while a page goes out (status replies); older
// ones go first when a printer sends more than anyone reads.
constexpr size_t kMaxKeptNotes = 64;

} // namespace

// ------------------------------------------------------------- the port

FdPort::FdPort(int control, int bulk, int notify, size_t payload)
    : control_(control), bulk_(bulk), notify_(notify), payload_(payload)
{
}

FdPort::~FdPort()
{
    CloseFd(control_);
    CloseFd(bulk_);
    CloseFd(notify_);
}

int WritePacket(int fd, const uint8_t *data, size_t size, int timeoutMs, std::string &error)
{
    const long long deadline = NowMs() + timeoutMs;
    for (;;) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == static_cast<ssize_t>(size))
            return 1;
        if (n >= 0) {
            error = "The link took part of a packet";
            return -1;
        }
        if (errno != EAGAIN && errno != EINTR) {
            error = std::string("The link to the printer failed: ") + strerror(errno);
            return GoneError(errno) ? -1 : 0;
        }
        const long long left = deadline - NowMs();
        struct pollfd p = {fd, POLLOUT, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) == 0)
            return 0;
    }
}

ssize_t ReadNotification(int fd, uint8_t *buffer, size_t size, int timeoutMs)
{
    struct pollfd p = {fd, POLLIN, 0};
    const int rc = poll(&p, 1, timeoutMs);
    if (rc < 0)
        return errno == EINTR ? 0 : -1;
    if (rc == 0)
        return 0;
    const ssize_t n = recv(fd, buffer, size, MSG_DONTWAIT);
    if (n == 0)
        return -1;
    if (n < 0)
        return errno == EAGAIN || errno == EINTR ? 0 : -1;
    return n;
}

void DrainSockets(std::initializer_list<int> fds, int timeoutMs)
{
    const long long deadline = NowMs() + timeoutMs;
    for (int fd : fds) {
        int queued = 0;
        while (fd >= 0 && ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 && NowMs() < deadline) {
            struct pollfd p = {fd, POLLRDHUP, 0};
            if (poll(&p, 1, 20) > 0 && (p.revents & (POLLHUP | POLLERR | POLLRDHUP)))
                break;
        }
    }
}

int FdPort::Write(Channel channel, const uint8_t *data, size_t size, int timeoutMs, std::string &error)
{
    const int fd = channel == Channel::Bulk ? bulk_ : control_;
    if (fd < 0) {
        error = "The printer offers no bulk data characteristic";
        return -1;
    }
    return WritePacket(fd, data, size, timeoutMs, error);
}

ssize_t FdPort::Notification(uint8_t *buffer, size_t size, int timeoutMs)
{
    return ReadNotification(notify_, buffer, size, timeoutMs);
}

bool FdPort::Gone()
{
    struct pollfd p[2] = {{control_, POLLRDHUP, 0}, {notify_, POLLRDHUP, 0}};
    if (poll(p, 2, 0) <= 0)
        return false;
    for (const pollfd &q : p)
        if (q.revents & (POLLHUP | POLLERR | POLLNVAL | POLLRDHUP))
            return true;
    return false;
}

void FdPort::Drain(int timeoutMs)
{
    DrainSockets({control_, bulk_}, timeoutMs);
}

// ------------------------------------------------------------- the link

BleLink::BleLink(BleConnector &connector, const BleTarget &target, FlowClassifier classify, const BleTimes &times,
                 Sleep sleep)
    : connector_(connector), target_(target), classify_(std::move(classify)), times_(times), sleep_(std::move(sleep))
{
    if (!sleep_)
        sleep_ = [](int ms) {
            if (ms > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        };
}

BleLink::~BleLink()
{
    Close();
}

void BleLink::Drop()
{
    port_.reset();
    paused_ = false;
}

bool BleLink::Connect(std::string &error)
{
    Drop();
    port_ = connector_.Connect(target_, times_.connectMs, error);
    if (!port_)
        return false;
    const size_t payload = port_->Payload();
    if (payload == 0) {
        error = "BlueZ reported no room for data on the link to " + FormatAddress(target_.address) +
                " (an MTU of 3 bytes or less).";
        Drop();
        return false;
    }
    packet_ = target_.packet > 0 ? std::min(payload, static_cast<size_t>(target_.packet)) : payload;
    packet_ = std::min(packet_, static_cast<size_t>(kMaxPacket));
    pauseMs_ =
        target_.pauseMs >= 0 ? target_.pauseMs : static_cast<int>((packet_ + kBleBytesPerMs - 1) / kBleBytesPerMs);
    return true;
}

bool BleLink::Open(std::string &error)
{
    rule_.Opened();
    notes_.clear();
    return Connect(error);
}

bool BleLink::Collect(int waitMs)
{
    uint8_t buffer[kMaxNotification];
    for (int wait = waitMs;; wait = 0) {
        const ssize_t n = port_->Notification(buffer, sizeof buffer, wait);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        switch (classify_ ? classify_(buffer, static_cast<size_t>(n)) : Flow::Other) {
        case Flow::Pause:
            if (!paused_)
                ++pauses_;
            paused_ = true;
            break;
        case Flow::Resume:
            paused_ = false;
            break;
        case Flow::Other:
            if (notes_.size() == kMaxKeptNotes)
                notes_.pop_front();
            notes_.emplace_back(buffer, buffer + n);
            break;
        }
    }
}

bool BleLink::Send(Channel channel, const uint8_t *data, size_t size, size_t &sent, std::string &error, bool &gone)
{
    gone = false;
    if (channel == Channel::Bulk && !port_->HasBulk()) {
        error = "The printer at " + FormatAddress(target_.address) + " offers no bulk data characteristic";
        return false;
    }
    for (size_t at = 0; at < size; at += packet_) {
        if (!Collect(0)) {
            gone = true;
            error = "The printer at " + FormatAddress(target_.address) + " went away";
            return false;
        }
        const long long pausedSince = NowMs();
        while (paused_) {
            const long long left = pausedSince + times_.pausedMs - NowMs();
            if (left <= 0) {
                error = "The printer at " + FormatAddress(target_.address) + " asked to wait and did not go on for " +
                        std::to_string(times_.pausedMs / 1000) + " s";
                return false;
            }
            if (!Collect(static_cast<int>(std::min(left, 200LL)))) {
                gone = true;
                error = "The printer at " + FormatAddress(target_.address) + " went away while it asked to wait";
                return false;
            }
        }
        const size_t n = std::min(packet_, size - at);
        const int rc = port_->Write(channel, data + at, n, times_.writeMs, error);
        if (rc <= 0) {
            gone = rc < 0;
            if (rc == 0)
                error = "The printer at " + FormatAddress(target_.address) + " took no data for " +
                        std::to_string(times_.writeMs / 1000) + " s";
            return false;
        }
        sent += n;
        sleep_(pauseMs_);
    }
    return true;
}

bool BleLink::WritePage(Channel channel, const void *data, size_t size, std::string &error)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    const bool ok = rule_.Page(
        size, [this] { return !port_ || port_->Gone(); }, [this](std::string &why) { return Connect(why); },
        [&](size_t &sent, std::string &e, bool &gone) { return Send(channel, bytes, size, sent, e, gone); }, error);
    if (!ok)
        Drop();
    return ok;
}

bool BleLink::WriteMore(Channel channel, const void *data, size_t size, std::string &error)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    const bool ok = rule_.More(
        port_ != nullptr,
        [&](size_t &sent, std::string &e, bool &gone) { return Send(channel, bytes, size, sent, e, gone); }, error);
    if (!ok && rule_.Broken())
        Drop();
    return ok;
}

ssize_t BleLink::Read(void *buffer, size_t size, int timeoutMs)
{
    if (!port_)
        return -1;
    const long long deadline = NowMs() + timeoutMs;
    while (notes_.empty()) {
        const long long left = deadline - NowMs();
        if (!Collect(static_cast<int>(std::max(0LL, left))))
            return -1;
        if (left <= 0)
            break;
    }
    if (notes_.empty())
        return 0;
    const std::vector<uint8_t> note = std::move(notes_.front());
    notes_.pop_front();
    const size_t n = std::min(size, note.size());
    memcpy(buffer, note.data(), n);
    return static_cast<ssize_t>(n);
}

void BleLink::Close()
{
    if (!port_)
        return;
    if (!rule_.Broken())
        port_->Drain(times_.drainMs);
    Drop();
}

// ------------------------------------------------------------- the stream

namespace {

enum class Cut { Bad, More, Whole };

// The frame at `f` (`left` bytes there): Whole with its length in `total`,
// More when its end has not come, Bad (with the reason) when it is none.
Cut NextFrame(const uint8_t *f, size_t left, size_t &total, std::string &why)
{
    const bool niimbot = f[0] == 0x55 || f[0] == 0x03;
    const size_t head = f[0] == 0x03 ? 1 : 0;
    const uint8_t p0 = niimbot ? 0x55 : f[0], p1 = niimbot ? 0x55 : f[0] == 0x51 ? 0x78 : 0x21;
    if ((!niimbot && p0 != 0x51 && p0 != 0x22) || (left > head && f[head] != p0) ||
        (left > head + 1 && f[head + 1] != p1)) {
        why = "byte";
        return Cut::Bad;
    }
    if (niimbot) {
        if (left < head + 4)
            return Cut::More;
        total = head + f[head + 3] + 7u;
    } else {
        if (left < 6)
            return Cut::More;
        total = (f[4] | static_cast<size_t>(f[5]) << 8) + 8;
    }
    if (left < total)
        return Cut::More;
    if (niimbot ? f[total - 2] != 0xAA || f[total - 1] != 0xAA : f[total - 1] != 0xFF) {
        why = "end";
        return Cut::Bad;
    }
    return Cut::Whole;
}

} // namespace

bool FrameSplitter::Add(const uint8_t *data, size_t size, std::vector<Piece> &out, std::string &error)
{
    std::vector<uint8_t> bytes = std::move(partial_);
    partial_.clear();
    bytes.insert(bytes.end(), data, data + size);
    std::vector<Piece> pieces;
    size_t at = 0;
    while (at < bytes.size()) {
        const uint8_t *f = bytes.data() + at;
        size_t total = 0;
        std::string why;
        const Cut cut = NextFrame(f, bytes.size() - at, total, why);
        if (cut == Cut::Bad) {
            error = why == "end" ? "The data for the printer is not in its frames (a frame without its end)"
                                 : "The data for the printer is not in its frames (byte " + std::to_string(at) + ")";
            return false;
        }
        if (cut == Cut::More)
            break;
        altPreamble_ = altPreamble_ || f[0] == 0x22;
        const bool bulk = f[0] != 0x55 && f[0] != 0x03 && f[2] == kBulk;
        const Channel channel = bulk ? Channel::Bulk : Channel::Control;
        const uint8_t *from = bulk ? f + 6 : f;
        const size_t n = bulk ? total - 8 : total;
        if (pieces.empty() || pieces.back().channel != channel)
            pieces.push_back({channel, {}});
        pieces.back().bytes.insert(pieces.back().bytes.end(), from, from + n);
        at += total;
    }
    partial_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
    for (Piece &p : pieces)
        out.push_back(std::move(p));
    return true;
}

bool BleSink::Write(bool pageStart, const void *data, size_t size, std::string &error)
{
    std::vector<FrameSplitter::Piece> pieces;
    if (!splitter_.Add(static_cast<const uint8_t *>(data), size, pieces, error)) {
        error += "; nothing more of the job was sent.";
        return false;
    }
    pageStart = pageStart || startPending_;
    startPending_ = pageStart && pieces.empty();
    for (const FrameSplitter::Piece &p : pieces) {
        const bool ok = pageStart ? link_.WritePage(p.channel, p.bytes.data(), p.bytes.size(), error)
                                  : link_.WriteMore(p.channel, p.bytes.data(), p.bytes.size(), error);
        if (!ok)
            return false;
        pageStart = false;
    }
    return true;
}

} // namespace bt
