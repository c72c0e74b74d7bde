#include "PrinterNiimbot.h"

#include <algorithm>

#include "PageRefusal.h"

CPrinterNiimbot::CPrinterNiimbot()
{
    m_CmdBuffer.SetMaxBufferSize(104857600);
}

CPrinterNiimbot::~CPrinterNiimbot() = default;

void CPrinterNiimbot::OnPaintBmp()
{
    AddLog("OnPaintBmp");
    m_CmdBuffer.InitBuffer(0);
    // A copy: GCC 14 cannot tell that the entry outlives the name it was found by.
    const niimbot::Model model = niimbot::ModelFor(GetModelName());
    AddLog("niimbot model %s", model.name);
    // The page as the head takes it: a wide page on a sideways model is
    // checked turned.
    FamilyLimits limits;
    limits.rowBytes = static_cast<uint64_t>(model.headDots / 8);
    PageShape page;
    page.width = static_cast<uint64_t>(niimbot::SentCols(model, m_Image));
    page.rowBytes = (page.width + 7) / 8;
    page.rows = static_cast<uint64_t>(niimbot::SentRows(model, m_Image));
    const int head = m_Reg.iHeadWidth > 0 ? std::min(m_Reg.iHeadWidth, model.headDots) : model.headDots;
    const int saved = m_Reg.iHeadWidth;
    m_Reg.iHeadWidth = head;
    const bool fits = PageFits(limits, page, m_CmdBuffer.GetMaxBufferSize());
    m_Reg.iHeadWidth = saved;
    if (!fits)
        return;
    if (page.rows > static_cast<uint64_t>(niimbot::kMaxRows)) {
        Refuse("This page is %llu rows long; the printer takes at most %lld rows a page. The page was not "
               "printed. Choose a shorter label size.",
               static_cast<unsigned long long>(page.rows), static_cast<long long>(niimbot::kMaxRows));
        return;
    }
    niimbot::EncodePage(m_Image, m_Reg, model, m_CmdBuffer);
    WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}
