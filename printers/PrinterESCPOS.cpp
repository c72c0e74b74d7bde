#include "PrinterESCPOS.h"

#include <cstdio>

#include "ByteOrder.h"
#include "CupsMessages.h"

using NS_QV_CLASS::CMyBuffer;

namespace {

// GS v 0 mode byte: 0 normal, 1 double width, 2 double height, 3 both. A
// 100 dpi page is printed with doubled dots so that it keeps its size on a
// 203 dpi head.
unsigned char RasterMode(int xdpi, int ydpi)
{
    if (xdpi >= 203 && ydpi >= 203)
        return 0x00;
    if (xdpi >= 203 && ydpi == 100)
        return 0x01;
    if (xdpi == 100 && ydpi >= 203)
        return 0x02;
    if (xdpi == 100 && ydpi == 100)
        return 0x03;
    return 0x00;
}

} // namespace

CPrinterESCPOS::CPrinterESCPOS()
{
    AddLog("new CPrinterESCPOS()");
}

CPrinterESCPOS::~CPrinterESCPOS() = default;

void CPrinterESCPOS::OnInit() {}

// End of job: the end-of-job cut; in receipt mode also the drawer pulse
// after printing, and the one before it when no page printed anything (a
// blank job still opens the drawer, but is not fed or cut).
void CPrinterESCPOS::OnDestroy()
{
    const bool endCut = m_Reg.iCutMode == 1 || m_Reg.iCutMode == 2;
    m_CmdBuffer.InitBuffer(0);
    if (!m_Reg.bReceipt) {
        if (endCut)
            FeedAndCut(m_Reg.iCutMode == 1 ? 0 : 1);
    } else {
        if (endCut && m_bReceiptStarted)
            FeedAndCut(m_Reg.iCutMode == 1 ? 0 : 1);
        if (m_Reg.iMoneyBox == 2 || (m_Reg.iMoneyBox == 1 && !m_bReceiptStarted))
            cmdOpenMoneyBox();
    }
    if (m_CmdBuffer.GetBufferLength() > 0)
        WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}

void CPrinterESCPOS::OnPaintBmp()
{
    if (m_Reg.bReceipt) {
        PaintReceiptPage();
        return;
    }
    const int w = RasterRowBytes();
    const int h = static_cast<int>(m_Image.GetHeight());
    m_CmdBuffer.InitBuffer(0);
    if (!RasterFits(w, h))
        return;
    // From here a set bit is a dot to burn.
    Negative(m_Image);

    if (m_Reg.iMoneyBox == 1)
        cmdOpenMoneyBox();
    cmdInit();
    cmdAlign(m_Reg.iAlign);
    CMyBuffer raster;
    GatherRaster(raster, w);
    PrintBMP(m_iResolution, m_iResolution, w, h, raster.GetBuffer(), raster.GetBufferLength());
    if (m_Reg.fFeedAfter > 0)
        PrintAndFeedPaper(m_Reg.fFeedAfter);
    if (m_Reg.iCutMode == 3 || m_Reg.iCutMode == 4)
        FeedAndCut(m_Reg.iCutMode == 3 ? 0 : 1);
    cmdEndPrint();
    if (m_Reg.iMoneyBox == 2)
        cmdOpenMoneyBox();

    WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}

// Receipt mode: nothing between the pages but their printed rows, so the
// receipt shows no seam; the drawer pulses and the end-of-job cut come once
// per job (OnDestroy).
void CPrinterESCPOS::PaintReceiptPage()
{
    const int w = RasterRowBytes();
    m_CmdBuffer.InitBuffer(0);
    if (!RasterFits(w, static_cast<int>(m_Image.GetHeight())))
        return;
    Negative(m_Image);
    const int h = RowsToLastInk(w);
    // An all-white page adds nothing to the receipt.
    if (h == 0)
        return;

    const bool first = !m_bReceiptStarted;
    if (first) {
        if (m_Reg.iMoneyBox == 1)
            cmdOpenMoneyBox();
        cmdInit();
        cmdAlign(m_Reg.iAlign);
    }
    CMyBuffer raster;
    GatherRaster(raster, w, h);
    PrintBMP(m_iResolution, m_iResolution, w, h, raster.GetBuffer(), raster.GetBufferLength());
    if (m_Reg.fFeedAfter > 0)
        PrintAndFeedPaper(m_Reg.fFeedAfter);
    if (m_Reg.iCutMode == 3 || m_Reg.iCutMode == 4)
        FeedAndCut(m_Reg.iCutMode == 3 ? 0 : 1);
    cmdEndPrint();

    // A page refused for its size sent nothing, its ESC @ included.
    if (first)
        m_bReceiptStarted = !m_CmdBuffer.IsOverflowed();
    WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}

// The cutter sits above the print line: without the feed the last lines
// would be cut through or left inside the printer.
void CPrinterESCPOS::FeedAndCut(int kind)
{
    if (m_Reg.fCutterFeed > 0)
        PrintAndFeedPaper(m_Reg.fCutterFeed);
    cmdCutPaper(kind);
}

int CPrinterESCPOS::RowsToLastInk(int w) const
{
    for (uint32_t y = m_Image.GetHeight(); y > 0; --y) {
        const uint8_t *row = m_Image.GetBits(y - 1);
        for (int i = 0; i < w; ++i)
            if (row[i] != 0)
                return static_cast<int>(y);
    }
    return 0;
}

int CPrinterESCPOS::BandRows() const
{
    return std::clamp(m_Reg.iBandRows, 1, kMaxRasterField);
}

// ESC @ resets the printer; the NUL after it is part of the sequence the
// printers are sent.
void CPrinterESCPOS::cmdInit()
{
    AppendBytes({0x1B, 0x40, 0x00});
}

// ESC a: 0 left, 1 centre, 2 right; anything else centres.
void CPrinterESCPOS::cmdAlign(int align)
{
    const unsigned char a = (align == 0 || align == 2) ? static_cast<unsigned char>(align) : 0x01;
    AppendBytes({0x1B, 0x61, a});
}

// GS V with the ASCII-digit modes "0" (full) and "1" (partial).
void CPrinterESCPOS::cmdCutPaper(int kind)
{
    AppendBytes({0x1D, 0x56, static_cast<unsigned char>(kind == 0 ? 0x30 : 0x31)});
}

void CPrinterESCPOS::PrintAndFeedPaper(float mm)
{
    int dots = MillimetresToDots(mm);
    // ESC J feeds forward only; its byte is unsigned.
    if (dots < 0)
        dots = 0;
    if (dots <= 255) {
        AppendBytes({0x1B, 0x4A, static_cast<unsigned char>(dots)});
        return;
    }
    for (int i = 0; i < dots / 255; ++i)
        AppendBytes({0x1B, 0x4A, 0xFF});
    if (dots % 255 > 0)
        AppendBytes({0x1B, 0x4A, static_cast<unsigned char>(dots % 255)});
}

// GS v 0 m xL xH yL yH, then the rows: width in bytes and row count are
// little-endian 16-bit numbers.
void CPrinterESCPOS::PrintBMP(int xdpi, int ydpi, int w, int h, const void *data, int len)
{
    if (w < 0 || w > kMaxRasterField || h < 0)
        return;
    const unsigned char mode = RasterMode(xdpi, ydpi);
    ForEachBand(w, h, static_cast<const unsigned char *>(data), len, BandRows(),
                [&](int rows, const unsigned char *bytes, int n) {
                    AppendBytes({0x1D, 0x76, 0x30, mode});
                    byteorder::AppendLe16(m_CmdBuffer, static_cast<uint32_t>(w));
                    byteorder::AppendLe16(m_CmdBuffer, static_cast<uint32_t>(rows));
                    m_CmdBuffer.AddBuffer(bytes, n);
                });
}

void CPrinterESCPOS::cmdEndPrint() {}

// ESC p on drawer connector 0 with on and off times of 255 x 2 ms.
void CPrinterESCPOS::cmdOpenMoneyBox()
{
    AppendBytes({0x1B, 0x70, 0x00, 0xFF, 0xFF});
}

void CPrinterESCPOS::AppendBytes(std::initializer_list<unsigned char> bytes)
{
    m_CmdBuffer.AddBuffer(bytes.begin(), static_cast<int>(bytes.size()));
}

int CPrinterESCPOS::RasterRowBytes() const
{
    return static_cast<int>((static_cast<uint64_t>(m_Image.GetWidth()) + 7) / 8);
}

bool CPrinterESCPOS::RasterFits(int w, int h)
{
    if (w > kMaxRasterField) {
        Refuse("This page is %u dots wide; the printer takes at most %d dots "
               "per line. The page was not printed. Choose a narrower paper "
               "size or a lower resolution.",
               m_Image.GetWidth(), kMaxRasterField * 8);
        return false;
    }
    const int64_t bytes = int64_t(w) * h;
    const int limit = m_CmdBuffer.GetMaxBufferSize();
    if (limit > 0 && bytes > limit) {
        Refuse("The image of this page needs %lld bytes, more than the %d "
               "bytes the printer data of a page may take; the page was not "
               "printed. Print it at a lower resolution or a smaller size.",
               static_cast<long long>(bytes), limit);
        return false;
    }
    return true;
}

void CPrinterESCPOS::GatherRaster(CMyBuffer &raster, int w, int rows)
{
    const int h = rows < 0 ? static_cast<int>(m_Image.GetHeight()) : rows;
    raster.InitBuffer(0);
    raster.SetMaxBufferSize(m_CmdBuffer.GetMaxBufferSize());
    raster.SetBufferSize(static_cast<int>(int64_t(w) * h));
    for (int i = 0; i < h; ++i)
        raster.AddBuffer(m_Image.GetBits(static_cast<uint32_t>(i)), w);
}
