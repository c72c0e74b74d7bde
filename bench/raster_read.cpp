// The floor under the filter's cost: libcups reading a raster stream, every
// page header and every row, and nothing else.
//
//   qf_raster_read FILE      prints the pages and rows it read
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: qf_raster_read FILE\n");
        return 2;
    }
    const int fd = open(argv[1], O_RDONLY);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    cups_page_header2_t header;
    unsigned pages = 0;
    unsigned long long rows = 0;
    std::vector<unsigned char> row;
    while (ras && cupsRasterReadHeader2(ras, &header)) {
        row.resize(header.cupsBytesPerLine);
        for (unsigned y = 0; y < header.cupsHeight; y++, rows++)
            if (cupsRasterReadPixels(ras, row.data(), header.cupsBytesPerLine) == 0)
                break;
        pages++;
    }
    cupsRasterClose(ras);
    close(fd);
    std::printf("%u pages, %llu rows\n", pages, rows);
    return pages ? 0 : 1;
}
