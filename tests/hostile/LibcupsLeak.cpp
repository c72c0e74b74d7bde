// Leaves one libcups object unreleased, as a forgetful front end would, so
// that the leak check of the sanitizer runs can be shown to report it.
//   qf_libcups_leak raster   a raster stream never closed
//   qf_libcups_leak options  parsed job options never freed
//   qf_libcups_leak ppd FILE a PPD never closed
#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

// The leak check scans the stack too: a stale copy of a leaked pointer
// there would make the object look reachable. The leaking happens in Leak,
// and this overwrites the stack it used.
__attribute__((noinline)) void ClobberStack()
{
    volatile unsigned char scratch[16384];
    for (size_t i = 0; i < sizeof scratch; ++i)
        scratch[i] = 0;
}

__attribute__((noinline)) int Leak(int argc, char **argv)
{
    const char *what = argc > 1 ? argv[1] : "";
    if (!strcmp(what, "raster")) {
        const int fd = open("/dev/null", O_WRONLY);
        if (!cupsRasterOpen(fd, CUPS_RASTER_WRITE))
            return 2;
        close(fd);
        return 0;
    }
    if (!strcmp(what, "options")) {
        cups_option_t *options = nullptr;
        return cupsParseOptions("Darkness=10 Rotate=2", 0, &options) == 2 ? 0 : 2;
    }
    if (!strcmp(what, "ppd") && argc > 2) {
        ppd_file_t *ppd = ppdOpenFile(argv[2]);
        return ppd ? 0 : 2;
    }
    fprintf(stderr, "usage: qf_libcups_leak raster|options|ppd FILE\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    const int status = Leak(argc, argv);
    ClobberStack();
    return status;
}
