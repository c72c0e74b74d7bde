// Status queries of the printer languages, as pure functions: the bytes that
// ask a printer how it is, and its reply bytes turned into one record.
//
// Every query here is a "real-time" command of its language: the printer
// answers as soon as the bytes arrive, even with labels still in its buffer
// or while it is stopped by an error. The front ends send a query only
// between pages, where no command is half written.
//
//   TSPL      ESC ! ?          one byte: bit 0 head open, 1 paper jam, 2 out
//                              of paper, 3 out of ribbon, 4 paused, 5
//                              printing, 6 cover open, 7 temperature out of
//                              range (any other error)
//   CPCL      ESC h            one byte: bit 0 busy, 1 out of paper, 2 latch
//                              open, 3 battery low, 4 reset since power-up;
//                              bits 5 to 7 are not defined and must be 0
//   ESC/POS   DLE EOT 1..4     one byte each, bits 1 and 4 always set, bits 0
//                              and 7 always clear (how a reply is told from
//                              noise); n = 1 printer (bit 3 offline), 2
//                              offline cause (bit 2 cover open, 5 stopped at
//                              paper end, 6 error), 3 error cause (bit 2
//                              mechanical, 3 cutter, 5 unrecoverable, 6 auto-
//                              recoverable), 4 roll sensor (bits 2-3 near
//                              end, bits 5-6 paper end)
//             GS a             automatic status back, when a printer has it
//                              switched on: four bytes sent by themselves
//                              whenever the status changes; the first byte
//                              has bit 4 set and bits 0, 1, 7 clear (bit 3
//                              offline, 5 cover open), bytes 2 to 4 bits 4
//                              and 7 clear (byte 2 errors as DLE EOT 3, byte
//                              3 bits 0-1 near end, 2-3 paper end). Such a
//                              block may arrive between the replies above and
//                              is read as status too.
//   Paperang, PeriPage         no query: their makers publish no status
//                              command or reply format.
//   Cat printers  A3 00        a notification frame (CatEncoder.h), not a
//                              reply on the data channel: the Bluetooth
//                              transport asks and reads it; its state byte
//                              has bit 0 no paper, 1 cover open, 2
//                              overheated, 3 low power; the other bits are
//                              not known and left out.
//   Niimbot  55 55 DC 01 01 DC AA AA   the heartbeat (NiimbotEncoder.h); its
//                              reply packet (DD, or D9 on newer firmware)
//                              says, by its length, the lid (open: cover-
//                              open), the paper (out: media-empty) and
//                              whether the roll's tag was read (not read:
//                              media-empty too, since the printers print
//                              on no roll they cannot identify).
//   Phomemo   1F 11 11 1F 11 12  paper, then cover: replies 1A 06 88 no paper
//                              / 89 paper in, 1A 05 99 cover open / 98
//                              closed (PhomemoEncoder.h); a "printed" or
//                              battery reply may come between them and is
//                              passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qf::status {

struct PrinterStatus {
    bool known = false;      // a reply was read and understood; all else is false when not
    bool paperOut = false;   // no paper (or labels)
    bool paperLow = false;   // roll near its end: a warning only
    bool coverOpen = false;  // cover, head or latch open
    bool paperJam = false;   //
    bool ribbonOut = false;  //
    bool paused = false;     // stopped by its own pause key
    bool offline = false;    //
    bool otherError = false; // cutter, mechanism, temperature, unrecoverable
    bool batteryLow = false; // a warning only
    bool busy = false;       // still printing earlier data: not a fault

    // Whether a page sent now would be lost or printed in the wrong place.
    bool MustWait() const;
    bool operator==(const PrinterStatus &o) const;
    bool operator!=(const PrinterStatus &o) const { return !(*this == o); }
};

// One round of questions: the bytes to send and the reply's length when the
// printer adds nothing of its own.
struct StatusQuery {
    std::vector<uint8_t> bytes; // empty: the family has no query
    size_t replyLength = 0;
};

// The query for a printer family by model number (20 TSPL, 21 ESC/POS, 22
// CPCL, 25 cat printers (their A3 state request), 26 Niimbot (the
// heartbeat), 27 Phomemo; 23 Paperang and 24 PeriPage have none).
StatusQuery QueryFor(int modelNumber);

enum class ReplyState {
    Incomplete, // more bytes may still come
    Done,       // `status` holds the printer's answer
    Junk,       // not an answer to the query: status unknown
};

// Reads the bytes received since the query was sent.
ReplyState ReadReply(int modelNumber, const uint8_t *reply, size_t size, PrinterStatus &status);

// The status a cat printer's A3 state byte stands for: media-empty (no
// paper), cover-open, other (overheated), battery-low (low power).
PrinterStatus CatStateStatus(uint8_t state);

// The status a Niimbot heartbeat reply (whole packet) stands for; unknown
// when the packet is not a heartbeat reply.
PrinterStatus NiimbotHeartbeatStatus(const uint8_t *reply, size_t size);

// The printer-state-reasons keywords (IPP, and CUPS "STATE:" lines) the
// status stands for, in a fixed order: media-empty, media-needed, media-low,
// cover-open, media-jam, marker-supply-empty, offline, other, battery-low.
std::vector<std::string> ReasonKeywords(const PrinterStatus &status);

// "out of paper, cover open" for messages; "ready" when nothing is wrong,
// "unknown" when the printer did not say.
std::string Describe(const PrinterStatus &status);

} // namespace qf::status
