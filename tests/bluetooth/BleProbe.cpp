// Sends a file through the Bluetooth LE link and BlueZ, for the mock BlueZ
// test: the file in N pages, then the notifications that arrive within
// --read-ms, one "note HEX" line each, and a line of figures.
//
//   BleProbe URI FILE [--pages N] [--connect-ms MS] [--paused-ms MS] [--read-ms MS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "BleGatt.h"

namespace {

// The printer's flow control notifications: command AE, payload 10 (wait) or
// 00 (go on).
bt::Flow Classify(const uint8_t *d, size_t n)
{
    if (n == 9 && d[0] == 0x51 && d[1] == 0x78 && d[2] == 0xAE && d[4] == 1 && d[8] == 0xFF)
        return d[6] == 0x10 ? bt::Flow::Pause : d[6] == 0x00 ? bt::Flow::Resume : bt::Flow::Other;
    return bt::Flow::Other;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: BleProbe URI FILE [--pages N] [--connect-ms MS] [--paused-ms MS] [--read-ms MS]\n");
        return 2;
    }
    int pages = 1, readMs = 0;
    bt::BleTimes times;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        const int v = atoi(argv[i + 1]);
        if (k == "--pages")
            pages = v > 0 ? v : 1;
        else if (k == "--connect-ms")
            times.connectMs = v;
        else if (k == "--paused-ms")
            times.pausedMs = v;
        else if (k == "--read-ms")
            readMs = v;
    }
    bt::BleTarget target;
    std::string error;
    if (!bt::ParseBleUri(argv[1], target, error)) {
        fprintf(stderr, "ERROR: %s\n", error.c_str());
        return 1;
    }
    std::ifstream in(argv[2], std::ios::binary);
    const std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    bt::BluezConnector connector;
    bt::BleLink link(connector, target, Classify, times);
    const auto t0 = std::chrono::steady_clock::now();
    if (!link.Open(error)) {
        fprintf(stderr, "ERROR: %s\n", error.c_str());
        return 1;
    }
    const auto t1 = std::chrono::steady_clock::now();
    const size_t each = (data.size() + static_cast<size_t>(pages) - 1) / static_cast<size_t>(pages);
    for (size_t at = 0; at < data.size(); at += each) {
        if (!link.WritePage(bt::Channel::Control, data.data() + at, std::min(each, data.size() - at), error)) {
            fprintf(stderr, "ERROR: %s\n", error.c_str());
            return 1;
        }
    }
    const auto t2 = std::chrono::steady_clock::now();
    uint8_t note[512];
    ssize_t n;
    while (readMs > 0 && (n = link.Read(note, sizeof note, readMs)) > 0) {
        printf("note ");
        for (ssize_t i = 0; i < n; ++i)
            printf("%02x", note[i]);
        printf("\n");
    }
    link.Close();
    const double connectS = std::chrono::duration<double>(t1 - t0).count();
    const double sendS = std::chrono::duration<double>(t2 - t1).count();
    printf("bytes %zu packet %zu pause-ms %d pauses %d reconnects %d connect-s %.3f send-s %.3f\n", data.size(),
           link.PacketSize(), link.PauseMs(), link.Pauses(), link.Reconnects(), connectS, sendS);
    return 0;
}
