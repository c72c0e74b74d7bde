// The Bluetooth link through its seam: a socketpair (one record per write,
// so each chunk is seen as sent) or a pty stands in for the RFCOMM socket.
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "BtLink.h"

namespace {

// Hands out one end of a new socketpair per connection and keeps the other
// end as "the printer". Connections can be made to fail.
class PairConnector : public bt::Connector {
public:
    ~PairConnector() override
    {
        for (int fd : printers)
            if (fd >= 0)
                close(fd);
    }
    int Connect(const bt::Target &, int timeoutMs, std::string &error) override
    {
        ++attempts;
        lastTimeoutMs = timeoutMs;
        if (failFrom >= 0 && attempts > failFrom) {
            error = "no answer";
            return -1;
        }
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
            return -1;
        if (sendBuffer > 0)
            setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        printers.push_back(fds[1]);
        if (prefill) {
            fcntl(fds[0], F_SETFL, O_NONBLOCK);
            const char filler[512] = {};
            while (send(fds[0], filler, sizeof filler, MSG_DONTWAIT) > 0) {
            }
        }
        return fds[0];
    }
    // The records the printer of connection n has received so far.
    std::vector<std::string> Records(size_t n)
    {
        std::vector<std::string> out;
        char buffer[70000];
        ssize_t got;
        while ((got = recv(printers.at(n), buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            out.emplace_back(buffer, static_cast<size_t>(got));
        return out;
    }
    void HangUp(size_t n)
    {
        close(printers.at(n));
        printers.at(n) = -1;
    }

    std::vector<int> printers;
    int attempts = 0;
    int failFrom = -1; // attempts after this many fail
    int lastTimeoutMs = 0;
    int sendBuffer = 0;
    bool prefill = false;
};

bt::Target MakeTarget(int chunk, int pauseMs)
{
    bt::Target t;
    bt::ParseAddress("00:11:22:33:44:AA", t.address);
    t.chunk = chunk;
    t.pauseMs = pauseMs;
    return t;
}

std::string Bytes(size_t n, char seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(seed + i % 7);
    return s;
}

std::string Joined(const std::vector<std::string> &records)
{
    std::string all;
    for (const std::string &r : records)
        all += r;
    return all;
}

struct Recorder {
    std::vector<int> pauses;
    bt::Link::Sleep Sleep()
    {
        return [this](int ms) { pauses.push_back(ms); };
    }
};

TEST(BtLink, WritesInChunksOfTheSetSizeWithAPauseAfterEach)
{
    PairConnector c;
    Recorder r;
    bt::Link link(c, MakeTarget(100, 40), bt::Times(), r.Sleep());
    std::string error;
    ASSERT_TRUE(link.Open(error)) << error;
    const std::string page = Bytes(250, 'a');
    ASSERT_TRUE(link.WritePage(page.data(), page.size(), error)) << error;
    const auto records = c.Records(0);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].size(), 100u);
    EXPECT_EQ(records[1].size(), 100u);
    EXPECT_EQ(records[2].size(), 50u);
    EXPECT_EQ(Joined(records), page);
    EXPECT_EQ(r.pauses, (std::vector<int>{40, 40, 40}));
}

TEST(BtLink, FamilyDefaultsApplyWithoutOverrides)
{
    PairConnector c;
    Recorder r;
    bt::Target t = MakeTarget(0, -1);
    t.family = bt::Family::Paperang;
    bt::Link link(c, t, bt::Times(), r.Sleep());
    std::string error;
    ASSERT_TRUE(link.Open(error));
    const bt::Pacing want = bt::DefaultPacing(bt::Family::Paperang);
    const std::string page = Bytes(static_cast<size_t>(want.chunk) * 2 + 1, 'p');
    ASSERT_TRUE(link.WritePage(page.data(), page.size(), error)) << error;
    const auto records = c.Records(0);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].size(), static_cast<size_t>(want.chunk));
    EXPECT_EQ(r.pauses, (std::vector<int>(3, want.pauseMs)));
}

TEST(BtLink, ConnectGetsItsTimeLimit)
{
    PairConnector c;
    bt::Times times;
    times.connectMs = 1234;
    bt::Link link(c, MakeTarget(64, 0), times, [](int) {});
    std::string error;
    ASSERT_TRUE(link.Open(error));
    EXPECT_EQ(c.lastTimeoutMs, 1234);
}

TEST(BtLink, FailedConnectSaysWhy)
{
    PairConnector c;
    c.failFrom = 0;
    bt::Link link(c, MakeTarget(64, 0), bt::Times(), [](int) {});
    std::string error;
    EXPECT_FALSE(link.Open(error));
    EXPECT_EQ(error, "no answer");
}

TEST(BtLink, LinkDroppedBetweenPagesIsReconnectedOnceAndTheNextPageGoesWhole)
{
    PairConnector c;
    bt::Link link(c, MakeTarget(64, 0), bt::Times(), [](int) {});
    std::string error;
    ASSERT_TRUE(link.Open(error));
    const std::string page1 = Bytes(200, 'a'), page2 = Bytes(150, 'k');
    ASSERT_TRUE(link.WritePage(page1.data(), page1.size(), error)) << error;
    EXPECT_EQ(Joined(c.Records(0)), page1);
    c.HangUp(0);
    ASSERT_TRUE(link.WritePage(page2.data(), page2.size(), error)) << error;
    EXPECT_EQ(c.attempts, 2);
    EXPECT_EQ(link.Reconnects(), 1);
    EXPECT_EQ(Joined(c.Records(1)), page2); // page 1 is not sent again
}

TEST(BtLink, ReconnectThatFailsEndsTheJobWithAReason)
{
    PairConnector c;
    c.failFrom = 1;
    bt::Link link(c, MakeTarget(64, 0), bt::Times(), [](int) {});
    std::string error;
    ASSERT_TRUE(link.Open(error));
    const std::string page = Bytes(100, 'a');
    ASSERT_TRUE(link.WritePage(page.data(), page.size(), error));
    c.HangUp(0);
    EXPECT_FALSE(link.WritePage(page.data(), page.size(), error));
    EXPECT_NE(error.find("dropped between pages"), std::string::npos) << error;
    EXPECT_NE(error.find("no answer"), std::string::npos) << error;
    EXPECT_EQ(c.attempts, 2); // once, not again and again
    EXPECT_FALSE(link.WritePage(page.data(), page.size(), error));
    EXPECT_EQ(c.attempts, 2);
}

TEST(BtLink, UnaskedRepliesAreNotTakenForADroppedLink)
{
    PairConnector c;
    bt::Link link(c, MakeTarget(64, 0), bt::Times(), [](int) {});
    std::string error;
    ASSERT_TRUE(link.Open(error));
    ASSERT_EQ(write(c.printers[0], "\x01\x02", 2), 2);
    const std::string page = Bytes(10, 'a');
    ASSERT_TRUE(link.WritePage(page.data(), page.size(), error)) << error;
    EXPECT_EQ(c.attempts, 1);
    EXPECT_EQ(Joined(c.Records(0)), page);
}

// The printer goes away while the page is on its way: the first chunks were
// taken, the rest fail. The page is not sent again on a new link.
class DropAfter : public bt::Connector {
public:
    explicit DropAfter(int records) : records_(records) {}
    ~DropAfter() override
    {
        if (printer_ >= 0)
            close(printer_);
    }
    int Connect(const bt::Target &, int, std::string &) override
    {
        ++attempts;
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
            return -1;
        if (printer_ >= 0)
            close(printer_);
        printer_ = fds[1];
        return fds[0];
    }
    // Called from the pause after each chunk.
    void AfterChunk()
    {
        if (--records_ == 0) {
            char buffer[70000];
            while (recv(printer_, buffer, sizeof buffer, MSG_DONTWAIT) > 0)
                received += 1;
            close(printer_);
            printer_ = -1;
        }
    }
    int attempts = 0;
    int received = 0;

private:
    int records_;
    int printer_ = -1;
};

TEST(BtLink, LinkDroppedMidPageEndsTheJobAndNothingIsSentTwice)
{
    DropAfter c(2);
    bt::Link link(c, MakeTarget(50, 0), bt::Times(), [&](int) { c.AfterChunk(); });
    std::string error;
    ASSERT_TRUE(link.Open(error));
    const std::string page = Bytes(200, 'a');
    EXPECT_FALSE(link.WritePage(page.data(), page.size(), error));
    EXPECT_NE(error.find("after 100 of 200 bytes"), std::string::npos) << error;
    EXPECT_EQ(c.received, 2);
    EXPECT_EQ(c.attempts, 1);
    EXPECT_TRUE(link.Broken());
    // The job's next page is refused with the same reason, without a new link.
    EXPECT_FALSE(link.WritePage(page.data(), page.size(), error));
    EXPECT_NE(error.find("after 100 of 200 bytes"), std::string::npos) << error;
    EXPECT_EQ(c.attempts, 1);
}

TEST(BtLink, MoreOfAPageNeverReconnects)
{
    PairConnector c;
    bt::Link link(c, MakeTarget(64, 0), bt::Times(), [](int) {});
    std::string error;
    ASSERT_TRUE(link.Open(error));
    const std::string part = Bytes(100, 'a');
    ASSERT_TRUE(link.WritePage(part.data(), part.size(), error));
    c.HangUp(0);
    EXPECT_FALSE(link.WriteMore(part.data(), part.size(), error));
    EXPECT_NE(error.find("middle of a page"), std::string::npos) << error;
    EXPECT_EQ(c.attempts, 1);
}

TEST(BtLink, NextJobOnANewLinkPrintsAfterADroppedOne)
{
    PairConnector c;
    std::string error;
    const std::string page = Bytes(100, 'a');
    {
        bt::Link job1(c, MakeTarget(64, 0), bt::Times(), [](int) {});
        ASSERT_TRUE(job1.Open(error));
        c.HangUp(0);
        EXPECT_FALSE(job1.WriteMore(page.data(), page.size(), error));
    }
    bt::Link job2(c, MakeTarget(64, 0), bt::Times(), [](int) {});
    ASSERT_TRUE(job2.Open(error));
    ASSERT_TRUE(job2.WritePage(page.data(), page.size(), error)) << error;
    EXPECT_EQ(Joined(c.Records(1)), page);
}

TEST(BtLink, PrinterThatStopsTakingDataFailsWithinTheWriteLimit)
{
    PairConnector c;
    c.sendBuffer = 4096;
    bt::Times times;
    times.firstWriteMs = 100;
    times.writeMs = 100;
    times.drainMs = 100;
    bt::Link link(c, MakeTarget(1024, 0), times, [](int) {});
    std::string error;
    ASSERT_TRUE(link.Open(error));
    const std::string page = Bytes(4 << 20, 'a'); // far more than the socket holds
    EXPECT_FALSE(link.WritePage(page.data(), page.size(), error));
    EXPECT_NE(error.find("took no data"), std::string::npos) << error;
    EXPECT_EQ(c.attempts, 1);
}

TEST(BtLink, FirstWriteHasItsOwnLimit)
{
    PairConnector c;
    c.sendBuffer = 4096;
    c.prefill = true; // the printer takes nothing from the start
    bt::Times times;
    times.firstWriteMs = 50;
    times.writeMs = 60000; // would hold the test for a minute if it were used
    bt::Link link(c, MakeTarget(1024, 0), times, [](int) {});
    std::string error;
    ASSERT_TRUE(link.Open(error));
    const std::string page = Bytes(1024, 'a');
    EXPECT_FALSE(link.WritePage(page.data(), page.size(), error));
    EXPECT_NE(error.find("took no data for 50 ms"), std::string::npos) << error;
}

TEST(BtLink, PtyStandsInForTheSocket)
{
    class PtyConnector : public bt::Connector {
    public:
        int Connect(const bt::Target &, int, std::string &) override
        {
            int master = -1, slave = -1;
            if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
                return -1;
            struct termios tio;
            tcgetattr(slave, &tio);
            cfmakeraw(&tio);
            tcsetattr(slave, TCSANOW, &tio);
            printer = master;
            return slave;
        }
        int printer = -1;
    } c;
    bt::Link link(c, MakeTarget(32, 0), bt::Times(), [](int) {});
    std::string error;
    ASSERT_TRUE(link.Open(error));
    const std::string page = Bytes(100, 'a');
    ASSERT_TRUE(link.WritePage(page.data(), page.size(), error)) << error;
    std::string got(page.size(), '\0');
    size_t have = 0;
    while (have < got.size()) {
        ssize_t n = read(c.printer, &got[have], got.size() - have);
        ASSERT_GT(n, 0);
        have += static_cast<size_t>(n);
    }
    EXPECT_EQ(got, page);
    link.Close();
    close(c.printer);
}

TEST(BtLink, CloseWaitsUntilThePrinterHasTakenEverything)
{
    PairConnector c;
    bt::Link link(c, MakeTarget(64, 0), bt::Times(), [](int) {});
    std::string error;
    ASSERT_TRUE(link.Open(error));
    const std::string page = Bytes(1000, 'a');
    ASSERT_TRUE(link.WritePage(page.data(), page.size(), error));
    // Set before the printer reads: once it reads, the queue may be empty
    // and Close return before the read itself has.
    std::atomic<bool> reading{false};
    std::string got;
    std::thread printer([&] {
        usleep(100000); // the printer is slow to read
        reading = true;
        got = Joined(c.Records(0));
    });
    link.Close();
    const bool readBeforeClosed = reading;
    printer.join();
    EXPECT_TRUE(readBeforeClosed);
    EXPECT_EQ(got, page);
}

TEST(BtLink, CloseGivesUpAfterTheDrainLimit)
{
    PairConnector c;
    bt::Times times;
    times.drainMs = 100;
    bt::Link link(c, MakeTarget(64, 0), times, [](int) {});
    std::string error;
    ASSERT_TRUE(link.Open(error));
    const std::string page = Bytes(1000, 'a');
    ASSERT_TRUE(link.WritePage(page.data(), page.size(), error));
    const auto start = std::chrono::steady_clock::now();
    link.Close(); // nobody reads
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

} // namespace
