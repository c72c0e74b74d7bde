#include "BaseRender.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <syslog.h>
#include <unistd.h>

#include "CupsMessages.h"
#include "PagePrep.h"
#include "PageRefusal.h"
#include "TextFormat.h"

CBaseRender::CBaseRender() = default;

CBaseRender::~CBaseRender() = default;

bool WriteToStandardOutput(const void *data, size_t len)
{
    // Loop until every byte is out: a pipe to the backend may take a page in
    // several pieces, and a signal may interrupt the write.
    const char *p = static_cast<const char *>(data);
    bool ok = true;
    while (len > 0) {
        ssize_t n = write(1, p, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            _cupsLangPrintError("ERROR", "Unable to send print data to the printer");
            ok = false;
            break;
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    fflush(stdout);
    return ok;
}

void CBaseRender::WriteSpool(const void *data, int len)
{
    if (len <= 0 || !data || m_bSpoolFailed)
        return;
    const size_t n = static_cast<size_t>(len);
    if (!(m_Sink ? m_Sink(data, n) : WriteToStandardOutput(data, n)))
        m_bSpoolFailed = true;
}

void CBaseRender::Refuse(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string reason = FormatTextV(format, args);
    va_end(args);
    m_bPageRefused = true;
    if (m_OnRefusal)
        m_OnRefusal(reason);
    else
        _cupsLangPrintFilter(stderr, "ERROR", "%s", reason.c_str());
}

bool CBaseRender::PageFits(const FamilyLimits &limits, const PageShape &page, int bufferLimit)
{
    const std::string reason = PageRefusal(limits, page, m_Reg.iHeadWidth, bufferLimit);
    if (reason.empty())
        return true;
    Refuse("%s", reason.c_str());
    return false;
}

void CBaseRender::WritePage(NS_QV_CLASS::CMyBuffer &buffer)
{
    if (buffer.IsOverflowed()) {
        Refuse("The printer data of this page exceeds %d bytes; "
               "the page was not printed. Print it at a lower "
               "resolution or a smaller size.",
               buffer.GetMaxBufferSize());
        return;
    }
    WriteSpool(buffer.GetBuffer(), buffer.GetBufferLength());
}

void CBaseRender::AddLog(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    if (m_OnTrace)
        m_OnTrace(FormatTextV(format, args));
    else
        vsyslog(LOG_DEBUG, format, args);
    va_end(args);
}

void CBaseRender::OnBeginBmp()
{
    m_bPageRefused = false;
    // The renderer's one-time set-up comes after the colour split and before
    // the planes are prepared.
    std::string why = m_Reg.bDoubleColor ? SplitColourPlanes(m_Image, m_ImageRed, m_Reg) : std::string();
    if (!m_bInited) {
        OnInit();
        m_bInited = true;
    }
    if (why.empty())
        why = PrepareSplitPage(m_Image, m_ImageRed, m_Reg, m_iResolution);
    if (!why.empty())
        Refuse("%s", why.c_str());
}

void CBaseRender::AdjustImage(CxImage &image)
{
    if (std::string why = PrepareImage(image, m_Reg, m_iResolution); !why.empty())
        Refuse("%s", why.c_str());
}

void CBaseRender::CropWhiteEdge(CxImage &image, int top, int bottom, int left, int right)
{
    ::CropWhiteEdge(image, {top, bottom, left, right});
}

void CBaseRender::Negative(CxImage &image)
{
    ::Negative(image);
}

void CBaseRender::AdjustEffWidthBits(CxImage &image)
{
    ::AdjustEffWidthBits(image);
}
