// quillfeed-app: the printers as a Printer Application (an IPP Everywhere
// server). PAPPL's main loop gives the sub-commands (server, add, devices,
// drivers, printers, submit, status, options, shutdown, ...) and the web
// interface; this file makes the system object.
//
// Server options (-o NAME=VALUE):
//   server-port=N         IPP port (default: PAPPL picks one)
//   listen-hostname=NAME  listen on this address only (default: all)
//   spool-directory=DIR   job files
//   state-file=FILE       printers and their defaults, kept across restarts
//   log-file=FILE         "-" for the standard error, "syslog"
//   log-level=LEVEL       fatal, error, warn, info, debug
//   server-options=LIST   no-tls, web-remote, web-log, raw-socket, no-web-interface
#include <pappl/pappl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "PapplDriver.h"
#include "Commands.h"
#include "Devices.h"
#include "PictureJob.h"

#ifndef QF_VERSION
#define QF_VERSION "0.0.0"
#endif

namespace {

const char kName[] = "quillfeed-app";
const char kFooter[] = "quillfeed printers: TSPL and CPCL labels, ESC/POS receipts, Paperang and PeriPage portables.";

std::string g_stateFile;
// Set for the sub-commands that make a system only to read its driver list:
// no listeners, no state, no log.
bool g_listOnly = false;

std::string Option(const char *name, int n, cups_option_t *options, const std::string &fallback = std::string())
{
    const char *v = cupsGetOption(name, n, options);
    return v ? v : fallback;
}

// Where the state goes when no state-file is given: /var/lib for the
// service, the user's configuration directory otherwise.
std::string DefaultStateFile()
{
    if (getuid() == 0) {
        mkdir("/var/lib/quillfeed-app", 0755);
        return "/var/lib/quillfeed-app/state";
    }
    const char *config = getenv("XDG_CONFIG_HOME");
    const char *home = getenv("HOME");
    std::string dir = config && *config ? config : std::string(home ? home : "/tmp") + "/.config";
    mkdir(dir.c_str(), 0700);
    return dir + "/quillfeed-app.state";
}

std::string DefaultSpool()
{
    if (getuid() == 0)
        return "/var/spool/quillfeed-app";
    const char *home = getenv("HOME");
    return std::string(home ? home : "/tmp") + "/.cache/quillfeed-app";
}

pappl_soptions_t ServerOptions(const std::string &list)
{
    pappl_soptions_t o = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        const std::string w = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (w == "no-tls")
            o |= PAPPL_SOPTIONS_NO_TLS;
        else if (w == "web-remote")
            o |= PAPPL_SOPTIONS_WEB_REMOTE;
        else if (w == "web-log")
            o |= PAPPL_SOPTIONS_WEB_LOG;
        else if (w == "web-security")
            o |= PAPPL_SOPTIONS_WEB_SECURITY;
        else if (w == "raw-socket")
            o |= PAPPL_SOPTIONS_RAW_SOCKET;
        else if (w == "no-web-interface")
            o &= ~static_cast<pappl_soptions_t>(PAPPL_SOPTIONS_WEB_INTERFACE);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return o;
}

pappl_loglevel_t LogLevel(const std::string &s)
{
    if (s == "fatal")
        return PAPPL_LOGLEVEL_FATAL;
    if (s == "error")
        return PAPPL_LOGLEVEL_ERROR;
    if (s == "warn")
        return PAPPL_LOGLEVEL_WARN;
    if (s == "debug")
        return PAPPL_LOGLEVEL_DEBUG;
    return PAPPL_LOGLEVEL_INFO;
}

bool SaveState(pappl_system_t *system, void *)
{
    return papplSystemSaveState(system, g_stateFile.c_str());
}

pappl_system_t *MakeSystem(int n, cups_option_t *options, void *)
{
    const std::string portText = Option("server-port", n, options, "0");
    char *end = nullptr;
    long port = strtol(portText.c_str(), &end, 10);
    if (*end || port < 0 || port > 65535) {
        fprintf(stderr, "ERROR: %s: bad server-port \"%s\".\n", kName, portText.c_str());
        return nullptr;
    }
    const std::string spool = g_listOnly ? std::string("/tmp") : Option("spool-directory", n, options, DefaultSpool());
    mkdir(spool.c_str(), 0700);
    const std::string log = g_listOnly ? std::string("/dev/null") : Option("log-file", n, options, "-");

    pappl_system_t *system = papplSystemCreate(ServerOptions(Option("server-options", n, options)), kName,
                                               static_cast<int>(port), "_print,_universal", spool.c_str(), log.c_str(),
                                               LogLevel(Option("log-level", n, options, "info")),
                                               cupsGetOption("auth-service", n, options), false);
    if (!system)
        return nullptr;
    AddPictureFilters(system);
    AddWebStrings(system);
    int count = 0;
    pappl_pr_driver_t *drivers = AppDrivers(&count);
    papplSystemSetPrinterDrivers(system, count, drivers, AppAutoAdd, nullptr, AppDriverCallback, nullptr);
    if (g_listOnly)
        return system;

    // A server started on demand by a sub-command ("private-server") is
    // reached through its local socket only.
    const std::string listen = Option("listen-hostname", n, options);
    if (!cupsGetOption("private-server", n, options))
        papplSystemAddListeners(system, listen.empty() ? nullptr : listen.c_str());
    if (const char *host = cupsGetOption("server-hostname", n, options))
        papplSystemSetHostName(system, host);

    papplSystemSetFooterHTML(system, kFooter);
    pappl_version_t version{};
    strncpy(version.name, kName, sizeof version.name - 1);
    strncpy(version.sversion, QF_VERSION, sizeof version.sversion - 1);
    sscanf(QF_VERSION, "%hu.%hu.%hu", &version.version[0], &version.version[1], &version.version[2]);
    papplSystemSetVersions(system, 1, &version);

    g_stateFile = Option("state-file", n, options, DefaultStateFile());
    if (!papplSystemLoadState(system, g_stateFile.c_str())) {
        papplSystemSetDNSSDName(system, "quillfeed");
        papplSystemSetLocation(system, "");
    }
    papplSystemSetSaveCallback(system, SaveState, nullptr);
    return system;
}

} // namespace

int main(int argc, char *argv[])
{
    AddDeviceSchemes();
    // "devices" names each device and its model guess, not just its URI.
    std::vector<char *> args(argv, argv + argc);
    char verbose[] = "-o", verboseValue[] = "verbose=1";
    if (argc == 2 && strcmp(argv[1], "devices") == 0)
        args.insert(args.end(), {verbose, verboseValue});
    argc = static_cast<int>(args.size());
    args.push_back(nullptr);
    argv = args.data();
    g_listOnly = argc > 1 && strcmp(argv[1], "drivers") == 0;
    int count = 0;
    pappl_pr_driver_t *drivers = AppDrivers(&count);
    const char *command = argc > 1 ? argv[1] : "";
    if (strcmp(command, "delete") == 0) {
        const int status = DeletePrinterCommand(argc, argv);
        if (status >= 0)
            return status;
    }
    const int status = papplMainloop(argc, argv, QF_VERSION, kFooter, count, drivers, AppAutoAdd, AppDriverCallback,
                                     "testpage", TestPageCommand, MakeSystem, nullptr, nullptr);
    if (status == 0 && strcmp(command, "options") == 0)
        ShowVendorOptions(argc, argv);
    return status;
}
