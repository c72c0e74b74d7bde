#include "PrinterTSPL.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "PageRefusal.h"

namespace {

// Bytes of an image's pixel storage, in 64 bits: a rotated page can in
// principle exceed what an int length can carry.
uint64_t StorageBytes(const CxImage &image)
{
    return static_cast<uint64_t>(image.GetEffWidth()) * image.GetHeight();
}

} // namespace

tspl::Lines CPrinterTSPL::Lines()
{
    return tspl::Lines{m_CmdBuffer, m_Reg.iUnit, m_iResolution};
}

void CPrinterTSPL::cmdSIZE(double width, double height, int unit)
{
    Lines().Size(width, height, unit);
}

void CPrinterTSPL::cmdSetRibbon(bool on)
{
    Lines().OnOff("SET RIBBON ", on);
}

void CPrinterTSPL::cmdSetPeel(bool on)
{
    Lines().OnOff("SET PEEL ", on);
}

void CPrinterTSPL::cmdSetTear(bool on)
{
    Lines().OnOff("SET TEAR ", on);
}

void CPrinterTSPL::cmdSetCutter(int mode, int count)
{
    Lines().Cutter("SET CUTTER ", "FALSE", mode, count);
}

void CPrinterTSPL::cmdSetPartialCutter(int mode, int count)
{
    Lines().Cutter("SET PARTIAL_CUTTER ", "OFF", mode, count);
}

void CPrinterTSPL::cmdREFERENCE(float x, float y)
{
    Lines().Reference(x, y);
}

void CPrinterTSPL::cmdGAP(float gap, float offset)
{
    Lines().DotPair("GAP ", gap, offset);
}

void CPrinterTSPL::cmdBLINE(int height, int offset)
{
    Lines().DotPair("BLINE ", static_cast<float>(height), static_cast<float>(offset));
}

void CPrinterTSPL::cmdOFFSET(float distance)
{
    Lines().Offset(distance);
}

void CPrinterTSPL::cmdDENSITY(int density)
{
    Lines().Density(density);
}

void CPrinterTSPL::cmdSPEED(int speed)
{
    Lines().Speed(speed);
}

void CPrinterTSPL::setcAutoDotted(bool on)
{
    Lines().OnOff("SETC AUTODOTTED ", on);
}

void CPrinterTSPL::setcPauseKey(bool on)
{
    Lines().OnOff("SETC PAUSEKEY ", on);
}

void CPrinterTSPL::setcWaterMark(bool on)
{
    Lines().OnOff("SETC WATERMARK ", on);
}

void CPrinterTSPL::cmdCLS()
{
    Lines().Line("CLS");
}

void CPrinterTSPL::cmdSetColorRed(int param)
{
    Lines().Number("SETCOLOR RED ", param);
}

void CPrinterTSPL::cmdSetColorBlack()
{
    Lines().Line("SETCOLOR BLACK");
}

int CPrinterTSPL::Compress(Bytef *dest, uLongf *destLen, const Bytef *source, uLong sourceLen)
{
    return compress(dest, destLen, source, sourceLen);
}

tspl::Compressor CPrinterTSPL::Compressor()
{
    return [this](Bytef *dest, uLongf *destLen, const Bytef *source, uLong sourceLen) {
        return Compress(dest, destLen, source, sourceLen);
    };
}

tspl::Trace CPrinterTSPL::Trace()
{
    return [this](const std::string &line) { AddLog("%s", line.c_str()); };
}

void CPrinterTSPL::cmdBITMAP(CxImage &, int x, int y, int widthBytes, int height, const void *bits, int length)
{
    Lines().Bitmap(x, y, widthBytes, height, static_cast<const uint8_t *>(bits), length, m_Reg.bImageCompress,
                   Compressor(), Trace());
}

void CPrinterTSPL::cmdPRINT(int sets, int copies)
{
    Lines().Print(GetModelName(), sets, copies);
}

void CPrinterTSPL::OnPaintBmp()
{
    AddLog("OnPaintBmp");
    m_CmdBuffer.InitBuffer(0);

    const bool twoColour = m_Reg.bDoubleColor;
    FamilyLimits limits;
    limits.planeBytes = INT_MAX;   // a bitmap's length is an int
    limits.needsResolution = true; // the label size divides by it
    PageShape page;
    page.dpi = m_iResolution;
    page.width = m_Image.GetWidth();
    page.rowBytes = m_Image.GetEffWidth();
    page.rows = m_Image.GetHeight();
    page.planeBytes = StorageBytes(m_Image);
    if (twoColour)
        page.planeBytes = std::max(page.planeBytes, StorageBytes(m_ImageRed));
    if (!PageFits(limits, page, m_CmdBuffer.GetMaxBufferSize()))
        return;

    tspl::EncodePage(m_Image, twoColour ? &m_ImageRed : nullptr, m_Reg, m_iResolution, GetModelName(), m_CmdBuffer,
                     Compressor(), Trace());
    WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}
