// Writes CUPS raster streams with libcups, so that tests and users can make
// raster without a print server.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <string>
#include <vector>

struct RasterPage {
    cups_page_header2_t header;
    // The page's rows, bytes per line x rows, top row first.
    std::vector<uint8_t> data;
    // Rows actually written; less than cupsHeight gives a short page. -1: all.
    int rowsToWrite = -1;
};

// A page header for width x height pixels of `bpp` bits (1, 4, 8, 24 or 32)
// at xdpi x ydpi. 1 to 8 bits are grey with 0 black (white = all ones), 24
// bits RGB, 32 bits RGBA-like four bytes per pixel.
cups_page_header2_t MakePageHeader(unsigned width, unsigned height, unsigned bpp, unsigned xdpi, unsigned ydpi);

// A page whose every pixel is white.
RasterPage MakeWhitePage(unsigned width, unsigned height, unsigned bpp, unsigned xdpi, unsigned ydpi);

enum class RasterFormat {
    Uncompressed, // "RaS3" sync word, as the Ghostscript path sends it
    Compressed,   // "RaS2", run-length compressed rows
};

// Writes the pages to `fd`; returns false on a libcups or write error.
bool WriteRaster(int fd, const std::vector<RasterPage> &pages, RasterFormat format);
bool WriteRasterFile(const std::string &path, const std::vector<RasterPage> &pages, RasterFormat format);
