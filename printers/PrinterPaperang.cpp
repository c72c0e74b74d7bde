#include "PrinterPaperang.h"

#include <cstring>

#include "PageRefusal.h"

using NS_QV_CLASS::CMyBuffer;

CPrinterPaperang::CPrinterPaperang()
{
    memcpy(m_CrcTable, paperang::CrcTable(), sizeof m_CrcTable);
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
    paperang::EncodePage(m_Image, m_Reg, m_CmdBuffer, [this](const std::string &line) { AddLog("%s", line.c_str()); });
    WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}

void CPrinterPaperang::cmdChildClassPackage(unsigned char *data, int n)
{
    paperang::AddFrame(m_CmdBuffer, data, n);
}

uint32_t CPrinterPaperang::MakeCrc32(const unsigned char *data, unsigned len) const
{
    return paperang::KeyedCrc32(data, len);
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
    paperang::AddBeginPrinting(m_CmdBuffer);
    AddLog("MM_TP_CTRL_PRINT_START");
}

void CPrinterPaperang::cmdEndPrinting()
{
    paperang::AddEndPrinting(m_CmdBuffer);
    AddLog("MM_TP_CTRL_PRINT_END");
}

void CPrinterPaperang::cmdFeed(int v)
{
    paperang::AddFeed(m_CmdBuffer, v);
}

void CPrinterPaperang::cmdPaperLocate(int v)
{
    paperang::AddPaperLocate(m_CmdBuffer, v);
}

void CPrinterPaperang::cmdSetPaperType(int mediaType)
{
    paperang::AddPaperType(m_CmdBuffer, mediaType);
}

void CPrinterPaperang::SendBitmap()
{
    paperang::AddRows(m_CmdBuffer, m_Image, false);
}
