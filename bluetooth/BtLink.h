// The link to a Bluetooth printer: a kernel RFCOMM socket (no rfcomm bind,
// no root), written in paced chunks, with time limits on connecting and
// writing, and one reconnection when the link is found dropped between pages.
//
// Nothing is sent twice: a page of which the kernel took any byte is never
// sent again. A link that drops in the middle of a page ends the job; the
// reason says how much of the page went out.
//
// The connector is the seam: tests hand the link one end of a socketpair or a
// pty instead of a radio.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

#include "BtTarget.h"
#include "PageRule.h"

namespace bt {

struct Times {
    int connectMs = 15000;    // connecting, each attempt
    int firstWriteMs = 10000; // until the printer takes the first chunk after connecting
    int writeMs = 30000;      // until it takes each further chunk
    int drainMs = 30000;      // on closing, until everything sent has left
};

class Connector {
public:
    virtual ~Connector() = default;
    // A connected descriptor, or -1 with the reason in `error`. Must not take
    // longer than timeoutMs.
    virtual int Connect(const Target &target, int timeoutMs, std::string &error) = 0;
};

// AF_BLUETOOTH / BTPROTO_RFCOMM to the target's address and channel.
class RfcommConnector : public Connector {
public:
    int Connect(const Target &target, int timeoutMs, std::string &error) override;
};

// What `fd` still holds of the bytes written to it.
int QueuedBytes(int fd);

// Where a job's bytes go, page by page: the start of a page may connect a
// dropped link again, the rest of a page never.
class PageSink {
public:
    virtual ~PageSink() = default;
    virtual bool WritePage(const void *data, size_t size, std::string &error) = 0;
    virtual bool WriteMore(const void *data, size_t size, std::string &error) = 0;
};

class Link : public PageSink {
public:
    using Sleep = std::function<void(int ms)>;
    static void RealSleep(int ms);

    Link(Connector &connector, const Target &target, const Times &times = Times(), Sleep sleep = RealSleep);
    ~Link() override;
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

    bool Open(std::string &error);
    // The start of a page (or of the bytes before or after the pages): a link
    // found dropped is reconnected once first.
    bool WritePage(const void *data, size_t size, std::string &error) override;
    // More bytes of the page being sent: never reconnects.
    bool WriteMore(const void *data, size_t size, std::string &error) override;
    // Bytes the printer sent back, waiting up to timeoutMs: >0 bytes, 0 none
    // yet, -1 the link is gone.
    ssize_t Read(void *buffer, size_t size, int timeoutMs);
    // Waits (up to the drain limit) until everything has left, then closes.
    void Close();

    bool Broken() const { return rule_.Broken(); }
    int Reconnects() const { return rule_.Reconnects(); }
    Pacing CurrentPacing() const { return pacing_; }

private:
    bool Connect(std::string &error);
    bool Dropped();
    // Sends in chunks; `sent` counts what the kernel took.
    bool Send(const unsigned char *data, size_t size, size_t &sent, std::string &error, bool &linkGone);
    bool SendChunk(const unsigned char *data, size_t size, size_t &sent, std::string &error, bool &linkGone);
    void Drop();

    Connector &connector_;
    Target target_;
    Times times_;
    Sleep sleep_;
    Pacing pacing_;
    int fd_ = -1;
    bool fresh_ = false; // nothing written since connecting
    PageRule rule_;
};

} // namespace bt
