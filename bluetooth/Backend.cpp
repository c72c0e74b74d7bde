// quillbt: the CUPS backend for Bluetooth printers.
//
//   quillbt                                   lists the paired printers (lpinfo -v)
//   quillbt JOB USER TITLE COPIES OPTIONS [FILE]
//                                             sends the job to $DEVICE_URI
//
// The printer family, and so the pacing, comes from the URI's family= or,
// without it, from the queue's PPD (cupsModelNumber).
#include <cups/backend.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "BtDiscovery.h"
#include "BtLink.h"

namespace {

// Quotes for a device line: no double quote or control character inside.
std::string Quoted(const std::string &s)
{
    std::string out = "\"";
    for (unsigned char c : s)
        out += (c < ' ' || c == '"' || c == '\\' || c == 0x7f) ? '_' : static_cast<char>(c);
    return out + "\"";
}

int List()
{
    const bt::Scan scan = bt::ScanBluez();
    if (scan.status != bt::Scan::Status::Ok) {
        fprintf(stderr, "DEBUG: %s\n", scan.message.c_str());
        return CUPS_BACKEND_OK;
    }
    for (const bt::Device &d : bt::PairedPrinters(scan)) {
        const std::string makeModel =
            d.guess.family == bt::Family::Unknown ? std::string("Unknown") : d.guess.makeModel;
        printf("direct %s %s %s %s \"\"\n", d.uri.c_str(), Quoted(makeModel).c_str(),
               Quoted(d.name + " (Bluetooth)").c_str(), Quoted(d.guess.deviceId).c_str());
    }
    return CUPS_BACKEND_OK;
}

// cupsModelNumber of the queue's PPD, -1 when there is none.
int PpdModelNumber()
{
    const char *ppd = getenv("PPD");
    if (!ppd || !*ppd)
        return -1;
    std::ifstream in(ppd);
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 17, "*cupsModelNumber:") == 0)
            return atoi(line.c_str() + 17);
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    signal(SIGPIPE, SIG_IGN);
    if (argc == 1)
        return List();
    if (argc < 6 || argc > 7) {
        fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
        return CUPS_BACKEND_FAILED;
    }
    const char *uri = getenv("DEVICE_URI");
    if (!uri)
        uri = argv[0];
    bt::Target target;
    std::string error;
    if (!bt::ParseUri(uri, target, error)) {
        fprintf(stderr, "ERROR: %s\n", error.c_str());
        return CUPS_BACKEND_STOP;
    }
    if (target.family == bt::Family::Unknown)
        target.family = bt::FamilyOfModelNumber(PpdModelNumber());

    int in = 0;
    if (argc == 7) {
        in = open(argv[6], O_RDONLY | O_CLOEXEC);
        if (in < 0) {
            fprintf(stderr, "ERROR: Unable to open the print file: %s\n", strerror(errno));
            return CUPS_BACKEND_FAILED;
        }
    }

    const bt::Pacing pacing = target.Effective();
    fprintf(stderr, "STATE: +connecting-to-device\n");
    fprintf(stderr, "INFO: Connecting to %s\n", bt::FormatAddress(target.address).c_str());
    fprintf(stderr, "DEBUG: %d-byte chunks, %d ms apart\n", pacing.chunk, pacing.pauseMs);
    bt::RfcommConnector connector;
    bt::Link link(connector, target);
    if (!link.Open(error)) {
        // Nothing was sent: the job can be tried again later.
        fprintf(stderr, "STATE: -connecting-to-device\n");
        fprintf(stderr, "ERROR: %s\n", error.c_str());
        return CUPS_BACKEND_RETRY;
    }
    fprintf(stderr, "STATE: -connecting-to-device\n");
    fprintf(stderr, "INFO: Sending data\n");

    // The job's bytes come through a pipe that keeps no page boundaries, so
    // only a link found dropped before the first byte is reconnected.
    std::vector<unsigned char> buffer(65536);
    bool first = true;
    size_t total = 0;
    for (;;) {
        ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            fprintf(stderr, "ERROR: Unable to read print data: %s\n", strerror(errno));
            return CUPS_BACKEND_FAILED;
        }
        if (n == 0)
            break;
        const bool ok = first ? link.WritePage(buffer.data(), static_cast<size_t>(n), error)
                              : link.WriteMore(buffer.data(), static_cast<size_t>(n), error);
        first = false;
        if (!ok) {
            // Part of the job went out: trying it again would print that part
            // twice, so the job ends here.
            fprintf(stderr, "ERROR: %s\n", error.c_str());
            return CUPS_BACKEND_CANCEL;
        }
        total += static_cast<size_t>(n);
    }
    link.Close();
    fprintf(stderr, "INFO: Sent %zu bytes\n", total);
    return CUPS_BACKEND_OK;
}
