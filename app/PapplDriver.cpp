// Every call into PAPPL for printers and jobs is in this file (the system and
// the serial device have theirs in main.cpp and SerialDevice.cpp).
#include "PapplDriver.h"

#include <cups/pwg.h>

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BluetoothDevice.h"
#include "Devices.h"
#include "DriverTable.h"
#include "JobSettings.h"
#include "PageFit.h"
#include "JobGate.h"
#include "JobKeeping.h"
#include "PageIntake.h"
#include "PictureJob.h"
#include "PagePath.h"
#include "Resync.h"
#include "SettingsReader.h"
#include "LoadedLabels.h"
#include "StatusMonitor.h"

static_assert(kMaxVendor == PAPPL_MAX_VENDOR, "the driver table's vendor limit must be PAPPL's");

namespace {

// Strings handed to PAPPL as const char * must outlive every printer.
const char *Keep(const std::string &s)
{
    static std::mutex lock;
    static std::deque<std::string> kept;
    std::lock_guard<std::mutex> guard(lock);
    for (const std::string &k : kept)
        if (k == s)
            return k.c_str();
    kept.push_back(s);
    return kept.back().c_str();
}

int Hundredths(double points)
{
    return static_cast<int>(std::lround(points * 2540.0 / 72.0));
}

// A job whose printer stopped taking data says so, with the link's own
// reason where a Bluetooth link gave one.
void SayOutputFailed(pappl_job_t *job, pappl_device_t *device)
{
    const std::string why = LinkError(job, device);
    papplJobSetMessage(job, "%s", why.empty() ? "The printer stopped taking data." : why.c_str());
}

bool IsRoll(const PpdModel &model)
{
    return model.modelNumber == 21 || model.modelNumber == 23 || model.modelNumber == 24 || model.modelNumber == 25;
}

} // namespace

std::string MediaName(const PpdMedia &media)
{
    const int w = Hundredths(media.width), l = Hundredths(media.length);
    pwg_media_t *pwg = pwgMediaForSize(w, l);
    if (pwg && pwg->pwg && strncmp(pwg->pwg, "custom_", 7) != 0)
        return pwg->pwg;
    std::string name;
    for (const char *p = media.name; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        name += std::isalnum(c) ? static_cast<char>(std::tolower(c)) : '-';
    }
    const bool inches = name.size() > 2 && name.compare(name.size() - 2, 2, "in") == 0;
    char keyword[128];
    pwgFormatSizeName(keyword, sizeof keyword, inches ? "oe" : "om", name.c_str(), w, l, inches ? "in" : "mm");
    return keyword;
}

namespace {

struct TrackingName {
    const char *choice;
    pappl_media_tracking_t tracking;
};
const TrackingName kTracking[] = {
    {"Continuous", PAPPL_MEDIA_TRACKING_CONTINUOUS},
    {"Gap", PAPPL_MEDIA_TRACKING_GAP},
    {"BLine", PAPPL_MEDIA_TRACKING_MARK},
};

struct LabelModeName {
    const char *choice;
    pappl_label_mode_t mode;
};
// PostAction choices with a label mode (see JobSettings.cpp).
const LabelModeName kLabelModes[] = {
    {"1", PAPPL_LABEL_MODE_TEAR_OFF},
    {"2", PAPPL_LABEL_MODE_CUTTER},
    {"3", PAPPL_LABEL_MODE_PEEL_OFF},
};

const char *TrackingKeyword(pappl_media_tracking_t t)
{
    switch (t) {
    case PAPPL_MEDIA_TRACKING_CONTINUOUS:
        return "continuous";
    case PAPPL_MEDIA_TRACKING_GAP:
        return "gap";
    case PAPPL_MEDIA_TRACKING_MARK:
        return "mark";
    default:
        return "";
    }
}

const char *LabelModeKeyword(pappl_label_mode_t m)
{
    switch (m) {
    case PAPPL_LABEL_MODE_TEAR_OFF:
        return "tear-off";
    case PAPPL_LABEL_MODE_CUTTER:
        return "cutter";
    case PAPPL_LABEL_MODE_PEEL_OFF:
        return "peel-off";
    default:
        return "";
    }
}

long MaxNumeric(const PpdOption &o, long *min = nullptr)
{
    long hi = 0, lo = 0;
    bool any = false;
    for (const PpdChoice &c : o.choices) {
        char *end = nullptr;
        long n = strtol(c.name, &end, 10);
        if (*end || end == c.name)
            continue;
        hi = any ? std::max(hi, n) : n;
        lo = any ? std::min(lo, n) : n;
        any = true;
    }
    if (min)
        *min = lo;
    return hi;
}

// ------------------------------------------------------------------ jobs

// One job: its settings, its page path and the page being taken in.
struct AppJob {
    const PpdModel *model = nullptr;
    pappl_device_t *device = nullptr;
    pappl_device_t *ownDevice = nullptr; // opened for this job (see UsableDevice)
    std::unique_ptr<PagePath> path;
    std::unique_ptr<PageIntake> intake; // the page between StartPage and EndPage
    FitTarget fit;                      // the media a larger page is fitted to
    std::unique_ptr<InFlightRecord> inFlight;
    int pagesPrinted = 0;
    // The pages the printer took, kept so that a job printed again after
    // the app stopped goes on from the first page it did not take.
    std::unique_ptr<PagesRecord> pages;
    int pagesSeen = 0;
    int pagesDone = 0;
};

// ------------------------------------------------------------- one job at a time

JobGate g_gate;

bool Processing(pappl_printer_t *printer, int jobId)
{
    pappl_job_t *job = papplPrinterFindJob(printer, jobId);
    return job && papplJobGetState(job) == IPP_JSTATE_PROCESSING;
}

// Passes the printer's gate (JobGate.h). False when the job must not
// print: it was cancelled while it waited, or it is a second start of a
// job printing in another thread, which is then held here until the app
// stops (ending it would make PAPPL count the job twice among the ended
// ones, and free it twice).
bool EnterGate(pappl_job_t *job)
{
    pappl_printer_t *printer = papplJobGetPrinter(job);
    const JobGate::Entry entry = g_gate.Enter(
        papplPrinterGetID(printer), papplJobGetID(job), [printer](int, int id) { return Processing(printer, id); },
        [job] { return papplJobIsCanceled(job); });
    if (entry == JobGate::Entry::Duplicate) {
        papplLogJob(job, PAPPL_LOGLEVEL_WARN,
                    "PAPPL started this job a second time while it prints; the second "
                    "start prints nothing.");
        pappl_system_t *system = papplPrinterGetSystem(printer);
        while (!papplSystemIsShutdown(system))
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    return entry == JobGate::Entry::Go;
}

void LeaveGate(pappl_job_t *job)
{
    g_gate.Leave(papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job));
}

void LogDeviceError(const char *message, void *job)
{
    papplLogJob(static_cast<pappl_job_t *>(job), PAPPL_LOGLEVEL_ERROR, "%s", message);
}

// The device a job writes to. On a file PAPPL closes the printer's device
// as each job ends, the one it handed a job still printing included (two
// jobs of a printer can be under way at once, see EnterGate); so a job on a
// file opens its own, closed again when it ends.
pappl_device_t *UsableDevice(pappl_job_t *job, pappl_device_t *device, pappl_device_t *&own)
{
    own = nullptr;
    const char *uri = papplPrinterGetDeviceURI(papplJobGetPrinter(job));
    if (!uri || strncmp(uri, "file:", 5) != 0)
        return device;
    own = papplDeviceOpen(uri, papplJobGetName(job), LogDeviceError, job);
    return own;
}

// The record of a job's writes in flight, in the spool directory, under
// the printer's id (two names may read alike as file names).
std::unique_ptr<InFlightRecord> InFlightOf(pappl_job_t *job)
{
    if (InFlightDirectory().empty())
        return nullptr;
    pappl_printer_t *printer = papplJobGetPrinter(job);
    auto record = std::make_unique<InFlightRecord>(InFlightDirectory(), std::to_string(papplPrinterGetID(printer)));
    // A record that earlier versions kept under the printer's name is taken
    // over.
    const char *name = papplPrinterGetName(printer);
    const InFlightRecord named(InFlightDirectory(), name ? name : "");
    if (name && access(record->Path().c_str(), F_OK) != 0 && access(named.Path().c_str(), F_OK) == 0)
        rename(named.Path().c_str(), record->Path().c_str());
    return record;
}

// Writes and flushes `size` bytes, with the record of them in flight while
// the write lasts.
bool WriteRecorded(pappl_job_t *job, pappl_device_t *device, const InFlightRecord *record, const void *bytes,
                   size_t size)
{
    if (record)
        record->Begin(size);
    const bool ok = WriteToPrinter(job, device, bytes, size);
    if (record)
        record->End();
    return ok;
}

// A write cut off in the printer's last job (the app stopped during it)
// is completed before this job's first byte.
bool Resync(pappl_job_t *job, pappl_device_t *device, int modelNumber, const InFlightRecord *record)
{
    if (!record || access(record->Path().c_str(), F_OK) != 0)
        return true;
    const size_t pending = record->Pending();
    const std::vector<unsigned char> bytes = ResyncBytes(modelNumber, pending);
    papplLogJob(job, PAPPL_LOGLEVEL_WARN,
                "The printer's last job was cut off during a write of %zu bytes; %zu bytes are sent first to bring "
                "the printer back in step.",
                pending, bytes.size());
    const bool ok = bytes.empty() || WriteToPrinter(job, device, bytes.data(), bytes.size());
    if (ok)
        record->End();
    return ok;
}

const PpdModel *ModelOf(pappl_job_t *job)
{
    pappl_printer_t *printer = papplJobGetPrinter(job);
    return FindModel(papplPrinterGetDriverName(printer));
}

// The job's IPP values in PAPPL-free form.
JobValues ValuesOf(pappl_pr_options_t *options)
{
    JobValues v;
    v.printDarkness = options->print_darkness;
    v.darknessConfigured = options->darkness_configured;
    v.printSpeed = options->print_speed;
    v.tracking = TrackingKeyword(options->media.tracking);
    v.mediaWidth = options->media.size_width;
    v.mediaLength = options->media.size_length;
    v.leftOffset = options->media.left_offset;
    v.topOffset = options->media.top_offset;
    v.color = options->print_color_mode == PAPPL_COLOR_MODE_COLOR;
    for (int i = 0; i < options->num_vendor; ++i)
        v.vendor[options->vendor[i].name] = options->vendor[i].value ? options->vendor[i].value : "";
    return v;
}

// Vendor values: the job's own, else the printer's current default. PAPPL
// 1.3 hands the driver the defaults the printer was created with, not the
// ones set since (Set-Printer-Attributes, the web interface), so they are
// read here.
void VendorValues(pappl_job_t *job, JobValues &v)
{
    pappl_printer_t *printer = papplJobGetPrinter(job);
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    ipp_t *attrs = papplPrinterGetDriverAttributes(printer);
    char value[256];
    for (int i = 0; i < data.num_vendor; ++i) {
        const std::string name = data.vendor[i], def = name + "-default";
        ipp_attribute_t *attr = papplJobGetAttribute(job, name.c_str());
        if (!attr && attrs)
            attr = ippFindAttribute(attrs, def.c_str(), IPP_TAG_ZERO);
        if (attr && ippAttributeString(attr, value, sizeof value) > 0)
            v.vendor[name] = value;
    }
    ippDelete(attrs);
}

// The intake's and the page path's notes, in the job's log; an error is the
// job's message too, and the job ends "completed with errors".
PageNotes JobNotes(pappl_job_t *job)
{
    return [job](NoteKind kind, const std::string &note) {
        std::string text = note;
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        if (kind == NoteKind::Trace) {
            papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "%s", text.c_str());
            return;
        }
        papplLogJob(job, kind == NoteKind::Error ? PAPPL_LOGLEVEL_ERROR : PAPPL_LOGLEVEL_WARN, "%s", text.c_str());
        if (kind == NoteKind::Error) {
            papplJobSetMessage(job, "%s", text.c_str());
            papplJobSetReasons(job, PAPPL_JREASON_JOB_COMPLETED_WITH_ERRORS, PAPPL_JREASON_NONE);
        }
    };
}

bool StartJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *given)
{
    const PpdModel *model = ModelOf(job);
    if (!model) {
        papplJobSetMessage(job, "This printer's driver is unknown.");
        return false;
    }
    if (!EnterGate(job))
        return false;
    // Until the job is under way, a failure leaves the gate here; EndJob
    // leaves it after a job that started.
    struct Held {
        pappl_job_t *job;
        pappl_device_t *own = nullptr;
        bool started = false;
        ~Held()
        {
            if (started)
                return;
            if (own)
                papplDeviceClose(own);
            LeaveGate(job);
        }
    } held{job};
    pappl_device_t *device = UsableDevice(job, given, held.own);
    if (!device) {
        papplJobSetMessage(job, "The printer's file could not be opened.");
        return false;
    }
    JobValues values = ValuesOf(options);
    VendorValues(job, values);
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
    values.labelMode = LabelModeKeyword(data.mode_configured);
    values.darknessChosen = data.darkness_supported > 0 &&
                            options->darkness_configured != InitialDarknessConfigured(data.darkness_supported);

    JobSettings settings(*model);
    std::string problem = settings.Apply(values, kMaxVendor);
    if (!problem.empty()) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", problem.c_str());
        papplJobSetMessage(job, "%s", problem.c_str());
        papplJobSetReasons(job, PAPPL_JREASON_JOB_COMPLETED_WITH_ERRORS, PAPPL_JREASON_NONE);
        return false;
    }

    auto *ctx = new AppJob;
    ctx->model = model;
    ctx->device = device;
    ctx->ownDevice = held.own;
    TraceLine trace = [job](const std::string &line) { papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "%s", line.c_str()); };
    TraceLine warning = [job](const std::string &line) { papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s", line.c_str()); };
    ctx->inFlight = InFlightOf(job);
    if (!InFlightDirectory().empty()) {
        ctx->pages = std::make_unique<PagesRecord>(InFlightDirectory(), papplPrinterGetID(papplJobGetPrinter(job)),
                                                   papplJobGetID(job));
        ctx->pagesDone = ctx->pages->Done();
        if (ctx->pagesDone > 0)
            papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                        "The app stopped while this job printed, after the printer took %d page(s): the job goes on "
                        "from the next page.",
                        ctx->pagesDone);
    }
    if (!Resync(job, device, model->modelNumber, ctx->inFlight.get())) {
        SayOutputFailed(job, device);
        delete ctx;
        return false;
    }
    if (!CheckLoadedLabels(job, device, *model, options)) {
        StatusEndJob(job);
        delete ctx;
        return false;
    }
    PagePath::Sink sink = [job, ctx](const void *bytes, size_t size) {
        return size == 0 || WriteRecorded(job, ctx->device, ctx->inFlight.get(), bytes, size);
    };
    ctx->path = std::make_unique<PagePath>(
        model->modelNumber, [&](tagREGSTRUCT &reg) { ReadSettings(settings, reg, trace, warning); }, model->modelName,
        sink);
    if (!ctx->path->Known()) {
        papplJobSetMessage(job, "Model number %d names no printer family.", model->modelNumber);
        delete ctx;
        return false;
    }
    ctx->fit.xDpi = model->xDpi;
    ctx->fit.yDpi = model->yDpi;
    if (!(options->print_scaling & PAPPL_SCALING_NONE)) {
        ctx->fit.width = static_cast<unsigned>(options->media.size_width * model->xDpi / 2540);
        ctx->fit.height = static_cast<unsigned>(options->media.size_length * model->yDpi / 2540);
        ctx->fit.slack = static_cast<unsigned>(model->xDpi / 25); // a millimetre
        ctx->fit.maxWidth = static_cast<unsigned>(std::max(0, ctx->path->Settings().iHeadWidth));
    }
    ctx->path->SetNotes(JobNotes(job));
    ctx->path->StartJob();
    if (ctx->path->OutputFailed()) {
        // PAPPL calls no EndJob after a StartJob that failed.
        SayOutputFailed(job, ctx->device);
        delete ctx;
        return false;
    }
    papplJobSetData(job, ctx);
    held.started = true;
    return true;
}

// Whether the page header PAPPL hands over is the one it made for the job
// rather than the document's own. PAPPL 1.3 passes a PWG raster page's own
// header only for pages of 8 bits and more; for a 1-bit page it passes the
// job's header (8-bit grey or colour, the job's media at the job's
// resolution), made by papplJobCreatePrintOptions, and then the page's 1-bit
// rows as they are.
bool IsJobHeader(pappl_job_t *job, const pappl_pr_options_t *options)
{
    const char *format = papplJobGetFormat(job);
    if (!format || strcmp(format, "image/pwg-raster") != 0 || options->header.cupsBitsPerPixel < 8)
        return false;
    pappl_pr_options_t *made =
        papplJobCreatePrintOptions(job, static_cast<unsigned>(std::max(0, papplJobGetImpressions(job))), false);
    const bool same = made && memcmp(&made->header, &options->header, sizeof made->header) == 0;
    papplJobDeletePrintOptions(made);
    return same;
}

// The header of the page about to be handed over. A 1-bit page comes with
// the job's header (see IsJobHeader): it is read as black_1, the one-bit type
// the printers advertise, at the job's media size and resolution, as PWG
// raster clients render it.
cups_page_header2_t PageHeader(pappl_job_t *job, const pappl_pr_options_t *options)
{
    cups_page_header2_t h = options->header;
    if (!IsJobHeader(job, options))
        return h;
    h.cupsBitsPerColor = 1;
    h.cupsBitsPerPixel = 1;
    h.cupsBytesPerLine = (h.cupsWidth + 7) / 8;
    h.cupsColorSpace = CUPS_CSPACE_K;
    h.cupsNumColors = 1;
    return h;
}

// A page the intake refuses is skipped and the job goes on, as in the filter:
// its rows are not kept and EndPage prints nothing.
bool StartPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned pageNumber)
{
    auto *ctx = static_cast<AppJob *>(papplJobGetData(job));
    if (!ctx)
        return false;
    ctx->intake = std::make_unique<PageIntake>(JobNotes(job));
    ctx->intake->Begin(PageHeader(job, options), static_cast<int>(pageNumber));
    return true;
}

bool WriteLine(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned y, const unsigned char *line)
{
    auto *ctx = static_cast<AppJob *>(papplJobGetData(job));
    if (!ctx || !ctx->intake || y != ctx->intake->Rows())
        return false;
    ctx->intake->AddRow(line);
    return true;
}

// PAPPL fills a page cut short by a cancel with white and ends it: nothing of
// it is sent.
bool EndPage(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned pageNumber)
{
    auto *ctx = static_cast<AppJob *>(papplJobGetData(job));
    if (!ctx || !ctx->intake)
        return false;
    std::unique_ptr<PageIntake> intake = std::move(ctx->intake);
    if (papplJobIsCanceled(job)) {
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Page %u was cancelled; nothing of it was sent.", pageNumber);
        return true;
    }
    if (++ctx->pagesSeen <= ctx->pagesDone) {
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Page %u reached the printer before the app stopped: not sent again.",
                    pageNumber);
        return true;
    }
    RasterImage image;
    if (!intake->Finish(image))
        return true;
    if (!StatusBeforePage(job, ctx->device, ctx->model->modelNumber))
        return false;
    // A page larger than the media (CUPS's Letter default) is fitted to it.
    std::vector<unsigned char> fitted;
    const RasterImage page = FitPageToMedia(image, ctx->fit, fitted);
    if (page.data != image.data)
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Page %u of %u x %u dots at %d x %d dpi printed as %u x %u dots.",
                    pageNumber, image.width, image.height, image.xDpi, image.yDpi, page.width, page.height);
    const PageOutcome outcome = ctx->path->PrintPage(page, static_cast<int>(pageNumber));
    if (outcome.printed) {
        ++ctx->pagesPrinted;
    } else if (!outcome.reason.empty()) {
        // A page that cannot print fails the job, so that CUPS and the web
        // interface show it as failed, with the reason.
        JobNotes(job)(NoteKind::Error, outcome.reason);
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, PAPPL_JREASON_JOB_COMPLETED_WITH_ERRORS);
        return false;
    }
    if (ctx->path->OutputFailed()) {
        SayOutputFailed(job, ctx->device);
        return false;
    }
    if (ctx->pages && !ctx->pages->Note(ctx->pagesSeen))
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Unable to keep the count of printed pages in %s: %s.",
                    ctx->pages->Path().c_str(), strerror(errno));
    return true;
}

bool EndJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *)
{
    auto *ctx = static_cast<AppJob *>(papplJobGetData(job));
    if (!ctx)
        return false;
    papplJobSetData(job, nullptr);
    if (ctx->pages)
        ctx->pages->Remove();
    StatusEndJob(job);
    ctx->path->EndJob();
    const bool ok = !ctx->path->OutputFailed();
    if (!ok)
        SayOutputFailed(job, ctx->device);
    if (ctx->ownDevice)
        papplDeviceClose(ctx->ownDevice);
    delete ctx;
    LeaveGate(job);
    return ok;
}

// A document already in the printer's language (the format the driver
// names, e.g. application/vnd.quillfeed-tspl) goes to the printer as it is.
bool PrintRaw(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *given)
{
    if (CanceledAsItStarted(job))
        return true;
    const char *name = papplJobGetFilename(job);
    int fd = name ? open(name, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) {
        papplJobSetMessage(job, "The document could not be opened.");
        return false;
    }
    if (!EnterGate(job)) {
        close(fd);
        return false;
    }
    pappl_device_t *own = nullptr;
    pappl_device_t *device = UsableDevice(job, given, own);
    const std::unique_ptr<InFlightRecord> record = InFlightOf(job);
    const PpdModel *model = ModelOf(job);
    bool ok = device && (!model || Resync(job, device, model->modelNumber, record.get()));
    std::vector<unsigned char> buffer(65536);
    ssize_t n;
    while (ok && (n = read(fd, buffer.data(), buffer.size())) > 0)
        ok = WriteRecorded(job, device, record.get(), buffer.data(), static_cast<size_t>(n));
    close(fd);
    if (own)
        papplDeviceClose(own);
    LeaveGate(job);
    if (!ok)
        SayOutputFailed(job, given);
    return ok;
}

// The printer language's own document format, from the PPD's filter line
// ("application/vnd.cups-raster application/vnd.quillfeed-tspl 80 quillfeed").
std::string NativeFormat(const PpdModel &model)
{
    std::string line = model.FindAttribute("cupsFilter2");
    size_t a = line.find(' ');
    size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
    if (b == std::string::npos)
        return "application/octet-stream";
    return line.substr(a + 1, b - a - 1);
}

// ------------------------------------------------------------- driver

// Every vendor attribute takes keywords, numbers too ("1", "-20"): PAPPL's
// web interface shows a keyword's own words (WebStrings.cpp), an integer only
// as its digits. Jobs may still send integers; JobSettings takes both.
void AddVendorAttribute(ipp_t *attrs, const IppOption &ipp)
{
    const PpdOption &o = *ipp.option;
    const std::string supported = ipp.name + "-supported", def = ipp.name + "-default";
    std::vector<std::string> words;
    std::vector<const char *> ptrs;
    for (const PpdChoice &c : o.choices)
        words.push_back(KeywordOf(c.name));
    for (const std::string &w : words)
        ptrs.push_back(w.c_str());
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), static_cast<int>(ptrs.size()), nullptr,
                  ptrs.data());
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, def.c_str(), nullptr, KeywordOf(o.defaultChoice).c_str());
}

} // namespace

pappl_pr_driver_t *AppDrivers(int *count)
{
    static std::vector<pappl_pr_driver_t> drivers = [] {
        std::vector<pappl_pr_driver_t> list;
        for (const PpdModel &m : AllModels()) {
            pappl_pr_driver_t d{};
            d.name = m.driverName;
            d.description = m.nickName;
            d.device_id = m.deviceId;
            list.push_back(d);
        }
        return list;
    }();
    *count = static_cast<int>(drivers.size());
    return drivers.data();
}

namespace {

// What the printer is and does: its name, kind, colours and resolution.
void DescribePrinter(const PpdModel &model, pappl_pr_driver_data_t *data)
{
    strncpy(data->make_and_model, model.nickName, sizeof data->make_and_model - 1);
    data->ppm = 10;
    data->kind = IsRoll(model) ? (PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL) : PAPPL_KIND_LABEL;
    data->orient_default = IPP_ORIENT_PORTRAIT;
    data->quality_default = IPP_QUALITY_NORMAL;
    data->scaling_default = PAPPL_SCALING_AUTO;
    data->content_default = PAPPL_CONTENT_AUTO;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
    data->duplex = PAPPL_DUPLEX_NONE;

    // The raster types the page intake reads, on every printer: colour
    // turns to grey (to black and red on the two-colour model). PAPPL 1.3
    // aborts pages of more than 8 bits on a printer without a colour mode, so
    // every printer has one; the one-colour printers default to monochrome.
    data->color_supported = PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_COLOR;
    data->color_default = model.colorDevice ? PAPPL_COLOR_MODE_COLOR : PAPPL_COLOR_MODE_MONOCHROME;
    data->raster_types = PAPPL_PWG_RASTER_TYPE_BLACK_1 | PAPPL_PWG_RASTER_TYPE_SGRAY_8 | PAPPL_PWG_RASTER_TYPE_SRGB_8;

    data->num_resolution = 1;
    data->x_resolution[0] = data->x_default = model.xDpi;
    data->y_resolution[0] = data->y_default = model.yDpi;

    // A hundredth of a millimetre, not 0: CUPS 2.4 names a driverless
    // queue's sizes without margins "4x6.Borderless" but its default "4x6",
    // a size it does not have, and then renders every job on Letter.
    data->borderless = false;
    data->left_right = 1;
    data->bottom_top = 1;
}

// The media: the PPD's page sizes (and the custom range), source, type, and
// the default media.
void DescribeMedia(const PpdModel &model, pappl_pr_driver_data_t *data)
{
    int n = 0;
    int defaultIndex = 0;
    for (const PpdMedia &m : model.media) {
        if (n >= PAPPL_MAX_MEDIA - 2)
            break;
        if (strcmp(m.name, model.defaultMedia) == 0)
            defaultIndex = n;
        data->media[n++] = Keep(MediaName(m));
    }
    if (model.maxWidth > 0 && model.maxLength > 0) {
        const char *kind = IsRoll(model) ? "roll" : "custom";
        char keyword[128];
        pwgFormatSizeName(keyword, sizeof keyword, kind, "min", Hundredths(model.minWidth), Hundredths(model.minLength),
                          nullptr);
        data->media[n++] = Keep(keyword);
        pwgFormatSizeName(keyword, sizeof keyword, kind, "max", Hundredths(model.maxWidth), Hundredths(model.maxLength),
                          nullptr);
        data->media[n++] = Keep(keyword);
    }
    data->num_media = n;

    data->num_source = 1;
    data->source[0] = IsRoll(model) ? "main-roll" : "main";
    data->num_type = 1;
    data->type[0] = IsRoll(model) ? "continuous" : "labels";

    pappl_media_col_t &def = data->media_default;
    memset(&def, 0, sizeof def);
    if (!model.media.empty()) {
        const PpdMedia &m = model.media[static_cast<size_t>(defaultIndex)];
        strncpy(def.size_name, data->media[defaultIndex], sizeof def.size_name - 1);
        def.size_width = Hundredths(m.width);
        def.size_length = Hundredths(m.length);
    }
    strncpy(def.source, data->source[0], sizeof def.source - 1);
    strncpy(def.type, data->type[0], sizeof def.type - 1);
    def.tracking = PAPPL_MEDIA_TRACKING_CONTINUOUS;
    def.left_margin = def.right_margin = data->left_right;
    def.bottom_margin = def.top_margin = data->bottom_top;
}

// The PPD's options as PAPPL's own settings, or as vendor attributes in
// `attrs`.
void DescribeOptions(const PpdModel &model, pappl_pr_driver_data_t *data, ipp_t *attrs)
{
    pappl_media_col_t &def = data->media_default;
    data->num_vendor = 0;
    for (const IppOption &ipp : IppOptions(model, kMaxVendor)) {
        const PpdOption &o = *ipp.option;
        switch (ipp.kind) {
        case IppKind::Darkness:
            data->darkness_supported = static_cast<int>(MaxNumeric(o)) + 1;
            data->darkness_configured = InitialDarknessConfigured(data->darkness_supported);
            data->darkness_default = 0;
            break;
        case IppKind::Speed: {
            long lo = 0, hi = MaxNumeric(o, &lo);
            data->speed_supported[0] = static_cast<int>(lo * 2540);
            data->speed_supported[1] = static_cast<int>(hi * 2540);
            data->speed_default = 0;
            break;
        }
        case IppKind::Tracking:
            for (const PpdChoice &c : o.choices)
                for (const TrackingName &t : kTracking)
                    if (strcmp(c.name, t.choice) == 0) {
                        data->tracking_supported |= t.tracking;
                        if (strcmp(c.name, o.defaultChoice) == 0)
                            def.tracking = t.tracking;
                    }
            break;
        case IppKind::LabelMode:
            for (const PpdChoice &c : o.choices)
                for (const LabelModeName &m : kLabelModes)
                    if (strcmp(c.name, m.choice) == 0) {
                        data->mode_supported |= m.mode;
                        if (strcmp(c.name, o.defaultChoice) == 0)
                            data->mode_configured = m.mode;
                    }
            break;
        case IppKind::LeftOffset:
            data->left_offset_supported[0] = 0;
            data->left_offset_supported[1] = static_cast<int>(MaxNumeric(o) * 100);
            break;
        case IppKind::TopOffset:
            data->top_offset_supported[0] = 0;
            data->top_offset_supported[1] = static_cast<int>(MaxNumeric(o) * 100);
            break;
        case IppKind::Vendor:
            data->vendor[data->num_vendor++] = Keep(ipp.name);
            AddVendorAttribute(attrs, ipp);
            break;
        case IppKind::ColorMode:
        case IppKind::Fixed:
            break;
        }
    }
    if (!data->tracking_supported)
        data->tracking_supported = PAPPL_MEDIA_TRACKING_CONTINUOUS;
}

} // namespace

bool AppDriverCallback(pappl_system_t *system, const char *driverName, const char *deviceUri, const char *,
                       pappl_pr_driver_data_t *data, ipp_t **attrs, void *)
{
    if (!DeviceUriAcceptable(system, deviceUri))
        return false;
    const PpdModel *model = FindModel(driverName ? driverName : "");
    if (!model) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unknown driver \"%s\".", driverName ? driverName : "");
        return false;
    }

    data->rstartjob_cb = StartJob;
    data->rstartpage_cb = StartPage;
    data->rwriteline_cb = WriteLine;
    data->rendpage_cb = EndPage;
    data->rendjob_cb = EndJob;
    data->printfile_cb = PrintRaw;
    data->status_cb = StatusCallback;
    data->testpage_cb = TestPageFile;
    // PAPPL 1.3 needs a format of the printer's own: without one, a document
    // it cannot convert (a PDF sent as octet-stream) crashes the job thread.
    data->format = Keep(NativeFormat(*model));

    DescribePrinter(*model, data);
    DescribeMedia(*model, data);
    *attrs = ippNew();
    DescribeOptions(*model, data, *attrs);
    data->media_ready[0] = data->media_default;
    return true;
}

const char *AppAutoAdd(const char *, const char *, const char *deviceId, void *)
{
    return deviceId && *deviceId ? DriverForDeviceId(deviceId) : nullptr;
}
