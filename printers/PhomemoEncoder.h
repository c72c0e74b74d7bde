// Phomemo label and receipt printers: the bytes of a page as a function of
// the prepared page, the settings and the model, with no state of their own;
// and the reading of the printers' three-byte replies.
//
// The printers take ESC/POS-like commands. What we send, and where each
// fact comes from (the phomemo-tools README, from captures of the maker's
// Android app; the command notes of phomemo-printer-app):
//
//   M02 page      1B 40              initialise              (phomemo-tools)
//                 1B 61 01           centre                  (phomemo-tools)
//                 1F 11 02 04        the app's header tail   (phomemo-tools)
//                 1B 4E 04 n         density 1..15, the label models'
//                                    command: not yet checked on an M02
//                 1D 76 30 00 xL xH yL yH rows
//                                    raster, at most 255 rows a command, as
//                                    the app sends it        (phomemo-tools)
//                 1B 64 02 1B 64 02  feed the page out       (phomemo-tools)
//
//   Label page    1B 4E 0D s         speed 1..5              (phomemo-tools, M110)
//   (M110, M120,  1B 4E 04 n         density 1..15           (phomemo-tools, M110)
//   M220, D30)    1F 11 t            media: 0A gap labels, 0B continuous,
//                                    26 black marks          (phomemo-tools, M110)
//                 1D 76 30 00 ...    raster as above
//                 1F F0 05 00        to the next label       (phomemo-tools, M110)
//                 1F F0 03 00        end of the print        (phomemo-tools, M110)
//
// The D30 takes the label page less its speed command: no speed is known
// for it. Its labels (12 mm across) run with their long side along the
// feed, so its PPD sizes are 12 mm wide and the page reaches the encoder
// already turned.
//
// Every row sent is as wide as the head (model.dots / 8 bytes); a narrower
// page is centred on it, as the labels are centred under the head. A set bit
// burns a dot, the leftmost dot in bit 7.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "MyBuffer.h"
#include "RegStruct.h"
#include "ximage.h"

namespace phomemo {

// Rows of one raster command.
constexpr int kBandRows = 255;
constexpr int kMinDensity = 1;
constexpr int kMaxDensity = 15;
// The density a darkness of -1 (the printer's own) is sent as: the middle.
constexpr int kDefaultDensity = 8;
constexpr int kMinSpeed = 1;
constexpr int kMaxSpeed = 5;
// Speed sent when the job does not choose one: what the maker's app sends.
constexpr int kDefaultSpeed = 5;

// Media bytes after 1F 11.
constexpr uint8_t kMediaByteGap = 0x0A;
constexpr uint8_t kMediaByteContinuous = 0x0B;
constexpr uint8_t kMediaByteMark = 0x26;

enum class Variant { M02, Label, D30 };

struct Model {
    const char *name; // the PPD's ModelName
    Variant variant;
    int dots; // head width
};

// Every model we know; the first is what an unknown model name gets.
const std::vector<Model> &Models();
// The model a PPD ModelName names (case-insensitive), alone or as its last
// word ("Phomemo M110"); the first entry for any other name.
Model ModelFor(const std::string &name);

// Darkness choice to the density byte: held to 1..15, -1 the middle.
uint8_t DensityByte(int darkness);
// zePrintRate to the speed byte: held to 1..5, -1 kDefaultSpeed.
uint8_t SpeedByte(int rate);
// The settings' media kind to the 1F 11 byte: gap and black-mark media as
// themselves, every other kind continuous.
uint8_t MediaByte(int mediaType);

// --- commands, appended to `out` ----------------------------------------------
void AddM02Header(NS_QV_CLASS::CMyBuffer &out);
void AddM02Footer(NS_QV_CLASS::CMyBuffer &out);
void AddSpeed(NS_QV_CLASS::CMyBuffer &out, uint8_t speed);
void AddDensity(NS_QV_CLASS::CMyBuffer &out, uint8_t density);
void AddMedia(NS_QV_CLASS::CMyBuffer &out, uint8_t media);
void AddLabelFooter(NS_QV_CLASS::CMyBuffer &out);

// The page's rows as the head takes them: `headBytes` a row, the page's
// first bytes centred, inverted (the prepared page's 1 is white); bytes
// beyond the head are left out (the renderer refuses such a page first).
std::vector<uint8_t> HeadRows(const CxImage &page, int headBytes);

// Bytes EncodePage appends for a page of `rows` rows, exactly.
int64_t PageBytes(const Model &model, int64_t rows);

// One page. `page` is prepared (one bit, 1 = white, white padding) and read,
// never changed. The buffer is reserved once, at the page's exact size.
void EncodePage(const CxImage &page, const tagREGSTRUCT &reg, const Model &model, NS_QV_CLASS::CMyBuffer &out);

// --- what the printers send ----------------------------------------------------
//
// Every reply is three bytes, 1A k v (phomemo-tools README):
//   1A 04 v   battery level, percent           (asked by 1F 11 08)
//   1A 05 98  cover closed, 99 cover open      (asked by 1F 11 12)
//   1A 06 88  no paper, 89 paper in            (asked by 1F 11 11)
//   1A 0F 0C  a page printed                   (sent by itself)
// Other 1A k v replies exist (firmware, serial number) and are kept as
// Other; a byte other than 1A where a reply starts is not a reply.

enum class ReplyKind { Battery, Cover, Paper, Printed, Other };

struct Reply {
    ReplyKind kind = ReplyKind::Other;
    uint8_t key = 0;
    uint8_t value = 0;
};

struct Replies {
    bool ok = true;    // every whole reply was one
    std::string error; // why not, when !ok
    size_t used = 0;   // bytes of the whole replies read
    std::vector<Reply> replies;
};

// Reads the replies in `data`, whole ones only: a trailing part reply is
// left (used says where it starts). A cover or paper reply with a value
// other than the two known, or a byte other than 1A where a reply starts,
// stops the reading with the reason.
Replies ParseReplies(const uint8_t *data, size_t size);

// Status queries: paper (1F 11 11) and cover (1F 11 12). Which query the
// printers answer with which reply is our reading of the captures; the
// replies name what they are about, so their order does not matter.
constexpr uint8_t kQueryPaper = 0x11;
constexpr uint8_t kQueryCover = 0x12;
constexpr uint8_t kQueryBattery = 0x08;
constexpr uint8_t kReplyBattery = 0x04;
constexpr uint8_t kReplyCover = 0x05;
constexpr uint8_t kReplyPaper = 0x06;
constexpr uint8_t kReplyPrinted = 0x0F;
constexpr uint8_t kCoverClosed = 0x98;
constexpr uint8_t kCoverOpen = 0x99;
constexpr uint8_t kPaperOut = 0x88;
constexpr uint8_t kPaperIn = 0x89;
constexpr uint8_t kPrinted = 0x0C;

void AddStatusQuery(NS_QV_CLASS::CMyBuffer &out);

} // namespace phomemo
