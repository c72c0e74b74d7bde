// A Bluetooth printer as the app and the CUPS backend name it: its address,
// the RFCOMM channel of its serial port and how fast data may go to it.
//
//   quillbt://0011223344AA                      channel 1, the family's pacing
//   quillbt://0011223344AA?family=peripage      pacing of the PeriPage portables
//   quillbt://0011223344AA?channel=2&chunk=128&pause=40
//
// The address is written without separators in a URI (a colon there would
// read as a port); 00:11:22:33:44:AA and 00-11-22-33-44-AA are accepted too.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace bt {

constexpr const char *kScheme = "quillbt";

// Most significant byte first, as written.
using Address = std::array<uint8_t, 6>;

// "00:11:22:33:44:AA", "00-11-22-33-44-AA" or "0011223344AA", hex digits of
// either case. Anything else, the all-zero and the broadcast address are
// refused.
bool ParseAddress(const std::string &text, Address &out);
std::string FormatAddress(const Address &a);        // 00:11:22:33:44:AA
std::string FormatAddressCompact(const Address &a); // 0011223344AA

enum class Family { Unknown, Tspl, EscPos, Cpcl, Paperang, PeriPage, Cat, Niimbot, Phomemo };

const char *FamilyName(Family f); // "tspl", ..., "" for Unknown
bool ParseFamily(const std::string &name, Family &out);
// The PPD's cupsModelNumber: 20 TSPL ... 24 PeriPage, 25 the Bluetooth LE
// cat printers, 26 Niimbot, 27 Phomemo.
Family FamilyOfModelNumber(int modelNumber);

// Data goes in chunks of `chunk` bytes, each followed by `pauseMs` of
// silence, so that a printer whose buffer is small is never written faster
// than it prints.
struct Pacing {
    int chunk = 0;
    int pauseMs = 0;
};

// The pacing a family gets unless the URI says otherwise (see BtTarget.cpp
// for where each figure comes from). Unknown gets the slowest.
Pacing DefaultPacing(Family f);

constexpr int kMinChunk = 16, kMaxChunk = 65536;
constexpr int kMaxPauseMs = 2000;
constexpr int kMinChannel = 1, kMaxChannel = 30;

struct Target {
    Address address{};
    int channel = 1;
    Family family = Family::Unknown;
    int chunk = 0;    // 0: the family's default
    int pauseMs = -1; // -1: the family's default
    Pacing Effective() const;
};

// Parses a quillbt: URI. On failure returns false and says why in `error`
// (one sentence, for a job message or an "ERROR:" line).
bool ParseUri(const std::string &uri, Target &out, std::string &error);
// The URI of a target; only what differs from the defaults is written.
std::string MakeUri(const Target &t);

// A Bluetooth Low Energy printer:
//
//   quillble://0011223344AA              packets as large as the MTU allows
//   quillble://0011223344AA?packet=100&pause=20
constexpr const char *kBleScheme = "quillble";

struct BleTarget {
    Address address{};
    int packet = 0;   // 0: as large as the MTU allows
    int pauseMs = -1; // -1: by the packet's size (kBleBytesPerMs)
};

// Unless the URI says otherwise, packets go no faster than this many bytes a
// millisecond on average: a printer's buffer fills at about its print speed,
// and writes without response are lost, not refused, when it overflows.
constexpr int kBleBytesPerMs = 20;
constexpr int kMinPacket = 20, kMaxPacket = 512;

// Parses a quillble: URI; false with one sentence in `error` when it is not
// one the link can use.
bool ParseBleUri(const std::string &uri, BleTarget &out, std::string &error);
std::string MakeBleUri(const BleTarget &t);

} // namespace bt
