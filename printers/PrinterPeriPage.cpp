#include "PrinterPeriPage.h"

CPrinterPeriPage::CPrinterPeriPage()
{
    AddLog("new CPrinterPeriPage()");
}

CPrinterPeriPage::~CPrinterPeriPage() = default;

void CPrinterPeriPage::OnInit() {}

void CPrinterPeriPage::OnDestroy() {}

void CPrinterPeriPage::OnPaintBmp()
{
    // Recording paper prints the picture alone, without its blank lines at
    // the top and bottom.
    if (m_Reg.iMediaType == kMediaRecording) {
        CropWhiteEdge(m_Image, -1, -1, 0, 0);
        AdjustEffWidthBits(m_Image);
    }
    const int w = peripage::RowBytes(m_Image, m_Reg, m_iResolution);
    const int h = static_cast<int>(m_Image.GetHeight());
    m_CmdBuffer.InitBuffer(0);
    if (!RasterFits(w, h))
        return;
    peripage::EncodePage(m_Image, m_Reg, m_iResolution, m_CmdBuffer);
    WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}

// Wake-up, paper type (left out for an unknown media type), then ESC @.
void CPrinterPeriPage::cmdInit()
{
    peripage::AddInit(m_CmdBuffer, m_Reg.iMediaType);
}

void CPrinterPeriPage::PrintBMP(int xdpi, int ydpi, int w, int h, const void *data, int len)
{
    if (!m_Reg.bImageCompress)
        CPrinterESCPOS::PrintBMP(xdpi, ydpi, w, h, data, len);
    else
        peripage::AddCompressedRaster(m_CmdBuffer, w, h, static_cast<const unsigned char *>(data), len);
}

void CPrinterPeriPage::cmdEndPrint()
{
    peripage::AddEnd(m_CmdBuffer);
}

void CPrinterPeriPage::cmdDENSITY(int density)
{
    peripage::AddDensity(m_CmdBuffer, density);
}

void CPrinterPeriPage::cmdCutLine()
{
    peripage::AddCutLine(m_CmdBuffer);
}
