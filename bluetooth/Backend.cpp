// quillbt and quillble: the CUPS backends for Bluetooth printers, classic
// (RFCOMM) and Low Energy (the cat printers), one program under two names.
//
//   quillbt                                   lists the paired printers (lpinfo -v)
//   quillble                                  lists the LE printers BlueZ has seen
//   quillbt JOB USER TITLE COPIES OPTIONS [FILE]
//                                             sends the job to $DEVICE_URI
//
// On RFCOMM the printer family, and so the pacing, comes from the URI's
// family= or, without it, from the queue's PPD (cupsModelNumber); on LE the
// packets follow the link's MTU.
#include <cups/backend.h>
#include <cups/sidechannel.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "BackendJob.h"
#include "BleGatt.h"
#include "BtDiscovery.h"
#include "BtLink.h"
#include "LeJob.h"

namespace {

// Quotes for a device line: no double quote or control character inside.
std::string Quoted(const std::string &s)
{
    std::string out = "\"";
    for (unsigned char c : s)
        out += (c < ' ' || c == '"' || c == '\\' || c == 0x7f) ? '_' : static_cast<char>(c);
    return out + "\"";
}

int List(bool le)
{
    const bt::Scan scan = le ? bt::ScanBluezForLe() : bt::ScanBluez();
    if (scan.status != bt::Scan::Status::Ok) {
        fprintf(stderr, "DEBUG: %s\n", scan.message.c_str());
        return CUPS_BACKEND_OK;
    }
    for (const bt::Device &d : le ? bt::LePrinters(scan) : bt::PairedPrinters(scan)) {
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

// How a job that reached the printer ended.
int Ended(const bt::JobResult &result, int reconnects)
{
    if (result.end == bt::JobEnd::ReadFailed) {
        fprintf(stderr, "ERROR: %s\n", result.error.c_str());
        return CUPS_BACKEND_FAILED;
    }
    if (result.end == bt::JobEnd::LinkFailed) {
        // Part of the job went out: trying it again would print that part
        // twice, so the job ends here.
        fprintf(stderr, "ERROR: %s\n", result.error.c_str());
        return CUPS_BACKEND_CANCEL;
    }
    if (reconnects > 0)
        fprintf(stderr, "INFO: The link dropped between pages %d time(s) and was connected again\n", reconnects);
    return CUPS_BACKEND_OK;
}

int SendLe(const char *uri, int in, bool sideChannel)
{
    bt::BleTarget target;
    std::string error;
    if (!bt::ParseBleUri(uri, target, error)) {
        fprintf(stderr, "ERROR: %s\n", error.c_str());
        return CUPS_BACKEND_STOP;
    }
    fprintf(stderr, "STATE: +connecting-to-device\n");
    fprintf(stderr, "INFO: Connecting to %s\n", bt::FormatAddress(target.address).c_str());
    bt::BluezConnector connector;
    bt::BleLink link(connector, target, bt::CatFlow);
    if (!link.Open(error)) {
        fprintf(stderr, "STATE: -connecting-to-device\n");
        fprintf(stderr, "ERROR: %s\n", error.c_str());
        return CUPS_BACKEND_RETRY;
    }
    fprintf(stderr, "STATE: -connecting-to-device\n");
    fprintf(stderr, "DEBUG: packets of %zu bytes, %d ms apart\n", link.PacketSize(), link.PauseMs());
    fprintf(stderr, "INFO: Sending data\n");
    bt::BleSink sink(link);
    const bt::JobResult result = bt::SendJob(sink, in, sideChannel);
    const int status = Ended(result, link.Reconnects());
    if (status != CUPS_BACKEND_OK)
        return status;
    if (!bt::AwaitPrinted(link, sink, 120000, error)) {
        // Everything went out: sending it again could print it twice.
        fprintf(stderr, "ERROR: %s\n", error.c_str());
        return CUPS_BACKEND_CANCEL;
    }
    link.Close();
    fprintf(stderr, "INFO: Sent %zu bytes\n", result.bytes);
    return CUPS_BACKEND_OK;
}

bool NamedLe(const char *argv0)
{
    const char *slash = strrchr(argv0, '/');
    return strcmp(slash ? slash + 1 : argv0, bt::kBleScheme) == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    signal(SIGPIPE, SIG_IGN);
    if (argc == 1)
        return List(NamedLe(argv[0]));
    if (argc < 6 || argc > 7) {
        fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
        return CUPS_BACKEND_FAILED;
    }
    const char *uri = getenv("DEVICE_URI");
    if (!uri)
        uri = argv[0];
    int in = 0;
    if (argc == 7) {
        in = open(argv[6], O_RDONLY | O_CLOEXEC);
        if (in < 0) {
            fprintf(stderr, "ERROR: Unable to open the print file: %s\n", strerror(errno));
            return CUPS_BACKEND_FAILED;
        }
    }
    const bool sideChannel = fcntl(CUPS_SC_FD, F_GETFD) != -1;
    if (strncmp(uri, bt::kBleScheme, strlen(bt::kBleScheme)) == 0)
        return SendLe(uri, in, sideChannel);

    bt::Target target;
    std::string error;
    if (!bt::ParseUri(uri, target, error)) {
        fprintf(stderr, "ERROR: %s\n", error.c_str());
        return CUPS_BACKEND_STOP;
    }
    if (target.family == bt::Family::Unknown)
        target.family = bt::FamilyOfModelNumber(PpdModelNumber());

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

    const bt::JobResult result = bt::SendJob(link, in, sideChannel);
    const int status = Ended(result, link.Reconnects());
    if (status != CUPS_BACKEND_OK)
        return status;
    link.Close();
    fprintf(stderr, "INFO: Sent %zu bytes\n", result.bytes);
    return CUPS_BACKEND_OK;
}
