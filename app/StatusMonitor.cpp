#include "StatusMonitor.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DriverTable.h"
#include "StatusWatch.h"

using namespace qf::status;

namespace {

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

WatchConfig AppConfig()
{
    WatchConfig c;
    c.replyTimeoutMs = 1000;
    c.pollMs = 1000;
    c.backoffMs = 60000;
    c.maxBackoffMs = 600000;
    return c;
}

// Flushes PAPPL's write buffer; false when the bytes in it did not go out
// (PAPPL's flush says nothing, its metrics do: a write that failed counts
// as a request that wrote no bytes).
bool FlushChecked(pappl_device_t *device)
{
    pappl_devmetrics_t before{}, after{};
    papplDeviceGetMetrics(device, &before);
    papplDeviceFlush(device);
    papplDeviceGetMetrics(device, &after);
    return after.write_requests == before.write_requests || after.write_bytes > before.write_bytes;
}

bool WriteFlushed(pappl_device_t *device, const void *bytes, size_t size)
{
    return papplDeviceWrite(device, bytes, size) == static_cast<ssize_t>(size) && FlushChecked(device);
}

// The connection to the printer for status questions. PAPPL's device read
// waits up to ten seconds for data; a second is all a question may cost, so
// the read runs on its own thread and is left to finish when the answer is
// late. One thread at a time uses the device: the reader holds DeviceLock
// for its read (which flushes PAPPL's write buffer), the job's thread for
// every write (WriteLocked); Finish waits for the reader before the device
// is closed.
class DeviceLink : public StatusLink {
public:
    explicit DeviceLink(pappl_device_t *device) : m_Device(device) {}
    ~DeviceLink() override { Finish(); }

    bool Send(const std::vector<uint8_t> &bytes) override
    {
        if (!WriteLocked(bytes.data(), bytes.size()))
            return false;
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Wanted = true;
        return true;
    }

    bool WriteLocked(const void *bytes, size_t size)
    {
        std::lock_guard<std::mutex> device(m_DeviceLock);
        return WriteFlushed(m_Device, bytes, size);
    }

    long Receive(uint8_t *buffer, size_t size, int timeoutMs) override
    {
        std::unique_lock<std::mutex> guard(m_Lock);
        // A look for stale bytes (no time to wait) never starts a read: the
        // query written next must not meet a read that is just starting.
        if (m_Bytes.empty() && m_Wanted && !m_Reading && timeoutMs > 0) {
            if (m_Reader.joinable()) {
                guard.unlock();
                m_Reader.join();
                guard.lock();
            }
            m_Reading = true;
            m_Reader = std::thread([this] { ReadOnce(); });
        }
        m_Arrived.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return !m_Bytes.empty(); });
        const size_t n = std::min(size, m_Bytes.size());
        std::copy(m_Bytes.begin(), m_Bytes.begin() + static_cast<long>(n), buffer);
        m_Bytes.erase(m_Bytes.begin(), m_Bytes.begin() + static_cast<long>(n));
        if (n == 0 && timeoutMs > 0)
            m_Wanted = false; // late: what still comes is stale
        return static_cast<long>(n);
    }

    void Finish()
    {
        if (m_Reader.joinable())
            m_Reader.join();
    }

private:
    // One read at a time: the rest of a reply in pieces is read by the next
    // Receive.
    void ReadOnce()
    {
        uint8_t buffer[64];
        ssize_t n;
        {
            std::lock_guard<std::mutex> device(m_DeviceLock);
            n = papplDeviceRead(m_Device, buffer, sizeof buffer);
        }
        std::lock_guard<std::mutex> guard(m_Lock);
        if (n > 0) {
            m_Bytes.insert(m_Bytes.end(), buffer, buffer + n);
            m_Arrived.notify_all();
        }
        m_Reading = false;
    }

    pappl_device_t *m_Device;
    std::mutex m_DeviceLock; // the device: the reader's read, the job's writes
    std::mutex m_Lock;       // what the reader hands over
    std::condition_variable m_Arrived;
    std::vector<uint8_t> m_Bytes;
    std::thread m_Reader;
    bool m_Reading = false;
    bool m_Wanted = false;
};

struct PrinterWatch {
    std::mutex lock; // one question at a time per printer
    std::unique_ptr<StatusGate> gate;
    int model = 0;
    int64_t idleAskedAt = -1000000; // the status callback asks at most every few seconds
};

std::mutex g_Lock;
int64_t g_IdleIntervalMs = 5000;
// Shared: a printer deleted while someone asks it keeps its watch until
// the question ends.
std::map<int, std::shared_ptr<PrinterWatch>> g_Printers;
std::map<pappl_job_t *, std::unique_ptr<DeviceLink>> g_Links;

std::shared_ptr<PrinterWatch> WatchOf(pappl_printer_t *printer, int model)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    std::shared_ptr<PrinterWatch> &w = g_Printers[papplPrinterGetID(printer)];
    if (!w || w->model != model) {
        w = std::make_shared<PrinterWatch>();
        w->model = model;
        w->gate = std::make_unique<StatusGate>(model, AppConfig());
    }
    return w;
}

// Connections that pass the printer's answers back. The MXW01 answers
// only its own status request, whose reply no fact at hand describes: it is
// not asked.
bool Answers(pappl_printer_t *printer)
{
    const char *uri = papplPrinterGetDeviceURI(printer);
    const char *driver = papplPrinterGetDriverName(printer);
    if (driver && strcmp(driver, "cat-mxw01") == 0)
        return false;
    for (const char *scheme : {"socket:", "usb:", "serial:", "dnssd:", "snmp:", "quillble:"})
        if (uri && strncmp(uri, scheme, strlen(scheme)) == 0)
            return true;
    return false;
}

// Whether an idle printer's connection opens at once. A Bluetooth LE printer
// takes seconds to connect (tens when it is off and BlueZ scans for it),
// which someone looking at its attributes would wait for: it is asked before
// its pages only.
bool QuickToOpen(pappl_printer_t *printer)
{
    const char *uri = papplPrinterGetDeviceURI(printer);
    return !(uri && strncmp(uri, "quillble:", 9) == 0);
}

// The printer setting status-query (1 unless set to 0).
bool WantedBySetting(pappl_printer_t *printer)
{
    ipp_t *attrs = papplPrinterGetDriverAttributes(printer);
    bool on = true;
    if (ipp_attribute_t *a = attrs ? ippFindAttribute(attrs, "status-query-default", IPP_TAG_ZERO) : nullptr) {
        on = ippGetValueTag(a) == IPP_TAG_INTEGER
                 ? ippGetInteger(a, 0) != 0
                 : strcmp(ippGetString(a, 0, nullptr) ? ippGetString(a, 0, nullptr) : "", "0") != 0;
    } else {
        on = false; // a driver without the setting has no status query
    }
    ippDelete(attrs);
    return on;
}

struct ReasonBit {
    const char *keyword;
    pappl_preason_t bit;
};
const ReasonBit kReasonBits[] = {
    {"media-empty", PAPPL_PREASON_MEDIA_EMPTY}, {"media-needed", PAPPL_PREASON_MEDIA_NEEDED},
    {"media-low", PAPPL_PREASON_MEDIA_LOW},     {"cover-open", PAPPL_PREASON_COVER_OPEN},
    {"media-jam", PAPPL_PREASON_MEDIA_JAM},     {"marker-supply-empty", PAPPL_PREASON_MARKER_SUPPLY_EMPTY},
    {"offline", PAPPL_PREASON_OFFLINE},         {"other", PAPPL_PREASON_OTHER},
};

pappl_preason_t Bits(const std::vector<std::string> &words)
{
    pappl_preason_t bits = PAPPL_PREASON_NONE;
    for (const std::string &w : words)
        for (const ReasonBit &r : kReasonBits)
            if (w == r.keyword)
                bits |= r.bit;
    return bits;
}

WatchHooks AppHooks(pappl_printer_t *printer, pappl_job_t *job)
{
    WatchHooks h;
    h.nowMs = NowMs;
    h.sleepMs = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    h.canceled = [job] { return job && papplJobIsCanceled(job); };
    h.report = [printer, job](const std::vector<std::string> &add, const std::vector<std::string> &remove,
                              const PrinterStatus &status) {
        papplPrinterSetReasons(printer, Bits(add), Bits(remove));
        if (status.batteryLow && job)
            papplLogJob(job, PAPPL_LOGLEVEL_WARN, "The printer's battery is low.");
        if (!job)
            return;
        if (status.MustWait()) {
            papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Waiting for the printer: %s.", Describe(status).c_str());
            papplJobSetMessage(job, "Waiting for the printer: %s.", Describe(status).c_str());
            papplJobSetReasons(job, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
        } else {
            papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The printer is ready (%s).", Describe(status).c_str());
            papplJobSetMessage(job, "Printing.");
            papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
        }
    };
    return h;
}

DeviceLink &LinkOf(pappl_job_t *job, pappl_device_t *device)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    std::unique_ptr<DeviceLink> &link = g_Links[job];
    if (!link)
        link = std::make_unique<DeviceLink>(device);
    return *link;
}

} // namespace

bool StatusBeforePage(pappl_job_t *job, pappl_device_t *device, int modelNumber)
{
    pappl_printer_t *printer = papplJobGetPrinter(job);
    if (!Answers(printer) || !WantedBySetting(printer))
        return true;
    const std::shared_ptr<PrinterWatch> held = WatchOf(printer, modelNumber);
    PrinterWatch &watch = *held;
    std::lock_guard<std::mutex> guard(watch.lock);
    if (!watch.gate->ShouldAsk(NowMs()))
        return true;
    const int silences = watch.gate->Silences();
    const WaitOutcome outcome = WaitUntilReady(modelNumber, *watch.gate, LinkOf(job, device), AppHooks(printer, job));
    if (watch.gate->Silences() > silences)
        papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                    "The printer did not answer the status query: status unknown, printing goes on.");
    switch (outcome) {
    case WaitOutcome::Go:
        return true;
    case WaitOutcome::Canceled:
        papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
        return false;
    case WaitOutcome::LinkLost:
        papplJobSetMessage(job, "The printer connection was lost.");
        return false;
    }
    return true;
}

std::vector<uint8_t> AskPrinter(pappl_job_t *job, pappl_device_t *device, const std::vector<uint8_t> &request,
                                int timeoutMs, const std::function<bool(const std::vector<uint8_t> &)> &whole)
{
    std::vector<uint8_t> answer;
    if (!Answers(papplJobGetPrinter(job)))
        return answer;
    DeviceLink &link = LinkOf(job, device);
    uint8_t buffer[512];
    while (link.Receive(buffer, sizeof buffer, 0) > 0) {
        // stale bytes of an earlier question
    }
    if (!link.Send(request))
        return answer;
    const int64_t deadline = NowMs() + timeoutMs;
    while (!whole(answer)) {
        const int64_t left = deadline - NowMs();
        if (left <= 0)
            break;
        const long n = link.Receive(buffer, sizeof buffer, static_cast<int>(left));
        if (n > 0)
            answer.insert(answer.end(), buffer, buffer + n);
    }
    return answer;
}

void StatusEndJob(pappl_job_t *job)
{
    std::unique_ptr<DeviceLink> link;
    {
        std::lock_guard<std::mutex> guard(g_Lock);
        auto it = g_Links.find(job);
        if (it == g_Links.end())
            return;
        link = std::move(it->second);
        g_Links.erase(it);
    }
    link->Finish();
}

bool WriteToPrinter(pappl_job_t *job, pappl_device_t *device, const void *bytes, size_t size)
{
    DeviceLink *link = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_Lock);
        auto it = g_Links.find(job);
        if (it != g_Links.end())
            link = it->second.get();
    }
    // The link, when there is one, lives until StatusEndJob on this thread.
    return link ? link->WriteLocked(bytes, size) : WriteFlushed(device, bytes, size);
}

void SetIdleStatusInterval(int seconds)
{
    g_IdleIntervalMs = seconds > 0 ? static_cast<int64_t>(seconds) * 1000 : 0;
}

void ForgetPrinter(int printerId)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    g_Printers.erase(printerId);
}

bool StatusCallback(pappl_printer_t *printer)
{
    const PpdModel *model = FindModel(papplPrinterGetDriverName(printer));
    if (!model || !Answers(printer) || !QuickToOpen(printer) || !WantedBySetting(printer))
        return true;
    const std::shared_ptr<PrinterWatch> held = WatchOf(printer, model->modelNumber);
    PrinterWatch &watch = *held;
    std::unique_lock<std::mutex> guard(watch.lock, std::try_to_lock);
    // An idle printer is asked when someone looks at it (its attributes, its
    // page), at most every g_IdleIntervalMs, so that paper out or a cover
    // opened while nothing prints shows, and goes once it is mended. PAPPL
    // calls this only while no job holds the device. A printer that has not
    // answered is not asked: the caller is someone waiting for the
    // printer's attributes.
    // A printer with jobs waiting is asked by its next job: closing the
    // device here would have PAPPL look for a job to start while the job
    // thread may already be starting one (it would start it twice).
    if (!guard.owns_lock() || g_IdleIntervalMs <= 0 || !watch.gate->ShouldAsk(NowMs()) || watch.gate->Silences() > 0 ||
        NowMs() - watch.idleAskedAt < g_IdleIntervalMs || papplPrinterGetNumberOfActiveJobs(printer) > 0)
        return true;
    watch.idleAskedAt = NowMs();
    pappl_device_t *device = papplPrinterOpenDevice(printer);
    if (!device) {
        // Unreachable: the next look waits a minute, not a few seconds.
        watch.idleAskedAt = NowMs() + 60000 - g_IdleIntervalMs;
        return true;
    }
    {
        DeviceLink link(device);
        bool lost = false;
        const PrinterStatus status =
            AskStatus(model->modelNumber, link, watch.gate->Config().replyTimeoutMs, NowMs, lost);
        const std::vector<std::string> before = watch.gate->Reasons();
        watch.gate->OnAnswer(status, NowMs());
        const std::vector<std::string> &after = watch.gate->Reasons();
        std::vector<std::string> add, remove;
        for (const std::string &w : after)
            if (std::find(before.begin(), before.end(), w) == before.end())
                add.push_back(w);
        for (const std::string &w : before)
            if (std::find(after.begin(), after.end(), w) == after.end())
                remove.push_back(w);
        papplPrinterSetReasons(printer, Bits(add), Bits(remove));
        link.Finish();
    }
    papplPrinterCloseDevice(printer);
    return true;
}
