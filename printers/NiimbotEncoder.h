// Niimbot label printers (203 dpi, heads of 96 or 384 dots): the bytes of a
// page as a function of the prepared page, the settings and the model, with
// no state of their own; and the reading of what the printers answer.
//
// Every command is a packet:
//
//     55 55 CMD LEN DATA... XOR AA AA
//
// XOR is the exclusive or of CMD, LEN and every DATA byte. Only the connect
// packet (C1) has a byte before it: 03 55 55 C1 01 01 C1 AA AA. Two-byte
// numbers are big-endian.
//
// A page is one print task of one page and one copy; the models differ in
// the start and page-size payloads (the wiki page "Print tasks"):
//
//   Legacy  (B21_V1 task: B21, D11)   21 density, 23 label type, 01 start
//           (01), 03 page start (01), 13 size (rows, cols), the rows, E3
//           page end (01), F3 end print (01)
//   Current (B1 task: B1, B18, D110)  21 density, 23 label type, 01 start
//           (pages u16 = 1, 00 00 00 00, page colour 00), 03 page start
//           (01), 13 size (rows, cols, copies u16 = 1), the rows, E3 page
//           end (01), F3 end print (01)
//
// Rows, numbered from 0 in the page:
//   85  row u16, three black-dot counts (one a third of the head, each held
//       to 255), repeat u8, the row's bytes (leftmost dot in bit 7, 1 =
//       black): a row with black, sent once for up to 255 equal rows
//   84  row u16, count u8: up to 255 white rows
//
// A transport that waits for the printer sends F3 only once the A3 print
// status says the page is printed; the stream holds it last so that a file
// of it is a whole task.
//
// Orientation: on the 96-dot heads (D11, D110, B18, whose labels feed to
// the left) the label's long side runs along the feed. Their page sizes are
// the labels as they are read, wider than long (40 x 12 mm), and a page
// wider than the head is sent turned by 90 degrees clockwise: its left
// column is the first row, its bottom row the head's first dot. On the
// 384-dot heads (B1, B21, whose labels feed top first) pages go as they
// are, their width across the head.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "MyBuffer.h"
#include "RegStruct.h"
#include "ximage.h"

namespace niimbot {

// Commands.
constexpr uint8_t kCmdStart = 0x01;
constexpr uint8_t kCmdPageStart = 0x03;
constexpr uint8_t kCmdPageSize = 0x13;
constexpr uint8_t kCmdRfid = 0x1A;
constexpr uint8_t kCmdDensity = 0x21;
constexpr uint8_t kCmdLabelType = 0x23;
constexpr uint8_t kCmdLabelInfo = 0x59;
constexpr uint8_t kCmdIndexedRow = 0x83;
constexpr uint8_t kCmdEmptyRows = 0x84;
constexpr uint8_t kCmdBitmapRow = 0x85;
constexpr uint8_t kCmdPrintStatus = 0xA3;
constexpr uint8_t kCmdConnect = 0xC1;
constexpr uint8_t kCmdHeartbeat = 0xDC;
constexpr uint8_t kCmdPageEnd = 0xE3;
constexpr uint8_t kCmdEnd = 0xF3;
// Replies ("Printers protocol": a request's reply command).
constexpr uint8_t kReplyRfid = 0x1B;
constexpr uint8_t kReplyLabelInfo = 0x69;
constexpr uint8_t kReplyPrintStatus = 0xB3;
constexpr uint8_t kReplyHeartbeat = 0xDD;  // heartbeat type 1
constexpr uint8_t kReplyHeartbeat2 = 0xD9; // heartbeat type 4 (protocol 3 and later)

// Bytes a packet adds to its data.
constexpr int kFrameBytes = 7;
constexpr int kMaxData = 255;
// Most rows a page may have: row numbers and the page size are 16 bits.
constexpr int64_t kMaxRows = 0xFFFF;
// Most equal rows one row command repeats.
constexpr int kMaxRepeat = 255;

// Label types of the 23 command ("Label types"); the PPD's media choices
// map to these.
constexpr uint8_t kLabelGap = 1;
constexpr uint8_t kLabelBlackMark = 2;
constexpr uint8_t kLabelContinuous = 3;
constexpr uint8_t kLabelTransparent = 5;
constexpr uint8_t kLabelBlackMarkGap = 10;
constexpr uint8_t kLabelTube = 11;

enum class Group { Legacy, Current };

struct Model {
    const char *name; // the PPD's ModelName
    Group group;
    int headDots;      // dots across the head at 203 dpi
    int maxDensity;    // density runs 1..maxDensity
    int normalDensity; // what the printers' own app starts at
    bool sideways;     // labels feed to the left: wide pages are turned
};

// Every model we know; the first is what an unknown model name gets.
const std::vector<Model> &Models();
// The model a PPD ModelName names (case-insensitive), alone or as its last
// word ("Niimbot B21"); the first entry for any other name.
const Model &ModelFor(const std::string &name);

// Darkness choice to the density byte: -1 the model's normal, others held
// to 1..maxDensity.
uint8_t DensityByte(const Model &model, int darkness);
// The settings' media (RegStruct.h's MediaType) to a label type; kinds the
// printers have no type for are gap labels.
uint8_t LabelTypeFor(int mediaType);

uint8_t Checksum(uint8_t cmd, const uint8_t *data, size_t size);

// 55 55 cmd len data xor AA AA. Data longer than kMaxData appends nothing.
void AddPacket(NS_QV_CLASS::CMyBuffer &out, uint8_t cmd, const uint8_t *data, size_t size);
void AddPacket(NS_QV_CLASS::CMyBuffer &out, uint8_t cmd, const std::vector<uint8_t> &data);
void AddConnect(NS_QV_CLASS::CMyBuffer &out);
void AddHeartbeat(NS_QV_CLASS::CMyBuffer &out);
void AddPrintStatusRequest(NS_QV_CLASS::CMyBuffer &out);
void AddRfidRequest(NS_QV_CLASS::CMyBuffer &out);
void AddLabelInfoRequest(NS_QV_CLASS::CMyBuffer &out);
void AddDensity(NS_QV_CLASS::CMyBuffer &out, uint8_t density);
void AddLabelType(NS_QV_CLASS::CMyBuffer &out, uint8_t type);
void AddStart(NS_QV_CLASS::CMyBuffer &out, Group group);
void AddPageStart(NS_QV_CLASS::CMyBuffer &out);
// Rows and columns held to 0..65535.
void AddPageSize(NS_QV_CLASS::CMyBuffer &out, Group group, int rows, int cols);
void AddPageEnd(NS_QV_CLASS::CMyBuffer &out);
void AddEnd(NS_QV_CLASS::CMyBuffer &out);
// `count` white rows from `row` (count held to 1..255).
void AddEmptyRows(NS_QV_CLASS::CMyBuffer &out, int row, int count);
// One row of `bytes` (leftmost dot in bit 7, 1 = black), repeated `repeat`
// times; the counts are of thirds of a head of `headBytes`.
void AddBitmapRow(NS_QV_CLASS::CMyBuffer &out, int row, const uint8_t *bytes, size_t size, int repeat, int headBytes);

// The page as the head sees it: turned for a sideways model when wider
// than the head.
bool Turned(const Model &model, const CxImage &page);
// Rows and dots across of the page as sent.
int64_t SentRows(const Model &model, const CxImage &page);
int64_t SentCols(const Model &model, const CxImage &page);

// The rows of a prepared page (one bit, 1 = white), read, never changed:
// white runs as 84, other rows as 85 with equal neighbours joined.
void AddRows(NS_QV_CLASS::CMyBuffer &out, const Model &model, const CxImage &page);
// One page, a whole task. The page must have at most kMaxRows rows as sent
// and be no wider than the head as sent (the renderer refuses others).
void EncodePage(const CxImage &page, const tagREGSTRUCT &reg, const Model &model, NS_QV_CLASS::CMyBuffer &out);

// --- what the printers answer ------------------------------------------------

struct Packet {
    bool ok = false;
    std::string error; // why not, when !ok
    uint8_t cmd = 0;
    std::vector<uint8_t> data;
};

// One whole packet: 55 55, a length that is the packet's, the XOR, AA AA.
Packet ParsePacket(const uint8_t *bytes, size_t size);

// Heartbeat reply ("Printers protocol", Heartbeat): DD with 10, 13, 19 or 20
// data bytes, or D9 with 9 or more. A field the layout lacks is not known.
// The lid byte is read as 0 closed, as the layouts give it; the same page
// notes firmware of some 96-dot models that says it the other way round,
// which only the printer's model id (not in the reply) tells.
struct Heartbeat {
    bool ok = false;
    std::string error;
    bool lidKnown = false, lidOpen = false;
    bool paperKnown = false, paperOut = false;
    bool tagKnown = false, tagRead = false;
    int charge = -1; // as the printer says it (0..4 on most), -1 not said
};
Heartbeat ParseHeartbeat(const uint8_t *bytes, size_t size);

// Print status reply B3: page u16, print and feed progress (0..100), and
// an error code when the data is 10 bytes long.
struct PrintStatus {
    bool ok = false;
    std::string error;
    int page = 0;
    int printProgress = 0;
    int feedProgress = 0;
    int errorCode = 0;
};
PrintStatus ParsePrintStatus(const uint8_t *bytes, size_t size);

// Paper tag reply 1B: one data byte when there is no tag; else the tag's
// 8-byte id, barcode and serial (each a length and its text), total and
// used labels (u16) and the consumable type.
struct Tag {
    bool ok = false;
    std::string error;
    bool present = false;
    std::vector<uint8_t> uuid;
    std::string barcode;
    std::string serial;
    int total = 0;
    int used = 0;
    int type = 0;
};
Tag ParseTag(const uint8_t *bytes, size_t size);

// Label info reply 69 (protocol 4 and later): gap and label height in dots
// (u16 each), then the paper type, and the label's width in dots from 11
// bytes on.
struct LabelInfo {
    bool ok = false;
    std::string error;
    int gapDots = 0;
    int heightDots = 0;
    int type = -1;      // -1 not said
    int widthDots = -1; // -1 not said
};
LabelInfo ParseLabelInfo(const uint8_t *bytes, size_t size);

} // namespace niimbot
