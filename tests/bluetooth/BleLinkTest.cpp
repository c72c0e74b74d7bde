// The Bluetooth LE link through its seam: seqpacket socketpairs stand in for
// the descriptors BlueZ's AcquireWrite and AcquireNotify hand over, one
// packet or notification per record.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

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
