// When to ask a printer how it is, and what to do with the answer: the part
// of status checking that the CUPS filter and the Printer Application share.
//
// Before each page the front end calls WaitUntilReady. It asks (unless the
// printer has lately not answered), and while the printer says a page would
// be lost (out of paper, cover open, ...) it shows the reasons, asks again
// every poll interval and sends nothing; once the fault is cleared it takes
// the reasons back and printing goes on. A printer that does not answer in
// time, or answers with bytes that are no reply, is "unknown": printing goes
// on at once and no question is asked again until the back-off has passed,
// so a printer that ignores queries costs one timeout, not one per page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "PrinterStatus.h"

namespace qf::status {

struct WatchConfig {
    int replyTimeoutMs = 1000; // for a whole reply
    int pollMs = 1000;         // between questions while a fault lasts
    int backoffMs = 60000;     // no questions after an unanswered one ...
    int maxBackoffMs = 600000; // ... doubling up to this
};

// The printer connection as the watch sees it.
class StatusLink {
public:
    virtual ~StatusLink() = default;
    // Sends the query; false when the printer has gone.
    virtual bool Send(const std::vector<uint8_t> &bytes) = 0;
    // Reads what has arrived, waiting up to timeoutMs for the first byte:
    // > 0 bytes read, 0 nothing in time, < 0 the connection is gone.
    virtual long Receive(uint8_t *buffer, size_t size, int timeoutMs) = 0;
};

// The decisions, without I/O: whether to ask, and what an answer means.
class StatusGate {
public:
    StatusGate(int modelNumber, const WatchConfig &config, bool enabled = true);

    // Whether questions can be asked at all (a family with a query, and on).
    bool Active() const { return m_Active; }
    bool ShouldAsk(int64_t nowMs) const;
    const WatchConfig &Config() const { return m_Config; }

    enum class Verdict { Go, Wait };
    // The answer of one round (status.known false: no answer); sets the
    // reasons to show and, for no answer, the back-off.
    Verdict OnAnswer(const PrinterStatus &status, int64_t nowMs);

    const PrinterStatus &Last() const { return m_Last; }
    // The reasons the printer's last answer stands for (what should show).
    const std::vector<std::string> &Reasons() const { return m_Reasons; }
    // Times in a row the printer has not answered.
    int Silences() const { return m_Silences; }
    int64_t QuietUntil() const { return m_QuietUntil; }
    // The reasons are no longer shown (end of job).
    void ForgetReasons() { m_Reasons.clear(); }

private:
    bool m_Active;
    WatchConfig m_Config;
    PrinterStatus m_Last;
    std::vector<std::string> m_Reasons;
    int m_Silences = 0;
    int64_t m_QuietUntil = 0;
};

// What the front end gives the waiting loop.
struct WatchHooks {
    std::function<int64_t()> nowMs;      // a monotonic clock
    std::function<void(int ms)> sleepMs; //
    std::function<bool()> canceled;      // the job was cancelled
    // The reasons to show from now on (add: newly shown, remove: taken back),
    // and the status they come from.
    std::function<void(const std::vector<std::string> &add, const std::vector<std::string> &remove,
                       const PrinterStatus &status)>
        report;
};

// One question: drops stale bytes, sends the query and reads the reply.
// `linkLost` is set when the connection has gone.
PrinterStatus AskStatus(int modelNumber, StatusLink &link, int timeoutMs, const std::function<int64_t()> &nowMs,
                        bool &linkLost);

enum class WaitOutcome {
    Go,       // the page may be sent
    Canceled, // the job was cancelled while waiting
    LinkLost, // the printer connection has gone
};

// Before a page: asks and waits, as described at the top.
WaitOutcome WaitUntilReady(int modelNumber, StatusGate &gate, StatusLink &link, const WatchHooks &hooks);

// Takes back every reason still shown (end of job).
void ClearReasons(StatusGate &gate, const WatchHooks &hooks);

} // namespace qf::status
