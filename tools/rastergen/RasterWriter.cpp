#include "RasterWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

cups_page_header2_t MakePageHeader(unsigned width, unsigned height, unsigned bpp, unsigned xdpi, unsigned ydpi)
{
    cups_page_header2_t h;
    memset(&h, 0, sizeof h);
    strcpy(h.MediaClass, "PwgRaster");
    h.HWResolution[0] = xdpi;
    h.HWResolution[1] = ydpi;
    h.PageSize[0] = xdpi ? width * 72 / xdpi : 0;
    h.PageSize[1] = ydpi ? height * 72 / ydpi : 0;
    h.ImagingBoundingBox[2] = h.PageSize[0];
    h.ImagingBoundingBox[3] = h.PageSize[1];
    h.NumCopies = 1;
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBitsPerPixel = bpp;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    switch (bpp) {
    case 24:
        h.cupsBitsPerColor = 8;
        h.cupsColorSpace = CUPS_CSPACE_RGB;
        break;
    case 32:
        h.cupsBitsPerColor = 8;
        h.cupsColorSpace = CUPS_CSPACE_RGBA;
        break;
    default:
        h.cupsBitsPerColor = bpp;
        h.cupsColorSpace = CUPS_CSPACE_W;
        break;
    }
    h.cupsBytesPerLine = static_cast<unsigned>((static_cast<uint64_t>(width) * bpp + 7) / 8);
    return h;
}

RasterPage MakeWhitePage(unsigned width, unsigned height, unsigned bpp, unsigned xdpi, unsigned ydpi)
{
    RasterPage page;
    page.header = MakePageHeader(width, height, bpp, xdpi, ydpi);
    page.data.assign(static_cast<size_t>(page.header.cupsBytesPerLine) * height, 0xFF);
    return page;
}

bool WriteRaster(int fd, const std::vector<RasterPage> &pages, RasterFormat format)
{
    cups_raster_t *ras =
        cupsRasterOpen(fd, format == RasterFormat::Compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
    if (!ras)
        return false;
    bool ok = true;
    for (const RasterPage &page : pages) {
        cups_page_header2_t header = page.header;
        if (!cupsRasterWriteHeader2(ras, &header)) {
            ok = false;
            break;
        }
        const size_t bpl = header.cupsBytesPerLine;
        size_t rows = page.rowsToWrite < 0 ? header.cupsHeight : static_cast<size_t>(page.rowsToWrite);
        if (bpl == 0)
            continue;
        rows = std::min(rows, page.data.size() / bpl);
        for (size_t y = 0; y < rows; ++y) {
            if (cupsRasterWritePixels(ras, const_cast<unsigned char *>(page.data.data() + y * bpl),
                                      static_cast<unsigned>(bpl)) != bpl) {
                ok = false;
                break;
            }
        }
        if (!ok)
            break;
    }
    cupsRasterClose(ras);
    return ok;
}

bool WriteRasterFile(const std::string &path, const std::vector<RasterPage> &pages, RasterFormat format)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    bool ok = WriteRaster(fd, pages, format);
    return close(fd) == 0 && ok;
}
