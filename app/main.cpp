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
//   file-directory=DIR    the only directory file: devices may write to
//                         (default: none, no file: devices)
//   serial-ports=LIST     more paths serial: devices may open, as patterns
//                         (e.g. /dev/ttyS*); /dev/ttyUSB*, /dev/ttyACM* and
//                         /dev/rfcomm* always
//   device-timeout=N      seconds a job waits for its printer to be reachable
//                         before it is cancelled (default 120)
//   status-interval=N     an idle printer is asked for its status when
//                         someone looks at it, at most every N seconds
//                         (default 5; 0: only while it prints)
//   auth-service=NAME     PAM service that authenticates administrators
//                         (default: none; then only local administrators)
//   admin-group=NAME      their group (default: lpadmin)
#include <pappl/pappl.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "JobKeeping.h"
#include "KeptJobs.h"
#include "PapplDriver.h"
#include "Commands.h"
#include "Devices.h"
#include "DeviceListing.h"
#include "PictureJob.h"
#include "PrinterHome.h"
#include "Resync.h"
#include "Service.h"
#include "StatusMonitor.h"

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

// The devices the administrator allows (see DeviceCheck.h).
bool SetPolicy(int n, cups_option_t *options)
{
    DevicePolicy policy;
    policy.serialPatterns = DefaultSerialPatterns();
    for (const std::string &p : SplitList(Option("serial-ports", n, options)))
        policy.serialPatterns.push_back(p);
    policy.fileDirectory = Option("file-directory", n, options);
    if (!policy.fileDirectory.empty()) {
        const std::string problem = FileDirectoryProblem(policy.fileDirectory);
        if (!problem.empty()) {
            fprintf(stderr, "ERROR: %s: file-directory: %s.\n", kName, problem.c_str());
            return false;
        }
    }
    SetDevicePolicy(policy);
    return true;
}

// One server per state file: a second one (root's command starting its own
// when the service's socket is out of its reach, say) would write over the
// first's printers. The lock lasts as long as the process.
bool LockState(const std::string &stateFile)
{
    const std::string lock = stateFile + ".lock";
    const int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        fprintf(stderr, "ERROR: %s: unable to lock the state file %s: %s.\n", kName, lock.c_str(), strerror(errno));
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    fprintf(stderr,
            "ERROR: %s: another %s server keeps its printers in %s; its local socket could not be reached, so "
            "no second server is started on them.\n",
            kName, kName, stateFile.c_str());
    close(fd);
    return false;
}

bool SyncFile(const std::string &path, int flags)
{
    int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

std::string DirectoryOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Written whole: a new file, synced, then renamed over the old one, so that
// a crash or a power cut leaves the old state or the new, never a part.
bool SaveState(pappl_system_t *system, void *)
{
    // Saved from the server's loop and, on SIGTERM, from the stopping thread.
    static std::mutex saving;
    std::lock_guard<std::mutex> lock(saving);
    const std::string temp = g_stateFile + ".new";
    if (!papplSystemSaveState(system, temp.c_str()) || !SyncFile(temp, O_RDONLY) ||
        rename(temp.c_str(), g_stateFile.c_str()) != 0) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to save the state to %s: %s.", g_stateFile.c_str(),
                 strerror(errno));
        unlink(temp.c_str());
        return false;
    }
    SyncFile(DirectoryOf(g_stateFile), O_RDONLY | O_DIRECTORY);
    return true;
}

// The state file, with the jobs that were printing when it was written
// made pending again, into `loadFrom`; false: load the state file as it is.
bool PrepareState(const std::string &stateFile, const std::string &loadFrom, int &resumed)
{
    resumed = 0;
    FILE *in = fopen(stateFile.c_str(), "re");
    if (!in)
        return false;
    std::string text;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0)
        text.append(buffer, n);
    fclose(in);
    const std::string again = PendingAgain(text, resumed);
    if (resumed == 0)
        return false;
    const int fd = open(loadFrom.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    const bool ok = write(fd, again.data(), again.size()) == static_cast<ssize_t>(again.size());
    return close(fd) == 0 && ok;
}

// As root, libcups keeps the TLS key and certificate it makes in the
// host's /etc/cups/ssl, and PAPPL names no other place. The app's server
// keeps them beside its state instead, in a directory only it reads; PAPPL
// names the default again when the host name changes, so the place is set
// again then.
std::string g_credentials;
std::string g_credentialsHost;

bool KeepCredentialsWithState(pappl_system_t *system, void *)
{
    char host[256] = "";
    papplSystemGetHostName(system, host, sizeof host);
    if (g_credentials.empty() || g_credentialsHost == host)
        return true;
    g_credentialsHost = host;
    cupsSetServerCredentials(g_credentials.c_str(), host, 1);
    return true;
}

// A printer whose device this build has no scheme for (PAPPL 1.3's snmp://
// and dnssd:// addresses, which the app does not offer there) is named at
// the start, not only when its first job fails.
void WarnUnreachable(pappl_printer_t *printer, void *)
{
    const char *uri = papplPrinterGetDeviceURI(printer);
    if (uri && !papplDeviceIsSupported(uri))
        papplLogPrinter(
            printer, PAPPL_LOGLEVEL_ERROR,
            "The printer's address %s is not one this app can use; change it to the printer's "
            "socket://, usb://, serial://, quillbt:// or quillble:// address (quillfeed-app modify -d %s -v URI).",
            uri, papplPrinterGetName(printer));
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
    if (!SetPolicy(n, options))
        return nullptr;
    // The default is made only when none is given: it creates its directory.
    const char *stateFile = cupsGetOption("state-file", n, options);
    if (!g_listOnly) {
        g_stateFile = stateFile ? stateFile : DefaultStateFile();
        if (!LockState(g_stateFile))
            return nullptr;
    }
    const std::string spool = g_listOnly ? std::string("/tmp") : Option("spool-directory", n, options, DefaultSpool());
    mkdir(spool.c_str(), 0700);
    const std::string log = g_listOnly ? std::string("/dev/null") : Option("log-file", n, options, "-");

    if (!g_listOnly)
        HoldTermSignal();
    pappl_system_t *system = papplSystemCreate(ServerOptions(Option("server-options", n, options)), kName,
                                               static_cast<int>(port), "_print,_universal", spool.c_str(), log.c_str(),
                                               LogLevel(Option("log-level", n, options, "info")), nullptr, false);
    if (!system)
        return nullptr;
    AddPictureFilters(system);
    AddWebStrings(system);
    int count = 0;
    pappl_pr_driver_t *drivers = AppDrivers(&count);
    papplSystemSetPrinterDrivers(system, count, drivers, AppAutoAdd, GuardPrinterHome, AppDriverCallback, nullptr);
    if (g_listOnly)
        return system;
    SetInFlightDirectory(spool);

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

    int resumed = 0;
    const std::string prepared = g_stateFile + ".load";
    const bool fromPrepared = PrepareState(g_stateFile, prepared, resumed);
    const bool loaded = papplSystemLoadState(system, (fromPrepared ? prepared : g_stateFile).c_str());
    if (fromPrepared) {
        unlink(prepared.c_str());
        papplLog(system, PAPPL_LOGLEVEL_INFO,
                 "%d job(s) were printing when the app stopped: they print again, from the first page the printer "
                 "did not take.",
                 resumed);
    }
    if (loaded)
        papplSystemIteratePrinters(system, WarnUnreachable, nullptr);
    if (!loaded) {
        papplSystemSetDNSSDName(system, "quillfeed");
        papplSystemSetLocation(system, "");
    }
    papplSystemSetSaveCallback(system, SaveState, nullptr);
    if (getuid() == 0 && !g_listOnly) {
        const size_t slash = g_stateFile.rfind('/');
        g_credentials = (slash == std::string::npos ? "." : g_stateFile.substr(0, slash)) + "/ssl";
        mkdir(g_credentials.c_str(), 0700);
        KeepCredentialsWithState(system, nullptr);
        papplSystemAddTimerCallback(system, 0, 5, KeepCredentialsWithState, nullptr);
    }
    SetUpAdministration(system, cupsGetOption("auth-service", n, options),
                        Option("admin-group", n, options, "lpadmin").c_str());
    RestrictLocalSocket(system, kName);
    StopPromptlyOnTerm(system, SaveState);
    KeepJobs(system, SaveState);
    FollowPrinterChanges(system);
    EndJobsWithoutDevice(system, atoi(Option("device-timeout", n, options, "120").c_str()));
    SetIdleStatusInterval(atoi(Option("status-interval", n, options, "5").c_str()));
    return system;
}

} // namespace

int main(int argc, char *argv[])
{
    // A network printer that closes its connection must fail the write, not
    // end the process (the devices write with plain write()).
    signal(SIGPIPE, SIG_IGN);
    AddDeviceSchemes();
    // "devices" names each device and its model guess, not just its URI.
    if (argc == 2 && strcmp(argv[1], "devices") == 0)
        return ListDevices(kName);
    g_listOnly = argc > 1 && strcmp(argv[1], "drivers") == 0;
    int count = 0;
    pappl_pr_driver_t *drivers = AppDrivers(&count);
    const char *command = argc > 1 ? argv[1] : "";
    if (strcmp(command, "delete") == 0 || strcmp(command, "status") == 0 || strcmp(command, "submit") == 0) {
        const int status = command[1] == 'e'   ? DeletePrinterCommand(argc, argv)
                           : command[1] == 't' ? PrinterStatusCommand(argc, argv)
                                               : SubmitCommand(argc, argv);
        if (status >= 0)
            return status;
    }
    const int status = papplMainloop(argc, argv, QF_VERSION, kFooter, count, drivers, AppAutoAdd, AppDriverCallback,
                                     "testpage", TestPageCommand, MakeSystem, nullptr, nullptr);
    if (status == 0 && strcmp(command, "options") == 0)
        ShowVendorOptions(argc, argv);
    if (status == 0 && strcmp(command, "add") == 0) {
        std::vector<std::string> modify = ModifyAfterAdd(argc, argv);
        if (!modify.empty()) {
            std::vector<char *> args;
            for (std::string &a : modify)
                args.push_back(&a[0]);
            args.push_back(nullptr);
            return papplMainloop(static_cast<int>(modify.size()), args.data(), QF_VERSION, kFooter, count, drivers,
                                 AppAutoAdd, AppDriverCallback, "testpage", TestPageCommand, MakeSystem, nullptr,
                                 nullptr);
        }
    }
    return status;
}
