#include "KeptJobs.h"

#include <dirent.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "JobKeeping.h"
#include "Resync.h"

namespace {

bool (*g_save)(pappl_system_t *, void *) = nullptr;

std::vector<pappl_job_t *> ActiveJobs(pappl_printer_t *printer)
{
    std::vector<pappl_job_t *> jobs;
    papplPrinterIterateActiveJobs(
        printer, [](pappl_job_t *job, void *d) { static_cast<std::vector<pappl_job_t *> *>(d)->push_back(job); }, &jobs,
        1, 0);
    std::sort(jobs.begin(), jobs.end(),
              [](pappl_job_t *a, pappl_job_t *b) { return papplJobGetID(a) < papplJobGetID(b); });
    return jobs;
}

// Held by the app to keep the order: a job with its document that no one
// asked to hold (job-hold-until) on a printer that is not holding new jobs.
bool HeldForOrder(pappl_job_t *job)
{
    return papplJobGetState(job) == IPP_JSTATE_HELD && papplJobGetFilename(job) &&
           !(papplJobGetReasons(job) & PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED);
}

// One job waits to print next, the oldest; the others the app holds until
// their turn. PAPPL starts the newest waiting job first.
void KeepOrder(pappl_printer_t *printer, void *)
{
    if (papplPrinterIsHoldingNewJobs(printer))
        return;
    pappl_job_t *next = nullptr;
    std::vector<pappl_job_t *> later;
    for (pappl_job_t *job : ActiveJobs(printer)) {
        if (papplJobGetState(job) != IPP_JSTATE_PENDING && !HeldForOrder(job))
            continue;
        if (!next)
            next = job;
        else if (papplJobGetState(job) == IPP_JSTATE_PENDING)
            later.push_back(job);
    }
    for (pappl_job_t *job : later)
        if (papplJobHold(job, nullptr, nullptr, 0)) {
            papplJobSetMessage(job, "Waiting for the jobs sent before it.");
            papplJobSetReasons(job, PAPPL_JREASON_JOB_QUEUED, PAPPL_JREASON_NONE);
        }
    if (next && papplJobGetState(next) == IPP_JSTATE_HELD) {
        papplJobSetMessage(next, "Waiting to print.");
        papplJobSetReasons(next, PAPPL_JREASON_NONE, PAPPL_JREASON_JOB_QUEUED);
        papplJobRelease(next, nullptr);
    }
}

// The jobs whose document is in the spool, as printer and job ids.
using JobKeys = std::set<std::pair<int, int>>;

void CollectSpooledJobs(pappl_printer_t *printer, void *data)
{
    auto *keys = static_cast<JobKeys *>(data);
    for (pappl_job_t *job : ActiveJobs(printer))
        if (papplJobGetFilename(job))
            keys->emplace(papplPrinterGetID(printer), papplJobGetID(job));
}

// Every second: PAPPL saves its state when a job is created, before its
// document has arrived, and not again until something else changes; a job
// whose document is in the spool is saved now, so that a stop keeps it.
bool Tick(pappl_system_t *system, void *)
{
    papplSystemIteratePrinters(system, KeepOrder, nullptr);
    static JobKeys saved;
    JobKeys now;
    papplSystemIteratePrinters(system, CollectSpooledJobs, &now);
    const bool fresh = std::any_of(now.begin(), now.end(), [](const auto &k) { return saved.count(k) == 0; });
    if (!fresh || (g_save && g_save(system, nullptr)))
        saved = now;
    return true;
}

// Once the server runs, the kept jobs start in order (PAPPL looks for jobs
// to print only when one arrives or a printer is resumed), and the records
// of pages of jobs that no longer wait are removed.
bool StartKeptJobs(pappl_system_t *system, void *)
{
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t *printer, void *) {
            KeepOrder(printer, nullptr);
            if (papplPrinterGetNumberOfActiveJobs(printer) > 0 && papplPrinterGetState(printer) == IPP_PSTATE_IDLE)
                papplPrinterResume(printer);
        },
        nullptr);
    if (DIR *dir = opendir(InFlightDirectory().c_str())) {
        while (struct dirent *e = readdir(dir)) {
            int printerId = 0, jobId = 0;
            if (!ParsePagesRecordName(e->d_name, printerId, jobId))
                continue;
            pappl_printer_t *printer = papplSystemFindPrinter(system, nullptr, printerId, nullptr);
            pappl_job_t *job = printer ? papplPrinterFindJob(printer, jobId) : nullptr;
            if (!job || papplJobGetState(job) >= IPP_JSTATE_STOPPED)
                PagesRecord(InFlightDirectory(), printerId, jobId).Remove();
        }
        closedir(dir);
    }
    return false;
}

} // namespace

void KeepJobs(pappl_system_t *system, bool (*save)(pappl_system_t *, void *))
{
    g_save = save;
    papplSystemAddTimerCallback(system, 0, 0, StartKeptJobs, nullptr);
    papplSystemAddTimerCallback(system, 0, 1, Tick, nullptr);
}
