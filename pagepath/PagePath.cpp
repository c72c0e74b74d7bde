#include "PagePath.h"

#include <syslog.h>

#include "BaseRender.h"
#include "PrinterFactory.h"

PagePath::PagePath(int modelNumber, const tagREGSTRUCT &settings, const std::string &modelName, Sink sink)
    : PagePath(
          modelNumber, [&settings](tagREGSTRUCT &reg) { reg = settings; }, modelName, std::move(sink))
{
}

PagePath::PagePath(int modelNumber, const std::function<void(tagREGSTRUCT &)> &readSettings,
                   const std::string &modelName, Sink sink)
{
    m_render = MakeRefPtr<CBaseRender>(CreateRenderer(modelNumber));
    if (!m_render)
        return;
    readSettings(m_render->m_Reg);
    m_render->SetModelName(modelName.c_str());
    Attach(std::move(sink));
}

PagePath::PagePath(CBaseRender *render, Sink sink)
{
    m_render = MakeRefPtr<CBaseRender>(render);
    Attach(std::move(sink));
}

PagePath::~PagePath() = default;

void PagePath::Attach(Sink sink)
{
    if (!m_render)
        return;
    m_render->m_Sink = std::move(sink);
    m_render->m_OnRefusal = [this](const std::string &reason) {
        if (m_refusal.empty())
            m_refusal = reason;
    };
}

bool PagePath::Known() const
{
    return m_render != nullptr;
}

const tagREGSTRUCT &PagePath::Settings() const
{
    static const tagREGSTRUCT kNone;
    return m_render ? m_render->m_Reg : kNone;
}

void PagePath::StartJob()
{
    if (m_render)
        m_render->OnStartDoc(0);
}

PageOutcome PagePath::PrintPage(const RasterImage &page, int)
{
    PageOutcome outcome;
    if (!m_render)
        return outcome;
    CBaseRender &render = *m_render;
    m_refusal.clear();
    render.m_iResolution = page.xDpi;

    // The image engine copies the rows; it takes them as writable but leaves
    // them alone.
    auto *rows = static_cast<uint8_t *>(const_cast<void *>(page.data));
    if (!render.m_Image.CreateFromArray(rows, page.width, page.height, page.bitsPerPixel, page.bytesPerLine, false)) {
        syslog(LOG_ERR, "create image error\n");
        render.OnEndPage();
        return outcome;
    }
    syslog(LOG_DEBUG, "create image width=%d, height=%d, bitsPerPixel=%d, bytesPerLine=%d",
           static_cast<int>(page.width), static_cast<int>(page.height), static_cast<int>(page.bitsPerPixel),
           static_cast<int>(page.bytesPerLine));
    render.m_Image.SetXDPI(page.xDpi);
    render.m_Image.SetYDPI(page.yDpi);

    render.OnStartPage();
    render.OnBeginBmp();
    if (!render.PageRefused())
        render.OnPaintBmp();
    render.OnEndBmp();
    render.OnEndPage();
    outcome.reason = m_refusal;
    outcome.printed = m_refusal.empty();
    return outcome;
}

void PagePath::EndJob()
{
    if (m_render)
        m_render->OnEndDoc();
}

bool PagePath::OutputFailed() const
{
    return m_render && m_render->SpoolFailed();
}
