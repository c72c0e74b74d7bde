// Cat printers (small Bluetooth Low Energy roll printers, 384 dots at 203
// dpi): the bytes of a page as a function of the prepared page, the
// settings and the model, with no state of their own; and the reading of
// what the printers notify.
//
// Every command is a frame:
//
//     P0 P1 CMD 00 LEN_LO LEN_HI PAYLOAD... CRC8 FF
//
// P0 P1 is 51 78 on the classic models and 22 21 on the MXW01; LEN is the
// payload's length; CRC8 is the CRC-8 of the payload alone (polynomial 07,
// initial value 0, nothing reflected, nothing xored).
//
// Classic page:  A4 quality, AF energy, BD speed, A6 lattice start, one A2
//                frame per row (48 bytes, bit 0 of byte 0 the leftmost dot,
//                1 = burn), A6 lattice end, A1 feed of kTailFeedRows rows
//                plus the feed after the page.
//
// MXW01 page:    A2 intensity, A9 print request (line count u16 LE, 30, 00
//                for one bit a dot), the lines as bulk blocks, AD flush (00).
//                The lines are the page's rows, then blank lines for the
//                tail feed, at least kMxMinLines in all.
//
// The MXW01 takes its lines on a characteristic of their own (bulk), not on
// the one that takes commands (control). The renderer still writes one
// stream; each line goes in a bulk block framed like a command:
//
//     22 21 FE 00 30 00 <48 line bytes> CRC8 FF
//
// FE is no printer command: it marks a block the transport unwraps. A
// transport reads the stream frame by frame (the length says where each
// ends), writes every frame but FE frames whole, in order, to control, and
// the payload alone of each FE frame to bulk, keeping the order of the two
// among themselves and between them (the A9 request goes before its lines,
// the AD flush after them). The printer notifies AA once it has printed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "MyBuffer.h"
#include "RegStruct.h"
#include "ximage.h"

namespace cat {

constexpr int kDots = 384;
constexpr int kRowBytes = kDots / 8;

// Commands.
constexpr uint8_t kCmdRetract = 0xA0;
constexpr uint8_t kCmdFeed = 0xA1;
constexpr uint8_t kCmdRow = 0xA2; // MXW01: intensity
constexpr uint8_t kCmdState = 0xA3;
constexpr uint8_t kCmdQuality = 0xA4;
constexpr uint8_t kCmdLattice = 0xA6;
constexpr uint8_t kCmdMxPrint = 0xA9;
constexpr uint8_t kCmdMxFlush = 0xAD;
constexpr uint8_t kCmdFlow = 0xAE;
constexpr uint8_t kCmdEnergy = 0xAF;
constexpr uint8_t kCmdSpeed = 0xBD;
constexpr uint8_t kCmdMxStatus = 0xA1;
constexpr uint8_t kCmdMxDone = 0xAA;
// Not a printer command: a block of MXW01 lines for the bulk characteristic.
constexpr uint8_t kCmdBulk = 0xFE;

// Bytes a frame adds to its payload.
constexpr int kFrameBytes = 8;
constexpr int kMaxPayload = 65535;

// Quality byte sent before every page.
constexpr uint8_t kQuality = 0x33;
// Rows fed after every page, on top of the settings' feed: what brings the
// last printed row from the head past the tear bar (about 11 mm).
constexpr int kTailFeedRows = 90;
// The MXW01 prints no fewer lines than this in one request.
constexpr int kMxMinLines = 90;
// Darkness steps of the energy tables.
constexpr int kEnergySteps = 5;

enum class Variant { Classic, Mxw01 };

struct Model {
    const char *name; // the PPD's ModelName
    Variant variant;
    int energyBytes;               // width of the AF payload (classic)
    uint16_t energy[kEnergySteps]; // by darkness step, lightest first
};

// Every model we know; the first is what an unknown model name gets.
const std::vector<Model> &Models();
// The model a PPD ModelName names (case-insensitive), alone or as its last
// word ("Cat Printer MXW01"); the first entry for any other name.
const Model &ModelFor(const std::string &name);

// Darkness choice (1 lightest to 5 darkest, -1 the middle) to a table step.
int EnergyStep(int darkness);
// zePrintRate (1 slowest to 3; -1 or above: the normal 0x23) to the BD byte.
uint8_t SpeedByte(int rate);

uint8_t Crc8(const uint8_t *data, size_t size);

// P0 P1 cmd 00 len payload crc FF. A payload longer than kMaxPayload
// appends nothing.
void AddFrame(NS_QV_CLASS::CMyBuffer &out, Variant v, uint8_t cmd, const uint8_t *payload, size_t size);
void AddFrame(NS_QV_CLASS::CMyBuffer &out, Variant v, uint8_t cmd, const std::vector<uint8_t> &payload);

void AddQuality(NS_QV_CLASS::CMyBuffer &out, uint8_t quality);
// The energy of `step` in the model's payload width (little-endian).
void AddEnergy(NS_QV_CLASS::CMyBuffer &out, const Model &model, int step);
void AddSpeed(NS_QV_CLASS::CMyBuffer &out, uint8_t speed);
void AddLatticeStart(NS_QV_CLASS::CMyBuffer &out);
void AddLatticeEnd(NS_QV_CLASS::CMyBuffer &out);
// Feed of `rows` dot rows (held to 0..65535).
void AddFeed(NS_QV_CLASS::CMyBuffer &out, int rows);
void AddRetract(NS_QV_CLASS::CMyBuffer &out, int rows);
void AddStateRequest(NS_QV_CLASS::CMyBuffer &out);
// One A2 frame (classic) or bulk block (MXW01) per row: the first 48 bytes
// of each stored row, inverted (the prepared page's 1 is white), each byte's
// bits reversed; a narrower row is filled with blank bytes.
void AddRows(NS_QV_CLASS::CMyBuffer &out, Variant v, const CxImage &page);
void AddMxIntensity(NS_QV_CLASS::CMyBuffer &out, uint8_t intensity);
void AddMxPrintRequest(NS_QV_CLASS::CMyBuffer &out, int lines);
void AddMxBlankLines(NS_QV_CLASS::CMyBuffer &out, int lines);
void AddMxFlush(NS_QV_CLASS::CMyBuffer &out);
void AddMxStatusRequest(NS_QV_CLASS::CMyBuffer &out);

// Rows fed after a page: kTailFeedRows plus the settings' feed after the
// page (negative feeds count as none) at `dpi`.
int TailRows(const tagREGSTRUCT &reg, int dpi);
// Lines of an MXW01 print request for a page of `rows` rows.
int64_t MxLines(int64_t rows, int tailRows);
// Most rows an MXW01 page may have: its line count is 16 bits.
int64_t MxMaxRows(int tailRows);

// One page. `page` is prepared (one bit, 1 = white, white padding) and read,
// never changed. The buffer is reserved once, at the page's exact size.
void EncodePage(const CxImage &page, const tagREGSTRUCT &reg, int dpi, const Model &model, NS_QV_CLASS::CMyBuffer &out);

// --- what the printers send ------------------------------------------------

enum class NoticeKind {
    Pause,  // AE 10: stop sending until Resume
    Resume, // AE 00
    State,  // A3: payload byte 0 is the state byte
    Done,   // AA: an MXW01 page is printed
    Other,  // a well-formed frame of another command
};

struct Notice {
    bool ok = false;
    std::string error; // why not, when !ok
    Variant variant = Variant::Classic;
    uint8_t cmd = 0;
    NoticeKind kind = NoticeKind::Other;
    std::vector<uint8_t> payload;
};

// One whole notification frame, of either preamble. Anything else (too
// short, a length that is not the frame's, a wrong CRC, no 51 78 / 22 21
// at the start or no FF at the end, a flow-control byte other than 10 or
// 00, a state notice without its byte) is not ok, with the reason. The
// byte after the command is not looked at: what the printers send there is
// theirs.
Notice ParseCatNotification(const uint8_t *data, size_t size);

// State-byte bits of the A3 notice; the others are not known.
constexpr uint8_t kStateNoPaper = 0x01;
constexpr uint8_t kStateCoverOpen = 0x02;
constexpr uint8_t kStateOverheat = 0x04;
constexpr uint8_t kStateLowPower = 0x08;

} // namespace cat
