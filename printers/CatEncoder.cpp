#include "CatEncoder.h"

#include <algorithm>

#include "ByteOrder.h"
#include "ModelName.h"
#include "Units.h"

using NS_QV_CLASS::CMyBuffer;

namespace cat {

namespace {

// Our energy tables, to be tuned on the printers (README, "Cat printers"):
// evenly spaced around the 0x2000 the classic models print ordinary paper
// well with, lightest first. The MXW01's intensity is one byte.

const std::vector<Model> kModels = {
    {"GB01", Variant::Classic, 2, {0x1000, 0x1800, 0x2000, 0x2800, 0x3000}},
    {"GB02", Variant::Classic, 2, {0x1000, 0x1800, 0x2000, 0x2800, 0x3000}},
    {"GB03", Variant::Classic, 2, {0x1000, 0x1800, 0x2000, 0x2800, 0x3000}},
    {"GT01", Variant::Classic, 2, {0x1000, 0x1800, 0x2000, 0x2800, 0x3000}},
    {"MX05", Variant::Classic, 2, {0x1000, 0x1800, 0x2000, 0x2800, 0x3000}},
    {"MX06", Variant::Classic, 2, {0x1000, 0x1800, 0x2000, 0x2800, 0x3000}},
    {"MX08", Variant::Classic, 2, {0x1000, 0x1800, 0x2000, 0x2800, 0x3000}},
    {"MX09", Variant::Classic, 2, {0x1000, 0x1800, 0x2000, 0x2800, 0x3000}},
    {"MX10", Variant::Classic, 2, {0x1000, 0x1800, 0x2000, 0x2800, 0x3000}},
    {"MX11", Variant::Classic, 2, {0x1000, 0x1800, 0x2000, 0x2800, 0x3000}},
    {"MXW01", Variant::Mxw01, 1, {0x40, 0x60, 0x80, 0xA0, 0xC0}},
};

const uint8_t kPreambleClassic[2] = {0x51, 0x78};
const uint8_t kPreambleMx[2] = {0x22, 0x21};
const std::vector<uint8_t> kLatticeStart = {0xAA, 0x55, 0x17, 0x38, 0x44, 0x5F, 0x5F, 0x5F, 0x44, 0x38, 0x2C};
const std::vector<uint8_t> kLatticeEnd = {0xAA, 0x55, 0x17, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x17};

// Bits of each byte in the other order: the printers take the leftmost dot
// in bit 0, the image engine keeps it in bit 7.
struct Reversed {
    uint8_t bits[256];
    Reversed()
    {
        for (int i = 0; i < 256; ++i) {
            uint8_t r = 0;
            for (int k = 0; k < 8; ++k)
                r = static_cast<uint8_t>(r | (((i >> k) & 1) << (7 - k)));
            bits[i] = r;
        }
    }
};

const Reversed kReversed;

struct CrcTable {
    uint8_t entries[256];
    CrcTable()
    {
        for (int i = 0; i < 256; ++i) {
            uint8_t c = static_cast<uint8_t>(i);
            for (int k = 0; k < 8; ++k)
                c = static_cast<uint8_t>((c & 0x80) ? (c << 1) ^ 0x07 : c << 1);
            entries[i] = c;
        }
    }
};

const CrcTable kCrc;

uint16_t Le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

int Clamp16(int64_t v)
{
    return static_cast<int>(std::min<int64_t>(std::max<int64_t>(v, 0), 0xFFFF));
}

} // namespace

const std::vector<Model> &Models()
{
    return kModels;
}

const Model &ModelFor(const std::string &name)
{
    for (const Model &m : kModels)
        if (NamesModel(name, m.name))
            return m;
    return kModels.front();
}

int EnergyStep(int darkness)
{
    if (darkness < 0)
        return kEnergySteps / 2;
    return std::min(std::max(darkness, 1), kEnergySteps) - 1;
}

uint8_t SpeedByte(int rate)
{
    switch (rate) {
    case 1:
        return 0x32;
    case 2:
        return 0x2A;
    default:
        return 0x23;
    }
}

uint8_t Crc8(const uint8_t *data, size_t size)
{
    uint8_t c = 0;
    for (size_t i = 0; i < size; ++i)
        c = kCrc.entries[c ^ data[i]];
    return c;
}

void AddFrame(CMyBuffer &out, Variant v, uint8_t cmd, const uint8_t *payload, size_t size)
{
    if (size > static_cast<size_t>(kMaxPayload))
        return;
    out.AddBuffer(v == Variant::Mxw01 ? kPreambleMx : kPreambleClassic, 2);
    out.AddByte(cmd);
    out.AddByte(0x00);
    byteorder::AppendLe16(out, static_cast<uint32_t>(size));
    if (size > 0)
        out.AddBuffer(payload, static_cast<int>(size));
    out.AddByte(Crc8(payload, size));
    out.AddByte(0xFF);
}

void AddFrame(CMyBuffer &out, Variant v, uint8_t cmd, const std::vector<uint8_t> &payload)
{
    AddFrame(out, v, cmd, payload.data(), payload.size());
}

void AddQuality(CMyBuffer &out, uint8_t quality)
{
    AddFrame(out, Variant::Classic, kCmdQuality, {quality});
}

void AddEnergy(CMyBuffer &out, const Model &model, int step)
{
    const uint32_t e = model.energy[std::min(std::max(step, 0), kEnergySteps - 1)];
    std::vector<uint8_t> payload;
    for (int i = 0; i < model.energyBytes; ++i)
        payload.push_back(static_cast<uint8_t>(i < 4 ? e >> (8 * i) : 0));
    AddFrame(out, Variant::Classic, kCmdEnergy, payload);
}

void AddSpeed(CMyBuffer &out, uint8_t speed)
{
    AddFrame(out, Variant::Classic, kCmdSpeed, {speed});
}

void AddLatticeStart(CMyBuffer &out)
{
    AddFrame(out, Variant::Classic, kCmdLattice, kLatticeStart);
}

void AddLatticeEnd(CMyBuffer &out)
{
    AddFrame(out, Variant::Classic, kCmdLattice, kLatticeEnd);
}

void AddFeed(CMyBuffer &out, int rows)
{
    const int n = Clamp16(rows);
    AddFrame(out, Variant::Classic, kCmdFeed, {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)});
}

void AddRetract(CMyBuffer &out, int rows)
{
    const int n = Clamp16(rows);
    AddFrame(out, Variant::Classic, kCmdRetract, {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)});
}

void AddStateRequest(CMyBuffer &out)
{
    AddFrame(out, Variant::Classic, kCmdState, {0x00});
}

void AddRows(CMyBuffer &out, Variant v, const CxImage &page)
{
    const uint32_t stored = page.GetEffWidth();
    const uint32_t n = std::min<uint32_t>(stored, kRowBytes);
    const uint8_t cmd = v == Variant::Mxw01 ? kCmdBulk : kCmdRow;
    uint8_t row[kRowBytes];
    for (uint32_t y = 0; y < page.GetHeight(); ++y) {
        const uint8_t *bits = const_cast<CxImage &>(page).GetBits(y);
        std::fill(row, row + kRowBytes, 0);
        for (uint32_t x = 0; x < n; ++x)
            row[x] = kReversed.bits[static_cast<uint8_t>(~bits[x])];
        AddFrame(out, v, cmd, row, kRowBytes);
    }
}

void AddMxIntensity(CMyBuffer &out, uint8_t intensity)
{
    AddFrame(out, Variant::Mxw01, kCmdRow, {intensity});
}

void AddMxPrintRequest(CMyBuffer &out, int lines)
{
    const int n = Clamp16(lines);
    AddFrame(out, Variant::Mxw01, kCmdMxPrint, {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), 0x30, 0x00});
}

void AddMxBlankLines(CMyBuffer &out, int lines)
{
    const uint8_t blank[kRowBytes] = {};
    for (int i = 0; i < lines; ++i)
        AddFrame(out, Variant::Mxw01, kCmdBulk, blank, kRowBytes);
}

void AddMxFlush(CMyBuffer &out)
{
    AddFrame(out, Variant::Mxw01, kCmdMxFlush, {0x00});
}

void AddMxStatusRequest(CMyBuffer &out)
{
    AddFrame(out, Variant::Mxw01, kCmdMxStatus, {0x00});
}

int TailRows(const tagREGSTRUCT &reg, int dpi)
{
    const int after = reg.fFeedAfter > 0 ? LengthToDots(reg.fFeedAfter, reg.iUnit, dpi) : 0;
    return Clamp16(int64_t{kTailFeedRows} + std::max(after, 0));
}

int64_t MxLines(int64_t rows, int tailRows)
{
    return std::max<int64_t>(rows + tailRows, kMxMinLines);
}

int64_t MxMaxRows(int tailRows)
{
    return 0xFFFF - int64_t{tailRows};
}

namespace {

constexpr int64_t kRowFrame = kFrameBytes + kRowBytes;

int64_t FrameBytes(int64_t payload)
{
    return kFrameBytes + payload;
}

} // namespace

void EncodePage(const CxImage &page, const tagREGSTRUCT &reg, int dpi, const Model &model, CMyBuffer &out)
{
    const int64_t rows = page.GetHeight();
    const int tail = TailRows(reg, dpi);
    const int step = EnergyStep(reg.iDensity);
    if (model.variant == Variant::Mxw01) {
        const int64_t lines = MxLines(rows, tail);
        out.Reserve(out.GetBufferLength() + FrameBytes(1) + FrameBytes(4) + lines * kRowFrame + FrameBytes(1));
        AddMxIntensity(out, static_cast<uint8_t>(model.energy[step]));
        AddMxPrintRequest(out, static_cast<int>(lines));
        AddRows(out, Variant::Mxw01, page);
        AddMxBlankLines(out, static_cast<int>(lines - rows));
        AddMxFlush(out);
        return;
    }
    out.Reserve(out.GetBufferLength() + FrameBytes(1) + FrameBytes(model.energyBytes) + FrameBytes(1) +
                2 * FrameBytes(11) + rows * kRowFrame + FrameBytes(2));
    AddQuality(out, kQuality);
    AddEnergy(out, model, step);
    AddSpeed(out, SpeedByte(reg.iSpeed));
    AddLatticeStart(out);
    AddRows(out, Variant::Classic, page);
    AddLatticeEnd(out);
    AddFeed(out, tail);
}

// --- notifications -----------------------------------------------------------

Notice ParseCatNotification(const uint8_t *data, size_t size)
{
    Notice n;
    auto fail = [&n](const std::string &why) {
        n.error = why;
        return n;
    };
    if (!data || size < static_cast<size_t>(kFrameBytes))
        return fail("a frame of at least 8 bytes, got " + std::to_string(data ? size : 0));
    if (data[0] == kPreambleClassic[0] && data[1] == kPreambleClassic[1])
        n.variant = Variant::Classic;
    else if (data[0] == kPreambleMx[0] && data[1] == kPreambleMx[1])
        n.variant = Variant::Mxw01;
    else
        return fail("51 78 or 22 21 starting the frame");
    const size_t len = Le16(data + 4);
    if (size != len + kFrameBytes)
        return fail("a frame of " + std::to_string(len + kFrameBytes) + " bytes for its payload of " +
                    std::to_string(len) + ", got " + std::to_string(size));
    if (data[size - 1] != 0xFF)
        return fail("FF ending the frame");
    if (Crc8(data + 6, len) != data[6 + len])
        return fail("the payload's CRC-8 before FF");
    n.cmd = data[2];
    n.payload.assign(data + 6, data + 6 + len);
    switch (n.cmd) {
    case kCmdFlow:
        if (len != 1 || (n.payload[0] != 0x10 && n.payload[0] != 0x00))
            return fail("flow control AE with one byte, 10 or 00");
        n.kind = n.payload[0] == 0x10 ? NoticeKind::Pause : NoticeKind::Resume;
        break;
    case kCmdState:
        if (len < 1)
            return fail("the state byte of A3");
        n.kind = NoticeKind::State;
        break;
    case kCmdMxDone:
        n.kind = NoticeKind::Done;
        break;
    default:
        n.kind = NoticeKind::Other;
        break;
    }
    n.ok = true;
    return n;
}

} // namespace cat
