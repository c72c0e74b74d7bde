#include "PagePath.h"

#include <syslog.h>

#include <cstdarg>
#include <utility>

#include "BaseRender.h"
#include "PrinterFactory.h"
#include "TextFormat.h"

bool MakePageImage(const RasterImage &page, CxImage &image)
{
    // The image engine copies the rows; it takes them as writable but leaves
    // them alone.
    auto *rows = static_cast<uint8_t *>(const_cast<void *>(page.data));
    if (!image.CreateFromArray(rows, page.width, page.height, page.bitsPerPixel, page.bytesPerLine, false))
        return false;
    if (page.bitsPerPixel < 24)
        return true;
    // A fourth byte is no transparency: every page is printed opaque, so the
    // same picture prints the same however it is shifted or dithered.
    image.AlphaDelete();
    for (uint32_t y = 0; y < image.GetHeight(); ++y) {
        uint8_t *pixel = image.GetBits(y);
        for (uint32_t x = 0; x < image.GetWidth(); ++x, pixel += 3)
            std::swap(pixel[0], pixel[2]);
    }
    return true;
}

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

void PagePath::SetNotes(PageNotes notes)
{
    m_notes = std::move(notes);
    if (!m_render)
        return;
    if (!m_notes) {
        m_render->m_OnTrace = nullptr;
        return;
    }
    m_render->m_OnTrace = [this](const std::string &line) { m_notes(NoteKind::Trace, line); };
}

void PagePath::Trace(NoteKind kind, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    if (m_notes)
        m_notes(kind, FormatTextV(format, args));
    else
        vsyslog(kind == NoteKind::Error ? LOG_ERR : LOG_DEBUG, format, args);
    va_end(args);
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

    if (!MakePageImage(page, render.m_Image)) {
        Trace(NoteKind::Error, "create image error\n");
        render.OnEndPage();
        return outcome;
    }
    Trace(NoteKind::Trace, "create image width=%d, height=%d, bitsPerPixel=%d, bytesPerLine=%d",
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
