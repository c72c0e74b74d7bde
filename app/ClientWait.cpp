#include "ClientWait.h"

#include <cups/cups.h>
#include <dlfcn.h>

#include <cstdio>

namespace {

const char *g_baseName = nullptr;

int KeepWaiting(http_t *, void *)
{
    static bool said = false;
    if (!said) {
        fprintf(stderr,
                "%s: The printer has not finished the job yet (out of paper?); waiting. "
                "\"%s status -d PRINTER\" tells why.\n",
                g_baseName, g_baseName);
        said = true;
    }
    return 1;
}

} // namespace

void WaitForJobsWithoutEnd(const char *baseName)
{
    g_baseName = baseName;
}

// libcups's own, for PAPPL's sub-commands and ours alike: this definition
// comes first in the symbol lookup, as PAPPL's library calls it.
extern "C" http_t *httpConnect2(const char *host, int port, http_addrlist_t *addrlist, int family,
                                http_encryption_t encryption, int blocking, int msec, int *cancel)
{
    using Connect = http_t *(*)(const char *, int, http_addrlist_t *, int, http_encryption_t, int, int, int *);
    static const Connect real = reinterpret_cast<Connect>(dlsym(RTLD_NEXT, "httpConnect2"));
    if (!real)
        return nullptr;
    http_t *http = real(host, port, addrlist, family, encryption, blocking, msec, cancel);
    if (http && g_baseName)
        httpSetTimeout(http, 30.0, KeepWaiting, nullptr);
    return http;
}
