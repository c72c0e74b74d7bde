#include "BackendJob.h"

#include <cups/sidechannel.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace bt {
namespace {

// Small reads keep the side channel answered while a slow printer paces.
constexpr size_t kBlock = 4096;

struct Sender {
    PageSink &link;
    JobResult result;
    bool pageStart = true;

    bool Send(const unsigned char *data, size_t size)
    {
        if (size == 0)
            return true;
        const bool ok = pageStart ? link.WritePage(data, size, result.error) : link.WriteMore(data, size, result.error);
        pageStart = false;
        if (!ok)
            result.end = JobEnd::LinkFailed;
        else
            result.bytes += size;
        return ok;
    }
};

// Everything the filter wrote before its request: it waits for the answer,
// so the pipe holds nothing of the next page yet.
bool TakePending(int in, std::vector<unsigned char> &out, bool &eof)
{
    const int flags = fcntl(in, F_GETFL);
    fcntl(in, F_SETFL, flags | O_NONBLOCK);
    unsigned char buffer[kBlock];
    bool ok = true;
    for (;;) {
        ssize_t n = read(in, buffer, sizeof buffer);
        if (n > 0) {
            out.insert(out.end(), buffer, buffer + n);
            continue;
        }
        if (n == 0)
            eof = true;
        else if (errno == EINTR)
            continue;
        else if (errno != EAGAIN)
            ok = false;
        break;
    }
    fcntl(in, F_SETFL, flags);
    return ok;
}

} // namespace

JobResult SendJob(PageSink &link, int in, bool sideChannel)
{
    Sender s{link, JobResult(), true};
    std::vector<unsigned char> buffer(kBlock);
    bool eof = false;
    while (!eof) {
        struct pollfd p[2] = {{in, POLLIN, 0}, {CUPS_SC_FD, POLLIN, 0}};
        if (poll(p, sideChannel ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (sideChannel && (p[1].revents & (POLLHUP | POLLERR | POLLNVAL)))
            sideChannel = false;
        if (sideChannel && (p[1].revents & POLLIN)) {
            cups_sc_command_t command;
            cups_sc_status_t status;
            char data[2048];
            int length = sizeof data;
            if (cupsSideChannelRead(&command, &status, data, &length, 1.0) != 0) {
                sideChannel = false;
                continue;
            }
            if (command != CUPS_SC_CMD_DRAIN_OUTPUT) {
                cupsSideChannelWrite(command, CUPS_SC_STATUS_NOT_IMPLEMENTED, nullptr, 0, 1.0);
                continue;
            }
            std::vector<unsigned char> rest;
            const bool readOk = TakePending(in, rest, eof);
            // The filter may go on rendering while the rest of the page is
            // paced out.
            cupsSideChannelWrite(command, CUPS_SC_STATUS_OK, nullptr, 0, 1.0);
            if (!readOk) {
                s.result.end = JobEnd::ReadFailed;
                s.result.error = std::string("Unable to read print data: ") + strerror(errno);
                return s.result;
            }
            if (!s.Send(rest.data(), rest.size()))
                return s.result;
            s.pageStart = true;
            ++s.result.pages;
            continue;
        }
        if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0) {
            s.result.end = JobEnd::ReadFailed;
            s.result.error = std::string("Unable to read print data: ") + strerror(errno);
            return s.result;
        }
        if (n == 0)
            break;
        if (!s.Send(buffer.data(), static_cast<size_t>(n)))
            return s.result;
    }
    return s.result;
}

} // namespace bt
