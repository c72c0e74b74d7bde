#include "PrinterHome.h"

#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>

#include "PictureJob.h"

namespace {

// What the page's buttons do; administration only for those that change
// the printer for everyone.
struct Action {
    const char *name;
    bool administration;
};
const Action kActions[] = {
    {"print-test-page", false}, {"identify-printer", false}, {"hold-new-jobs", true},  {"release-held-new-jobs", true},
    {"pause-printer", true},    {"resume-printer", true},    {"set-as-default", true},
};

const Action *FindAction(const char *name)
{
    for (const Action &a : kActions)
        if (name && strcmp(a.name, name) == 0)
            return &a;
    return nullptr;
}

// Prints a test page as the client's user; the page's banner.
const char *PrintTestPage(pappl_client_t *client, pappl_printer_t *printer)
{
    char file[1024];
    if (!TestPageFile(printer, file, sizeof file))
        return "Unable to create test print job.";
    const char *user = papplClientGetUsername(client);
    pappl_job_t *job =
        papplJobCreateWithFile(printer, user && *user ? user : "guest", "image/png", "Test Page", 0, nullptr, file);
    if (!job) {
        unlink(file);
        return "Unable to create test print job.";
    }
    return "Test page printed.";
}

// The form's action, done when the client may; the banner, or null when the
// client was refused (and has its answer).
const char *DoAction(pappl_client_t *client, pappl_printer_t *printer, bool &refused)
{
    cups_option_t *form = nullptr;
    const int count = papplClientGetForm(client, &form);
    const char *action = count > 0 ? cupsGetOption("action", count, form) : nullptr;
    const Action *known = FindAction(action);
    const char *status = nullptr;
    refused = false;
    if (count <= 0) {
        status = "Invalid form data.";
    } else if (!papplClientIsValidForm(client, count, form)) {
        papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Refused a form with no valid session field.");
        status = "Invalid form submission.";
    } else if (!known) {
        status = action ? "Unknown action." : "Missing action.";
    } else if (known->administration && papplClientIsAuthorized(client) != HTTP_STATUS_CONTINUE) {
        papplLogClient(client, PAPPL_LOGLEVEL_WARN,
                       "Refused \"%s\" on printer \"%s\" from a client who is not an "
                       "administrator.",
                       known->name, papplPrinterGetName(printer));
        refused = true;
    } else if (strcmp(known->name, "print-test-page") == 0) {
        status = PrintTestPage(client, printer);
    } else if (strcmp(known->name, "identify-printer") == 0) {
        pappl_pr_driver_data_t data;
        papplPrinterGetDriverData(printer, &data);
        if (data.identify_supported && data.identify_cb) {
            data.identify_cb(printer, data.identify_supported, "Hello.");
            status = "Printer identified.";
        } else {
            status = "Unable to identify printer.";
        }
    } else if (strcmp(known->name, "hold-new-jobs") == 0) {
        papplPrinterHoldNewJobs(printer);
        status = "Holding new jobs.";
    } else if (strcmp(known->name, "release-held-new-jobs") == 0) {
        papplPrinterReleaseHeldNewJobs(printer, papplClientGetUsername(client));
        status = "Released held new jobs.";
    } else if (strcmp(known->name, "pause-printer") == 0) {
        papplPrinterPause(printer);
        status = "Printer paused.";
    } else if (strcmp(known->name, "resume-printer") == 0) {
        papplPrinterResume(printer);
        status = "Printer resuming.";
    } else {
        papplSystemSetDefaultPrinterID(papplPrinterGetSystem(printer), papplPrinterGetID(printer));
        status = "Default printer set.";
    }
    cupsFreeOptions(count, form);
    return status;
}

std::string PathOf(pappl_printer_t *printer)
{
    char path[1024];
    return papplPrinterGetPath(printer, nullptr, path, sizeof path) ? path : "";
}

void Button(pappl_client_t *client, const std::string &uri, const char *action, const char *label)
{
    papplClientHTMLStartForm(client, uri.c_str(), false);
    papplClientHTMLPrintf(client,
                          "<input type=\"hidden\" name=\"action\" value=\"%s\"><input type=\"submit\" "
                          "value=\"%s\"></form>",
                          action, papplClientGetLocString(client, label));
}

std::string Clock(time_t t)
{
    char text[64] = "";
    struct tm local;
    if (t > 0 && localtime_r(&t, &local))
        strftime(text, sizeof text, "%X", &local);
    return text;
}

void JobRow(pappl_job_t *job, void *data)
{
    auto *client = static_cast<pappl_client_t *>(data);
    std::string when;
    switch (papplJobGetState(job)) {
    case IPP_JSTATE_PENDING:
    case IPP_JSTATE_HELD:
        when = std::string(papplClientGetLocString(client, "Queued at")) + " " + Clock(papplJobGetTimeCreated(job));
        break;
    case IPP_JSTATE_PROCESSING:
    case IPP_JSTATE_STOPPED:
        when = papplJobIsCanceled(job) ? std::string(papplClientGetLocString(client, "Canceling"))
                                       : std::string(papplClientGetLocString(client, "Started at")) + " " +
                                             Clock(papplJobGetTimeProcessed(job));
        break;
    case IPP_JSTATE_ABORTED:
        when = std::string(papplClientGetLocString(client, "Aborted at")) + " " + Clock(papplJobGetTimeCompleted(job));
        break;
    case IPP_JSTATE_CANCELED:
        when = std::string(papplClientGetLocString(client, "Canceled at")) + " " + Clock(papplJobGetTimeCompleted(job));
        break;
    case IPP_JSTATE_COMPLETED:
        when =
            std::string(papplClientGetLocString(client, "Completed at")) + " " + Clock(papplJobGetTimeCompleted(job));
        break;
    }
    papplClientHTMLPrintf(client, "              <tr><td>%d</td><td>", papplJobGetID(job));
    papplClientHTMLEscape(client, papplJobGetName(job), 0);
    papplClientHTMLPuts(client, "</td><td>");
    papplClientHTMLEscape(client, papplJobGetUsername(job), 0);
    papplClientHTMLPrintf(client, "</td><td>%d</td><td>", papplJobGetImpressionsCompleted(job));
    papplClientHTMLEscape(client, when.c_str(), 0);
    if (const char *message = papplJobGetMessage(job)) {
        papplClientHTMLPuts(client, "<br>");
        papplClientHTMLEscape(client, message, 0);
    }
    papplClientHTMLPuts(client, "</td></tr>\n");
}

const char *const kReasons[] = {"other",
                                "cover-open",
                                "input-tray-missing",
                                "marker-supply-empty",
                                "marker-supply-low",
                                "marker-waste-almost-full",
                                "marker-waste-full",
                                "media-empty",
                                "media-jam",
                                "media-low",
                                "media-needed",
                                "offline",
                                "spool-area-full",
                                "toner-empty",
                                "toner-low"};

void Status(pappl_client_t *client, pappl_printer_t *printer, const std::string &uri)
{
    const ipp_pstate_t state = papplPrinterGetState(printer);
    const int jobs = papplPrinterGetNumberOfActiveJobs(printer);
    pappl_system_t *system = papplPrinterGetSystem(printer);
    papplClientHTMLPrintf(client, "          <h1 class=\"title\">%s</h1>\n", papplClientGetLocString(client, "Status"));
    papplClientHTMLPrintf(client, "          <p><img class=\"%s\" src=\"%s/icon-md.png\">%s, %d %s",
                          ippEnumString("printer-state", static_cast<int>(state)), PathOf(printer).c_str(),
                          papplClientGetLocString(client, ippEnumString("printer-state", static_cast<int>(state))),
                          jobs, papplClientGetLocString(client, jobs == 1 ? "job" : "jobs"));
    if (papplSystemGetDefaultPrinterID(system) == papplPrinterGetID(printer))
        papplClientHTMLPrintf(client, ", %s", papplClientGetLocString(client, "default printer"));
    if (papplPrinterIsHoldingNewJobs(printer))
        papplClientHTMLPrintf(client, ", %s", papplClientGetLocString(client, "holding new jobs"));
    const pappl_preason_t reasons = papplPrinterGetReasons(printer);
    unsigned bit = 1;
    for (const char *reason : kReasons) {
        if (reasons & bit)
            papplClientHTMLPrintf(client, ", %s", papplClientGetLocString(client, reason));
        bit <<= 1;
    }
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    papplClientHTMLPuts(client, ".<br>");
    papplClientHTMLEscape(client, data.make_and_model, 0);
    papplClientHTMLPuts(client, "</p>\n          <div class=\"btn\">");
    const std::string base = PathOf(printer);
    papplClientHTMLPrintf(client, "<a class=\"btn\" href=\"%s/media\">%s</a> ", base.c_str(),
                          papplClientGetLocString(client, "Media"));
    papplClientHTMLPrintf(client, "<a class=\"btn\" href=\"%s/printing\">%s</a> ", base.c_str(),
                          papplClientGetLocString(client, "Printing Defaults"));
    const bool hold = papplPrinterIsHoldingNewJobs(printer);
    if (!hold && papplPrinterGetMaxActiveJobs(printer) != 1)
        Button(client, uri, "hold-new-jobs", "Hold New Jobs");
    if (data.identify_supported)
        Button(client, uri, "identify-printer", "Identify Printer");
    if (data.testpage_cb)
        Button(client, uri, "print-test-page", "Print Test Page");
    if (hold && papplPrinterGetMaxActiveJobs(printer) != 1)
        Button(client, uri, "release-held-new-jobs", "Release Held New Jobs");
    if (state == IPP_PSTATE_STOPPED)
        Button(client, uri, "resume-printer", "Resume Printing");
    else
        Button(client, uri, "pause-printer", "Pause Printing");
    if (papplSystemGetDefaultPrinterID(system) != papplPrinterGetID(printer))
        Button(client, uri, "set-as-default", "Set as Default");
    papplClientHTMLPrintf(client, " <a class=\"btn\" href=\"%s/delete\">%s</a>", base.c_str(),
                          papplClientGetLocString(client, "Delete Printer"));
    papplClientHTMLPuts(client, "<br clear=\"all\"></div>\n");
}

// The printer's home page: its status, its buttons and its jobs.
bool Home(pappl_client_t *client, void *data)
{
    auto *printer = static_cast<pappl_printer_t *>(data);
    const char *status = nullptr;
    if (papplClientGetMethod(client) == HTTP_STATE_POST) {
        bool refused = false;
        status = DoAction(client, printer, refused);
        if (refused)
            return papplClientRespond(client, HTTP_STATUS_FORBIDDEN, nullptr, nullptr, 0, 0);
    }
    const std::string uri = std::string(PathOf(printer)) + "/";
    papplClientHTMLPrinterHeader(client, printer, nullptr,
                                 papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING ? 10 : 0, nullptr, nullptr);
    papplClientHTMLPuts(client, "      <div class=\"row\">\n        <div class=\"col-6\">\n");
    Status(client, printer, uri);
    if (status)
        papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n", papplClientGetLocString(client, status));
    papplClientHTMLPrintf(client,
                          "          <h1 class=\"title\">%s <a class=\"btn\" href=\"%sconfig\">%s</a></h1>\n"
                          "        </div>\n        <div class=\"col-6\">\n"
                          "          <h1 class=\"title\"><a href=\"%sjobs\">%s</a></h1>\n",
                          papplClientGetLocString(client, "Configuration"), uri.c_str(),
                          papplClientGetLocString(client, "Change"), uri.c_str(),
                          papplClientGetLocString(client, "Jobs"));
    if (papplPrinterGetNumberOfJobs(printer) > 0) {
        papplClientHTMLPrintf(client,
                              "          <table class=\"list\" summary=\"Jobs\">\n            <thead>\n"
                              "              <tr><th>%s</th><th>%s</th><th>%s</th><th>%s</th><th>%s</th></tr>\n"
                              "            </thead>\n            <tbody>\n",
                              papplClientGetLocString(client, "Job #"), papplClientGetLocString(client, "Name"),
                              papplClientGetLocString(client, "Owner"), papplClientGetLocString(client, "Pages"),
                              papplClientGetLocString(client, "Status"));
        papplPrinterIterateAllJobs(printer, JobRow, client, 1, 20);
        papplClientHTMLPuts(client, "            </tbody>\n          </table>\n");
    } else {
        papplClientHTMLPrintf(client, "        <p>%s</p>\n", papplClientGetLocString(client, "No jobs in history."));
    }
    papplClientHTMLPuts(client, "        </div>\n      </div>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
}

} // namespace

void GuardPrinterHome(pappl_printer_t *printer, void *)
{
    const std::string path = std::string(PathOf(printer)) + "/";
    papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path.c_str(), "text/html", Home, printer);
}
