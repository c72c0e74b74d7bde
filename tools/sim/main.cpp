// quillfeed-sim: a virtual printer of any family for trying the filter, the
// Printer Application and their status handling without a printer.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Decode.h"
#include "PngWriter.h"
#include "SimSession.h"

using namespace qf;
using namespace qf::sim;

namespace {

constexpr const char *kUsage = "Usage: quillfeed-sim --family FAMILY (--port N | --pty PATH) --out DIR [options]\n"
                               "       quillfeed-sim --family FAMILY --pages FILE\n"
                               "\n"
                               "Acts as a printer of FAMILY (tspl, escpos, cpcl, paperang, peripage, cat,\n"
                               "niimbot, phomemo): takes jobs on a loopback TCP port, as a network printer\n"
                               "on port 9100 does, or on a pseudo-terminal, as a serial or Bluetooth link\n"
                               "does; decodes each job and writes its printed pages as pictures; answers\n"
                               "status queries (TSPL ESC ! ?, ESC/POS DLE EOT 1-4, CPCL ESC h, cat printers'\n"
                               "A3 frame, Niimbot heartbeat DC, print status A3, tag 1A and label info 59,\n"
                               "Phomemo 1F 11 11/12/08) from a state you can change while it runs.\n"
                               "\n"
                               "  --port N            listen on 127.0.0.1:N (0: any free port); one job per\n"
                               "                      connection\n"
                               "  --pty PATH          make a pseudo-terminal and link PATH to it; a job ends\n"
                               "                      after --idle-ms without data\n"
                               "  --out DIR           where everything goes (created when missing):\n"
                               "                        DIR/port          the port listened on\n"
                               "                        DIR/events.txt    one line per connection, query,\n"
                               "                                          page and fault, as they happen\n"
                               "                        DIR/pages.txt     \"job J page K WxH HASH printed\" or\n"
                               "                                          \"... lost\" for every page\n"
                               "                        DIR/job-J.bin     the job's data, queries taken out\n"
                               "                        DIR/job-J/page-K.png, DIR/job-J/listing.txt\n"
                               "  --control FILE      reads FILE whenever it changes: lines KEY=VALUE with the\n"
                               "                      keys of the options below without \"--\" (paper-out=1,\n"
                               "                      cover-open=0, paper-out-after=2, silent=1, quit=1, ...)\n"
                               "  --idle-ms MS        end of a job on a pty (default 1500)\n"
                               "  --jobs N            exit after N jobs\n"
                               "  --pages FILE        print \"page K WxH HASH\" for each page of FILE and exit\n"
                               "\n"
                               "State and faults (also control file keys; 1 on, 0 off):\n"
                               "  --paper-out         out of paper: queries say so, pages sent are lost\n"
                               "  --paper-low         paper near its end (ESC/POS)\n"
                               "  --cover-open        cover, head or lid open: as paper out\n"
                               "  --offline           off line (TSPL: paused): as paper out\n"
                               "  --battery-low       battery low (CPCL, cat printers, Niimbot, Phomemo)\n"
                               "  --silent            answers no query\n"
                               "  --paper-out-after N the paper runs out once N more pages are printed\n"
                               "  --cover-open-after N  the cover (a Niimbot's lid) opens once N more pages\n"
                               "                      are printed\n"
                               "  --drop-after BYTES  the link drops after BYTES bytes of the next job (once)\n"
                               "  --bytes-per-second B  slow link: takes at most B bytes a second\n"
                               "  --pause-every N     cat printers: notify pause (AE 10), then resume (AE 00),\n"
                               "                      after every N rows received\n"
                               "  --tag WxL           Niimbot: the roll's tag is read, its labels W x L mm\n"
                               "                      (default 50x30)\n"
                               "  --no-tag            Niimbot: no tag is read (the heartbeat says so)\n"
                               "\n"
                               "Paperang and PeriPage printers answer nothing: their status replies are not\n"
                               "public. Exit status: 0 after --jobs jobs, quit=1 or SIGTERM; 2 usage or I/O\n"
                               "error.\n";

volatile sig_atomic_t g_stop = 0;
void Stop(int)
{
    g_stop = 1;
}

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int Usage(const std::string &why)
{
    std::fprintf(stderr, "quillfeed-sim: %s\n%s", why.c_str(), kUsage);
    return 2;
}

bool ParseNumber(const std::string &text, long &value)
{
    char *end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == 0 && errno == 0;
}

// "WxL": a Niimbot roll's label size in millimetres, each 1 to 255.
bool ParseTagSize(const std::string &text, SimState &s)
{
    const size_t x = text.find('x');
    long w = 0, l = 0;
    if (x == std::string::npos || !ParseNumber(text.substr(0, x), w) || !ParseNumber(text.substr(x + 1), l) || w < 1 ||
        w > 255 || l < 1 || l > 255)
        return false;
    s.tag = true;
    s.tagWidth = static_cast<int>(w);
    s.tagLength = static_cast<int>(l);
    return true;
}

// One state key; false for an unknown key or a bad value.
bool SetKey(SimState &s, const std::string &key, const std::string &value, bool &quit)
{
    if (key == "tag")
        return ParseTagSize(value, s);
    long n = 0;
    if (!ParseNumber(value, n))
        return false;
    bool *flag = key == "paper-out"     ? &s.paperOut
                 : key == "paper-low"   ? &s.paperLow
                 : key == "cover-open"  ? &s.coverOpen
                 : key == "offline"     ? &s.offline
                 : key == "battery-low" ? &s.batteryLow
                 : key == "silent"      ? &s.silent
                                        : nullptr;
    if (flag)
        *flag = n != 0;
    else if (key == "paper-out-after")
        s.paperOutAfter = static_cast<int>(n);
    else if (key == "cover-open-after")
        s.coverOpenAfter = static_cast<int>(std::min<long>(std::max<long>(n, -1), INT_MAX));
    else if (key == "no-tag")
        s.tag = n == 0;
    else if (key == "drop-after")
        s.dropAfter = n;
    else if (key == "bytes-per-second")
        s.bytesPerSecond = n;
    else if (key == "pause-every")
        s.pauseEvery = static_cast<int>(std::min<long>(std::max<long>(n, 0), INT_MAX));
    else if (key == "quit")
        quit = n != 0;
    else
        return false;
    return true;
}

class Sim {
public:
    Sim(preview::Lang lang, std::string out) : m_Lang(lang), m_Out(std::move(out)) {}

    SimState state;
    std::string controlFile;
    bool quit = false;

    bool Start()
    {
        if (mkdir(m_Out.c_str(), 0777) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "quillfeed-sim: cannot create %s: %s\n", m_Out.c_str(), std::strerror(errno));
            return false;
        }
        m_Events = std::fopen((m_Out + "/events.txt").c_str(), "a");
        m_Pages = std::fopen((m_Out + "/pages.txt").c_str(), "a");
        if (!m_Events || !m_Pages) {
            std::fprintf(stderr, "quillfeed-sim: cannot write into %s\n", m_Out.c_str());
            return false;
        }
        return true;
    }

    void Event(const std::string &line)
    {
        std::fprintf(m_Events, "%s\n", line.c_str());
        std::fflush(m_Events);
    }

    // Re-reads the control file when it has changed.
    void Control()
    {
        if (controlFile.empty())
            return;
        struct stat st;
        if (stat(controlFile.c_str(), &st) != 0)
            return;
        const std::string stamp = std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + "/" +
                                  std::to_string(st.st_size);
        if (stamp == m_ControlStamp)
            return;
        m_ControlStamp = stamp;
        FILE *fp = std::fopen(controlFile.c_str(), "r");
        if (!fp)
            return;
        char line[256];
        while (std::fgets(line, sizeof line, fp)) {
            std::string text = line;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
                text.pop_back();
            if (text.empty() || text[0] == '#')
                continue;
            const size_t eq = text.find('=');
            if (eq == std::string::npos || !SetKey(state, text.substr(0, eq), text.substr(eq + 1), quit))
                Event("control: ignored \"" + text + "\"");
            else
                Event("control: " + text);
        }
        std::fclose(fp);
    }

    void BeginJob()
    {
        ++m_JobCount;
        m_Session = std::make_unique<SimSession>(m_Lang, m_JobCount);
        m_JobBytes = 0;
        m_DropAt = state.dropAfter;
        state.dropAfter = -1;
        Event("job " + std::to_string(m_JobCount) + " begins");
    }

    bool InJob() const { return m_Session != nullptr; }
    int Jobs() const { return m_JobCount; }

    // How many bytes may be read now (slow link and link drop).
    size_t Allowance(size_t want)
    {
        const int64_t now = NowMs();
        if (state.bytesPerSecond > 0) {
            m_Budget += static_cast<double>(state.bytesPerSecond) * static_cast<double>(now - m_BudgetAt) / 1000.0;
            const double cap = std::max<double>(static_cast<double>(state.bytesPerSecond) / 10.0, 1.0);
            if (m_Budget > cap)
                m_Budget = cap;
            want = std::min<size_t>(want, static_cast<size_t>(m_Budget));
        }
        m_BudgetAt = now;
        if (m_DropAt >= 0)
            want = std::min<size_t>(want, static_cast<size_t>(std::max<long>(m_DropAt - m_JobBytes, 0)));
        return want;
    }

    // Received bytes; returns the answer to send.
    std::vector<uint8_t> Take(const uint8_t *data, size_t n)
    {
        if (state.bytesPerSecond > 0)
            m_Budget -= static_cast<double>(n);
        m_JobBytes += static_cast<long>(n);
        std::vector<std::string> events;
        std::vector<uint8_t> answer = m_Session->Feed(data, n, state, events);
        if (NowMs() - m_SettledAt > 50) {
            m_Session->Settle(state, events);
            m_SettledAt = NowMs();
        }
        for (const std::string &e : events)
            Event(e);
        return answer;
    }

    bool DropDue() const { return m_DropAt >= 0 && m_JobBytes >= m_DropAt; }

    void EndJob(const std::string &how)
    {
        std::vector<std::string> events;
        m_Session->Finish(state, events);
        for (const std::string &e : events)
            Event(e);
        WriteJob();
        Event("job " + std::to_string(m_JobCount) + " ends (" + how + "): " + std::to_string(m_JobBytes) + " bytes, " +
              std::to_string(m_Session->Queries()) + " queries");
        m_Session.reset();
    }

private:
    void WriteJob()
    {
        const std::string job = std::to_string(m_JobCount);
        const std::string dir = m_Out + "/job-" + job;
        mkdir(dir.c_str(), 0777);
        if (FILE *fp = std::fopen((m_Out + "/job-" + job + ".bin").c_str(), "wb")) {
            if (!m_Session->Data().empty()) // a connection that only asked
                std::fwrite(m_Session->Data().data(), 1, m_Session->Data().size(), fp);
            std::fclose(fp);
        }
        const preview::DecodeResult &r = m_Session->Result();
        std::string listing = preview::FormatListing(r);
        if (!r.ok && !m_Session->Data().empty())
            listing += "decode: " + r.ErrorMessage() + "\n";
        std::string error;
        for (size_t i = 0; i < r.pages.size(); ++i) {
            const preview::Page &page = r.pages[i];
            const bool printed = i < m_Session->Fates().size() && m_Session->Fates()[i].printed;
            const std::string what = printed ? "printed" : "lost (" + m_Session->Fates()[i].why + ")";
            std::fprintf(m_Pages, "job %s %s %s\n", job.c_str(), PageLine(page).c_str(), printed ? "printed" : "lost");
            listing += "page " + std::to_string(page.number) + ": " + what + "\n";
            if (printed && !preview::WritePagePng(page, dir + "/page-" + std::to_string(page.number) + ".png", error))
                Event("cannot write a page: " + error);
        }
        std::fflush(m_Pages);
        if (FILE *fp = std::fopen((dir + "/listing.txt").c_str(), "w")) {
            std::fwrite(listing.data(), 1, listing.size(), fp);
            std::fclose(fp);
        }
    }

    preview::Lang m_Lang;
    std::string m_Out;
    FILE *m_Events = nullptr;
    FILE *m_Pages = nullptr;
    std::string m_ControlStamp;
    std::unique_ptr<SimSession> m_Session;
    int m_JobCount = 0;
    long m_JobBytes = 0;
    long m_DropAt = -1;
    double m_Budget = 0;
    int64_t m_BudgetAt = NowMs();
    int64_t m_SettledAt = 0;
};

bool WriteAll(int fd, const std::vector<uint8_t> &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int ListenLoopback(long port, int &bound)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        close(fd);
        return -1;
    }
    bound = ntohs(addr.sin_port);
    return fd;
}

// A pseudo-terminal in raw mode, PATH a link to its terminal side. The sim
// keeps the terminal side open too, so that the link stays up between the
// programs that open it.
int OpenPty(const std::string &link, int &slave)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return -1;
    const char *name = ptsname(master);
    if (!name)
        return -1;
    slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0)
        return -1;
    termios t;
    if (tcgetattr(slave, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
    }
    unlink(link.c_str());
    if (symlink(name, link.c_str()) != 0)
        return -1;
    return master;
}

// Reads what the link allows into the job; false when the link has ended.
bool Pump(Sim &sim, int fd, bool &dropped)
{
    uint8_t buffer[65536];
    const size_t want = sim.Allowance(sizeof buffer);
    if (want == 0) {
        dropped = sim.DropDue();
        return !dropped;
    }
    ssize_t n = read(fd, buffer, want);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    if (n <= 0)
        return false;
    const std::vector<uint8_t> answer = sim.Take(buffer, static_cast<size_t>(n));
    if (!answer.empty())
        WriteAll(fd, answer);
    dropped = sim.DropDue();
    return !dropped;
}

int PrintPages(preview::Lang lang, const std::string &file)
{
    FILE *fp = std::fopen(file.c_str(), "rb");
    if (!fp) {
        std::fprintf(stderr, "quillfeed-sim: cannot open %s: %s\n", file.c_str(), std::strerror(errno));
        return 2;
    }
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, fp)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(fp);
    SimSession session(lang, 1);
    SimState state;
    std::vector<std::string> events;
    session.Feed(bytes.data(), bytes.size(), state, events);
    session.Finish(state, events);
    for (const preview::Page &page : session.Result().pages)
        std::printf("%s\n", PageLine(page).c_str());
    return session.Result().ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    preview::Lang lang = preview::Lang::Auto;
    std::string out, pty, pagesFile;
    long port = -1, idleMs = 1500, jobs = 0;
    SimState initial;
    std::string control;
    bool quit = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string &v) {
            if (i + 1 >= argc)
                return false;
            v = argv[++i];
            return true;
        };
        std::string v;
        long n = 0;
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--family") {
            if (!value(v) || !preview::ParseLang(v, lang) || lang == preview::Lang::Auto)
                return Usage("--family needs tspl, escpos, cpcl, paperang, peripage, cat, niimbot or phomemo");
        } else if (arg == "--port" || arg == "--idle-ms" || arg == "--jobs") {
            if (!value(v) || !ParseNumber(v, n) || n < 0 || (arg == "--port" && n > 65535))
                return Usage(arg + " needs a number");
            (arg == "--port" ? port : arg == "--idle-ms" ? idleMs : jobs) = n;
        } else if (arg == "--pty") {
            if (!value(pty))
                return Usage("--pty needs a path");
        } else if (arg == "--out") {
            if (!value(out))
                return Usage("--out needs a directory");
        } else if (arg == "--control") {
            if (!value(control))
                return Usage("--control needs a file");
        } else if (arg == "--pages") {
            if (!value(pagesFile))
                return Usage("--pages needs a file");
        } else if (arg == "--paper-out-after" || arg == "--cover-open-after" || arg == "--drop-after" ||
                   arg == "--bytes-per-second" || arg == "--pause-every") {
            if (!value(v) || !SetKey(initial, arg.substr(2), v, quit))
                return Usage(arg + " needs a number");
        } else if (arg == "--tag") {
            if (!value(v) || !SetKey(initial, "tag", v, quit))
                return Usage("--tag needs a label size WxL in millimetres (1 to 255 each)");
        } else if (arg.rfind("--", 0) == 0 && SetKey(initial, arg.substr(2), "1", quit)) {
            continue;
        } else {
            return Usage("unknown argument " + arg);
        }
    }
    if (lang == preview::Lang::Auto)
        return Usage("no --family given");
    if (!pagesFile.empty())
        return PrintPages(lang, pagesFile);
    if (out.empty() || (port < 0) == pty.empty())
        return Usage("give --out and one of --port or --pty");

    Sim sim(lang, out);
    sim.state = initial;
    sim.controlFile = control;
    if (!sim.Start())
        return 2;
    signal(SIGPIPE, SIG_IGN);
    signal(SIGTERM, Stop);
    signal(SIGINT, Stop);

    int listener = -1, conn = -1, slave = -1;
    if (!pty.empty()) {
        conn = OpenPty(pty, slave);
        if (conn < 0) {
            std::fprintf(stderr, "quillfeed-sim: cannot make a pseudo-terminal at %s: %s\n", pty.c_str(),
                         std::strerror(errno));
            return 2;
        }
        sim.Event("pty " + pty);
    } else {
        int bound = 0;
        listener = ListenLoopback(port, bound);
        if (listener < 0) {
            std::fprintf(stderr, "quillfeed-sim: cannot listen on port %ld: %s\n", port, std::strerror(errno));
            return 2;
        }
        if (FILE *fp = std::fopen((out + "/port").c_str(), "w")) {
            std::fprintf(fp, "%d\n", bound);
            std::fclose(fp);
        }
        std::printf("listening on 127.0.0.1:%d\n", bound);
        std::fflush(stdout);
        sim.Event("listening on 127.0.0.1:" + std::to_string(bound));
    }

    int64_t lastData = NowMs();
    while (!g_stop && !sim.quit && !(jobs > 0 && sim.Jobs() >= jobs && !sim.InJob())) {
        sim.Control();
        pollfd fds[1];
        const bool throttled = conn >= 0 && sim.InJob() && sim.Allowance(1) == 0 && !sim.DropDue();
        fds[0].fd = conn >= 0 ? conn : listener;
        fds[0].events = throttled ? 0 : POLLIN;
        fds[0].revents = 0;
        const int ready = poll(fds, 1, throttled ? 10 : 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (conn < 0) {
            if (ready > 0 && (fds[0].revents & POLLIN)) {
                conn = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (conn >= 0) {
                    // Answers go at once, as a printer's do.
                    int one = 1;
                    setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    sim.BeginJob();
                }
            }
            continue;
        }
        const bool readable = ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR));
        if (!pty.empty()) {
            if (readable) {
                if (!sim.InJob())
                    sim.BeginJob();
                bool dropped = false;
                Pump(sim, conn, dropped);
                lastData = NowMs();
                if (dropped) {
                    // The link drops: what the sender has in flight is gone.
                    tcflush(slave, TCIOFLUSH);
                    sim.EndJob("link dropped");
                }
            } else if (sim.InJob() && NowMs() - lastData > idleMs) {
                sim.EndJob("idle");
            }
            continue;
        }
        bool dropped = false;
        if ((readable || sim.DropDue()) && !Pump(sim, conn, dropped)) {
            if (dropped) {
                // Unread data makes close() reset the connection, as a
                // printer that is switched off does.
                linger off{1, 0};
                setsockopt(conn, SOL_SOCKET, SO_LINGER, &off, sizeof off);
            }
            close(conn);
            conn = -1;
            sim.EndJob(dropped ? "link dropped" : "closed");
        }
    }
    if (sim.InJob())
        sim.EndJob("stopped");
    if (conn >= 0)
        close(conn);
    if (listener >= 0)
        close(listener);
    if (slave >= 0) {
        close(slave);
        unlink(pty.c_str());
    }
    return 0;
}
