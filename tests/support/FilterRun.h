// Runs the real filter binary the way CUPS does and collects what it did.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "RasterWriter.h"

struct PpdOption {
    std::string keyword;
    std::vector<std::string> choices; // the first one is the default
};

struct TestPpd {
    int modelNumber = 20;
    std::string modelName = "Test Printer";
    std::vector<PpdOption> options;
    // Extra main keywords, e.g. {"DoubleColor", "1"}; written as *Key: "Value".
    std::vector<std::pair<std::string, std::string>> attributes;
};

// Writes a minimal PPD that libcups opens, with the given model number,
// attributes and options.
std::string WritePpd(const std::string &dir, const TestPpd &printer);

struct FilterResult {
    int exitStatus = -1; // the exit code, or 128 + signal when killed
    std::vector<uint8_t> out;
    std::string err;
    std::vector<std::string> errLines;
    std::vector<std::string> syslogLines; // "<priority>|<text>"
    double seconds = 0;
    long maxRssKb = 0; // the filter's peak resident memory

    bool HasErrLine(const std::string &line) const;
    bool HasSyslog(const std::string &text) const; // any priority
    int CountSyslog(const std::string &text) const;
};

struct FilterCall {
    std::vector<std::string> args;  // argv[1..]; empty: the six usual ones
    std::string options;            // argv[5] when args is empty
    std::string inputFile;          // argv[6] when args is empty; none: stdin
    std::vector<uint8_t> stdinData; // written to the filter's stdin
    std::string ppd;                // PPD env var; unset when empty and unsetPpd
    bool unsetPpd = false;
    // Called with the stderr text so far whenever more arrives; may send
    // signals to the filter (pid given) or ask to close stdin by returning true.
    std::function<bool(const std::string &err, int pid)> onStderr;
    // When set, stdin is fed only up to this many bytes until onStderr
    // returns true; then the rest is fed (or stdin closed if closeEarly).
    size_t holdStdinAt = SIZE_MAX;
    bool closeEarly = false;
    // Close the reading end of stdout at once: the backend is gone.
    bool closeStdout = false;
    // A slow backend: stdout is read at most this many bytes at a time, with
    // a pause between reads. 0: as fast as it comes.
    size_t slowReadBytes = 0;
};

FilterResult RunFilter(const FilterCall &call);

// Temporary directory removed at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string &path() const { return m_path; }
    std::string File(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Bytes of a text, for building expected streams readably.
std::vector<uint8_t> Bytes(const std::string &text);
std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts);
std::string Printable(const std::vector<uint8_t> &bytes, size_t max = 200);
