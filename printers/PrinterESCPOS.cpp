#include "PrinterESCPOS.h"

#include <cstdio>

#include "EscPosEncoder.h"
#include "PageRefusal.h"

using NS_QV_CLASS::CMyBuffer;

CPrinterESCPOS::CPrinterESCPOS()
{
    AddLog("new CPrinterESCPOS()");
}

CPrinterESCPOS::~CPrinterESCPOS() = default;

void CPrinterESCPOS::OnInit() {}

// End of job: the end-of-job cut; in receipt mode also the drawer pulse.
void CPrinterESCPOS::OnDestroy()
{
    m_CmdBuffer.InitBuffer(0);
    escpos::EncodeJobEnd(m_Reg, m_iResolution, m_bReceiptStarted, m_CmdBuffer);
    if (m_CmdBuffer.GetBufferLength() > 0)
        WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}

void CPrinterESCPOS::OnPaintBmp()
{
    const int w = RasterRowBytes();
    m_CmdBuffer.InitBuffer(0);
    if (!RasterFits(w, static_cast<int>(m_Image.GetHeight())))
        return;
    escpos::EncodePage(m_Image, m_Reg, m_iResolution, m_bReceiptStarted, m_CmdBuffer);
    if (m_Reg.bReceipt) {
        // An all-white page adds nothing to the receipt; a page refused for
        // its size sent nothing, its ESC @ included.
        if (m_CmdBuffer.GetBufferLength() == 0)
            return;
        if (!m_bReceiptStarted)
            m_bReceiptStarted = !m_CmdBuffer.IsOverflowed();
    }
    WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}

// ESC @ resets the printer; the NUL after it is part of the sequence the
// printers are sent.
void CPrinterESCPOS::cmdInit()
{
    escpos::AddInit(m_CmdBuffer);
}

// ESC a: 0 left, 1 centre, 2 right; anything else centres.
void CPrinterESCPOS::cmdAlign(int align)
{
    escpos::AddAlign(m_CmdBuffer, align);
}

// GS V with the ASCII-digit modes "0" (full) and "1" (partial).
void CPrinterESCPOS::cmdCutPaper(int kind)
{
    escpos::AddCut(m_CmdBuffer, kind);
}

void CPrinterESCPOS::PrintAndFeedPaper(float mm)
{
    escpos::AddFeed(m_CmdBuffer, MillimetresToDots(mm));
}

// GS v 0 m xL xH yL yH, then the rows: width in bytes and row count are
// little-endian 16-bit numbers.
void CPrinterESCPOS::PrintBMP(int xdpi, int ydpi, int w, int h, const void *data, int len)
{
    escpos::AddRaster(m_CmdBuffer, xdpi, ydpi, w, h, static_cast<const unsigned char *>(data), len,
                      escpos::BandRows(m_Reg));
}

void CPrinterESCPOS::cmdEndPrint() {}

// ESC p on drawer connector 0 with on and off times of 255 x 2 ms.
void CPrinterESCPOS::cmdOpenMoneyBox()
{
    escpos::AddDrawerPulse(m_CmdBuffer);
}

int CPrinterESCPOS::RasterRowBytes() const
{
    return escpos::RowBytes(m_Image);
}

bool CPrinterESCPOS::RasterFits(int w, int h)
{
    FamilyLimits limits;
    limits.rowBytes = kMaxRasterField;
    limits.rasterInBuffer = true;
    PageShape page;
    page.width = m_Image.GetWidth();
    page.rowBytes = static_cast<uint64_t>(w);
    page.rows = static_cast<uint64_t>(h);
    return PageFits(limits, page, m_CmdBuffer.GetMaxBufferSize());
}
