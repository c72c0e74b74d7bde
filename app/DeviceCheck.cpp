#include "DeviceCheck.h"

#include "BtTarget.h"

#include <fnmatch.h>
#include <sys/stat.h>

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

std::string DeviceUriProblem(const std::string &uri, const DevicePolicy &policy)
{
    if (StartsWith(uri, "file:"))
        return FileTargetProblem(FilePathOf(uri), policy);
    if (StartsWith(uri, "quillbt:")) {
        bt::Target target;
        std::string problem;
        if (bt::ParseUri(uri, target, problem))
            return std::string();
        return problem.substr(0, problem.size() - (!problem.empty() && problem.back() == '.'));
    }
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
