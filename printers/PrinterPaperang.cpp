#include "PrinterPaperang.h"

#include <cstdio>

#include "ByteOrder.h"
#include "PageRefusal.h"

using NS_QV_CLASS::CMyBuffer;

namespace {

// The printers check every frame's CRC against a CRC-32 seeded with this
// key; it is kept in two halves and joined when the renderer is built.
constexpr uint32_t kCrcKeyHigh = 0x3576;
constexpr uint32_t kCrcKeyLow = 0x9521;

// Paper locate distance sent after a page on marked media.
constexpr int kPaperLocate = 300;

} // namespace

CPrinterPaperang::CPrinterPaperang() : m_uCrcKey((kCrcKeyHigh << 16) | kCrcKeyLow)
{
    // Reflected CRC-32, polynomial 0xEDB88320.
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        m_CrcTable[i] = c;
    }
    m_CmdBuffer.SetMaxBufferSize(104857600);
}

CPrinterPaperang::~CPrinterPaperang() = default;

void CPrinterPaperang::OnPaintBmp()
{
    AddLog("OnPaintBmp");
    m_CmdBuffer.InitBuffer(0);
    // Rows are sent as whole stored words.
    FamilyLimits limits;
    limits.rowBytes = kMaxRowBytes / 4 * 4;
    PageShape page;
    page.width = m_Image.GetWidth();
    page.rowBytes = m_Image.GetEffWidth();
    page.rows = m_Image.GetHeight();
    if (!PageFits(limits, page, m_CmdBuffer.GetMaxBufferSize()))
        return;
    // From here a set bit is a dot to burn.
    Negative(m_Image);

    cmdBeginPrinting();
    cmdSetPaperType(m_Reg.iMediaType);
    SendBitmap();
    cmdEndPrinting();
    const int media = m_Reg.iMediaType;
    if (media == kMediaGap || media == kMediaBLine || media == kMediaPerforated)
        cmdPaperLocate(kPaperLocate);
    if (media == kMediaContinuous || media == kMediaRoll)
        cmdFeed(0);

    WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}

void CPrinterPaperang::cmdChildClassPackage(unsigned char *data, int n)
{
    if (n < 0 || n > kMaxInnerLength)
        return;
    CMyBuffer frame;
    frame.AddByte(0xA5);
    frame.AddByte(0x01);
    byteorder::AppendLe16(frame, static_cast<uint32_t>(n));
    frame.AddBuffer(data, n);
    byteorder::AppendLe32(frame, MakeCrc32(data, static_cast<unsigned>(n)));
    frame.AddByte(0x5A);
    AddToBuffer(frame);
}

uint32_t CPrinterPaperang::MakeCrc32(const unsigned char *data, unsigned len) const
{
    uint32_t c = ~m_uCrcKey;
    for (unsigned i = 0; i < len; ++i)
        c = m_CrcTable[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return ~c;
}

void CPrinterPaperang::AddToBuffer(const void *p, int len)
{
    m_CmdBuffer.AddBuffer(p, len);
}

void CPrinterPaperang::AddToBuffer(CMyBuffer &b)
{
    AddToBuffer(b.GetBuffer(), b.GetBufferLength());
}

void CPrinterPaperang::cmdBeginPrinting()
{
    SendCommand(0x19, 0x03, CMyBuffer());
    AddLog("MM_TP_CTRL_PRINT_START");
}

void CPrinterPaperang::cmdEndPrinting()
{
    SendCommand(0x1A, 0x03, CMyBuffer());
    AddLog("MM_TP_CTRL_PRINT_END");
}

void CPrinterPaperang::cmdFeed(int v)
{
    CMyBuffer params;
    byteorder::AppendLe16(params, static_cast<uint32_t>(v));
    SendCommand(0x16, 0x03, params);
}

void CPrinterPaperang::cmdPaperLocate(int v)
{
    CMyBuffer params;
    byteorder::AppendLe32(params, static_cast<uint32_t>(v));
    SendCommand(0x21, 0x01, params);
}

void CPrinterPaperang::cmdSetPaperType(int mediaType)
{
    uint32_t value;
    if (mediaType == kMediaPerforated)
        value = 3;
    else if (mediaType == kMediaRoll)
        value = 0;
    else
        return;
    CMyBuffer params;
    byteorder::AppendLe16(params, value);
    SendCommand(0x20, 0x01, params);
}

// Inner command of a row: 05 1B 03, k = 12 + W, then the parameters: packet
// index, 8 + W, 01, W, 00 00 00, W (all 16-bit LE), then the W row bytes.
void CPrinterPaperang::SendBitmap()
{
    const uint32_t w = m_Image.GetEffWidth();
    const uint32_t h = m_Image.GetHeight();
    CMyBuffer row;
    row.SetBufferSize(4096);
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
        row.AddBuffer(m_Image.GetBits(i), static_cast<int>(w));
        cmdChildClassPackage(reinterpret_cast<unsigned char *>(row.GetBuffer()), row.GetBufferLength());
    }
}

void CPrinterPaperang::SendCommand(unsigned char code, unsigned char byte2, const CMyBuffer &params)
{
    CMyBuffer inner;
    inner.AddByte(0x05);
    inner.AddByte(code);
    inner.AddByte(byte2);
    byteorder::AppendLe16(inner, static_cast<uint32_t>(params.GetBufferLength()));
    inner.AddBuffer(params.GetBuffer(), params.GetBufferLength());
    cmdChildClassPackage(reinterpret_cast<unsigned char *>(inner.GetBuffer()), inner.GetBufferLength());
}
