#include "PngWriter.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qf::preview {

namespace {

struct ErrorSink {
    char text[256];
};

void OnPngError(png_structp png, png_const_charp message)
{
    auto *sink = static_cast<ErrorSink *>(png_get_error_ptr(png));
    std::snprintf(sink->text, sizeof sink->text, "%s", message);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Row `y` of a one-colour page, 1 bit per pixel, 1 = white.
void GreyRow(const Page &page, int y, uint8_t *row, size_t rowBytes)
{
    std::memset(row, 0xFF, rowBytes);
    const Plane &p = page.black;
    int py = y - p.y;
    if (py < 0 || py >= p.height)
        return;
    const uint8_t *src = p.Row(py);
    for (int col = 0; col < p.WidthDots(); ++col) {
        if (!((src[col / 8] >> (7 - col % 8)) & 1))
            continue;
        int x = p.x + col;
        row[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
    }
}

void Paint(const Plane &p, int y, uint8_t *row, uint8_t r, uint8_t g, uint8_t b)
{
    int py = y - p.y;
    if (py < 0 || py >= p.height)
        return;
    const uint8_t *src = p.Row(py);
    for (int col = 0; col < p.WidthDots(); ++col) {
        if (!((src[col / 8] >> (7 - col % 8)) & 1))
            continue;
        uint8_t *px = row + static_cast<size_t>(p.x + col) * 3;
        px[0] = r;
        px[1] = g;
        px[2] = b;
    }
}

// Row `y` of a two-colour page, RGB.
void ColourRow(const Page &page, int y, uint8_t *row, size_t rowBytes)
{
    std::memset(row, 0xFF, rowBytes);
    Paint(*page.red, y, row, 0xFF, 0x00, 0x00);
    Paint(page.black, y, row, 0x00, 0x00, 0x00);
}

// Keeps only plain data in its frame: libpng leaves it by longjmp on error.
bool Encode(FILE *fp, const Page &page, int width, int height, bool blank, uint8_t *row, size_t rowBytes,
            ErrorSink *sink)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, sink, OnPngError, OnPngWarning);
    if (!png) {
        std::snprintf(sink->text, sizeof sink->text, "cannot create the PNG writer");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(sink->text, sizeof sink->text, "cannot create the PNG header");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    const bool colour = page.TwoColour() && !blank;
    png_init_io(png, fp);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), colour ? 8 : 1,
                 colour ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        if (blank)
            std::memset(row, 0xFF, rowBytes);
        else if (colour)
            ColourRow(page, y, row, rowBytes);
        else
            GreyRow(page, y, row, rowBytes);
        png_write_row(png, row);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool WritePagePng(const Page &page, const std::string &path, std::string &error)
{
    const bool blank = page.width <= 0 || page.height <= 0;
    const int width = blank ? 1 : page.width;
    const int height = blank ? 1 : page.height;
    const bool colour = page.TwoColour() && !blank;
    const size_t rowBytes = colour ? static_cast<size_t>(width) * 3 : (static_cast<size_t>(width) + 7) / 8;
    std::vector<uint8_t> row(rowBytes);

    FILE *fp = std::fopen(path.c_str(), "wb");
    if (!fp) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    ErrorSink sink{};
    bool ok = Encode(fp, page, width, height, blank, row.data(), rowBytes, &sink);
    if (std::fclose(fp) != 0 && ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!ok)
        error = "cannot write " + path + ": " + sink.text;
    return ok;
}

} // namespace qf::preview
