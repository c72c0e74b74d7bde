#include "JobKeeping.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Where the job's state value starts in a "Job" line (values are quoted,
// with '\' before '"' and '\'), or npos.
size_t StateValueAt(const std::string &line)
{
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ' ' && line.compare(i + 1, 7, "state=\"") == 0) {
            return i + 8;
        }
    }
    return std::string::npos;
}

} // namespace

std::string PendingAgain(const std::string &stateText, int &resumed)
{
    resumed = 0;
    std::string out;
    out.reserve(stateText.size());
    size_t start = 0;
    while (start < stateText.size()) {
        size_t end = stateText.find('\n', start);
        end = end == std::string::npos ? stateText.size() : end + 1;
        std::string line = stateText.substr(start, end - start);
        if (line.compare(0, 4, "Job ") == 0) {
            const size_t at = StateValueAt(line);
            if (at != std::string::npos && line.compare(at, 2, "5\"") == 0) {
                line[at] = '3';
                ++resumed;
            }
        }
        out += line;
        start = end;
    }
    return out;
}

PagesRecord::PagesRecord(const std::string &spoolDir, int printerId, int jobId)
    : m_path(spoolDir + "/pages-" + std::to_string(printerId) + "-" + std::to_string(jobId))
{
}

int PagesRecord::Done() const
{
    FILE *f = fopen(m_path.c_str(), "re");
    if (!f)
        return 0;
    int pages = 0;
    if (fscanf(f, "%d", &pages) != 1 || pages < 0)
        pages = 0;
    fclose(f);
    return pages;
}

bool PagesRecord::Note(int pages) const
{
    // Written whole and synced: after a power cut the record says a number
    // of pages the printer took, never more.
    const std::string temp = m_path + ".new";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    char text[32];
    const int n = snprintf(text, sizeof text, "%d\n", pages);
    bool ok = write(fd, text, static_cast<size_t>(n)) == n && fdatasync(fd) == 0;
    ok = close(fd) == 0 && ok;
    return ok && rename(temp.c_str(), m_path.c_str()) == 0;
}

void PagesRecord::Remove() const
{
    unlink(m_path.c_str());
}

bool ParsePagesRecordName(const std::string &name, int &printerId, int &jobId)
{
    if (name.compare(0, 6, "pages-") != 0)
        return false;
    char *end = nullptr;
    const long printer = strtol(name.c_str() + 6, &end, 10);
    if (end == name.c_str() + 6 || *end != '-')
        return false;
    const char *jobText = end + 1;
    const long job = strtol(jobText, &end, 10);
    if (end == jobText || *end || printer <= 0 || job <= 0 || printer > 0x7fffffff || job > 0x7fffffff)
        return false;
    printerId = static_cast<int>(printer);
    jobId = static_cast<int>(job);
    return true;
}
