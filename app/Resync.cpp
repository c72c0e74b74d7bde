#include "Resync.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

std::vector<unsigned char> ResyncBytes(int modelNumber, size_t inFlight)
{
    std::vector<unsigned char> bytes;
    switch (modelNumber) {
    case 20: // TSPL: a plain BITMAP's bits are 1 for white; a line ends a command
        bytes.assign(inFlight, 0xFF);
        bytes.insert(bytes.end(), {'\r', '\n'});
        break;
    case 22: // CPCL: CG's bits are 1 for a dot
        bytes.assign(inFlight, 0x00);
        bytes.insert(bytes.end(), {'\r', '\n'});
        break;
    case 21: // ESC/POS and PeriPage: GS v 0's bits are 1 for a dot; ESC @ resets
    case 24:
        bytes.assign(inFlight, 0x00);
        bytes.insert(bytes.end(), {0x1B, 0x40});
        break;
    default:
        break;
    }
    return bytes;
}

namespace {

std::string g_inFlightDirectory;

// The printer's name as part of a file name: letters, digits, '-' and '_'.
std::string FileNamePart(const std::string &name)
{
    std::string part;
    for (unsigned char c : name)
        part += std::isalnum(c) || c == '-' || c == '_' ? static_cast<char>(c) : '_';
    return part.empty() ? std::string("_") : part;
}

} // namespace

void SetInFlightDirectory(const std::string &dir)
{
    g_inFlightDirectory = dir;
}

const std::string &InFlightDirectory()
{
    return g_inFlightDirectory;
}

InFlightRecord::InFlightRecord(const std::string &spoolDir, const std::string &printerName)
    : m_path(spoolDir + "/in-flight-" + FileNamePart(printerName))
{
}

size_t InFlightRecord::Pending() const
{
    FILE *f = fopen(m_path.c_str(), "re");
    if (!f)
        return 0;
    unsigned long long bytes = 0;
    if (fscanf(f, "%llu", &bytes) != 1)
        bytes = 0;
    fclose(f);
    // A record that says nothing sensible still says a write was cut off;
    // bound what is sent for it by the largest page a job can carry.
    const unsigned long long most = 256ull << 20;
    return static_cast<size_t>(bytes > most ? most : bytes);
}

bool InFlightRecord::Begin(size_t bytes) const
{
    int fd = open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    char text[32];
    const int n = snprintf(text, sizeof text, "%zu\n", bytes);
    const bool ok = write(fd, text, static_cast<size_t>(n)) == n;
    close(fd);
    return ok;
}

void InFlightRecord::End() const
{
    unlink(m_path.c_str());
}
