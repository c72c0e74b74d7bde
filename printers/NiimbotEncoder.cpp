#include "NiimbotEncoder.h"

#include <algorithm>

#include "ModelName.h"

using NS_QV_CLASS::CMyBuffer;

namespace niimbot {

namespace {

// Heads, density ranges and feed directions: the wiki page "Model
// characteristics" (all 203 dpi). Groups: "Print tasks" (B21_V1 for the
// B21, D11_V1's start and size for the old D11; B1 for the rest).
const std::vector<Model> kModels = {
    {"B21", Group::Legacy, 384, 5, 3, false}, {"B1", Group::Current, 384, 5, 3, false},
    {"D11", Group::Legacy, 96, 3, 2, true},   {"D110", Group::Current, 96, 3, 2, true},
    {"B18", Group::Current, 96, 3, 2, true},
};

int Clamp(int64_t v, int lo, int hi)
{
    return static_cast<int>(std::min<int64_t>(std::max<int64_t>(v, lo), hi));
}

void AddBe16(std::vector<uint8_t> &v, int n)
{
    v.push_back(static_cast<uint8_t>(n >> 8));
    v.push_back(static_cast<uint8_t>(n));
}

uint16_t Be16(const uint8_t *p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

int Bits(uint8_t b)
{
    int n = 0;
    for (; b; b = static_cast<uint8_t>(b & (b - 1)))
        ++n;
    return n;
}

// Stored pixel (x, y) of a prepared page is black.
bool Black(const CxImage &page, uint32_t x, uint32_t y)
{
    const uint8_t *bits = const_cast<CxImage &>(page).GetBits(y);
    return !((bits[x / 8] >> (7 - x % 8)) & 1);
}

// Sent row `r` of the page: its bytes, leftmost dot in bit 7, 1 = black.
void SentRow(const Model &model, const CxImage &page, uint32_t r, std::vector<uint8_t> &row)
{
    const uint32_t w = page.GetWidth(), h = page.GetHeight();
    if (Turned(model, page)) {
        row.assign((h + 7) / 8, 0);
        for (uint32_t j = 0; j < h; ++j)
            if (Black(page, r, h - 1 - j))
                row[j / 8] = static_cast<uint8_t>(row[j / 8] | (0x80 >> (j % 8)));
        return;
    }
    const uint32_t n = (w + 7) / 8;
    row.resize(n);
    const uint8_t *bits = const_cast<CxImage &>(page).GetBits(r);
    for (uint32_t i = 0; i < n; ++i)
        row[i] = static_cast<uint8_t>(~bits[i]);
    if (w % 8)
        row[n - 1] = static_cast<uint8_t>(row[n - 1] & (0xFF << (8 - w % 8)));
}

bool AllWhite(const std::vector<uint8_t> &row)
{
    return std::all_of(row.begin(), row.end(), [](uint8_t b) { return b == 0; });
}

// Whole packet checks; on success `data`/`len` point into `bytes`.
bool Unpack(const uint8_t *bytes, size_t size, uint8_t &cmd, const uint8_t *&data, size_t &len, std::string &error)
{
    if (!bytes || size < static_cast<size_t>(kFrameBytes)) {
        error = "a packet of at least 7 bytes, got " + std::to_string(bytes ? size : 0);
        return false;
    }
    if (bytes[0] != 0x55 || bytes[1] != 0x55) {
        error = "55 55 starting the packet";
        return false;
    }
    len = bytes[3];
    if (size != len + kFrameBytes) {
        error = "a packet of " + std::to_string(len + kFrameBytes) + " bytes for its " + std::to_string(len) +
                " data bytes, got " + std::to_string(size);
        return false;
    }
    if (bytes[size - 2] != 0xAA || bytes[size - 1] != 0xAA) {
        error = "AA AA ending the packet";
        return false;
    }
    cmd = bytes[2];
    data = bytes + 4;
    if (Checksum(cmd, data, len) != bytes[4 + len]) {
        error = "the XOR of command, length and data before AA AA";
        return false;
    }
    return true;
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

uint8_t DensityByte(const Model &model, int darkness)
{
    if (darkness < 0)
        return static_cast<uint8_t>(model.normalDensity);
    return static_cast<uint8_t>(Clamp(darkness, 1, model.maxDensity));
}

uint8_t LabelTypeFor(int mediaType)
{
    switch (mediaType) {
    case kMediaContinuous:
    case kMediaContinuousRoll:
    case kMediaRoll:
        return kLabelContinuous;
    case kMediaBLine:
        return kLabelBlackMark;
    case kMediaTransparent:
        return kLabelTransparent;
    case kMediaBLineGap:
        return kLabelBlackMarkGap;
    case kMediaTube:
        return kLabelTube;
    default:
        return kLabelGap;
    }
}

uint8_t Checksum(uint8_t cmd, const uint8_t *data, size_t size)
{
    uint8_t x = static_cast<uint8_t>(cmd ^ static_cast<uint8_t>(size));
    for (size_t i = 0; i < size; ++i)
        x ^= data[i];
    return x;
}

void AddPacket(CMyBuffer &out, uint8_t cmd, const uint8_t *data, size_t size)
{
    if (size > static_cast<size_t>(kMaxData))
        return;
    out.AddByte(0x55);
    out.AddByte(0x55);
    out.AddByte(cmd);
    out.AddByte(static_cast<uint8_t>(size));
    if (size > 0)
        out.AddBuffer(data, static_cast<int>(size));
    out.AddByte(Checksum(cmd, data, size));
    out.AddByte(0xAA);
    out.AddByte(0xAA);
}

void AddPacket(CMyBuffer &out, uint8_t cmd, const std::vector<uint8_t> &data)
{
    AddPacket(out, cmd, data.data(), data.size());
}

void AddConnect(CMyBuffer &out)
{
    out.AddByte(0x03);
    AddPacket(out, kCmdConnect, {0x01});
}

void AddHeartbeat(CMyBuffer &out)
{
    AddPacket(out, kCmdHeartbeat, {0x01});
}

void AddPrintStatusRequest(CMyBuffer &out)
{
    AddPacket(out, kCmdPrintStatus, {0x01});
}

void AddRfidRequest(CMyBuffer &out)
{
    AddPacket(out, kCmdRfid, {0x01});
}

void AddLabelInfoRequest(CMyBuffer &out)
{
    AddPacket(out, kCmdLabelInfo, {0x01});
}

void AddDensity(CMyBuffer &out, uint8_t density)
{
    AddPacket(out, kCmdDensity, {density});
}

void AddLabelType(CMyBuffer &out, uint8_t type)
{
    AddPacket(out, kCmdLabelType, {type});
}

void AddStart(CMyBuffer &out, Group group)
{
    if (group == Group::Legacy)
        AddPacket(out, kCmdStart, {0x01});
    else
        AddPacket(out, kCmdStart, {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00});
}

void AddPageStart(CMyBuffer &out)
{
    AddPacket(out, kCmdPageStart, {0x01});
}

void AddPageSize(CMyBuffer &out, Group group, int rows, int cols)
{
    std::vector<uint8_t> d;
    AddBe16(d, Clamp(rows, 0, 0xFFFF));
    AddBe16(d, Clamp(cols, 0, 0xFFFF));
    if (group == Group::Current)
        AddBe16(d, 1);
    AddPacket(out, kCmdPageSize, d);
}

void AddPageEnd(CMyBuffer &out)
{
    AddPacket(out, kCmdPageEnd, {0x01});
}

void AddEnd(CMyBuffer &out)
{
    AddPacket(out, kCmdEnd, {0x01});
}

void AddEmptyRows(CMyBuffer &out, int row, int count)
{
    std::vector<uint8_t> d;
    AddBe16(d, Clamp(row, 0, 0xFFFF));
    d.push_back(static_cast<uint8_t>(Clamp(count, 1, kMaxRepeat)));
    AddPacket(out, kCmdEmptyRows, d);
}

void AddBitmapRow(CMyBuffer &out, int row, const uint8_t *bytes, size_t size, int repeat, int headBytes)
{
    std::vector<uint8_t> d;
    AddBe16(d, Clamp(row, 0, 0xFFFF));
    const size_t third = static_cast<size_t>(std::max(headBytes / 3, 1));
    for (size_t k = 0; k < 3; ++k) {
        int n = 0;
        for (size_t i = k * third; i < (k + 1) * third && i < size; ++i)
            n += Bits(bytes[i]);
        d.push_back(static_cast<uint8_t>(std::min(n, 255)));
    }
    d.push_back(static_cast<uint8_t>(Clamp(repeat, 1, kMaxRepeat)));
    d.insert(d.end(), bytes, bytes + size);
    AddPacket(out, kCmdBitmapRow, d);
}

bool Turned(const Model &model, const CxImage &page)
{
    return model.sideways && page.GetWidth() > static_cast<uint32_t>(model.headDots);
}

int64_t SentRows(const Model &model, const CxImage &page)
{
    return Turned(model, page) ? page.GetWidth() : page.GetHeight();
}

int64_t SentCols(const Model &model, const CxImage &page)
{
    return Turned(model, page) ? page.GetHeight() : page.GetWidth();
}

void AddRows(CMyBuffer &out, const Model &model, const CxImage &page)
{
    const int64_t rows = SentRows(model, page);
    const int headBytes = model.headDots / 8;
    std::vector<uint8_t> row, next;
    int64_t r = 0;
    if (rows > 0)
        SentRow(model, page, 0, row);
    while (r < rows) {
        // Equal rows after this one, up to a command's repeat.
        int64_t n = 1;
        while (r + n < rows && n < kMaxRepeat) {
            SentRow(model, page, static_cast<uint32_t>(r + n), next);
            if (next != row)
                break;
            ++n;
        }
        if (AllWhite(row))
            AddEmptyRows(out, static_cast<int>(r), static_cast<int>(n));
        else
            AddBitmapRow(out, static_cast<int>(r), row.data(), row.size(), static_cast<int>(n), headBytes);
        r += n;
        if (r < rows) {
            if (n == kMaxRepeat || next.empty())
                SentRow(model, page, static_cast<uint32_t>(r), next);
            row.swap(next);
        }
    }
}

void EncodePage(const CxImage &page, const tagREGSTRUCT &reg, const Model &model, CMyBuffer &out)
{
    const int64_t rows = SentRows(model, page);
    const int64_t cols = SentCols(model, page);
    // Every row at its largest, and the eight commands around them.
    out.Reserve(out.GetBufferLength() + rows * (kFrameBytes + 6 + (cols + 7) / 8) + 8 * (kFrameBytes + 7));
    AddDensity(out, DensityByte(model, reg.iDensity));
    AddLabelType(out, LabelTypeFor(reg.iMediaType));
    AddStart(out, model.group);
    AddPageStart(out);
    AddPageSize(out, model.group, static_cast<int>(rows), static_cast<int>(cols));
    AddRows(out, model, page);
    AddPageEnd(out);
    AddEnd(out);
}

// --- replies -----------------------------------------------------------------

Packet ParsePacket(const uint8_t *bytes, size_t size)
{
    Packet p;
    const uint8_t *data = nullptr;
    size_t len = 0;
    if (!Unpack(bytes, size, p.cmd, data, len, p.error))
        return p;
    p.data.assign(data, data + len);
    p.ok = true;
    return p;
}

Heartbeat ParseHeartbeat(const uint8_t *bytes, size_t size)
{
    Heartbeat h;
    uint8_t cmd = 0;
    const uint8_t *d = nullptr;
    size_t len = 0;
    if (!Unpack(bytes, size, cmd, d, len, h.error))
        return h;
    auto lid = [&](size_t i) {
        h.lidKnown = true;
        h.lidOpen = d[i] != 0;
    };
    auto paper = [&](size_t i) {
        h.paperKnown = true;
        h.paperOut = d[i] != 0;
    };
    if (cmd == kReplyHeartbeat2) {
        // Charge, temperature, lid (0 closed), paper (0 in), paper tag (0 read).
        if (len < 9) {
            h.error = "D9 with at least 9 data bytes, got " + std::to_string(len);
            return h;
        }
        h.charge = d[0];
        lid(2);
        paper(3);
        h.tagKnown = true;
        h.tagRead = d[4] == 0;
    } else if (cmd == kReplyHeartbeat) {
        switch (len) {
        case 10: // charge, lid
            h.charge = d[8];
            lid(9);
            break;
        case 13:
        case 19: // lid, charge, paper, tag (1 read) last
            lid(len - 4);
            h.charge = d[len - 3];
            paper(len - 2);
            h.tagKnown = true;
            h.tagRead = d[len - 1] == 1;
            break;
        case 20: // paper, tag last
            paper(18);
            h.tagKnown = true;
            h.tagRead = d[19] == 1;
            break;
        default:
            h.error = "DD with 10, 13, 19 or 20 data bytes, got " + std::to_string(len);
            return h;
        }
    } else {
        h.error = "a heartbeat reply (DD or D9), got " + std::to_string(cmd);
        return h;
    }
    h.ok = true;
    return h;
}

PrintStatus ParsePrintStatus(const uint8_t *bytes, size_t size)
{
    PrintStatus s;
    uint8_t cmd = 0;
    const uint8_t *d = nullptr;
    size_t len = 0;
    if (!Unpack(bytes, size, cmd, d, len, s.error))
        return s;
    if (cmd != kReplyPrintStatus || len < 4) {
        s.error = "B3 with at least 4 data bytes";
        return s;
    }
    s.page = Be16(d);
    s.printProgress = d[2];
    s.feedProgress = d[3];
    if (len == 10)
        s.errorCode = d[6];
    s.ok = true;
    return s;
}

Tag ParseTag(const uint8_t *bytes, size_t size)
{
    Tag t;
    uint8_t cmd = 0;
    const uint8_t *d = nullptr;
    size_t len = 0;
    if (!Unpack(bytes, size, cmd, d, len, t.error))
        return t;
    if (cmd != kReplyRfid || len < 1) {
        t.error = "1B with its data";
        return t;
    }
    if (len == 1) {
        t.ok = true;
        return t;
    }
    // Fields in order; each must be whole within the data.
    size_t i = 0;
    if (len < 8) {
        t.error = "the tag's 8-byte id";
        return t;
    }
    t.uuid.assign(d, d + 8);
    i = 8;
    for (std::string *s : {&t.barcode, &t.serial}) {
        if (i >= len || len - i - 1 < d[i]) {
            t.error = "a length and its text (barcode, serial) at data byte " + std::to_string(i);
            return t;
        }
        s->assign(reinterpret_cast<const char *>(d + i + 1), d[i]);
        i += 1 + d[i];
    }
    if (len - i < 5) {
        t.error = "total and used labels and the type after the serial";
        return t;
    }
    t.total = Be16(d + i);
    t.used = Be16(d + i + 2);
    t.type = d[i + 4];
    t.present = true;
    t.ok = true;
    return t;
}

LabelInfo ParseLabelInfo(const uint8_t *bytes, size_t size)
{
    LabelInfo l;
    uint8_t cmd = 0;
    const uint8_t *d = nullptr;
    size_t len = 0;
    if (!Unpack(bytes, size, cmd, d, len, l.error))
        return l;
    if (cmd != kReplyLabelInfo || len < 4) {
        l.error = "69 with at least 4 data bytes";
        return l;
    }
    l.gapDots = Be16(d);
    l.heightDots = Be16(d + 2);
    if (len >= 5)
        l.type = d[4];
    if (len >= 11)
        l.widthDots = Be16(d + 9);
    l.ok = true;
    return l;
}

} // namespace niimbot
