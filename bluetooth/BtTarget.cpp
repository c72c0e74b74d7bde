#include "BtTarget.h"

#include <cstdlib>
#include <cstring>

namespace bt {
namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A decimal number of at most 6 digits, nothing else.
bool SmallNumber(const std::string &text, int &out)
{
    if (text.empty() || text.size() > 6)
        return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

struct FamilyRow {
    Family family;
    const char *name;
    int modelNumber;
    Pacing pacing;
};

// Pacing per family. A printer that prints s mm/s at d dots per mm with rows
// of b bytes takes s * d * b bytes per second; the chunk and pause below stay
// under that for the slowest printer of the family, so its buffer never
// overflows whatever its size:
//   Paperang   P1: 48-byte rows at 8 dots/mm (203 dpi); P2: 72-byte rows at
//              11.8 dots/mm (300 dpi). At 10 mm/s that is 3840 and 8500 B/s;
//              256 bytes every 70 ms = 3657 B/s.
//   PeriPage   A6: 48-byte rows at 8 dots/mm; A6+: 72-byte rows at 12 dots/mm
//              (304 dpi). At 10 mm/s: 3840 and 8640 B/s; 256 / 70 ms.
//   ESC/POS    58 mm portables: 48-byte rows at 8 dots/mm, 50 mm/s: 19200
//              B/s (80 mm: 28800); 512 bytes every 30 ms = 17067 B/s.
//   TSPL, CPCL label printers take the whole label into memory before they
//              print it; 2 ips (50.8 mm/s) at 8 dots/mm with 104-byte rows
//              (832 dots) is 42 kB/s; 1024 bytes every 25 ms = 40960 B/s.
//   Cat        Bluetooth LE only (quillble:, BleLink.h); no RFCOMM pacing.
//   Niimbot    mostly LE; for the serial port some models have, the
//              slowest pacing (256 / 70 ms): their speeds are not published.
//   Phomemo    M02, M110 (48-byte rows), M220 (72): speeds not published;
//              at 20 mm/s and 8 dots/mm the M110 takes 7680 B/s; 256 bytes
//              every 35 ms = 7314 B/s.
//   Unknown    the slowest of these.
const FamilyRow kFamilies[] = {
    {Family::Tspl, "tspl", 20, {1024, 25}},        {Family::EscPos, "escpos", 21, {512, 30}},
    {Family::Cpcl, "cpcl", 22, {1024, 25}},        {Family::Paperang, "paperang", 23, {256, 70}},
    {Family::PeriPage, "peripage", 24, {256, 70}}, {Family::Cat, "cat", 25, {256, 70}},
    {Family::Niimbot, "niimbot", 26, {256, 70}},   {Family::Phomemo, "phomemo", 27, {256, 35}},
};
const Pacing kUnknownPacing = {256, 70};

// Splits "a=1&b=2" and hands each pair to `take`; false when a pair has no
// '=' or `take` refuses it.
template <typename F> bool ForEachPair(const std::string &query, F take)
{
    size_t start = 0;
    while (start < query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos)
            end = query.size();
        const std::string pair = query.substr(start, end - start);
        const size_t eq = pair.find('=');
        if (!pair.empty()) {
            if (eq == std::string::npos || !take(pair.substr(0, eq), pair.substr(eq + 1)))
                return false;
        }
        start = end + 1;
    }
    return true;
}

// SCHEME://ADDRESS[/][?QUERY]: the address and the query.
bool SplitUri(const std::string &uri, const char *scheme, Address &address, std::string &query, std::string &error)
{
    const std::string prefix = std::string(scheme) + "://";
    if (uri.compare(0, prefix.size(), prefix) != 0) {
        error = "'" + uri + "' is not a " + scheme + ":// address.";
        return false;
    }
    std::string rest = uri.substr(prefix.size());
    query.clear();
    const size_t q = rest.find('?');
    if (q != std::string::npos) {
        query = rest.substr(q + 1);
        rest.erase(q);
    }
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    if (!ParseAddress(rest, address)) {
        error = "'" + rest + "' is not a Bluetooth address (12 hex digits, e.g. 0011223344AA).";
        return false;
    }
    return true;
}

} // namespace

bool ParseAddress(const std::string &text, Address &out)
{
    Address a{};
    size_t pos = 0;
    char sep = 0;
    if (text.size() == 17)
        sep = text[2];
    else if (text.size() != 12)
        return false;
    if (sep && sep != ':' && sep != '-')
        return false;
    for (int i = 0; i < 6; ++i) {
        if (sep && i > 0) {
            if (text[pos] != sep)
                return false;
            ++pos;
        }
        const int hi = HexDigit(text[pos]), lo = HexDigit(text[pos + 1]);
        if (hi < 0 || lo < 0)
            return false;
        a[i] = static_cast<uint8_t>(hi << 4 | lo);
        pos += 2;
    }
    bool allZero = true, allOnes = true;
    for (uint8_t b : a) {
        allZero = allZero && b == 0;
        allOnes = allOnes && b == 0xFF;
    }
    if (allZero || allOnes)
        return false;
    out = a;
    return true;
}

std::string FormatAddress(const Address &a)
{
    char text[18];
    snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
    return text;
}

std::string FormatAddressCompact(const Address &a)
{
    char text[13];
    snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
    return text;
}

const char *FamilyName(Family f)
{
    for (const FamilyRow &r : kFamilies)
        if (r.family == f)
            return r.name;
    return "";
}

bool ParseFamily(const std::string &name, Family &out)
{
    for (const FamilyRow &r : kFamilies)
        if (name == r.name) {
            out = r.family;
            return true;
        }
    return false;
}

Family FamilyOfModelNumber(int modelNumber)
{
    for (const FamilyRow &r : kFamilies)
        if (r.modelNumber == modelNumber)
            return r.family;
    return Family::Unknown;
}

Pacing DefaultPacing(Family f)
{
    for (const FamilyRow &r : kFamilies)
        if (r.family == f)
            return r.pacing;
    return kUnknownPacing;
}

Pacing Target::Effective() const
{
    Pacing p = DefaultPacing(family);
    if (chunk > 0)
        p.chunk = chunk;
    if (pauseMs >= 0)
        p.pauseMs = pauseMs;
    return p;
}

bool ParseUri(const std::string &uri, Target &out, std::string &error)
{
    Target t;
    std::string query;
    if (!SplitUri(uri, kScheme, t.address, query, error))
        return false;
    std::string bad;
    const bool ok = ForEachPair(query, [&](const std::string &key, const std::string &value) {
        int n = 0;
        if (key == "channel" && SmallNumber(value, n) && n >= kMinChannel && n <= kMaxChannel)
            t.channel = n;
        else if (key == "chunk" && SmallNumber(value, n) && n >= kMinChunk && n <= kMaxChunk)
            t.chunk = n;
        else if (key == "pause" && SmallNumber(value, n) && n <= kMaxPauseMs)
            t.pauseMs = n;
        else if (key == "family" && ParseFamily(value, t.family) && t.family != Family::Cat)
            ;
        else {
            bad = key + "=" + value;
            return false;
        }
        return true;
    });
    if (!ok) {
        error = bad.empty() ? "The query of '" + uri + "' is not NAME=VALUE pairs."
                            : "'" + bad + "' is not a setting of a Bluetooth printer (channel=1-30, chunk=16-65536, " +
                                  "pause=0-2000 ms, family=tspl|escpos|cpcl|paperang|peripage).";
        return false;
    }
    out = t;
    return true;
}

std::string MakeUri(const Target &t)
{
    std::string uri = std::string(kScheme) + "://" + FormatAddressCompact(t.address);
    std::string query;
    auto add = [&](const std::string &pair) { query += (query.empty() ? "?" : "&") + pair; };
    if (t.family != Family::Unknown)
        add(std::string("family=") + FamilyName(t.family));
    if (t.channel != 1)
        add("channel=" + std::to_string(t.channel));
    if (t.chunk > 0)
        add("chunk=" + std::to_string(t.chunk));
    if (t.pauseMs >= 0)
        add("pause=" + std::to_string(t.pauseMs));
    return uri + query;
}

bool ParseBleUri(const std::string &uri, BleTarget &out, std::string &error)
{
    BleTarget t;
    std::string query;
    if (!SplitUri(uri, kBleScheme, t.address, query, error))
        return false;
    std::string bad;
    const bool ok = ForEachPair(query, [&](const std::string &key, const std::string &value) {
        int n = 0;
        if (key == "packet" && SmallNumber(value, n) && n >= kMinPacket && n <= kMaxPacket)
            t.packet = n;
        else if (key == "pause" && SmallNumber(value, n) && n <= kMaxPauseMs)
            t.pauseMs = n;
        else {
            bad = key + "=" + value;
            return false;
        }
        return true;
    });
    if (!ok) {
        error = bad.empty()
                    ? "The query of '" + uri + "' is not NAME=VALUE pairs."
                    : "'" + bad + "' is not a setting of a Bluetooth LE printer (packet=" + std::to_string(kMinPacket) +
                          "-" + std::to_string(kMaxPacket) + " bytes, pause=0-2000 ms).";
        return false;
    }
    out = t;
    return true;
}

std::string MakeBleUri(const BleTarget &t)
{
    std::string uri = std::string(kBleScheme) + "://" + FormatAddressCompact(t.address);
    std::string query;
    auto add = [&](const std::string &pair) { query += (query.empty() ? "?" : "&") + pair; };
    if (t.packet > 0)
        add("packet=" + std::to_string(t.packet));
    if (t.pauseMs >= 0)
        add("pause=" + std::to_string(t.pauseMs));
    return uri + query;
}

} // namespace bt
