#include "StatusCheck.h"

#include <cups/backend.h>
#include <cups/cups.h>
#include <cups/sidechannel.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "BaseRender.h"
#include "CupsInstance.h"
#include "CupsMessages.h"
#include "StatusWatch.h"

using namespace qf::status;

namespace {

constexpr int kBackChannel = 3;
constexpr int kSideChannel = 4;
constexpr int kConnectWaitMs = 20000;

bool BackendAnswers()
{
    const char *uri = getenv("DEVICE_URI");
    if (!uri)
        return false;
    const std::string s = uri;
    if (s.rfind("socket:", 0) != 0 && s.rfind("usb:", 0) != 0)
        return false;
    return fcntl(kBackChannel, F_GETFD) >= 0;
}

bool WantedByPpd(ppd_file_t *ppd)
{
    ppd_choice_t *choice = ppd ? ppdFindMarkedChoice(ppd, "qfStatusQuery") : nullptr;
    return choice && strcmp(choice->choice, "1") == 0;
}

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Queries out through standard output, answers in through the back channel.
class BackChannelLink : public StatusLink {
public:
    bool Send(const std::vector<uint8_t> &bytes) override
    {
        if (!WriteToStandardOutput(bytes.data(), bytes.size()))
            return false;
        WaitConnected();
        return true;
    }
    long Receive(uint8_t *buffer, size_t size, int timeoutMs) override
    {
        if (m_Ended) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            return 0;
        }
        // cupsBackChannelRead's own wait goes on to a blocking read when
        // nothing came in time, so the wait is done here.
        pollfd p{kBackChannel, POLLIN, 0};
        const int ready = poll(&p, 1, timeoutMs);
        if (ready <= 0)
            return 0;
        const ssize_t n = cupsBackChannelRead(reinterpret_cast<char *>(buffer), size, 0.0);
        if (n > 0)
            return static_cast<long>(n);
        if (n == 0)
            m_Ended = true; // the backend closed it: no answers will come
        return 0;
    }

private:
    // The backend connects to the printer only once data has come, after its
    // own start-up (the socket backend asks SNMP first, seconds without an
    // answer): the reply's time starts when the query can reach the printer.
    // Asked once a job over the side channel; a backend without one is taken
    // as connected.
    static void WaitConnected()
    {
        // CUPS's side channel is a socket on descriptor 4.
        struct stat st;
        static bool connected = fstat(kSideChannel, &st) != 0 || !S_ISSOCK(st.st_mode);
        const int64_t deadline = NowMs() + kConnectWaitMs;
        while (!connected && NowMs() < deadline) {
            char data[8] = "";
            int length = sizeof data;
            const cups_sc_status_t st = cupsSideChannelDoRequest(CUPS_SC_CMD_GET_CONNECTED, data, &length, 1.0);
            if (st == CUPS_SC_STATUS_OK && length > 0 && data[0])
                connected = true;
            else if (st == CUPS_SC_STATUS_OK || st == CUPS_SC_STATUS_TIMEOUT)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            else
                connected = true; // no side channel: nothing to wait for
        }
        connected = true;
    }

    bool m_Ended = false;
};

std::string Join(const std::vector<std::string> &words)
{
    std::string s;
    for (const std::string &w : words)
        s += (s.empty() ? "" : ",") + w;
    return s;
}

WatchHooks FilterHooks()
{
    WatchHooks h;
    h.nowMs = NowMs;
    h.sleepMs = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    h.canceled = [] { return Canceled != 0; };
    h.report = [](const std::vector<std::string> &add, const std::vector<std::string> &remove,
                  const PrinterStatus &status) {
        if (!remove.empty())
            fprintf(stderr, "STATE: -%s\n", Join(remove).c_str());
        if (!add.empty())
            fprintf(stderr, "STATE: +%s\n", Join(add).c_str());
        if (status.MustWait())
            _cupsLangPrintFilter(stderr, "INFO", "Waiting for the printer: %s.", Describe(status).c_str());
        else if (!remove.empty())
            _cupsLangPrintFilter(stderr, "INFO", "The printer is ready again.");
    };
    return h;
}

} // namespace

FilterStatus::FilterStatus(int modelNumber, ppd_file_t *ppd) : m_Model(modelNumber)
{
    WatchConfig config;
    config.replyTimeoutMs = 1000;
    config.pollMs = 1000;
    // One process per job: a printer that does not answer is not asked again
    // in this job.
    config.backoffMs = INT_MAX;
    config.maxBackoffMs = INT_MAX;
    const bool on = WantedByPpd(ppd) && BackendAnswers();
    m_Gate = std::make_unique<StatusGate>(modelNumber, config, on);
    if (m_Gate->Active())
        syslog(LOG_DEBUG, "status queries between pages: on");
}

FilterStatus::~FilterStatus() = default;

bool FilterStatus::Active() const
{
    return m_Gate->Active();
}

bool FilterStatus::BeforePage()
{
    if (!m_Gate->Active())
        return true;
    BackChannelLink link;
    const int silencesBefore = m_Gate->Silences();
    const WaitOutcome outcome = WaitUntilReady(m_Model, *m_Gate, link, FilterHooks());
    if (m_Gate->Silences() > silencesBefore)
        fprintf(stderr, "DEBUG: the printer did not answer the status query; printing on without asking.\n");
    // A printer that has gone shows up as the page's failed write.
    return outcome != WaitOutcome::Canceled;
}

void FilterStatus::EndJob()
{
    ClearReasons(*m_Gate, FilterHooks());
}
