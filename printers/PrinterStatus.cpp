#include "PrinterStatus.h"

#include "CatEncoder.h"
#include "NiimbotEncoder.h"
#include "PhomemoEncoder.h"

namespace qf::status {

namespace {

constexpr uint8_t ESC = 0x1B, DLE = 0x10, EOT = 0x04;

bool Bit(uint8_t b, int n)
{
    return (b >> n) & 1;
}

ReplyState OneByte(size_t size)
{
    return size == 0 ? ReplyState::Incomplete : size == 1 ? ReplyState::Done : ReplyState::Junk;
}

ReplyState ReadTspl(const uint8_t *r, size_t size, PrinterStatus &s)
{
    const ReplyState state = OneByte(size);
    if (state != ReplyState::Done)
        return state;
    const uint8_t b = r[0];
    s.coverOpen = Bit(b, 0) || Bit(b, 6);
    s.paperJam = Bit(b, 1);
    s.paperOut = Bit(b, 2);
    s.ribbonOut = Bit(b, 3);
    s.paused = Bit(b, 4);
    s.busy = Bit(b, 5);
    s.otherError = Bit(b, 7);
    s.known = true;
    return ReplyState::Done;
}

ReplyState ReadCpcl(const uint8_t *r, size_t size, PrinterStatus &s)
{
    const ReplyState state = OneByte(size);
    if (state != ReplyState::Done)
        return state;
    const uint8_t b = r[0];
    // Text from a printer that does not speak CPCL has bits 5 or 6 set.
    if (b & 0xE0)
        return ReplyState::Junk;
    s.busy = Bit(b, 0);
    s.paperOut = Bit(b, 1);
    s.coverOpen = Bit(b, 2);
    s.batteryLow = Bit(b, 3);
    s.known = true;
    return ReplyState::Done;
}

// The fixed bits: DLE EOT replies 0xx1xx10, the first byte of an automatic
// status block 0xx1xx00, its other bytes 0xx0xxxx.
bool IsRealTimeReply(uint8_t b)
{
    return (b & 0x93) == 0x12;
}
bool IsAsbFirst(uint8_t b)
{
    return (b & 0x93) == 0x10;
}
bool IsAsbOther(uint8_t b)
{
    return (b & 0x90) == 0;
}

void ApplyEscPosError(uint8_t b, PrinterStatus &s)
{
    s.otherError = s.otherError || Bit(b, 2) || Bit(b, 3) || Bit(b, 5) || Bit(b, 6);
}

void ApplyAsb(const uint8_t *a, PrinterStatus &s)
{
    s.offline = Bit(a[0], 3);
    s.coverOpen = Bit(a[0], 5);
    s.otherError = false;
    ApplyEscPosError(a[1], s);
    s.paperLow = (a[2] & 0x03) != 0;
    s.paperOut = (a[2] & 0x0C) != 0;
}

// Replies of DLE EOT 1, 2, 3 and 4 in this order, with automatic status
// blocks allowed between them; the last word wins for what both report.
// Both the paper and the cover reply, in either order; anything else that
// is a reply is passed over.
ReplyState ReadPhomemo(const uint8_t *r, size_t size, PrinterStatus &s)
{
    const phomemo::Replies replies = phomemo::ParseReplies(r, size);
    if (!replies.ok)
        return ReplyState::Junk;
    bool paper = false, cover = false;
    PrinterStatus t;
    for (const phomemo::Reply &one : replies.replies) {
        if (one.kind == phomemo::ReplyKind::Paper) {
            paper = true;
            t.paperOut = one.value == phomemo::kPaperOut;
        } else if (one.kind == phomemo::ReplyKind::Cover) {
            cover = true;
            t.coverOpen = one.value == phomemo::kCoverOpen;
        }
    }
    if (!paper || !cover)
        return ReplyState::Incomplete;
    t.known = true;
    s = t;
    return ReplyState::Done;
}

ReplyState ReadEscPos(const uint8_t *r, size_t size, PrinterStatus &s)
{
    PrinterStatus t;
    int replies = 0;
    bool stoppedAtEnd = false, errorFlag = false; // from the offline cause
    size_t i = 0;
    while (i < size) {
        if (IsRealTimeReply(r[i]) && replies < 4) {
            const uint8_t b = r[i++];
            switch (++replies) {
            case 1:
                t.offline = Bit(b, 3);
                break;
            case 2:
                t.coverOpen = Bit(b, 2);
                stoppedAtEnd = Bit(b, 5);
                errorFlag = Bit(b, 6);
                t.paperOut = stoppedAtEnd;
                t.otherError = errorFlag;
                break;
            case 3:
                t.otherError = errorFlag;
                ApplyEscPosError(b, t);
                break;
            default:
                t.paperLow = (b & 0x0C) != 0;
                t.paperOut = stoppedAtEnd || (b & 0x60) != 0;
                break;
            }
        } else if (IsAsbFirst(r[i])) {
            if (size - i < 4)
                return ReplyState::Incomplete;
            if (!IsAsbOther(r[i + 1]) || !IsAsbOther(r[i + 2]) || !IsAsbOther(r[i + 3]))
                return ReplyState::Junk;
            ApplyAsb(r + i, t);
            i += 4;
        } else {
            return ReplyState::Junk;
        }
    }
    if (replies < 4)
        return ReplyState::Incomplete;
    t.known = true;
    s = t;
    return ReplyState::Done;
}

// A query the family's encoder writes.
StatusQuery Query(void (*add)(NS_QV_CLASS::CMyBuffer &), size_t replyBytes)
{
    NS_QV_CLASS::CMyBuffer bytes;
    add(bytes);
    const auto *b = reinterpret_cast<const uint8_t *>(bytes.GetBuffer());
    return {std::vector<uint8_t>(b, b + bytes.GetBufferLength()), replyBytes};
}

} // namespace

bool PrinterStatus::MustWait() const
{
    return known && (paperOut || coverOpen || paperJam || ribbonOut || paused || offline || otherError);
}

bool PrinterStatus::operator==(const PrinterStatus &o) const
{
    return known == o.known && paperOut == o.paperOut && paperLow == o.paperLow && coverOpen == o.coverOpen &&
           paperJam == o.paperJam && ribbonOut == o.ribbonOut && paused == o.paused && offline == o.offline &&
           otherError == o.otherError && batteryLow == o.batteryLow && busy == o.busy;
}

StatusQuery QueryFor(int modelNumber)
{
    switch (modelNumber) {
    case 20:
        return {{ESC, '!', '?'}, 1};
    case 21:
        return {{DLE, EOT, 1, DLE, EOT, 2, DLE, EOT, 3, DLE, EOT, 4}, 4};
    case 22:
        return {{ESC, 'h'}, 1};
    case 25: // its answer comes as a notification of its own length
        return Query(cat::AddStateRequest, 0);
    case 26: // the reply's length depends on the model
        return Query(niimbot::AddHeartbeat, 0);
    case 27:
        return Query(phomemo::AddStatusQuery, 6);
    default:
        return {};
    }
}

ReplyState ReadReply(int modelNumber, const uint8_t *reply, size_t size, PrinterStatus &status)
{
    status = PrinterStatus();
    switch (modelNumber) {
    case 20:
        return ReadTspl(reply, size, status);
    case 21:
        return ReadEscPos(reply, size, status);
    case 22:
        return ReadCpcl(reply, size, status);
    case 25: {
        // A frame's length is in its sixth and seventh bytes.
        if (size < 6 || size < 8u + (reply[4] | reply[5] << 8))
            return ReplyState::Incomplete;
        const cat::Notice n = cat::ParseCatNotification(reply, size);
        if (!n.ok || n.kind != cat::NoticeKind::State)
            return ReplyState::Junk;
        status = CatStateStatus(n.payload[0]);
        return ReplyState::Done;
    }
    case 26: {
        // A packet's data length is its fourth byte.
        if (size < 4 || size < 7u + reply[3])
            return ReplyState::Incomplete;
        status = NiimbotHeartbeatStatus(reply, size);
        return status.known ? ReplyState::Done : ReplyState::Junk;
    }
    case 27:
        return ReadPhomemo(reply, size, status);
    default:
        return ReplyState::Junk;
    }
}

PrinterStatus CatStateStatus(uint8_t state)
{
    PrinterStatus s;
    s.paperOut = Bit(state, 0);
    s.coverOpen = Bit(state, 1);
    s.otherError = Bit(state, 2);
    s.batteryLow = Bit(state, 3);
    s.known = true;
    return s;
}

PrinterStatus NiimbotHeartbeatStatus(const uint8_t *reply, size_t size)
{
    PrinterStatus s;
    const niimbot::Heartbeat h = niimbot::ParseHeartbeat(reply, size);
    if (!h.ok)
        return s;
    s.coverOpen = h.lidKnown && h.lidOpen;
    s.paperOut = (h.paperKnown && h.paperOut) || (h.tagKnown && !h.tagRead);
    s.known = true;
    return s;
}

std::vector<std::string> ReasonKeywords(const PrinterStatus &s)
{
    std::vector<std::string> k;
    if (!s.known)
        return k;
    if (s.paperOut) {
        k.push_back("media-empty");
        k.push_back("media-needed");
    }
    if (s.paperLow && !s.paperOut)
        k.push_back("media-low");
    if (s.coverOpen)
        k.push_back("cover-open");
    if (s.paperJam)
        k.push_back("media-jam");
    if (s.ribbonOut)
        k.push_back("marker-supply-empty");
    // An ESC/POS printer is also off line while its cover is open or its
    // paper out; "offline" is for a printer with no other reason given.
    const bool explained = s.paperOut || s.coverOpen || s.paperJam || s.ribbonOut || s.otherError;
    if ((s.offline || s.paused) && !explained)
        k.push_back("offline");
    if (s.otherError)
        k.push_back("other");
    if (s.batteryLow)
        k.push_back("battery-low");
    return k;
}

std::string Describe(const PrinterStatus &s)
{
    if (!s.known)
        return "unknown";
    std::string text;
    auto add = [&](bool on, const char *what) {
        if (!on)
            return;
        if (!text.empty())
            text += ", ";
        text += what;
    };
    add(s.paperOut, "out of paper");
    add(s.paperLow && !s.paperOut, "paper near its end");
    add(s.coverOpen, "cover open");
    add(s.paperJam, "paper jam");
    add(s.ribbonOut, "out of ribbon");
    add(s.paused, "paused");
    add(s.offline && !s.paused, "off line");
    add(s.otherError, "printer error");
    add(s.batteryLow, "battery low");
    return text.empty() ? "ready" : text;
}

} // namespace qf::status
