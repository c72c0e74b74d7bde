#include "PrinterCPCL.h"

#include <climits>
#include <cstdint>

#include "PageRefusal.h"

using NS_QV_CLASS::CMyBuffer;

namespace {

void EndLine(CMyBuffer &out)
{
    out.AddStringA("\r\n");
}

void AddPrint(CMyBuffer &out)
{
    out.AddStringA("PRINT");
    EndLine(out);
}

// The command lines of a page around its graphic, with room to spare.
constexpr int kPageTextBytes = 128;

} // namespace

void CPrinterCPCL::AddBegin(CMyBuffer &out)
{
    out.AddStringA("! ");
    out.AddInt(MillimetresToDots(m_Reg.fReference[0]));
    out.AddStringA(" 200 200 ");
    out.AddInt(static_cast<int>(m_Image.GetHeight()));
    out.AddStringA(" 1");
    EndLine(out);
}

void CPrinterCPCL::AddPageWidth(CMyBuffer &out)
{
    out.AddStringA("PAGE-WIDTH ");
    out.AddInt(static_cast<int>(m_Image.GetWidth()));
    EndLine(out);
}

void CPrinterCPCL::AddCGLine(CMyBuffer &out)
{
    out.AddStringA("CG ");
    out.AddInt(static_cast<int>(m_Image.GetEffWidth()));
    out.AddStringA(" ");
    out.AddInt(static_cast<int>(m_Image.GetHeight()));
    out.AddStringA(" 0 0");
    EndLine(out);
}

void CPrinterCPCL::AddCG(CMyBuffer &out)
{
    AddCGLine(out);
    // Rows in storage order, first raster line first.
    if (const uint8_t *bits = m_Image.GetBits(0))
        out.AddBuffer(bits, static_cast<int>(m_Image.GetEffWidth() * m_Image.GetHeight()));
}

void CPrinterCPCL::AddFORM(CMyBuffer &out)
{
    if (m_Reg.iMediaType != kMediaGap && m_Reg.iMediaType != kMediaBLine)
        return;
    out.AddStringA("FORM");
    EndLine(out);
}

void CPrinterCPCL::WriteCommand(void (CPrinterCPCL::*add)(CMyBuffer &))
{
    CMyBuffer out;
    (this->*add)(out);
    if (out.GetBufferLength() > 0)
        WriteSpool(out.GetBuffer(), out.GetBufferLength());
}

void CPrinterCPCL::cmdBegin()
{
    WriteCommand(&CPrinterCPCL::AddBegin);
}

void CPrinterCPCL::cmdPageWidth()
{
    WriteCommand(&CPrinterCPCL::AddPageWidth);
}

// The graphic's header line and its data are separate writes.
void CPrinterCPCL::cmdCG()
{
    WriteCommand(&CPrinterCPCL::AddCGLine);
    if (const uint8_t *bits = m_Image.GetBits(0))
        WriteSpool(bits, static_cast<int>(m_Image.GetEffWidth() * m_Image.GetHeight()));
}

void CPrinterCPCL::cmdFORM()
{
    WriteCommand(&CPrinterCPCL::AddFORM);
}

void CPrinterCPCL::cmdPrint()
{
    CMyBuffer out;
    AddPrint(out);
    WriteSpool(out.GetBuffer(), out.GetBufferLength());
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
    // CG wants 1 = dot; the white row padding becomes 0, blank.
    Negative(m_Image);
    m_CmdBuffer.InitBuffer(0);
    m_CmdBuffer.Reserve(static_cast<long long>(page.planeBytes) + kPageTextBytes);
    AddBegin(m_CmdBuffer);
    AddPageWidth(m_CmdBuffer);
    AddCG(m_CmdBuffer);
    AddFORM(m_CmdBuffer);
    AddPrint(m_CmdBuffer);
    WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}
