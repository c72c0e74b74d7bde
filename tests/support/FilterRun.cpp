#include "FilterRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

std::string WritePpd(const std::string &dir, const TestPpd &printer)
{
    static int counter = 0;
    std::string path = dir + "/test" + std::to_string(++counter) + ".ppd";
    std::ofstream f(path);
    f << "*PPD-Adobe: \"4.3\"\n"
      << "*FormatVersion: \"4.3\"\n"
      << "*FileVersion: \"1.0\"\n"
      << "*LanguageVersion: English\n"
      << "*LanguageEncoding: ISOLatin1\n"
      << "*PCFileName: \"TEST.PPD\"\n"
      << "*Manufacturer: \"Test\"\n"
      << "*Product: \"(Test)\"\n"
      << "*ModelName: \"" << printer.modelName << "\"\n"
      << "*ShortNickName: \"Test\"\n"
      << "*NickName: \"Test\"\n"
      << "*PSVersion: \"(3010.000) 0\"\n"
      << "*LanguageLevel: \"3\"\n"
      << "*ColorDevice: False\n"
      << "*DefaultColorSpace: Gray\n"
      << "*FileSystem: False\n"
      << "*Throughput: \"1\"\n"
      << "*TTRasterizer: Type42\n"
      << "*cupsVersion: 2.4\n"
      << "*cupsModelNumber: " << printer.modelNumber << "\n"
      << "*cupsFilter2: \"application/vnd.cups-raster application/octet-stream 0 quillfeed\"\n";
    for (const auto &attr : printer.attributes)
        f << "*" << attr.first << ": \"" << attr.second << "\"\n";
    for (const PpdOption &opt : printer.options) {
        f << "*OpenUI *" << opt.keyword << "/" << opt.keyword << ": PickOne\n"
          << "*OrderDependency: 10 AnySetup *" << opt.keyword << "\n"
          << "*Default" << opt.keyword << ": " << (opt.choices.empty() ? "" : opt.choices[0]) << "\n";
        for (const std::string &c : opt.choices)
            f << "*" << opt.keyword << " " << c << "/" << c << ": \"\"\n";
        f << "*CloseUI: *" << opt.keyword << "\n";
    }
    return path;
}

bool FilterResult::HasErrLine(const std::string &line) const
{
    for (const std::string &l : errLines)
        if (l == line)
            return true;
    return false;
}

bool FilterResult::HasSyslog(const std::string &text) const
{
    return CountSyslog(text) > 0;
}

int FilterResult::CountSyslog(const std::string &text) const
{
    int n = 0;
    for (const std::string &l : syslogLines) {
        size_t bar = l.find('|');
        if (bar != std::string::npos && l.compare(bar + 1, std::string::npos, text) == 0)
            ++n;
    }
    return n;
}

namespace {

std::vector<std::string> SplitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

void SetNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void CloseFd(int &fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// argv of the filter: the binary, then the call's arguments or the six usual.
// A build for another machine runs the binary through the emulator that
// QF_TEST_RUNNER names (an absolute path).
std::vector<std::string> FilterArgs(const FilterCall &call)
{
    std::vector<std::string> args;
    if (const char *runner = getenv("QF_TEST_RUNNER"); runner && *runner)
        args.push_back(runner);
    args.push_back(QF_FILTER_BIN);
    if (call.args.empty()) {
        for (const char *a : {"1", "user", "title", "1"})
            args.push_back(a);
        args.push_back(call.options);
        if (!call.inputFile.empty())
            args.push_back(call.inputFile);
    } else {
        args.insert(args.end(), call.args.begin(), call.args.end());
    }
    return args;
}

// This process's environment with the call's PPD and the syslog shim, which
// writes the filter's syslog lines to logPath.
std::vector<std::string> FilterEnv(const FilterCall &call, const std::string &logPath)
{
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        std::string v = *e;
        if (v.rfind("PPD=", 0) == 0 || v.rfind("LD_PRELOAD=", 0) == 0 || v.rfind("QF_SYSLOG_CAPTURE=", 0) == 0 ||
            v.rfind("ASAN_OPTIONS=", 0) == 0)
            continue;
        env.push_back(v);
    }
    if (!call.unsetPpd)
        env.push_back("PPD=" + call.ppd);
    env.push_back(std::string("LD_PRELOAD=") + QF_SYSLOG_SHIM);
    env.push_back("QF_SYSLOG_CAPTURE=" + logPath);
    // The shim is not instrumented; it only needs to come after the runtime.
    const char *asan = getenv("ASAN_OPTIONS");
    env.push_back(std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0");
    return env;
}

// The running filter and this side's ends of its three pipes (-1: closed).
struct Child {
    pid_t pid = -1;
    int in = -1;
    int out = -1;
    int err = -1;
};

// Starts the filter on three pipes. With noReader, stdout's pipe has no
// reading end from the start, so the filter's very first write fails.
Child Spawn(const std::vector<std::string> &args, const std::vector<std::string> &env, bool noReader)
{
    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err))
        throw std::runtime_error("pipe");
    if (noReader)
        CloseFd(out[0]);
    std::vector<char *> argv, envp;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);

    Child child;
    child.pid = fork();
    if (child.pid < 0)
        throw std::runtime_error("fork");
    if (child.pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            if (fd > 2)
                close(fd);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    child.in = in[1];
    child.out = out[0];
    child.err = err[0];
    for (int fd : {child.in, child.out, child.err})
        if (fd >= 0)
            SetNonBlocking(fd);
    return child;
}

// Feeds the filter's stdin: up to holdStdinAt bytes until onStderr releases
// the rest (or closes stdin early), then everything, then end of file.
class StdinFeed {
public:
    StdinFeed(const FilterCall &call, int &fd)
        : m_call(call), m_fd(fd), m_limit(std::min(call.holdStdinAt, call.stdinData.size())),
          m_released(call.holdStdinAt == SIZE_MAX)
    {
        CloseWhenDone();
    }

    bool Wants() const { return m_fd >= 0 && m_fed < m_limit; }
    bool Released() const { return m_released; }

    void Write()
    {
        ssize_t w = write(m_fd, m_call.stdinData.data() + m_fed, m_limit - m_fed);
        if (w > 0)
            m_fed += static_cast<size_t>(w);
        else if (w < 0 && errno != EAGAIN)
            CloseFd(m_fd);
        CloseWhenDone();
    }

    void Release()
    {
        m_released = true;
        if (m_call.closeEarly)
            CloseFd(m_fd);
        m_limit = m_call.stdinData.size();
        CloseWhenDone();
    }

private:
    void CloseWhenDone()
    {
        if (m_released && m_fed >= m_call.stdinData.size())
            CloseFd(m_fd);
    }

    const FilterCall &m_call;
    int &m_fd;
    size_t m_fed = 0;
    size_t m_limit;
    bool m_released;
};

// Reads whatever fd has (at most `most` bytes when not 0) into sink; closes fd
// at end of file or on an error.
template <typename Sink> void Drain(int &fd, Sink &sink, size_t most = 0)
{
    char buf[65536];
    ssize_t r = read(fd, buf, most && most < sizeof buf ? most : sizeof buf);
    if (r > 0)
        sink.insert(sink.end(), buf, buf + r);
    else if (r == 0 || errno != EAGAIN)
        CloseFd(fd);
}

// Moves data between this process and the filter until it closes stdout and
// stderr. A filter silent for 30 s is killed.
void Pump(Child &child, const FilterCall &call, FilterResult &result)
{
    StdinFeed feed(call, child.in);
    while (child.out >= 0 || child.err >= 0) {
        pollfd fds[3];
        nfds_t n = 0;
        for (int fd : {child.out, child.err})
            if (fd >= 0)
                fds[n++] = {fd, POLLIN, 0};
        if (feed.Wants())
            fds[n++] = {child.in, POLLOUT, 0};
        if (poll(fds, n, 30000) <= 0) {
            kill(child.pid, SIGKILL);
            break;
        }
        const size_t errBefore = result.err.size();
        for (nfds_t i = 0; i < n; ++i) {
            if (!fds[i].revents)
                continue;
            if (fds[i].fd == child.in)
                feed.Write();
            else if (fds[i].fd == child.out && call.slowReadBytes) {
                Drain(child.out, result.out, call.slowReadBytes);
                usleep(200);
            } else if (fds[i].fd == child.out)
                Drain(child.out, result.out);
            else
                Drain(child.err, result.err);
        }
        if (result.err.size() == errBefore || !call.onStderr)
            continue;
        if (feed.Released())
            call.onStderr(result.err, child.pid);
        else if (call.onStderr(result.err, child.pid))
            feed.Release();
    }
    for (int *fd : {&child.in, &child.out, &child.err})
        CloseFd(*fd);
}

// Waits for the filter and fills in its exit status, time and messages.
void Collect(Child &child, std::chrono::steady_clock::time_point start, const std::string &logPath,
             FilterResult &result)
{
    int status = 0;
    rusage usage{};
    wait4(child.pid, &status, 0, &usage);
    result.maxRssKb = usage.ru_maxrss;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.errLines = SplitLines(result.err);
    std::ifstream log(logPath);
    std::string line;
    while (std::getline(log, line))
        result.syslogLines.push_back(line);
    unlink(logPath.c_str());
}

} // namespace

FilterResult RunFilter(const FilterCall &call)
{
    char tmpl[] = "/tmp/qf-syslog-XXXXXX";
    int logfd = mkstemp(tmpl);
    if (logfd < 0)
        throw std::runtime_error("mkstemp");
    close(logfd);
    const std::string logPath = tmpl;

    FilterResult result;
    auto start = std::chrono::steady_clock::now();
    Child child = Spawn(FilterArgs(call), FilterEnv(call, logPath), call.closeStdout);
    Pump(child, call, result);
    Collect(child, start, logPath, result);
    return result;
}

TempDir::TempDir()
{
    char tmpl[] = "/tmp/qf-test-XXXXXX";
    if (!mkdtemp(tmpl))
        throw std::runtime_error("mkdtemp");
    m_path = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
    if (ec)
        fprintf(stderr, "could not remove %s: %s\n", m_path.c_str(), ec.message().c_str());
}

std::vector<uint8_t> Bytes(const std::string &text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::string Printable(const std::vector<uint8_t> &bytes, size_t max)
{
    std::string s;
    for (size_t i = 0; i < bytes.size() && i < max; ++i) {
        uint8_t c = bytes[i];
        if (c >= 32 && c < 127)
            s += static_cast<char>(c);
        else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            s += hex;
        }
    }
    if (bytes.size() > max)
        s += "...";
    return s;
}
