#include "LeJob.h"

#include "CatEncoder.h"
#include "Clock.h"

namespace bt {

Flow CatFlow(const uint8_t *data, size_t size)
{
    const cat::Notice n = cat::ParseCatNotification(data, size);
    if (n.ok && n.kind == cat::NoticeKind::Pause)
        return Flow::Pause;
    if (n.ok && n.kind == cat::NoticeKind::Resume)
        return Flow::Resume;
    return Flow::Other;
}

bool AwaitPrinted(BleLink &link, const BleSink &sink, int timeoutMs, std::string &error)
{
    if (!sink.Splitter().SawAltPreamble())
        return true;
    const long long deadline = NowMs() + timeoutMs;
    uint8_t buffer[512];
    for (;;) {
        const long long left = deadline - NowMs();
        if (left <= 0) {
            error = "The printer did not say it had printed within " + std::to_string(timeoutMs / 1000) + " s.";
            return false;
        }
        const ssize_t n = link.Read(buffer, sizeof buffer, static_cast<int>(left));
        if (n < 0) {
            error = "The link to the printer dropped before it said it had printed.";
            return false;
        }
        const cat::Notice notice = cat::ParseCatNotification(buffer, static_cast<size_t>(n));
        if (n > 0 && notice.ok && notice.kind == cat::NoticeKind::Done)
            return true;
    }
}

} // namespace bt
