// The Bluetooth LE link through its seam: seqpacket socketpairs stand in for
// the descriptors BlueZ's AcquireWrite and AcquireNotify hand over, one
// packet or notification per record.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "BleLink.h"

namespace {

const uint8_t kPause = 'P', kResume = 'R';

bt::Flow Classify(const uint8_t *data, size_t size)
{
    if (size == 1 && data[0] == kPause)
        return bt::Flow::Pause;
    if (size == 1 && data[0] == kResume)
        return bt::Flow::Resume;
    return bt::Flow::Other;
}

struct Printer {
    int control = -1, notify = -1;
    std::vector<std::string> Packets() const
    {
        std::vector<std::string> out;
        char buffer[1024];
        ssize_t n;
        while ((n = recv(control, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            out.emplace_back(buffer, static_cast<size_t>(n));
        return out;
    }
    void Notify(uint8_t b) const { ASSERT_EQ(send(notify, &b, 1, MSG_NOSIGNAL), 1); }
    void Hangup()
    {
        close(control);
        close(notify);
        control = notify = -1;
    }
};

class PairConnector : public bt::BleConnector {
public:
    size_t payload = 100;
    int failFrom = -1;
    int attempts = 0;
    std::vector<Printer> printers;
    ~PairConnector() override
    {
        for (Printer &p : printers)
            p.Hangup();
    }
    std::unique_ptr<bt::BlePort> Connect(const bt::BleTarget &, int, std::string &error) override
    {
        ++attempts;
        if (failFrom >= 0 && attempts > failFrom) {
            error = "not in range";
            return nullptr;
        }
        int c[2], n[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, c) != 0 ||
            socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, n) != 0)
            return nullptr;
        printers.push_back({c[1], n[1]});
        return std::make_unique<bt::FdPort>(c[0], -1, n[0], payload);
    }
};

bt::BleTarget Target(int packet = 0, int pause = 0)
{
    bt::BleTarget t;
    bt::ParseAddress("0011223344AA", t.address);
    t.packet = packet;
    t.pauseMs = pause;
    return t;
}

std::string Bytes(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 7);
    return s;
}

std::string Joined(const std::vector<std::string> &packets)
{
    std::string all;
    for (const std::string &p : packets)
        all += p;
    return all;
}

} // namespace

// Packets as large as the MTU allows or the URI says, never larger; the
// pause after each follows the packet's size unless the URI names one.
TEST(BleLink, PacketsFollowThePayloadAndTheUri)
{
    struct Case {
        size_t payload;
        int packet, pause;
        size_t wantPacket;
        int wantPause;
    } const cases[] = {
        {100, 0, -1, 100, 5}, {17, 0, -1, 17, 1}, {244, 60, -1, 60, 3}, {100, 200, 7, 100, 7}, {1000, 0, -1, 512, 26},
    };
    for (const Case &c : cases) {
        PairConnector connector;
        connector.payload = c.payload;
        std::vector<int> sleeps;
        bt::BleLink link(connector, Target(c.packet, c.pause), Classify, bt::BleTimes(),
                         [&](int ms) { sleeps.push_back(ms); });
        std::string error;
        ASSERT_TRUE(link.Open(error)) << error;
        const std::string page = Bytes(1500);
        ASSERT_TRUE(link.WritePage(bt::Channel::Control, page.data(), page.size(), error)) << error;
        const auto packets = connector.printers[0].Packets();
        EXPECT_EQ(Joined(packets), page);
        for (const std::string &p : packets)
            EXPECT_LE(p.size(), c.wantPacket);
        EXPECT_EQ(packets.front().size(), c.wantPacket) << c.payload;
        EXPECT_EQ(link.PauseMs(), c.wantPause) << c.payload;
        EXPECT_EQ(sleeps.size(), packets.size());
    }
}

TEST(BleLink, NoRoomForDataIsAClearError)
{
    PairConnector connector;
    connector.payload = 0;
    bt::BleLink link(connector, Target(), Classify);
    std::string error;
    EXPECT_FALSE(link.Open(error));
    EXPECT_NE(error.find("MTU"), std::string::npos) << error;
}

// The printer asks to wait in the middle of a page: no packet goes out until
// it asks for more, and then the rest goes, each byte once.
TEST(BleLink, NoPacketWhilePaused)
{
    PairConnector connector;
    std::atomic<int> written{0};
    std::atomic<bool> released{false};
    std::atomic<int> atRelease{-1};
    bt::BleLink link(connector, Target(10, 0), Classify, bt::BleTimes(), [&](int) {
        if (++written == 5)
            connector.printers[0].Notify(kPause);
    });
    std::string error;
    ASSERT_TRUE(link.Open(error)) << error;
    std::thread printer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        atRelease = written.load();
        released = true;
        connector.printers[0].Notify(kResume);
    });
    const std::string page = Bytes(200);
    const bool ok = link.WritePage(bt::Channel::Control, page.data(), page.size(), error);
    printer.join();
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(atRelease.load(), 5);
    EXPECT_EQ(link.Pauses(), 1);
    EXPECT_EQ(Joined(connector.printers[0].Packets()), page);
}

TEST(BleLink, APauseThatNeverEndsFailsWithinItsLimit)
{
    PairConnector connector;
    bt::BleTimes times;
    times.pausedMs = 300;
    bt::BleLink link(connector, Target(10, 0), Classify, times);
    std::string error;
    ASSERT_TRUE(link.Open(error)) << error;
    connector.printers[0].Notify(kPause);
    const auto t0 = std::chrono::steady_clock::now();
    const std::string page = Bytes(50);
    EXPECT_FALSE(link.WritePage(bt::Channel::Control, page.data(), page.size(), error));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_NE(error.find("asked to wait"), std::string::npos) << error;
    EXPECT_TRUE(connector.printers[0].Packets().empty());
}

// Other notifications (status replies) wait for Read, in order, flow
// control left out.
TEST(BleLink, ReadGivesTheOtherNotifications)
{
    PairConnector connector;
    bt::BleLink link(connector, Target(), Classify);
    std::string error;
    ASSERT_TRUE(link.Open(error)) << error;
    connector.printers[0].Notify('a');
    connector.printers[0].Notify(kPause);
    connector.printers[0].Notify(kResume);
    connector.printers[0].Notify('b');
    char got[4];
    ASSERT_EQ(link.Read(got, sizeof got, 500), 1);
    EXPECT_EQ(got[0], 'a');
    ASSERT_EQ(link.Read(got, sizeof got, 500), 1);
    EXPECT_EQ(got[0], 'b');
    EXPECT_EQ(link.Read(got, sizeof got, 50), 0);
}

TEST(BleLink, DroppedBetweenPagesReconnectsOnceAndTheNextPageGoesWhole)
{
    PairConnector connector;
    bt::BleLink link(connector, Target(), Classify);
    std::string error;
    ASSERT_TRUE(link.Open(error)) << error;
    const std::string one = Bytes(150), two = Bytes(250);
    ASSERT_TRUE(link.WritePage(bt::Channel::Control, one.data(), one.size(), error)) << error;
    EXPECT_EQ(Joined(connector.printers[0].Packets()), one);
    connector.printers[0].Hangup();
    ASSERT_TRUE(link.WritePage(bt::Channel::Control, two.data(), two.size(), error)) << error;
    EXPECT_EQ(link.Reconnects(), 1);
    EXPECT_EQ(Joined(connector.printers[1].Packets()), two);
}

TEST(BleLink, DroppedMidPageEndsTheJobAndNothingIsSentTwice)
{
    PairConnector connector;
    connector.failFrom = 1;
    int packets = 0;
    bt::BleLink link(connector, Target(10, 0), Classify, bt::BleTimes(), [&](int) {
        if (++packets == 3)
            connector.printers[0].Hangup();
    });
    std::string error;
    ASSERT_TRUE(link.Open(error)) << error;
    const std::string page = Bytes(100);
    EXPECT_FALSE(link.WritePage(bt::Channel::Control, page.data(), page.size(), error));
    EXPECT_NE(error.find("after 30 of 100 bytes"), std::string::npos) << error;
    EXPECT_TRUE(link.Broken());
    EXPECT_EQ(connector.attempts, 1);
    EXPECT_FALSE(link.WritePage(bt::Channel::Control, page.data(), page.size(), error));
    EXPECT_EQ(connector.attempts, 1);
}

TEST(BleLink, BulkWithoutItsCharacteristicIsRefused)
{
    PairConnector connector;
    bt::BleLink link(connector, Target(), Classify);
    std::string error;
    ASSERT_TRUE(link.Open(error)) << error;
    const std::string page = Bytes(10);
    EXPECT_FALSE(link.WritePage(bt::Channel::Bulk, page.data(), page.size(), error));
    EXPECT_NE(error.find("bulk"), std::string::npos) << error;
}

namespace {

std::vector<uint8_t> Frame(uint8_t p0, uint8_t p1, uint8_t cmd, std::vector<uint8_t> payload)
{
    std::vector<uint8_t> f(payload.size() + 8, 0); // the CRC is no business of the splitter's
    f[0] = p0;
    f[1] = p1;
    f[2] = cmd;
    f[4] = static_cast<uint8_t>(payload.size());
    f[5] = static_cast<uint8_t>(payload.size() >> 8);
    std::copy(payload.begin(), payload.end(), f.begin() + 6);
    f.back() = 0xFF;
    return f;
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

} // namespace

// Frames cut anywhere come out whole; bulk frames give their payload alone
// to the bulk channel, in order with the control frames around them.
TEST(FrameSplitter, WholeFramesByChannelWhereverTheStreamIsCut)
{
    const auto a = Frame(0x51, 0x78, 0xA2, std::vector<uint8_t>(48, 0x11));
    const auto b = Frame(0x51, 0x78, 0xA1, {0x5A, 0x00});
    const auto req = Frame(0x22, 0x21, 0xA9, {2, 0, 0x30, 0});
    const auto l1 = Frame(0x22, 0x21, 0xFE, std::vector<uint8_t>(48, 0x01));
    const auto l2 = Frame(0x22, 0x21, 0xFE, std::vector<uint8_t>(48, 0x02));
    const auto flush = Frame(0x22, 0x21, 0xAD, {0});
    const std::vector<uint8_t> classic = Cat({a, b}), mx = Cat({req, l1, l2, flush});
    // Niimbot: the connect packet (03 first), a row, a page end.
    const std::vector<uint8_t> niimbot = Cat({{0x03, 0x55, 0x55, 0xC1, 0x01, 0x01, 0xC1, 0xAA, 0xAA},
                                              {0x55, 0x55, 0x84, 0x03, 0x00, 0x00, 0x02, 0x85, 0xAA, 0xAA},
                                              {0x55, 0x55, 0xE3, 0x01, 0x01, 0xE3, 0xAA, 0xAA}});
    for (size_t cut : {size_t(1), size_t(5), size_t(7), size_t(56), size_t(61), size_t(1000)}) {
        for (const auto *stream : {&classic, &mx, &niimbot}) {
            bt::FrameSplitter s;
            std::vector<bt::FrameSplitter::Piece> out;
            std::string error;
            for (size_t at = 0; at < stream->size(); at += cut)
                ASSERT_TRUE(s.Add(stream->data() + at, std::min(cut, stream->size() - at), out, error)) << error;
            EXPECT_FALSE(s.Partial());
            std::vector<uint8_t> control, bulk;
            std::vector<bt::Channel> order;
            for (const auto &p : out) {
                (p.channel == bt::Channel::Bulk ? bulk : control)
                    .insert((p.channel == bt::Channel::Bulk ? bulk : control).end(), p.bytes.begin(), p.bytes.end());
                if (order.empty() || order.back() != p.channel)
                    order.push_back(p.channel);
            }
            if (stream != &mx) {
                EXPECT_EQ(control, *stream) << cut;
                EXPECT_TRUE(bulk.empty());
            } else {
                EXPECT_EQ(control, Cat({req, flush})) << cut;
                EXPECT_EQ(bulk, Cat({std::vector<uint8_t>(48, 0x01), std::vector<uint8_t>(48, 0x02)})) << cut;
                EXPECT_EQ(order,
                          (std::vector<bt::Channel>{bt::Channel::Control, bt::Channel::Bulk, bt::Channel::Control}));
            }
        }
    }
}

TEST(FrameSplitter, BytesThatAreNotFramesAreRefused)
{
    auto noEnd = Frame(0x51, 0x78, 0xA1, {1, 0});
    noEnd.back() = 0x00;
    const std::vector<uint8_t> niimbotNoEnd = {0x55, 0x55, 0xE3, 0x01, 0x01, 0xE3, 0xAA, 0x00};
    for (const auto &bad : {std::vector<uint8_t>{'S', 'I', 'Z', 'E'}, std::vector<uint8_t>{0x51, 0x00}, noEnd,
                            std::vector<uint8_t>{0x03, 0x56}, niimbotNoEnd}) {
        bt::FrameSplitter s;
        std::vector<bt::FrameSplitter::Piece> out;
        std::string error;
        EXPECT_FALSE(s.Add(bad.data(), bad.size(), out, error));
        EXPECT_TRUE(out.empty());
        EXPECT_NE(error.find("not in its frames"), std::string::npos) << error;
    }
}
