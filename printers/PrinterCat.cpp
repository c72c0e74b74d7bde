#include "PrinterCat.h"

#include "PageRefusal.h"

CPrinterCat::CPrinterCat()
{
    m_CmdBuffer.SetMaxBufferSize(104857600);
}

CPrinterCat::~CPrinterCat() = default;

void CPrinterCat::OnPaintBmp()
{
    AddLog("OnPaintBmp");
    m_CmdBuffer.InitBuffer(0);
    // A copy: GCC 14 cannot tell that the entry outlives the name it was found by.
    const cat::Model model = cat::ModelFor(GetModelName());
    AddLog("cat model %s", model.name);
    // Stored rows are sent, padding included: at most the head's 48 bytes.
    FamilyLimits limits;
    limits.rowBytes = cat::kRowBytes;
    PageShape page;
    page.width = m_Image.GetWidth();
    page.rowBytes = m_Image.GetEffWidth();
    page.rows = m_Image.GetHeight();
    if (!PageFits(limits, page, m_CmdBuffer.GetMaxBufferSize()))
        return;
    const int tail = cat::TailRows(m_Reg, m_iResolution);
    if (model.variant == cat::Variant::Mxw01 && static_cast<int64_t>(page.rows) > cat::MxMaxRows(tail)) {
        Refuse("This page is %llu rows long; the printer takes at most %lld rows a page. The page was not "
               "printed. Choose a shorter paper size.",
               static_cast<unsigned long long>(page.rows), static_cast<long long>(cat::MxMaxRows(tail)));
        return;
    }
    cat::EncodePage(m_Image, m_Reg, m_iResolution, model, m_CmdBuffer);
    WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}
