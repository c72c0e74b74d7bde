#include "PaperangEncoder.h"

#include <vector>

#include "ByteOrder.h"

using NS_QV_CLASS::CMyBuffer;

namespace paperang {

namespace {

// The printers check every frame's CRC against a CRC-32 seeded with this
// key, kept in two halves.
constexpr uint32_t kCrcKeyHigh = 0x3576;
constexpr uint32_t kCrcKeyLow = 0x9521;
constexpr uint32_t kCrcKey = (kCrcKeyHigh << 16) | kCrcKeyLow;

// Paper locate distance sent after a page on marked media.
constexpr int kPaperLocate = 300;

// A frame around its inner bytes: A5 01, the length, the CRC-32 and 5A.
constexpr int64_t kFrameBytes = 9;
// A command's inner head: 05, the code, the second byte, the parameter length.
constexpr int64_t kCommandHeadBytes = 5;
// A row's inner head and parameters in front of its dots.
constexpr int64_t kRowHeadBytes = 17;

int64_t CommandBytes(int64_t params)
{
    return kFrameBytes + kCommandHeadBytes + params;
}

bool SetsPaperType(int media)
{
    return media == kMediaPerforated || media == kMediaRoll;
}

bool LocatesPaper(int media)
{
    return media == kMediaGap || media == kMediaBLine || media == kMediaPerforated;
}

bool FeedsAfter(int media)
{
    return media == kMediaContinuous || media == kMediaRoll;
}

struct Table {
    uint32_t entries[256];
    Table()
    {
        // Reflected CRC-32, polynomial 0xEDB88320.
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            entries[i] = c;
        }
    }
};

} // namespace

const uint32_t *CrcTable()
{
    static const Table table;
    return table.entries;
}

uint32_t KeyedCrc32(const unsigned char *data, unsigned len)
{
    const uint32_t *table = CrcTable();
    uint32_t c = ~kCrcKey;
    for (unsigned i = 0; i < len; ++i)
        c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return ~c;
}

void AddFrame(CMyBuffer &out, const unsigned char *inner, int n)
{
    if (n < 0 || n > kMaxInnerLength)
        return;
    out.AddByte(0xA5);
    out.AddByte(0x01);
    byteorder::AppendLe16(out, static_cast<uint32_t>(n));
    out.AddBuffer(inner, n);
    byteorder::AppendLe32(out, KeyedCrc32(inner, static_cast<unsigned>(n)));
    out.AddByte(0x5A);
}

void AddCommand(CMyBuffer &out, unsigned char code, unsigned char byte2, const CMyBuffer &params)
{
    CMyBuffer inner;
    inner.AddByte(0x05);
    inner.AddByte(code);
    inner.AddByte(byte2);
    byteorder::AppendLe16(inner, static_cast<uint32_t>(params.GetBufferLength()));
    inner.AddBuffer(params.GetBuffer(), params.GetBufferLength());
    AddFrame(out, reinterpret_cast<unsigned char *>(inner.GetBuffer()), inner.GetBufferLength());
}

void AddBeginPrinting(CMyBuffer &out)
{
    AddCommand(out, 0x19, 0x03, CMyBuffer());
}

void AddEndPrinting(CMyBuffer &out)
{
    AddCommand(out, 0x1A, 0x03, CMyBuffer());
}

void AddFeed(CMyBuffer &out, int v)
{
    CMyBuffer params;
    byteorder::AppendLe16(params, static_cast<uint32_t>(v));
    AddCommand(out, 0x16, 0x03, params);
}

void AddPaperLocate(CMyBuffer &out, int v)
{
    CMyBuffer params;
    byteorder::AppendLe32(params, static_cast<uint32_t>(v));
    AddCommand(out, 0x21, 0x01, params);
}

void AddPaperType(CMyBuffer &out, int mediaType)
{
    if (!SetsPaperType(mediaType))
        return;
    const uint32_t value = mediaType == kMediaPerforated ? 3 : 0;
    CMyBuffer params;
    byteorder::AppendLe16(params, value);
    AddCommand(out, 0x20, 0x01, params);
}

// Inner command of a row: 05 1B 03, k = 12 + W, then the parameters: packet
// index, 8 + W, 01, W, 00 00 00, W (all 16-bit LE), then the W row bytes.
void AddRows(CMyBuffer &out, const CxImage &page, bool invert)
{
    const uint32_t w = page.GetEffWidth();
    const uint32_t h = page.GetHeight();
    CMyBuffer row;
    row.SetBufferSize(static_cast<int>(w) + 17);
    std::vector<unsigned char> dots(w);
    for (uint32_t i = 0; i < h; ++i) {
        row.InitBuffer(0);
        row.AddByte(0x05);
        row.AddByte(0x1B);
        row.AddByte(0x03);
        byteorder::AppendLe16(row, 12 + w);
        byteorder::AppendLe16(row, i & 0xFFFF); // the printer counts packets modulo 2^16
        byteorder::AppendLe16(row, 8 + w);
        row.AddByte(0x01);
        byteorder::AppendLe16(row, w);
        row.AddByte(0x00);
        row.AddByte(0x00);
        row.AddByte(0x00);
        byteorder::AppendLe16(row, w);
        const uint8_t *bits = const_cast<CxImage &>(page).GetBits(i);
        for (uint32_t x = 0; x < w; ++x)
            dots[x] = invert ? static_cast<unsigned char>(~bits[x]) : bits[x];
        row.AddBuffer(dots.data(), static_cast<int>(w));
        AddFrame(out, reinterpret_cast<unsigned char *>(row.GetBuffer()), row.GetBufferLength());
    }
}

namespace {

// Every byte EncodePage appends for the page.
int64_t PageBytes(const CxImage &page, int media)
{
    int64_t n = 2 * CommandBytes(0); // start and end of printing
    n += int64_t{page.GetHeight()} * (kFrameBytes + kRowHeadBytes + page.GetEffWidth());
    if (SetsPaperType(media))
        n += CommandBytes(2);
    if (LocatesPaper(media))
        n += CommandBytes(4);
    if (FeedsAfter(media))
        n += CommandBytes(2);
    return n;
}

} // namespace

void EncodePage(const CxImage &page, const tagREGSTRUCT &reg, CMyBuffer &out, const Trace &trace)
{
    out.Reserve(out.GetBufferLength() + PageBytes(page, reg.iMediaType));
    AddBeginPrinting(out);
    trace("MM_TP_CTRL_PRINT_START");
    AddPaperType(out, reg.iMediaType);
    AddRows(out, page, true);
    AddEndPrinting(out);
    trace("MM_TP_CTRL_PRINT_END");
    if (LocatesPaper(reg.iMediaType))
        AddPaperLocate(out, kPaperLocate);
    if (FeedsAfter(reg.iMediaType))
        AddFeed(out, 0);
}

} // namespace paperang
