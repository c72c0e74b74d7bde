#include "DeviceListing.h"

#include <pappl/pappl.h>

#include <cstdio>

namespace {

bool PrintDevice(const char *info, const char *uri, const char *id, void *)
{
    puts(uri);
    if (info && *info)
        printf("    %s\n", info);
    if (id && *id)
        printf("    %s\n", id);
    return false;
}

void PrintError(const char *message, void *baseName)
{
    fprintf(stderr, "%s: %s\n", static_cast<const char *>(baseName), message);
}

} // namespace

int ListDevices(const char *baseName)
{
    papplDeviceList(PAPPL_DEVTYPE_ALL, PrintDevice, nullptr, PrintError, const_cast<char *>(baseName));
    return 0;
}
