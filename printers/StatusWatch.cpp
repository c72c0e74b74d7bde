#include "StatusWatch.h"

#include <algorithm>

namespace qf::status {

namespace {

std::vector<std::string> Minus(const std::vector<std::string> &a, const std::vector<std::string> &b)
{
    std::vector<std::string> out;
    for (const std::string &s : a)
        if (std::find(b.begin(), b.end(), s) == b.end())
            out.push_back(s);
    return out;
}

} // namespace

StatusGate::StatusGate(int modelNumber, const WatchConfig &config, bool enabled)
    : m_Active(enabled && !QueryFor(modelNumber).bytes.empty()), m_Config(config)
{
}

bool StatusGate::ShouldAsk(int64_t nowMs) const
{
    return m_Active && nowMs >= m_QuietUntil;
}

StatusGate::Verdict StatusGate::OnAnswer(const PrinterStatus &status, int64_t nowMs)
{
    m_Last = status;
    m_Reasons = ReasonKeywords(status);
    if (!status.known) {
        // 1, 2, 4, ... times the back-off, up to its cap.
        int64_t wait = m_Config.backoffMs;
        for (int i = 0; i < m_Silences && wait < m_Config.maxBackoffMs; ++i)
            wait *= 2;
        m_QuietUntil = nowMs + std::min<int64_t>(wait, m_Config.maxBackoffMs);
        ++m_Silences;
        return Verdict::Go;
    }
    m_Silences = 0;
    m_QuietUntil = 0;
    return status.MustWait() ? Verdict::Wait : Verdict::Go;
}

PrinterStatus AskStatus(int modelNumber, StatusLink &link, int timeoutMs, const std::function<int64_t()> &nowMs,
                        bool &linkLost)
{
    linkLost = false;
    PrinterStatus status;
    const StatusQuery query = QueryFor(modelNumber);
    if (query.bytes.empty())
        return status;

    // Bytes left from an earlier, late reply (or sent by the printer on its
    // own) must not be read as this one's.
    uint8_t buffer[256];
    for (int i = 0; i < 64; ++i) {
        const long n = link.Receive(buffer, sizeof buffer, 0);
        if (n < 0) {
            linkLost = true;
            return status;
        }
        if (n == 0)
            break;
    }
    if (!link.Send(query.bytes)) {
        linkLost = true;
        return status;
    }

    std::vector<uint8_t> reply;
    const int64_t deadline = nowMs() + timeoutMs;
    for (;;) {
        const int64_t left = deadline - nowMs();
        if (left <= 0)
            return PrinterStatus();
        const long n = link.Receive(buffer, sizeof buffer, static_cast<int>(left));
        if (n < 0) {
            linkLost = true;
            return PrinterStatus();
        }
        if (n == 0)
            continue;
        reply.insert(reply.end(), buffer, buffer + n);
        // A printer that talks on and on is not answering.
        if (reply.size() > 64)
            return PrinterStatus();
        const ReplyState state = ReadReply(modelNumber, reply.data(), reply.size(), status);
        if (state == ReplyState::Done)
            return status;
        if (state == ReplyState::Junk)
            return PrinterStatus();
    }
}

WaitOutcome WaitUntilReady(int modelNumber, StatusGate &gate, StatusLink &link, const WatchHooks &hooks)
{
    for (;;) {
        if (!gate.ShouldAsk(hooks.nowMs()))
            return WaitOutcome::Go;
        bool lost = false;
        const PrinterStatus status = AskStatus(modelNumber, link, gate.Config().replyTimeoutMs, hooks.nowMs, lost);
        if (lost)
            return WaitOutcome::LinkLost;
        const std::vector<std::string> before = gate.Reasons();
        const StatusGate::Verdict verdict = gate.OnAnswer(status, hooks.nowMs());
        const std::vector<std::string> add = Minus(gate.Reasons(), before), remove = Minus(before, gate.Reasons());
        if ((!add.empty() || !remove.empty()) && hooks.report)
            hooks.report(add, remove, status);
        if (verdict == StatusGate::Verdict::Go)
            return WaitOutcome::Go;
        // Wait in short steps, so that a cancel is seen soon.
        for (int waited = 0; waited < gate.Config().pollMs; waited += 100) {
            if (hooks.canceled && hooks.canceled())
                return WaitOutcome::Canceled;
            hooks.sleepMs(std::min(100, gate.Config().pollMs - waited));
        }
        if (hooks.canceled && hooks.canceled())
            return WaitOutcome::Canceled;
    }
}

void ClearReasons(StatusGate &gate, const WatchHooks &hooks)
{
    if (!gate.Reasons().empty() && hooks.report)
        hooks.report({}, gate.Reasons(), gate.Last());
    gate.ForgetReasons();
}

} // namespace qf::status
