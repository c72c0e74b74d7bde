// The link to a Bluetooth Low Energy printer (the "cat printers", named by a
// quillble: URI, BtTarget.h): the GATT characteristics BlueZ hands over,
// written in packets the link's MTU allows, with the printer's own flow
// control honoured and a time limit on every step.
//
// As on the RFCOMM link, nothing is sent twice: a link found dropped before a
// page is connected again once, and a page of which any packet went out is
// never sent again; a link that drops in the middle of a page ends the job and
// the reason says how much of the page went out.
//
// The printer asks for a pause with a notification when its buffer is full
// and for more when it has room (the classifier tells these apart from its
// other notifications, which Read returns). No packet goes out while paused.
//
// The port is the seam: tests hand the link socketpairs where BlueZ would
// hand the descriptors of AcquireWrite and AcquireNotify.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "BtLink.h"
#include "BtTarget.h"
#include "PageRule.h"

namespace bt {

enum class Channel { Control, Bulk };

// A connected printer's characteristics.
class BlePort {
public:
    virtual ~BlePort() = default;
    // The bytes one write may carry: the ATT MTU less its 3-byte header.
    virtual size_t Payload() const = 0;
    virtual bool HasBulk() const = 0;
    // One packet. 1 sent; 0 not taken within timeoutMs; -1 the link is gone.
    virtual int Write(Channel channel, const uint8_t *data, size_t size, int timeoutMs, std::string &error) = 0;
    // One notification. >0 its size; 0 none within timeoutMs; -1 gone.
    virtual ssize_t Notification(uint8_t *buffer, size_t size, int timeoutMs) = 0;
    // Is the link known to be gone, without waiting?
    virtual bool Gone() = 0;
    // Waits up to timeoutMs until what was written has left.
    virtual void Drain(int timeoutMs) = 0;
};

// The socket pieces of a port: one packet to fd (1 sent, 0 not taken within
// timeoutMs, -1 gone, with the reason in `error`); one notification from fd
// (>0 its size, 0 none within timeoutMs, -1 gone); waiting up to timeoutMs
// until the sockets' peers have taken what was written.
int WritePacket(int fd, const uint8_t *data, size_t size, int timeoutMs, std::string &error);
ssize_t ReadNotification(int fd, uint8_t *buffer, size_t size, int timeoutMs);
void DrainSockets(std::initializer_list<int> fds, int timeoutMs);

// A port over socket descriptors (seqpacket: one packet a write, one
// notification a read), owned; bulk may be -1.
class FdPort : public BlePort {
public:
    FdPort(int control, int bulk, int notify, size_t payload);
    ~FdPort() override;
    FdPort(const FdPort &) = delete;
    FdPort &operator=(const FdPort &) = delete;
    size_t Payload() const override { return payload_; }
    bool HasBulk() const override { return bulk_ >= 0; }
    int Write(Channel channel, const uint8_t *data, size_t size, int timeoutMs, std::string &error) override;
    ssize_t Notification(uint8_t *buffer, size_t size, int timeoutMs) override;
    bool Gone() override;
    void Drain(int timeoutMs) override;

private:
    int control_, bulk_, notify_;
    size_t payload_;
};

class BleConnector {
public:
    virtual ~BleConnector() = default;
    // A connected port, or null with one sentence in `error`; never takes
    // longer than timeoutMs.
    virtual std::unique_ptr<BlePort> Connect(const BleTarget &target, int timeoutMs, std::string &error) = 0;
};

enum class Flow { Other, Pause, Resume };
using FlowClassifier = std::function<Flow(const uint8_t *data, size_t size)>;

struct BleTimes {
    int connectMs = 20000; // finding, connecting and acquiring the characteristics
    int writeMs = 10000;   // until each packet is taken
    int pausedMs = 60000;  // the longest pause the printer may ask for
    int drainMs = 10000;   // on closing
};

class BleLink {
public:
    using Sleep = std::function<void(int ms)>;
    BleLink(BleConnector &connector, const BleTarget &target, FlowClassifier classify,
            const BleTimes &times = BleTimes(), Sleep sleep = nullptr);
    ~BleLink();
    BleLink(const BleLink &) = delete;
    BleLink &operator=(const BleLink &) = delete;

    bool Open(std::string &error);
    // The start of a page: a link found dropped is connected again once.
    bool WritePage(Channel channel, const void *data, size_t size, std::string &error);
    // More of the page being sent: never reconnects.
    bool WriteMore(Channel channel, const void *data, size_t size, std::string &error);
    // The next notification that is not flow control, waiting up to
    // timeoutMs: >0 bytes, 0 none yet, -1 the link is gone.
    ssize_t Read(void *buffer, size_t size, int timeoutMs);
    // Waits (up to the drain limit) until everything has left, then closes.
    void Close();

    bool Broken() const { return rule_.Broken(); }
    int Reconnects() const { return rule_.Reconnects(); }
    int Pauses() const { return pauses_; }
    size_t PacketSize() const { return packet_; }
    int PauseMs() const { return pauseMs_; }

private:
    bool Connect(std::string &error);
    // Takes the notifications waiting (up to waitMs for the first).
    bool Collect(int waitMs);
    bool Send(Channel channel, const uint8_t *data, size_t size, size_t &sent, std::string &error, bool &gone);
    void Drop();

    BleConnector &connector_;
    BleTarget target_;
    FlowClassifier classify_;
    BleTimes times_;
    Sleep sleep_;
    std::unique_ptr<BlePort> port_;
    std::deque<std::vector<uint8_t>> notes_;
    size_t packet_ = 0;
    int pauseMs_ = 0;
    bool paused_ = false;
    PageRule rule_;
    int pauses_ = 0;
};

// The printer's byte stream, frame by frame, the cat printers':
//
//     P0 P1 CMD 00 LEN_LO LEN_HI PAYLOAD... CRC8 FF     (P0 P1: 51 78 or 22 21)
//
// or Niimbot's packets:
//
//     [03] 55 55 CMD LEN DATA... XOR AA AA
//
// A cat frame of command FE carries bulk data: its payload alone is for the
// bulk characteristic; every other frame goes whole to control. Frames may
// arrive cut anywhere; a frame's start is kept until its end comes.
class FrameSplitter {
public:
    struct Piece {
        Channel channel;
        std::vector<uint8_t> bytes; // whole frames (control) or bulk payloads
    };
    static constexpr uint8_t kBulk = 0xFE;
    // Appends what the bytes complete to `out`, consecutive pieces of one
    // channel joined; false when they are not frames (nothing of them is
    // handed on), with the reason.
    bool Add(const uint8_t *data, size_t size, std::vector<Piece> &out, std::string &error);
    bool Partial() const { return !partial_.empty(); }
    // Frames of the 22 21 preamble went through (a printer that says when it
    // has printed a page).
    bool SawAltPreamble() const { return altPreamble_; }

private:
    std::vector<uint8_t> partial_;
    bool altPreamble_ = false;
};

// A job's pages into an LE link through the splitter.
class BleSink : public PageSink {
public:
    explicit BleSink(BleLink &link) : link_(link) {}
    bool WritePage(const void *data, size_t size, std::string &error) override
    {
        return Write(true, data, size, error);
    }
    bool WriteMore(const void *data, size_t size, std::string &error) override
    {
        return Write(false, data, size, error);
    }
    const FrameSplitter &Splitter() const { return splitter_; }

private:
    bool Write(bool pageStart, const void *data, size_t size, std::string &error);
    BleLink &link_;
    FrameSplitter splitter_;
    bool startPending_ = false; // a page began with less than a frame
};

} // namespace bt
