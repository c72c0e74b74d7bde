#include "Commands.h"

#include <pappl/pappl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "DriverTable.h"

namespace {

const char kBase[] = "quillfeed-app";

// The server's local socket, where PAPPL's sub-commands find it.
std::string SocketPath()
{
    char path[1024];
    if (getuid() != 0)
        snprintf(path, sizeof path, "%s/%s%d.sock", papplGetTempDir(), kBase, static_cast<int>(getuid()));
    else if (const char *snap = getenv("SNAP_COMMON"))
        snprintf(path, sizeof path, "%s/%s.sock", snap, kBase);
    else
        snprintf(path, sizeof path, "/run/%s.sock", kBase);
    return path;
}

http_t *ConnectLocal()
{
    const std::string path = SocketPath();
    if (access(path.c_str(), F_OK) != 0)
        return nullptr;
    return httpConnect2(path.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
}

// The value of -d, or "" without one; false when an option this code does
// not handle (a printer URI) is given.
bool PrinterName(int argc, char *argv[], std::string &name)
{
    name.clear();
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "-d") == 0 && i + 1 < argc)
            name = argv[++i];
        else if (strncmp(argv[i], "-d", 2) == 0 && argv[i][2])
            name = argv[i] + 2;
        else if (strncmp(argv[i], "-u", 2) == 0)
            return false;
    }
    return true;
}

ipp_t *Request(ipp_op_t op, const char *uriName, const std::string &printer)
{
    ipp_t *request = ippNewRequest(op);
    char uri[1024];
    if (printer.empty())
        snprintf(uri, sizeof uri, "ipp://localhost/ipp/%s", uriName);
    else
        httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/ipp/print/%s",
                         printer.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, printer.empty() ? "system-uri" : "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    return request;
}

// The id of the printer called `name`, from the system's list; 0 if none.
int PrinterId(http_t *http, const std::string &name)
{
    ipp_t *request = Request(IPP_OP_GET_SYSTEM_ATTRIBUTES, "system", "");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "system-configured-printers");
    ipp_t *response = cupsDoRequest(http, request, "/ipp/system");
    int id = 0;
    ipp_attribute_t *list = ippFindAttribute(response, "system-configured-printers", IPP_TAG_BEGIN_COLLECTION);
    for (int i = 0; list && i < ippGetCount(list) && id == 0; ++i) {
        ipp_t *printer = ippGetCollection(list, i);
        const char *n = ippGetString(ippFindAttribute(printer, "printer-name", IPP_TAG_ZERO), 0, nullptr);
        if (n && name == n)
            id = ippGetInteger(ippFindAttribute(printer, "printer-id", IPP_TAG_INTEGER), 0);
    }
    ippDelete(response);
    return id;
}

// ------------------------------------------------------------- submit

// A length as PAPPL's sub-commands take it: hundredths of millimetres, or
// a number with "mm", "cm", "in" or "m".
int Length(const char *value)
{
    char *units = nullptr;
    const double n = strtod(value, &units);
    const std::pair<const char *, double> scale[] = {{"cm", 1000.0}, {"in", 2540.0}, {"mm", 100.0}, {"m", 100000.0}};
    for (const auto &s : scale)
        if (units && strcmp(units, s.first) == 0)
            return static_cast<int>(n * s.second);
    return static_cast<int>(n);
}

bool IntegerIn(const char *value, int low, int high, int &out)
{
    char *end = nullptr;
    errno = 0;
    const long n = strtol(value, &end, 10);
    if (errno || !end || *end || end == value || n < low || n > high)
        return false;
    out = static_cast<int>(n);
    return true;
}

// The job attributes of the -o options, as PAPPL's own submit makes them
// (a vendor attribute takes the type of its -supported attribute).
void AddJobOptions(ipp_t *request, int n, cups_option_t *options, ipp_t *supported)
{
    auto option = [&](const char *name) {
        const char *v = cupsGetOption(name, n, options);
        return v ? v : cupsGetOption((std::string(name) + "-default").c_str(), n, options);
    };
    const char *value;
    int number = 0;
    if ((value = cupsGetOption("compression", n, options)))
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "compression", nullptr, value);
    if ((value = cupsGetOption("page-ranges", n, options))) {
        int first = 1, last = INT_MAX;
        sscanf(value, "%d-%d", &first, &last);
        ippAddRange(request, IPP_TAG_JOB, "page-ranges", first, last);
    }
    if ((value = option("copies")) && IntegerIn(value, 1, 9999, number))
        ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", number);
    const char *media = option("media");
    const char *const members[] = {"media-left-offset", "media-source", "media-top-offset", "media-tracking",
                                   "media-type"};
    bool collection = false;
    for (const char *m : members)
        collection = collection || cupsGetOption(m, n, options);
    if (collection) {
        ipp_t *col = ippNew();
        if (pwg_media_t *pwg = media ? pwgMediaForPWG(media) : nullptr) {
            ipp_t *size = ippNew();
            ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", pwg->width);
            ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", pwg->length);
            ippAddCollection(col, IPP_TAG_ZERO, "media-size", size);
            ippDelete(size);
        }
        for (const char *m : members) {
            if (!(value = cupsGetOption(m, n, options)))
                continue;
            if (strstr(m, "offset"))
                ippAddInteger(col, IPP_TAG_ZERO, IPP_TAG_INTEGER, m, Length(value));
            else
                ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, m, nullptr, value);
        }
        ippAddCollection(request, IPP_TAG_JOB, "media-col", col);
        ippDelete(col);
    } else if (media) {
        ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr, media);
    }
    for (const char *name : {"orientation-requested", "print-quality"}) {
        if (!(value = option(name)))
            continue;
        number = ippEnumValue(name, value);
        if (number || IntegerIn(value, 3, 9, number))
            ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_ENUM, name, number);
    }
    for (const char *name : {"print-color-mode", "print-content-optimize", "print-scaling"})
        if ((value = option(name)))
            ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, name, nullptr, value);
    if ((value = option("print-darkness")) && IntegerIn(value, -100, 100, number))
        ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "print-darkness", number);
    if ((value = option("print-speed")))
        ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "print-speed", Length(value));
    if ((value = option("printer-resolution"))) {
        int x = 0, y = 0;
        char units[32] = "dpi";
        if (sscanf(value, "%dx%d%31s", &x, &y, units) != 3) {
            if (sscanf(value, "%d%31s", &x, units) < 1)
                x = 300;
            y = x;
        }
        ippAddResolution(request, IPP_TAG_JOB, "printer-resolution",
                         strcmp(units, "dpi") == 0 ? IPP_RES_PER_INCH : IPP_RES_PER_CM, x, y);
    }
    static const char *const done[] = {"copies",
                                       "finishings",
                                       "media",
                                       "orientation-requested",
                                       "print-color-mode",
                                       "print-content-optimize",
                                       "print-darkness",
                                       "print-quality",
                                       "print-scaling",
                                       "print-speed",
                                       "printer-resolution"};
    ipp_attribute_t *creatable = ippFindAttribute(supported, "job-creation-attributes-supported", IPP_TAG_KEYWORD);
    for (int i = 0; i < ippGetCount(creatable); ++i) {
        const char *name = ippGetString(creatable, i, nullptr);
        if (!name || !(value = option(name)) ||
            std::any_of(std::begin(done), std::end(done), [&](const char *d) { return strcmp(d, name) == 0; }))
            continue;
        ipp_attribute_t *kind = ippFindAttribute(supported, (std::string(name) + "-supported").c_str(), IPP_TAG_ZERO);
        switch (kind ? ippGetValueTag(kind) : IPP_TAG_TEXT) {
        case IPP_TAG_BOOLEAN:
            ippAddBoolean(request, IPP_TAG_JOB, name, strcmp(value, "true") == 0);
            break;
        case IPP_TAG_INTEGER:
        case IPP_TAG_RANGE:
            if (IntegerIn(value, INT_MIN, INT_MAX, number))
                ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, name, number);
            break;
        case IPP_TAG_KEYWORD:
            ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, name, nullptr, value);
            break;
        case IPP_TAG_TEXT:
            ippAddString(request, IPP_TAG_JOB, IPP_TAG_TEXT, name, nullptr, value);
            break;
        default:
            break;
        }
    }
}

std::string DefaultPrinter(http_t *http)
{
    ipp_t *request = ippNewRequest(IPP_OP_CUPS_GET_DEFAULT);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ipp_t *response = cupsDoRequest(http, request, "/ipp/system");
    const char *name = ippGetString(ippFindAttribute(response, "printer-name", IPP_TAG_NAME), 0, nullptr);
    std::string out = name ? name : "";
    ippDelete(response);
    return out;
}

// While a job's answer is late (a raster job is answered once printed, so
// a printer out of paper holds it): the wait goes on as long as the app
// answers on a second connection within ten seconds, and says once what the
// printer reports.
struct Waiting {
    std::string printer;
    bool said = false;
};

int KeepWaiting(http_t *, void *data)
{
    auto *w = static_cast<Waiting *>(data);
    http_t *probe = ConnectLocal();
    ipp_t *response = nullptr;
    if (probe) {
        httpSetTimeout(probe, 10.0, nullptr, nullptr);
        ipp_t *request = Request(IPP_OP_GET_PRINTER_ATTRIBUTES, "print", w->printer);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                     "printer-state-reasons");
        response = cupsDoRequest(probe, request, ("/ipp/print/" + w->printer).c_str());
        httpClose(probe);
    }
    if (!response) {
        fprintf(stderr,
                "%s: The app stopped answering before the job's answer; \"%s status -d %s\" tells "
                "whether the job is there.\n",
                kBase, kBase, w->printer.c_str());
        return 0;
    }
    if (!w->said) {
        std::string reasons;
        ipp_attribute_t *r = ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD);
        for (int i = 0; i < ippGetCount(r); ++i)
            if (strcmp(ippGetString(r, i, nullptr), "none") != 0)
                reasons += (reasons.empty() ? "" : ", ") + std::string(ippGetString(r, i, nullptr));
        fprintf(stderr, "%s: The printer has not taken the whole job yet%s%s%s; waiting until it has.\n", kBase,
                reasons.empty() ? "" : " (", reasons.c_str(), reasons.empty() ? "" : ")");
        w->said = true;
    }
    ippDelete(response);
    return 1;
}

// A copy of the standard input in the temporary directory; "" on failure.
std::string CopyStdin()
{
    char name[1024];
    snprintf(name, sizeof name, "%s/%s-stdin-XXXXXX", papplGetTempDir(), kBase);
    const int fd = mkstemp(name);
    if (fd < 0)
        return std::string();
    char buffer[65536];
    ssize_t n;
    bool ok = true;
    while (ok && (n = read(0, buffer, sizeof buffer)) > 0)
        ok = write(fd, buffer, static_cast<size_t>(n)) == n;
    close(fd);
    if (!ok) {
        unlink(name);
        return std::string();
    }
    return name;
}

} // namespace

int DeletePrinterCommand(int argc, char *argv[])
{
    std::string name;
    if (!PrinterName(argc, argv, name) || name.empty())
        return -1;
    http_t *http = ConnectLocal();
    if (!http)
        return -1;
    const int id = PrinterId(http, name);
    if (id <= 0) {
        fprintf(stderr, "%s: No printer called \"%s\".\n", kBase, name.c_str());
        httpClose(http);
        return 1;
    }
    ipp_t *request = Request(IPP_OP_DELETE_PRINTER, "system", "");
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "printer-id", id);
    ippDelete(cupsDoRequest(http, request, "/ipp/system"));
    httpClose(http);
    if (cupsLastError() != IPP_STATUS_OK) {
        fprintf(stderr, "%s: Unable to delete printer: %s\n", kBase, cupsLastErrorString());
        return 1;
    }
    return 0;
}

std::vector<std::string> ModifyAfterAdd(int argc, char *argv[])
{
    std::vector<std::string> args{argv[0], "modify"}, settings;
    for (int i = 2; i < argc; ++i) {
        const bool withValue = (strcmp(argv[i], "-d") == 0 || strcmp(argv[i], "-o") == 0) && i + 1 < argc;
        if (strncmp(argv[i], "-d", 2) == 0 || strncmp(argv[i], "-o", 2) == 0) {
            std::vector<std::string> &to = argv[i][1] == 'd' ? args : settings;
            to.push_back(argv[i]);
            if (withValue)
                to.push_back(argv[++i]);
        } else if (argv[i][0] == '-' && argv[i][1] && strchr("muv", argv[i][1]) && !argv[i][2] && i + 1 < argc) {
            ++i; // -m DRIVER, -u URI, -v DEVICE: made by the add
        }
    }
    if (settings.empty())
        return {};
    args.insert(args.end(), settings.begin(), settings.end());
    return args;
}

int PrinterStatusCommand(int argc, char *argv[])
{
    std::string name;
    if (!PrinterName(argc, argv, name) || name.empty())
        return -1;
    http_t *http = ConnectLocal();
    if (!http)
        return -1;
    ipp_t *request = Request(IPP_OP_GET_PRINTER_ATTRIBUTES, "print", name);
    const char *const wanted[] = {"printer-state", "printer-state-change-date-time", "printer-state-reasons"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, wanted);
    ipp_t *response = cupsDoRequest(http, request, ("/ipp/print/" + name).c_str());
    httpClose(http);
    if (cupsLastError() != IPP_STATUS_OK) {
        fprintf(stderr, "%s: No printer called \"%s\": %s\n", kBase, name.c_str(), cupsLastErrorString());
        ippDelete(response);
        return 1;
    }
    const int state = ippGetInteger(ippFindAttribute(response, "printer-state", IPP_TAG_ENUM), 0);
    const char *stateText = state == IPP_PSTATE_PROCESSING ? "processing jobs"
                            : state == IPP_PSTATE_STOPPED  ? "stopped"
                                                           : "idle";
    char since[256];
    httpGetDateString2(
        ippDateToTime(ippGetDate(ippFindAttribute(response, "printer-state-change-date-time", IPP_TAG_DATE), 0)), since,
        sizeof since);
    std::string reasons;
    ipp_attribute_t *r = ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD);
    for (int i = 0; r && i < ippGetCount(r); ++i) {
        const char *reason = ippGetString(r, i, nullptr);
        if (reason && strcmp(reason, "none") != 0)
            reasons += (reasons.empty() ? ": " : ", ") + std::string(reason);
    }
    printf("Running, %s since %s%s.\n", stateText, since, reasons.c_str());
    ippDelete(response);
    return 0;
}

void ShowVendorOptions(int argc, char *argv[])
{
    std::string name;
    if (!PrinterName(argc, argv, name))
        return;
    http_t *http = ConnectLocal();
    if (!http)
        return;
    ipp_t *request = Request(IPP_OP_GET_PRINTER_ATTRIBUTES, "print", name);
    ipp_t *response = cupsDoRequest(http, request, name.empty() ? "/ipp/print" : ("/ipp/print/" + name).c_str());
    httpClose(http);
    const char *make = ippGetString(ippFindAttribute(response, "printer-make-and-model", IPP_TAG_ZERO), 0, nullptr);
    bool header = false;
    // The driver's make and model is its PPD's NickName.
    for (const PpdModel &m : AllModels()) {
        if (!make || strcmp(make, m.nickName) != 0)
            continue;
        for (const IppOption &ipp : IppOptions(m, kMaxVendor)) {
            if (ipp.kind != IppKind::Vendor)
                continue;
            const std::string def = ipp.name + "-default";
            char current[256] = "";
            ippAttributeString(ippFindAttribute(response, def.c_str(), IPP_TAG_ZERO), current, sizeof current);
            if (!header) {
                printf("\nVendor options (-o NAME=VALUE):\n");
                header = true;
            }
            printf("  %s: %s\n", ipp.name.c_str(), ipp.option->text);
            for (const PpdChoice &c : ipp.option->choices) {
                const std::string value = KeywordOf(c.name);
                printf("    -o %s=%s (%s)%s\n", ipp.name.c_str(), value.c_str(), c.text,
                       value == current ? " (default)" : "");
            }
        }
        break;
    }
    ippDelete(response);
}

int SubmitCommand(int argc, char *argv[])
{
    std::string printer, title;
    int n = 0;
    cups_option_t *options = nullptr;
    std::vector<std::string> files;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        const bool valued = (a == "-d" || a == "-n" || a == "-o" || a == "-t") && i + 1 < argc;
        if (valued && a == "-d")
            printer = argv[++i];
        else if (valued && a == "-n")
            n = cupsAddOption("copies", argv[++i], n, &options);
        else if (valued && a == "-o")
            n = cupsParseOptions(argv[++i], n, &options);
        else if (valued && a == "-t")
            title = argv[++i];
        else if (a == "-" || a[0] != '-')
            files.push_back(a);
        else {
            cupsFreeOptions(n, options); // -u and the rest: PAPPL's own submit
            return -1;
        }
    }
    http_t *http = ConnectLocal();
    if (!http) {
        cupsFreeOptions(n, options); // no server: PAPPL's submit starts one
        return -1;
    }
    if (files.empty() && !isatty(0))
        files.push_back("-");
    int status = 0;
    if (files.empty()) {
        fprintf(stderr, "%s: No files to print.\n", kBase);
        status = 1;
    } else if (printer.empty() && (printer = DefaultPrinter(http)).empty()) {
        fprintf(stderr, "%s: No default printer available.\n", kBase);
        status = 1;
    }
    const std::string resource = "/ipp/print/" + printer;
    for (size_t f = 0; status == 0 && f < files.size(); ++f) {
        const bool fromStdin = files[f] == "-";
        const std::string file = fromStdin ? CopyStdin() : files[f];
        const std::string document = fromStdin ? "(stdin)" : file.substr(file.rfind('/') + 1);
        if (file.empty() || access(file.c_str(), R_OK) != 0) {
            fprintf(stderr, "%s: Unable to read '%s'.\n", kBase, files[f].c_str());
            status = 1;
            break;
        }
        ipp_t *request = Request(IPP_OP_GET_PRINTER_ATTRIBUTES, "print", printer);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "all");
        ipp_t *supported = cupsDoRequest(http, request, resource.c_str());
        request = Request(IPP_OP_PRINT_JOB, "print", printer);
        const char *name = cupsGetOption("job-name", n, options);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr,
                     !title.empty() ? title.c_str()
                     : name         ? name
                                    : document.c_str());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "document-name", nullptr, document.c_str());
        if (const char *format = cupsGetOption("document-format", n, options))
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
        AddJobOptions(request, n, options, supported);
        ippDelete(supported);
        Waiting waiting{printer};
        httpSetTimeout(http, 30.0, KeepWaiting, &waiting);
        ipp_t *response = cupsDoFileRequest(http, request, resource.c_str(), file.c_str());
        httpSetTimeout(http, 30.0, nullptr, nullptr);
        if (fromStdin)
            unlink(file.c_str());
        ipp_attribute_t *id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER);
        if (id) {
            printf("%s-%d\n", printer.c_str(), ippGetInteger(id, 0));
        } else {
            fprintf(stderr, "%s: Unable to print '%s': %s\n", kBase, files[f].c_str(), cupsLastErrorString());
            status = 1;
        }
        ippDelete(response);
    }
    httpClose(http);
    cupsFreeOptions(n, options);
    return status;
}
