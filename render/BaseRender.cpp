#include "BaseRender.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <syslog.h>
#include <unistd.h>

#include "CupsMessages.h"

CStdRefPtr<CBaseRender> g_pRender;

CBaseRender::CBaseRender() = default;

CBaseRender::~CBaseRender() = default;

void CBaseRender::WriteSpool(const void *data, int len)
{
    if (len <= 0 || !data || m_bSpoolFailed)
        return;
    // Loop until every byte is out: a pipe to the backend may take a page in
    // several pieces, and a signal may interrupt the write.
    const char *p = static_cast<const char *>(data);
    while (len > 0) {
        ssize_t n = write(1, p, static_cast<size_t>(len));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            _cupsLangPrintError("ERROR", "Unable to send print data to the printer");
            m_bSpoolFailed = true;
            break;
        }
        p += n;
        len -= static_cast<int>(n);
    }
    fflush(stdout);
}

void CBaseRender::WritePage(NS_QV_CLASS::CMyBuffer &buffer)
{
    if (buffer.IsOverflowed()) {
        _cupsLangPrintFilter(stderr, "ERROR",
                             "The printer data of this page exceeds %d bytes; "
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
    vsyslog(LOG_DEBUG, format, args);
    va_end(args);
}
