#include "DeviceCheck.h"

#include "BtTarget.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

const long kBaudRates[] = {9600, 19200, 38400, 57600, 115200, 230400};

bool StartsWith(const std::string &s, const char *prefix)
{
    return s.compare(0, strlen(prefix), prefix) == 0;
}

// The address's path: the scheme and any authority ("//" or "//localhost")
// left out, the options ("?...") cut off.
std::string PathPart(const std::string &uri, size_t schemeLength)
{
    std::string path = uri.substr(schemeLength);
    if (StartsWith(path, "//localhost/"))
        path.erase(0, strlen("//localhost"));
    while (StartsWith(path, "//"))
        path.erase(0, 1);
    const size_t q = path.find('?');
    if (q != std::string::npos)
        path.erase(q);
    return path;
}

std::string RealPath(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::vector<std::string> SplitPath(const std::string &path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

} // namespace

std::vector<std::string> DefaultSerialPatterns()
{
    return {"/dev/ttyUSB*", "/dev/ttyACM*", "/dev/rfcomm*"};
}

std::vector<std::string> SplitList(const std::string &list)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = list.find(',', start);
        const std::string part = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty())
            parts.push_back(part);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return parts;
}

SerialAddress ParseSerialUri(const std::string &uri)
{
    SerialAddress a;
    if (!StartsWith(uri, "serial:")) {
        a.problem = "not a serial: address";
        return a;
    }
    a.path = PathPart(uri, strlen("serial:"));
    const size_t q = uri.find('?');
    if (q != std::string::npos) {
        const std::string query = uri.substr(q + 1);
        char *end = nullptr;
        const long baud = StartsWith(query, "baud=") ? strtol(query.c_str() + 5, &end, 10) : 0;
        if (end && !*end && end != query.c_str() + 5)
            a.baud = baud;
        else {
            a.problem = "'" + query + "' is not an option of a serial port (baud=N)";
            return a;
        }
    }
    bool known = false;
    for (long rate : kBaudRates)
        known = known || rate == a.baud;
    if (!known)
        a.problem =
            "unsupported baud rate " + std::to_string(a.baud) + " (9600, 19200, 38400, 57600, 115200 or 230400)";
    else if (a.path.empty() || a.path[0] != '/')
        a.problem = "no device path in '" + uri + "'";
    return a;
}

std::string FilePathOf(const std::string &uri)
{
    return StartsWith(uri, "file:") ? PathPart(uri, strlen("file:")) : std::string();
}

bool SerialPortAllowed(const std::string &path, const DevicePolicy &policy)
{
    // A path with ".." could leave the pattern's directory.
    if (path.find("/..") != std::string::npos)
        return false;
    for (const std::string &pattern : policy.serialPatterns)
        if (fnmatch(pattern.c_str(), path.c_str(), FNM_PATHNAME) == 0)
            return true;
    return false;
}

std::string FileTargetProblem(const std::string &path, const DevicePolicy &policy)
{
    if (policy.fileDirectory.empty())
        return "file: devices are off (the administrator sets the directory with -o file-directory=DIR)";
    if (path.empty() || path[0] != '/')
        return "no absolute file name";
    const std::string dir = RealPath(policy.fileDirectory);
    std::string target = RealPath(path);
    if (target.empty()) {
        // A file to be made: its directory must exist and be inside.
        const size_t slash = path.find_last_of('/');
        const std::string name = path.substr(slash + 1);
        const std::string parent = RealPath(slash == 0 ? std::string("/") : path.substr(0, slash));
        if (parent.empty() || name.empty() || name == "." || name == "..")
            return "'" + path + "' is not in an existing directory";
        target = parent + "/" + name;
    }
    if (dir.empty() || (target != dir && target.compare(0, dir.size() + 1, dir + "/") != 0))
        return "'" + path + "' is outside " + policy.fileDirectory + ", the only directory file: devices write to";
    return std::string();
}

namespace {

// What a Bluetooth URI's parser says is wrong with it, without the final
// full stop; empty when nothing is.
template <typename Target, typename Parse> std::string ParseProblem(const std::string &uri, Parse parse)
{
    Target target;
    std::string problem;
    if (parse(uri, target, problem))
        return std::string();
    return problem.substr(0, problem.size() - (!problem.empty() && problem.back() == '.'));
}

} // namespace

std::string DeviceUriProblem(const std::string &uri, const DevicePolicy &policy)
{
    if (StartsWith(uri, "file:"))
        return FileTargetProblem(FilePathOf(uri), policy);
    if (StartsWith(uri, "quillbt:"))
        return ParseProblem<bt::Target>(uri, bt::ParseUri);
    if (StartsWith(uri, "quillble:"))
        return ParseProblem<bt::BleTarget>(uri, bt::ParseBleUri);
    if (!StartsWith(uri, "serial:"))
        return std::string();
    const SerialAddress a = ParseSerialUri(uri);
    if (!a.problem.empty())
        return a.problem;
    if (!SerialPortAllowed(a.path, policy)) {
        std::string allowed;
        for (const std::string &p : policy.serialPatterns)
            allowed += (allowed.empty() ? "" : ", ") + p;
        return "'" + a.path + "' is not a serial port this app opens (" + allowed +
               "; the administrator adds others with -o serial-ports=PATTERN)";
    }
    struct stat info;
    if (stat(a.path.c_str(), &info) != 0)
        return "'" + a.path + "' does not exist: " + strerror(errno);
    if (!S_ISCHR(info.st_mode))
        return "'" + a.path + "' is not a serial port";
    return std::string();
}

std::string FileDirectoryProblem(const std::string &dir)
{
    struct stat info;
    if (stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return "'" + dir + "' is not a directory";
    // Anyone could put a link to another file there.
    if (info.st_mode & S_IWOTH)
        return "'" + dir + "' is writable by every user";
    return std::string();
}

namespace {

// Closes the descriptor it holds when it goes.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
    int Release()
    {
        const int f = fd;
        fd = -1;
        return f;
    }
};

// A job's name as a file name: no '/', no control or non-ASCII bytes.
std::string JobFileName(const std::string &jobName, const std::string &ext)
{
    std::string name = jobName.substr(0, 200);
    for (char &c : name)
        if (static_cast<unsigned char>(c) < ' ' || static_cast<unsigned char>(c) >= 0x7F || c == '/')
            c = '_';
    if (name.empty() || name == "." || name == "..")
        name = "job";
    return name + "." + ext;
}

std::string FileExtension(const std::string &uri)
{
    const size_t q = uri.find('?');
    if (q == std::string::npos || uri.compare(q + 1, 4, "ext=") != 0)
        return "prn";
    const std::string ext = uri.substr(q + 5);
    if (ext.empty() || ext.size() > 16 || ext.find_first_of("/.") != std::string::npos)
        return "prn";
    return ext;
}

} // namespace

int OpenFileDevice(const std::string &uri, const std::string &jobName, const DevicePolicy &policy, std::string &problem)
{
    const std::string path = FilePathOf(uri);
    problem.clear();
    if (policy.fileDirectory.empty()) {
        problem = "file: devices are off";
        return -1;
    }
    // The part under the file directory, as written or as resolved when the
    // printer was added.
    std::string rest;
    bool inside = false;
    for (const std::string &dir : {policy.fileDirectory, RealPath(policy.fileDirectory)}) {
        if (dir.empty() || inside)
            continue;
        if (path == dir || path == dir + "/") {
            inside = true;
        } else if (path.compare(0, dir.size() + 1, dir + "/") == 0) {
            rest = path.substr(dir.size() + 1);
            inside = true;
        }
    }
    if (!inside) {
        problem = "'" + path + "' is outside " + policy.fileDirectory + ", the only directory file: devices write to";
        return -1;
    }
    Fd dir(open(policy.fileDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd < 0) {
        problem = "Unable to open " + policy.fileDirectory + ": " + strerror(errno);
        return -1;
    }
    std::vector<std::string> parts = SplitPath(rest);
    for (const std::string &part : parts)
        if (part == "." || part == "..") {
            problem = "'" + path + "' has a '" + part + "' in it";
            return -1;
        }
    // Every directory on the way is opened without following a link.
    std::string name;
    if (!parts.empty()) {
        name = parts.back();
        parts.pop_back();
    }
    for (const std::string &part : parts) {
        const int next = openat(dir.fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            problem = "Unable to open the directory '" + part + "' of '" + path + "': " + strerror(errno);
            return -1;
        }
        close(dir.fd);
        dir.fd = next;
    }
    bool perJob = name.empty();
    if (!perJob) {
        const int sub = openat(dir.fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0) {
            close(dir.fd);
            dir.fd = sub;
            perJob = true;
        }
    }
    // A directory gets one file per job, made anew; a file is added to.
    const std::string target = perJob ? JobFileName(jobName, FileExtension(uri)) : name;
    Fd file(openat(dir.fd, target.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (file.fd < 0) {
        problem = "Unable to open '" + target + "' in " + policy.fileDirectory + ": " +
                  (errno == ELOOP ? std::string("it is a symbolic link") : std::string(strerror(errno)));
        return -1;
    }
    struct stat info;
    if (fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() || info.st_nlink != 1) {
        problem = "'" + target + "' in " + policy.fileDirectory +
                  " is not a file of this app's own (a device, a link or another user's file)";
        return -1;
    }
    fcntl(file.fd, F_SETFL, (fcntl(file.fd, F_GETFL) & ~O_NONBLOCK) | (perJob ? 0 : O_APPEND));
    if (perJob && ftruncate(file.fd, 0) != 0) {
        problem = "Unable to empty '" + target + "': " + strerror(errno);
        return -1;
    }
    return file.Release();
}
