#include "Commands.h"

#include <pappl/pappl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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
