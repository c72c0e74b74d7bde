#include "PrinterPhomemo.h"

#include "PageRefusal.h"

CPrinterPhomemo::CPrinterPhomemo()
{
    m_CmdBuffer.SetMaxBufferSize(104857600);
}

CPrinterPhomemo::~CPrinterPhomemo() = default;

void CPrinterPhomemo::OnPaintBmp()
{
    AddLog("OnPaintBmp");
    m_CmdBuffer.InitBuffer(0);
    const phomemo::Model model = phomemo::ModelFor(GetModelName());
    AddLog("phomemo model %s", model.name);
    // The page's dots are sent centred in rows as wide as the head.
    FamilyLimits limits;
    limits.rowBytes = static_cast<uint64_t>(model.dots / 8);
    PageShape page;
    page.width = m_Image.GetWidth();
    page.rowBytes = (page.width + 7) / 8;
    page.rows = m_Image.GetHeight();
    if (!PageFits(limits, page, m_CmdBuffer.GetMaxBufferSize()))
        return;
    phomemo::EncodePage(m_Image, m_Reg, model, m_CmdBuffer);
    WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}
