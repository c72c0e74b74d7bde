#include "FilterRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

} // namespace

FilterResult RunFilter(const FilterCall &call)
{
    static int counter = 0;
    char tmpl[] = "/tmp/qf-syslog-XXXXXX";
    int logfd = mkstemp(tmpl);
    if (logfd < 0)
        throw std::runtime_error("mkstemp");
    close(logfd);
    const std::string logPath = tmpl;
    ++counter;

    std::vector<std::string> args = {QF_FILTER_BIN};
    if (call.args.empty()) {
        for (const char *a : {"1", "user", "title", "1"})
            args.push_back(a);
        args.push_back(call.options);
        if (!call.inputFile.empty())
            args.push_back(call.inputFile);
    } else {
        args.insert(args.end(), call.args.begin(), call.args.end());
    }

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

    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err))
        throw std::runtime_error("pipe");

    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        std::vector<char *> argv, envp;
        for (auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        for (auto &e : env)
            envp.push_back(const_cast<char *>(e.c_str()));
        envp.push_back(nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    SetNonBlocking(in[1]);
    SetNonBlocking(out[0]);
    SetNonBlocking(err[0]);

    FilterResult result;
    size_t fed = 0;
    size_t limit = std::min(call.holdStdinAt, call.stdinData.size());
    bool released = call.holdStdinAt == SIZE_MAX;
    int inFd = in[1];
    if (fed >= call.stdinData.size() && released) {
        close(inFd);
        inFd = -1;
    }
    bool outOpen = true, errOpen = true;
    if (call.closeStdout) {
        close(out[0]);
        out[0] = -1;
        outOpen = false;
    }
    char buf[65536];
    while (outOpen || errOpen) {
        pollfd fds[3];
        int n = 0;
        int outIdx = -1, errIdx = -1, inIdx = -1;
        if (outOpen) {
            fds[n] = {out[0], POLLIN, 0};
            outIdx = n++;
        }
        if (errOpen) {
            fds[n] = {err[0], POLLIN, 0};
            errIdx = n++;
        }
        if (inFd >= 0 && fed < limit) {
            fds[n] = {inFd, POLLOUT, 0};
            inIdx = n++;
        }
        if (poll(fds, n, 30000) <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        if (inIdx >= 0 && (fds[inIdx].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t w = write(inFd, call.stdinData.data() + fed, limit - fed);
            if (w > 0)
                fed += static_cast<size_t>(w);
            else if (w < 0 && errno != EAGAIN) {
                close(inFd);
                inFd = -1;
            }
            if (inFd >= 0 && released && fed >= call.stdinData.size()) {
                close(inFd);
                inFd = -1;
            }
        }
        if (outIdx >= 0 && (fds[outIdx].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t r = read(out[0], buf, sizeof buf);
            if (r > 0)
                result.out.insert(result.out.end(), buf, buf + r);
            else if (r == 0 || errno != EAGAIN)
                outOpen = false;
        }
        if (errIdx >= 0 && (fds[errIdx].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t r = read(err[0], buf, sizeof buf);
            if (r > 0) {
                result.err.append(buf, static_cast<size_t>(r));
                if (call.onStderr && !released && call.onStderr(result.err, pid)) {
                    released = true;
                    if (call.closeEarly) {
                        if (inFd >= 0)
                            close(inFd);
                        inFd = -1;
                    } else {
                        limit = call.stdinData.size();
                        if (inFd >= 0 && fed >= limit) {
                            close(inFd);
                            inFd = -1;
                        }
                    }
                } else if (call.onStderr && released) {
                    call.onStderr(result.err, pid);
                }
            } else if (r == 0 || errno != EAGAIN) {
                errOpen = false;
            }
        }
    }
    if (inFd >= 0)
        close(inFd);
    if (out[0] >= 0)
        close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.errLines = SplitLines(result.err);
    std::ifstream log(logPath);
    std::string line;
    while (std::getline(log, line))
        result.syslogLines.push_back(line);
    unlink(logPath.c_str());
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
    std::string cmd = "rm -rf '" + m_path + "'";
    if (system(cmd.c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", m_path.c_str());
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
