#include "PrinterCPCL.h"

#include <climits>
#include <cstdint>
#include <cstdio>

#include "CupsMessages.h"

using NS_QV_CLASS::CMyBuffer;

void CPrinterCPCL::WriteLine(CMyBuffer &line)
{
    line.AddStringA("\r\n");
    WriteSpool(line.GetBuffer(), line.GetBufferLength());
}

void CPrinterCPCL::cmdBegin()
{
    CMyBuffer line;
    line.AddStringA("! ");
    line.AddInt(MillimetresToDots(m_Reg.fReference[0]));
    line.AddStringA(" 200 200 ");
    line.AddInt(static_cast<int>(m_Image.GetHeight()));
    line.AddStringA(" 1");
    WriteLine(line);
}

void CPrinterCPCL::cmdPageWidth()
{
    CMyBuffer line;
    line.AddStringA("PAGE-WIDTH ");
    line.AddInt(static_cast<int>(m_Image.GetWidth()));
    WriteLine(line);
}

void CPrinterCPCL::cmdCG()
{
    const int stride = static_cast<int>(m_Image.GetEffWidth());
    const int height = static_cast<int>(m_Image.GetHeight());
    CMyBuffer line;
    line.AddStringA("CG ");
    line.AddInt(stride);
    line.AddStringA(" ");
    line.AddInt(height);
    line.AddStringA(" 0 0");
    WriteLine(line);
    // Rows in storage order, first raster line first; OnPaintBmp has checked
    // that the storage fits one write.
    if (const uint8_t *bits = m_Image.GetBits(0))
        WriteSpool(bits, stride * height);
}

void CPrinterCPCL::cmdFORM()
{
    if (m_Reg.iMediaType != kMediaGap && m_Reg.iMediaType != kMediaBLine)
        return;
    CMyBuffer line;
    line.AddStringA("FORM");
    WriteLine(line);
}

void CPrinterCPCL::cmdPrint()
{
    CMyBuffer line;
    line.AddStringA("PRINT");
    WriteLine(line);
}

void CPrinterCPCL::OnPaintBmp()
{
    // The page goes out in several writes, so anything that could stop it
    // half-way is checked before the first one.
    const uint64_t bytes = static_cast<uint64_t>(m_Image.GetEffWidth()) * m_Image.GetHeight();
    if (bytes > static_cast<uint64_t>(INT_MAX) || m_Image.GetWidth() > static_cast<uint32_t>(INT_MAX)) {
        Refuse("The page image of %llu bytes is too large for the printer; it was "
               "not printed. Print it at a lower resolution or a smaller size.",
               static_cast<unsigned long long>(bytes));
        return;
    }
    // CG wants 1 = dot; the white row padding becomes 0, blank.
    Negative(m_Image);
    cmdBegin();
    cmdPageWidth();
    cmdCG();
    cmdFORM();
    cmdPrint();
}
