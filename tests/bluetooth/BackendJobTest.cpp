// The CUPS backend's job loop: a pipe stands in for the filter's output, a
// socketpair on descriptor 4 for CUPS's side channel, and a socketpair for the
// RFCOMM socket.
#include <cups/sidechannel.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BackendJob.h"

namespace {

class PairConnector : public bt::Connector {
public:
    ~PairConnector() override
    {
        for (int fd : printers)
            if (fd >= 0)
                close(fd);
    }
    int Connect(const bt::Target &, int, std::string &) override
    {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
            return -1;
        printers.push_back(fds[1]);
        return fds[0];
    }
    std::string Received(size_t n)
    {
        std::string all;
        char buffer[70000];
        ssize_t got;
        while (printers.at(n) >= 0 && (got = recv(printers.at(n), buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            all.append(buffer, static_cast<size_t>(got));
        return all;
    }
    void HangUp(size_t n)
    {
        received.push_back(Received(n));
        close(printers.at(n));
        printers.at(n) = -1;
    }
    std::vector<int> printers;
    std::vector<std::string> received; // what a printer had when it hung up
};

bt::Target MakeTarget()
{
    bt::Target t;
    bt::ParseAddress("00:11:22:33:44:AA", t.address);
    t.chunk = 100;
    t.pauseMs = 0;
    return t;
}

// Moves a descriptor out of the way of descriptor 4.
int AboveFour(int fd)
{
    const int high = fcntl(fd, F_DUPFD, 10);
    close(fd);
    return high;
}

// Puts `fd` on descriptor 4 for the test's lifetime, as CUPS does.
class SideChannelFd {
public:
    explicit SideChannelFd(int fd) : saved_(dup(CUPS_SC_FD)) { dup2(fd, CUPS_SC_FD); }
    ~SideChannelFd()
    {
        if (saved_ >= 0) {
            dup2(saved_, CUPS_SC_FD);
            close(saved_);
        } else {
            close(CUPS_SC_FD);
        }
    }

private:
    int saved_;
};

// A filter in a child process: each page written whole, then (with
// `announce`) the drain request the quillbt backend takes as a page end.
pid_t StartFilter(int out, int sideChannel, const std::vector<std::string> &pages, bool announce)
{
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    dup2(sideChannel, CUPS_SC_FD);
    bool ok = true;
    for (const std::string &page : pages) {
        ok = ok && write(out, page.data(), page.size()) == static_cast<ssize_t>(page.size());
        if (announce) {
            char data[16];
            int length = sizeof data;
            ok = ok && cupsSideChannelDoRequest(CUPS_SC_CMD_DRAIN_OUTPUT, data, &length, 10.0) == CUPS_SC_STATUS_OK;
        } else {
            usleep(50000);
        }
    }
    _exit(ok ? 0 : 1);
}

struct Job {
    bt::JobResult result;
    int filterStatus = -1;
};

Job RunJob(PairConnector &c, bt::Link &link, const std::vector<std::string> &pages, bool announce)
{
    int data[2], sc[2];
    EXPECT_EQ(pipe(data), 0);
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sc), 0);
    for (int *fd : {&data[0], &data[1], &sc[0], &sc[1]})
        *fd = AboveFour(*fd);
    Job job;
    {
        SideChannelFd fd4(sc[0]);
        const pid_t filter = StartFilter(data[1], sc[1], pages, announce);
        close(data[1]);
        close(sc[1]);
        std::string error;
        EXPECT_TRUE(link.Open(error)) << error;
        job.result = bt::SendJob(link, data[0], true);
        close(data[0]);
        close(sc[0]);
        waitpid(filter, &job.filterStatus, 0);
    }
    (void)c;
    return job;
}

TEST(BackendJob, AnnouncedPageEndsLetADroppedLinkReconnectAndTheNextPageGoesWhole)
{
    PairConnector c;
    int chunks = 0;
    bt::Link link(c, MakeTarget(), bt::Times(), [&](int) {
        if (++chunks == 2) // page 1 is out; the printer goes away
            c.HangUp(0);
    });
    const std::string page1(200, 'a'), page2(150, 'k');
    const Job job = RunJob(c, link, {page1, page2}, true);
    EXPECT_EQ(job.result.end, bt::JobEnd::Done) << job.result.error;
    EXPECT_EQ(job.result.pages, 2);
    EXPECT_EQ(link.Reconnects(), 1);
    ASSERT_EQ(c.received.size(), 1u);
    EXPECT_EQ(c.received[0], page1);
    EXPECT_EQ(c.Received(1), page2);
    EXPECT_EQ(job.filterStatus, 0);
}

TEST(BackendJob, WithoutPageEndsADropAfterTheFirstByteEndsTheJob)
{
    PairConnector c;
    int chunks = 0;
    bt::Link link(c, MakeTarget(), bt::Times(), [&](int) {
        if (++chunks == 2)
            c.HangUp(0);
    });
    const std::string page1(200, 'a'), page2(150, 'k');
    const Job job = RunJob(c, link, {page1, page2}, false);
    EXPECT_EQ(job.result.end, bt::JobEnd::LinkFailed);
    EXPECT_NE(job.result.error.find("not sent again"), std::string::npos) << job.result.error;
    EXPECT_EQ(link.Reconnects(), 0);
    EXPECT_EQ(c.printers.size(), 1u);
}

TEST(BackendJob, AllBytesArriveInOrderAcrossPageEnds)
{
    PairConnector c;
    bt::Link link(c, MakeTarget(), bt::Times(), [](int) {});
    std::vector<std::string> pages;
    std::string all;
    for (int i = 0; i < 5; ++i) {
        pages.emplace_back(static_cast<size_t>(1000 + 777 * i), static_cast<char>('a' + i));
        all += pages.back();
    }
    const Job job = RunJob(c, link, pages, true);
    EXPECT_EQ(job.result.end, bt::JobEnd::Done) << job.result.error;
    EXPECT_EQ(job.result.pages, 5);
    EXPECT_EQ(job.result.bytes, all.size());
    EXPECT_EQ(c.Received(0), all);
}

} // namespace
