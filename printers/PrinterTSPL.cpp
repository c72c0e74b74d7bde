#include "PrinterTSPL.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

#include "PageRefusal.h"

namespace {

// The one model whose firmware takes SFAYPRINT in place of PRINT.
const char kSfayModelName[] = "do-zidivoz";

// Bytes of an image's pixel storage, in 64 bits: a rotated page can in
// principle exceed what an int length can carry.
uint64_t StorageBytes(const CxImage &image)
{
    return static_cast<uint64_t>(image.GetEffWidth()) * image.GetHeight();
}

} // namespace

void CPrinterTSPL::EndLine()
{
    m_CmdBuffer.AddStringA("\r\n");
}

void CPrinterTSPL::AddLine(const char *text)
{
    m_CmdBuffer.AddStringA(text);
    EndLine();
}

void CPrinterTSPL::AddOnOff(const char *command, bool on)
{
    m_CmdBuffer.AddStringA(command);
    AddLine(on ? "ON" : "OFF");
}

void CPrinterTSPL::AddDots(float mm)
{
    m_CmdBuffer.AddInt(MillimetresToDots(mm));
}

void CPrinterTSPL::cmdSIZE(double width, double height, int unit)
{
    const char *unitWord = unit == 1 ? " mm" : unit == 2 ? " dot" : "";
    // "%.2f" of the largest double is 312 characters.
    char text[400];
    snprintf(text, sizeof text, "SIZE %.2f%s,", width, unitWord);
    m_CmdBuffer.AddStringA(text);
    snprintf(text, sizeof text, "%.2f%s", height, unitWord);
    AddLine(text);
}

void CPrinterTSPL::cmdSetRibbon(bool on)
{
    AddOnOff("SET RIBBON ", on);
}

void CPrinterTSPL::cmdSetPeel(bool on)
{
    AddOnOff("SET PEEL ", on);
}

void CPrinterTSPL::cmdSetTear(bool on)
{
    AddOnOff("SET TEAR ", on);
}

void CPrinterTSPL::AddCutter(const char *command, const char *offWord, int mode, int count)
{
    m_CmdBuffer.AddStringA(command);
    if (mode == 0)
        m_CmdBuffer.AddStringA(offWord);
    else if (mode == 1)
        m_CmdBuffer.AddStringA("BATCH");
    else
        m_CmdBuffer.AddInt(count);
    EndLine();
}

void CPrinterTSPL::cmdSetCutter(int mode, int count)
{
    AddCutter("SET CUTTER ", "FALSE", mode, count);
}

void CPrinterTSPL::cmdSetPartialCutter(int mode, int count)
{
    AddCutter("SET PARTIAL_CUTTER ", "OFF", mode, count);
}

void CPrinterTSPL::cmdREFERENCE(float x, float y)
{
    m_CmdBuffer.AddStringA("REFERENCE ");
    AddDots(x);
    m_CmdBuffer.AddStringA(",");
    AddDots(y);
    EndLine();
}

void CPrinterTSPL::AddDotPair(const char *command, float a, float b)
{
    m_CmdBuffer.AddStringA(command);
    AddDots(a);
    m_CmdBuffer.AddStringA(" dot,");
    AddDots(b);
    AddLine(" dot");
}

void CPrinterTSPL::cmdGAP(float gap, float offset)
{
    AddDotPair("GAP ", gap, offset);
}

void CPrinterTSPL::cmdBLINE(int height, int offset)
{
    AddDotPair("BLINE ", static_cast<float>(height), static_cast<float>(offset));
}

void CPrinterTSPL::cmdOFFSET(float distance)
{
    m_CmdBuffer.AddStringA("OFFSET ");
    AddDots(distance);
    AddLine(" dot");
}

void CPrinterTSPL::cmdDENSITY(int density)
{
    if (density < 0)
        return;
    m_CmdBuffer.AddStringA("DENSITY ");
    m_CmdBuffer.AddInt(density);
    EndLine();
}

void CPrinterTSPL::cmdSPEED(int speed)
{
    if (speed < 0)
        return;
    if (speed == 0 || speed > 12)
        speed = 4;
    m_CmdBuffer.AddStringA("SPEED ");
    m_CmdBuffer.AddInt(speed);
    EndLine();
}

void CPrinterTSPL::setcAutoDotted(bool on)
{
    AddOnOff("SETC AUTODOTTED ", on);
}

void CPrinterTSPL::setcPauseKey(bool on)
{
    AddOnOff("SETC PAUSEKEY ", on);
}

void CPrinterTSPL::setcWaterMark(bool on)
{
    AddOnOff("SETC WATERMARK ", on);
}

void CPrinterTSPL::cmdCLS()
{
    AddLine("CLS");
}

void CPrinterTSPL::cmdSetColorRed(int param)
{
    m_CmdBuffer.AddStringA("SETCOLOR RED ");
    m_CmdBuffer.AddInt(param);
    EndLine();
}

void CPrinterTSPL::cmdSetColorBlack()
{
    AddLine("SETCOLOR BLACK");
}

int CPrinterTSPL::Compress(Bytef *dest, uLongf *destLen, const Bytef *source, uLong sourceLen)
{
    return compress(dest, destLen, source, sourceLen);
}

bool CPrinterTSPL::AddCompressedBitmap(const NS_QV_CLASS::CMyBuffer &header, const void *bits, int length)
{
    const uLong bound = compressBound(static_cast<uLong>(length));
    std::unique_ptr<Bytef[]> packed(new (std::nothrow) Bytef[bound]);
    if (!packed) {
        AddLog("BITMAP: no memory for %lu bytes of compressed data; sending the plain bitmap",
               static_cast<unsigned long>(bound));
        return false;
    }
    uLongf packedLen = bound;
    const int rc = Compress(packed.get(), &packedLen, static_cast<const Bytef *>(bits), static_cast<uLong>(length));
    if (rc != Z_OK) {
        AddLog("BITMAP: zlib compress failed (%d: %s); sending the plain bitmap", rc, zError(rc));
        return false;
    }
    if (packedLen > static_cast<uLongf>(INT_MAX)) {
        AddLog("BITMAP: %lu bytes of compressed data are too many for one command; sending "
               "the plain bitmap",
               static_cast<unsigned long>(packedLen));
        return false;
    }
    m_CmdBuffer.AddBuffer(header.GetBuffer(), header.GetBufferLength());
    m_CmdBuffer.AddStringA("3,");
    m_CmdBuffer.AddInt(static_cast<int>(packedLen));
    m_CmdBuffer.AddStringA(",");
    m_CmdBuffer.AddBuffer(packed.get(), static_cast<int>(packedLen));
    return true;
}

void CPrinterTSPL::cmdBITMAP(CxImage &image, int x, int y, int widthBytes, int height, const void *bits, int length)
{
    NS_QV_CLASS::CMyBuffer header;
    header.AddStringA("BITMAP ");
    header.AddInt(x);
    header.AddStringA(",");
    header.AddInt(y);
    header.AddStringA(",");
    header.AddInt(widthBytes);
    header.AddStringA(",");
    header.AddInt(height);
    header.AddStringA(",");

    if (length < 0)
        length = 0;
    bool sent = false;
    if (m_Reg.bImageCompress) {
        Negative(image);
        sent = AddCompressedBitmap(header, bits, length);
        if (!sent)
            Negative(image); // the plain form wants the bits as prepared
    }
    if (!sent) {
        m_CmdBuffer.AddBuffer(header.GetBuffer(), header.GetBufferLength());
        m_CmdBuffer.AddStringA("1,");
        m_CmdBuffer.AddBuffer(bits, length);
    }
    EndLine();
}

void CPrinterTSPL::SendPlane(CxImage &plane)
{
    cmdBITMAP(plane, 0, 0, static_cast<int>(plane.GetEffWidth()), static_cast<int>(plane.GetHeight()), plane.GetBits(0),
              static_cast<int>(StorageBytes(plane)));
}

void CPrinterTSPL::cmdPRINT(int sets, int copies)
{
    m_CmdBuffer.AddStringA(GetModelName() == kSfayModelName ? "SFAYPRINT " : "PRINT ");
    m_CmdBuffer.AddInt(sets);
    m_CmdBuffer.AddStringA(",");
    m_CmdBuffer.AddInt(copies);
    EndLine();
}

void CPrinterTSPL::OnPaintBmp()
{
    AddLog("OnPaintBmp");
    m_CmdBuffer.InitBuffer(0);

    // The label size divides by the resolution; a page without one has no size.
    if (m_iResolution <= 0) {
        Refuse("The page has no valid resolution (%d dpi); it was not printed. "
               "Check the resolution setting of the print queue.",
               m_iResolution);
        return;
    }
    const bool twoColour = m_Reg.bDoubleColor;
    FamilyLimits limits;
    limits.planeBytes = INT_MAX; // a bitmap's length is an int
    PageShape page;
    page.width = m_Image.GetWidth();
    page.rowBytes = m_Image.GetEffWidth();
    page.rows = m_Image.GetHeight();
    page.planeBytes = StorageBytes(m_Image);
    if (twoColour)
        page.planeBytes = std::max(page.planeBytes, StorageBytes(m_ImageRed));
    if (!PageFits(limits, page, m_CmdBuffer.GetMaxBufferSize()))
        return;

    // The horizontal resolution is the head's dot pitch in both directions:
    // every stored row prints as one dot line.
    const double dotsPerMm = m_iResolution / 25.4;
    cmdSIZE(m_Image.GetWidth() / dotsPerMm, m_Image.GetHeight() / dotsPerMm, 1);

    if (m_Reg.iPrinttype == 0)
        cmdSetRibbon(false);
    else if (m_Reg.iPrinttype == 1)
        cmdSetRibbon(true);

    switch (m_Reg.iPostAction) {
    case 1: // tear
        cmdSetPeel(false);
        cmdSetCutter(0, 0);
        cmdSetPartialCutter(0, 0);
        cmdSetTear(true);
        break;
    case 2: // cutter after every label
        cmdSetPeel(false);
        cmdSetCutter(2, 1);
        cmdSetPartialCutter(0, 0);
        cmdSetTear(false);
        break;
    case 3: // peel
        cmdSetPeel(true);
        cmdSetCutter(0, 0);
        cmdSetPartialCutter(0, 0);
        cmdSetTear(false);
        break;
    case 4: // partial cutter after every label
        cmdSetPeel(false);
        cmdSetCutter(0, 0);
        cmdSetPartialCutter(2, 1);
        cmdSetTear(false);
        break;
    default:
        break;
    }

    cmdREFERENCE(m_Reg.fReference[0], m_Reg.fReference[1]);

    // GAP 0,0 puts the printer in continuous mode; media kinds without a
    // sensing command of their own leave the printer's setting alone.
    switch (m_Reg.iMediaType) {
    case kMediaContinuous:
        cmdGAP(0, 0);
        break;
    case kMediaGap:
        cmdGAP(m_Reg.fGap, m_Reg.fGapOffset);
        break;
    case kMediaBLine:
        cmdBLINE(static_cast<int>(m_Reg.fGap), static_cast<int>(m_Reg.fGapOffset));
        break;
    default:
        break;
    }

    cmdOFFSET(m_Reg.iOffset);
    cmdDENSITY(m_Reg.iDensity);
    cmdSPEED(m_Reg.iSpeed);
    if (m_Reg.bSendSetc) { // some firmware drops a job holding any SETC line
        setcAutoDotted(m_Reg.iDottedline);
        setcPauseKey(m_Reg.bPauseKey);
        setcWaterMark(m_Reg.bWaterMark);
    }
    cmdCLS();

    if (twoColour) {
        cmdSetColorRed(m_Reg.iRedParam);
        SendPlane(m_ImageRed);
        cmdSetColorBlack();
    }
    SendPlane(m_Image);
    cmdPRINT(1, 1);

    WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}
