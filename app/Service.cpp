#include "Service.h"

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PeerUid.h"
#include "Resync.h"
#include "StatusMonitor.h"

namespace {

// The owner of the client's end of a loopback TCP connection, -1 if unknown.
long LoopbackPeerUid(int fd)
{
    sockaddr_storage peer{}, ours{};
    socklen_t peerLength = sizeof peer, ourLength = sizeof ours;
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&ours), &ourLength) != 0 || peer.ss_family != ours.ss_family)
        return -1;
    TableAddress peerAddress, ourAddress;
    const char *table = nullptr;
    if (peer.ss_family == AF_INET) {
        const auto &p = reinterpret_cast<const sockaddr_in &>(peer);
        const auto &o = reinterpret_cast<const sockaddr_in &>(ours);
        if ((ntohl(p.sin_addr.s_addr) >> 24) != 127)
            return -1;
        peerAddress = ToTableAddress(reinterpret_cast<const unsigned char *>(&p.sin_addr), 4, ntohs(p.sin_port));
        ourAddress = ToTableAddress(reinterpret_cast<const unsigned char *>(&o.sin_addr), 4, ntohs(o.sin_port));
        table = "/proc/self/net/tcp";
    } else if (peer.ss_family == AF_INET6) {
        const auto &p = reinterpret_cast<const sockaddr_in6 &>(peer);
        const auto &o = reinterpret_cast<const sockaddr_in6 &>(ours);
        if (!IN6_IS_ADDR_LOOPBACK(&p.sin6_addr) && !IN6_IS_ADDR_V4MAPPED(&p.sin6_addr))
            return -1;
        if (IN6_IS_ADDR_V4MAPPED(&p.sin6_addr) && p.sin6_addr.s6_addr[12] != 127)
            return -1;
        peerAddress = ToTableAddress(p.sin6_addr.s6_addr, 16, ntohs(p.sin6_port));
        ourAddress = ToTableAddress(o.sin6_addr.s6_addr, 16, ntohs(o.sin6_port));
        table = "/proc/self/net/tcp6";
    } else {
        return -1;
    }
    std::ifstream in(table);
    std::stringstream text;
    text << in.rdbuf();
    // The client's socket: its local end is our peer, its remote end is us.
    return SocketOwner(text.str(), peerAddress, ourAddress);
}

bool InGroup(uid_t uid, gid_t group)
{
    if (group == static_cast<gid_t>(-1))
        return false;
    passwd entry{}, *found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    if (found->pw_gid == group)
        return true;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0)
        return false;
    for (int i = 0; i < count; ++i)
        if (groups[static_cast<size_t>(i)] == group)
            return true;
    return false;
}

std::string g_adminGroup;
std::string g_authService;

// Base64 as HTTP's Basic scheme writes it; false on anything else.
bool DecodeBase64(const char *in, std::string &out)
{
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    unsigned bits = 0;
    int have = 0;
    out.clear();
    for (; *in && *in != '='; ++in) {
        const size_t v = kAlphabet.find(*in);
        if (v == std::string::npos)
            return false;
        bits = (bits << 6) | static_cast<unsigned>(v);
        have += 6;
        if (have >= 8) {
            have -= 8;
            out += static_cast<char>((bits >> have) & 0xFF);
        }
        if (out.size() > 1024)
            return false;
    }
    return true;
}

struct PamAnswer {
    const char *password;
};

int PamConversation(int count, const pam_message **messages, pam_response **responses, void *data)
{
    if (count <= 0 || count > PAM_MAX_NUM_MSG)
        return PAM_CONV_ERR;
    auto *replies = static_cast<pam_response *>(calloc(static_cast<size_t>(count), sizeof(pam_response)));
    if (!replies)
        return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        const int style = messages[i]->msg_style;
        if (style == PAM_PROMPT_ECHO_OFF || style == PAM_PROMPT_ECHO_ON)
            replies[i].resp = strdup(static_cast<PamAnswer *>(data)->password);
    }
    *responses = replies;
    return PAM_SUCCESS;
}

// The user named in the request's Basic credentials, when PAM takes their
// password; empty otherwise.
std::string PamUser(pappl_client_t *client)
{
    const char *field = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION);
    if (!field || strncmp(field, "Basic ", 6) != 0)
        return std::string();
    field += 6;
    while (*field == ' ')
        ++field;
    std::string pair;
    const size_t colon = DecodeBase64(field, pair) ? pair.find(':') : std::string::npos;
    if (colon == std::string::npos || colon == 0)
        return std::string();
    const std::string user = pair.substr(0, colon);
    PamAnswer answer{pair.c_str() + colon + 1};
    pam_conv conversation{PamConversation, &answer};
    pam_handle_t *pam = nullptr;
    if (pam_start(g_authService.c_str(), user.c_str(), &conversation, &pam) != PAM_SUCCESS)
        return std::string();
    int status = pam_authenticate(pam, PAM_SILENT);
    if (status == PAM_SUCCESS)
        status = pam_acct_mgmt(pam, PAM_SILENT);
    pam_end(pam, status);
    if (status != PAM_SUCCESS) {
        papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Refused the password given for \"%s\".", user.c_str());
        return std::string();
    }
    return user;
}

uid_t UidOfName(const std::string &name, bool &found)
{
    passwd entry{}, *result = nullptr;
    std::vector<char> buffer(16384);
    found = getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &result) == 0 && result;
    return found ? result->pw_uid : 0;
}

// A question about another user's job that only reads it (its state, for
// a client that follows a job it did not send). PAPPL asks about a job in
// the request being answered only: the request is gone once a web page is
// asked for on the same connection.
bool ReadsAJob(pappl_client_t *client)
{
    ipp_t *request = papplClientGetRequest(client);
    return request && papplClientGetJob(client) && ippGetOperation(request) == IPP_OP_GET_JOB_ATTRIBUTES;
}

// PAPPL asks the same question for printing (GROUP_NAME is then the
// printer's print group, none by default, and GROUP undefined without one),
// for a job operation by someone else than the job's owner, and for
// administration (GROUP_NAME is the admin group for both). The answer
// depends on who the client is, never on what its connection did before.
// PAPPL answers the local socket's clients itself: its mode keeps others out.
http_status_t Authorize(pappl_client_t *client, const char *groupName, gid_t group, void *)
{
    const long uid = LoopbackPeerUid(httpGetFd(papplClientGetHTTP(client)));
    if (uid >= 0) {
        // Jobs are owned by the local user who sent them.
        passwd entry{}, *found = nullptr;
        std::vector<char> buffer(16384);
        if (getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
            papplClientSetUsername(client, found->pw_name);
        else
            papplClientSetUsername(client, std::to_string(uid).c_str());
    }
    const bool administration = groupName && g_adminGroup == groupName;
    // Printing stays open unless the printer has a print group.
    if (!administration && (!groupName || group == static_cast<gid_t>(-1)))
        return HTTP_STATUS_CONTINUE;
    if (administration && ReadsAJob(client))
        return HTTP_STATUS_CONTINUE;
    long who = uid;
    if (who < 0 && !g_authService.empty()) {
        // Another host: an administrator's name and password, over TLS
        // (PAPPL refuses an unencrypted remote request before asking).
        const std::string user = PamUser(client);
        if (user.empty())
            return HTTP_STATUS_UNAUTHORIZED;
        bool found = false;
        who = UidOfName(user, found);
        if (!found)
            return HTTP_STATUS_FORBIDDEN;
        papplClientSetUsername(client, user.c_str());
    }
    if (who < 0)
        return HTTP_STATUS_FORBIDDEN;
    if (who == 0 || static_cast<uid_t>(who) == geteuid() || InGroup(static_cast<uid_t>(who), group))
        return HTTP_STATUS_CONTINUE;
    papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Refused a request from user %ld, who is not in group %s.", who,
                   administration ? g_adminGroup.c_str() : groupName);
    return HTTP_STATUS_FORBIDDEN;
}

std::string g_socketPath;

bool RestrictSocketNow(pappl_system_t *system, void *)
{
    if (!g_socketPath.empty() && chmod(g_socketPath.c_str(), 0600) != 0)
        papplLog(system, PAPPL_LOGLEVEL_WARN, "Unable to restrict the local socket %s.", g_socketPath.c_str());
    return false;
}

bool (*g_saveState)(pappl_system_t *, void *) = nullptr;

sigset_t TermSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    return set;
}

// Like a crash, but with the state saved last: what was printing goes on
// from the page after the last one the printer took, the rest follows.
// A save that does not end (a lock never freed) still lets the app stop:
// the state saved when each job arrived is there.
void StopOnTerm(pappl_system_t *system)
{
    const sigset_t set = TermSet();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    papplLog(system, PAPPL_LOGLEVEL_INFO,
             "Stopping: the jobs not yet printed are kept and print when the app starts again.");
    std::thread([system] {
        sleep(10);
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Saving the state took more than 10 seconds: stopping without it.");
        _exit(1);
    }).detach();
    const bool saved = g_saveState && g_saveState(system, nullptr);
    if (!saved)
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to save the state before stopping.");
    _exit(saved ? 0 : 1);
}

void CollectJob(pappl_job_t *job, void *data)
{
    static_cast<std::vector<pappl_job_t *> *>(data)->push_back(job);
}

// Jobs seen waiting for their device: job id to the time first seen.
std::map<int, time_t> g_waiting;
int g_deviceTimeout = 0;

void CollectWaiting(pappl_printer_t *printer, void *data)
{
    // PAPPL marks the printer stopped while it retries opening the device
    // for the job it processes (a paused printer processes none).
    if (papplPrinterGetState(printer) != IPP_PSTATE_STOPPED)
        return;
    std::vector<pappl_job_t *> jobs;
    papplPrinterIterateActiveJobs(printer, CollectJob, &jobs, 1, 0);
    for (pappl_job_t *job : jobs)
        if (papplJobGetState(job) == IPP_JSTATE_PROCESSING)
            static_cast<std::vector<std::pair<pappl_printer_t *, pappl_job_t *>> *>(data)->emplace_back(printer, job);
}

bool EndWaitingJobs(pappl_system_t *system, void *)
{
    std::vector<std::pair<pappl_printer_t *, pappl_job_t *>> waiting;
    papplSystemIteratePrinters(system, CollectWaiting, &waiting);
    const time_t now = time(nullptr);
    std::map<int, time_t> still;
    for (const auto &w : waiting) {
        const int id = papplJobGetID(w.second);
        const auto seen = g_waiting.find(id);
        const time_t since = seen == g_waiting.end() ? now : seen->second;
        if (now - since < g_deviceTimeout) {
            still[id] = since;
            continue;
        }
        papplLogJob(w.second, PAPPL_LOGLEVEL_ERROR, "The printer at %s could not be reached for %d seconds.",
                    papplPrinterGetDeviceURI(w.first), g_deviceTimeout);
        papplJobSetMessage(w.second,
                           "The printer could not be reached for %d seconds; check that it is on and "
                           "connected, then print again.",
                           g_deviceTimeout);
        papplJobCancel(w.second);
    }
    g_waiting.swap(still);
    return true;
}

// Printers added while the app runs, by id, to be announced. PAPPL 1.3
// announces its printers over DNS-SD when it starts, and after a name
// collision; one added later was announced only by the web interface's
// form, not by IPP or "quillfeed-app add", until a restart.
std::mutex g_newPrintersLock;
std::vector<int> g_newPrinters;

bool AnnounceNewPrinters(pappl_system_t *system, void *)
{
    std::vector<int> ids;
    {
        std::lock_guard<std::mutex> lock(g_newPrintersLock);
        ids.swap(g_newPrinters);
    }
    for (int id : ids) {
        pappl_printer_t *printer = papplSystemFindPrinter(system, nullptr, id, nullptr);
        char name[256];
        // Setting the name it has announces it (again, after the form).
        if (printer && papplPrinterGetDNSSDName(printer, name, sizeof name))
            papplPrinterSetDNSSDName(printer, name);
    }
    return true;
}

void OnEvent(pappl_system_t *system, pappl_printer_t *printer, pappl_job_t *, pappl_event_t event, void *)
{
    if ((event & PAPPL_EVENT_PRINTER_CREATED) && printer && papplSystemIsRunning(system)) {
        std::lock_guard<std::mutex> lock(g_newPrintersLock);
        g_newPrinters.push_back(papplPrinterGetID(printer));
    }
    if (!(event & PAPPL_EVENT_PRINTER_DELETED) || !printer)
        return;
    const int id = papplPrinterGetID(printer);
    ForgetPrinter(id);
    if (!InFlightDirectory().empty())
        InFlightRecord(InFlightDirectory(), std::to_string(id)).End();
}

} // namespace

void FollowPrinterChanges(pappl_system_t *system)
{
    papplSystemSetEventCallback(system, OnEvent, nullptr);
    papplSystemAddTimerCallback(system, 0, 1, AnnounceNewPrinters, nullptr);
}

void EndJobsWithoutDevice(pappl_system_t *system, int seconds)
{
    if (seconds <= 0)
        return;
    g_deviceTimeout = seconds;
    papplSystemAddTimerCallback(system, 0, 1, EndWaitingJobs, nullptr);
}

void SetUpAdministration(pappl_system_t *system, const char *authService, const char *adminGroup)
{
    // Without the named group, root's: there is always an admin group, so
    // that administration is told from printing.
    g_adminGroup = adminGroup && *adminGroup && getgrnam(adminGroup) ? adminGroup : "root";
    papplSystemSetAdminGroup(system, g_adminGroup.c_str());
    g_authService = authService ? authService : "";
    papplSystemSetAuthCallback(system, "Basic", Authorize, nullptr);
}

void RestrictLocalSocket(pappl_system_t *system, const char *name)
{
    // Where PAPPL 1.3's main loop puts it.
    const char *snap = getenv("SNAP_COMMON");
    if (getuid() != 0)
        g_socketPath = std::string(papplGetTempDir()) + "/" + name + std::to_string(getuid()) + ".sock";
    else if (snap)
        g_socketPath = std::string(snap) + "/" + name + ".sock";
    else
        g_socketPath = std::string("/run/") + name + ".sock";
    papplSystemAddTimerCallback(system, 0, 0, RestrictSocketNow, nullptr);
}

void HoldTermSignal()
{
    const sigset_t set = TermSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void StopPromptlyOnTerm(pappl_system_t *system, bool (*save)(pappl_system_t *, void *))
{
    g_saveState = save;
    std::thread(StopOnTerm, system).detach();
}
