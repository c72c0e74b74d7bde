#include "PrinterCPCL.h"

#include <climits>
#include <cstdint>

#include "CpclEncoder.h"
#include "PageRefusal.h"

using NS_QV_CLASS::CMyBuffer;

void CPrinterCPCL::WriteBuffer(const CMyBuffer &out)
{
    if (out.GetBufferLength() > 0)
        WriteSpool(out.GetBuffer(), out.GetBufferLength());
}

void CPrinterCPCL::cmdBegin()
{
    CMyBuffer out;
    cpcl::AddBegin(out, m_Reg, m_iResolution, static_cast<int>(m_Image.GetHeight()));
    WriteBuffer(out);
}

void CPrinterCPCL::cmdPageWidth()
{
    CMyBuffer out;
    cpcl::AddPageWidth(out, static_cast<int>(m_Image.GetWidth()));
    WriteBuffer(out);
}

void CPrinterCPCL::cmdCG()
{
    CMyBuffer out;
    cpcl::AddGraphicLine(out, static_cast<int>(m_Image.GetEffWidth()), static_cast<int>(m_Image.GetHeight()));
    WriteBuffer(out);
    if (const uint8_t *bits = m_Image.GetBits(0))
        WriteSpool(bits, static_cast<int>(m_Image.GetEffWidth() * m_Image.GetHeight()));
}

void CPrinterCPCL::cmdFORM()
{
    CMyBuffer out;
    cpcl::AddForm(out, m_Reg);
    WriteBuffer(out);
}

void CPrinterCPCL::cmdPrint()
{
    CMyBuffer out;
    cpcl::AddPrint(out);
    WriteBuffer(out);
}

void CPrinterCPCL::OnPaintBmp()
{
    FamilyLimits limits;
    limits.planeBytes = INT_MAX; // the graphic goes out as one int-sized piece
    PageShape page;
    page.width = m_Image.GetWidth();
    page.rowBytes = m_Image.GetEffWidth();
    page.rows = m_Image.GetHeight();
    page.planeBytes = page.rowBytes * page.rows;
    if (!PageFits(limits, page, m_CmdBuffer.GetMaxBufferSize()))
        return;
    m_CmdBuffer.InitBuffer(0);
    cpcl::EncodePage(m_Image, m_Reg, m_iResolution, m_CmdBuffer);
    WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}
