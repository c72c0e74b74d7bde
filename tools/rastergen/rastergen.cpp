// quillfeed-rastergen: writes a CUPS raster file from a generated pattern or
// a PNM image, for trying the filter without a print server.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "RasterWriter.h"

namespace {

struct Rgb {
    uint8_t r, g, b;
};

void Usage()
{
    fprintf(stderr, "usage: quillfeed-rastergen [options] OUTPUT|-\n"
                    "  --width N --height N   page size in pixels (default 320 x 240)\n"
                    "  --bpp N                1, 4, 8, 24 or 32 bits per pixel (default 8)\n"
                    "  --dpi X[xY]            resolution (default 203)\n"
                    "  --pattern NAME         white, black, checker, gradient, frame, redblack\n"
                    "                         (default frame)\n"
                    "  --pages N              number of pages (default 1)\n"
                    "  --compressed           write the compressed raster form\n"
                    "  --pnm FILE             take the page from a P4, P5 or P6 image instead\n");
}

Rgb PatternPixel(const std::string &name, unsigned x, unsigned y, unsigned w, unsigned h, unsigned page)
{
    const uint8_t white = 255;
    if (name == "white")
        return {white, white, white};
    if (name == "black")
        return {0, 0, 0};
    if (name == "checker") {
        bool dark = ((x / 8) + (y / 8) + page) % 2;
        uint8_t v = dark ? 0 : 255;
        return {v, v, v};
    }
    if (name == "gradient") {
        uint8_t v = static_cast<uint8_t>(w > 1 ? x * 255 / (w - 1) : 255);
        return {v, v, v};
    }
    if (name == "redblack") {
        // Left half red, right half black bars on white: a two-colour label.
        if (x < w / 2)
            return (y / 16) % 2 ? Rgb{255, 0, 0} : Rgb{white, white, white};
        return (x / 16) % 2 ? Rgb{0, 0, 0} : Rgb{white, white, white};
    }
    // frame: a 4-pixel border, a diagonal and a grey ramp block.
    if (x < 4 || y < 4 || x + 4 >= w || y + 4 >= h)
        return {0, 0, 0};
    if (h > 0 && x == y * w / h)
        return {0, 0, 0};
    if (x > w / 2 && y > h / 2) {
        uint8_t v = static_cast<uint8_t>((x - w / 2) * 255 / (w - w / 2));
        return {v, v, v};
    }
    return {white, white, white};
}

// Packs one pixel into a raster row: 1 to 8 bits are grey with all ones white.
void PutPixel(std::vector<uint8_t> &row, unsigned x, unsigned bpp, Rgb c)
{
    const unsigned grey = (c.r * 306u + c.g * 601u + c.b * 117u) >> 10;
    switch (bpp) {
    case 1:
        if (grey >= 128)
            row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        else
            row[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
        break;
    case 4: {
        uint8_t v = static_cast<uint8_t>(grey / 17);
        if (x % 2)
            row[x / 2] = static_cast<uint8_t>((row[x / 2] & 0xF0) | v);
        else
            row[x / 2] = static_cast<uint8_t>((row[x / 2] & 0x0F) | (v << 4));
        break;
    }
    case 8:
        row[x] = static_cast<uint8_t>(grey);
        break;
    case 24:
        row[3 * x] = c.r;
        row[3 * x + 1] = c.g;
        row[3 * x + 2] = c.b;
        break;
    default:
        row[4 * x] = c.r;
        row[4 * x + 1] = c.g;
        row[4 * x + 2] = c.b;
        row[4 * x + 3] = 255;
        break;
    }
}

int ReadNumber(std::istream &in)
{
    int c;
    while ((c = in.peek()) != EOF && (isspace(c) || c == '#')) {
        if (c == '#')
            while ((c = in.get()) != EOF && c != '\n') {
            }
        else
            in.get();
    }
    int v = -1;
    in >> v;
    return v;
}

bool ReadPnm(const std::string &path, unsigned &w, unsigned &h, unsigned &bpp, std::vector<Rgb> &pixels)
{
    std::ifstream in(path, std::ios::binary);
    char magic[2];
    if (!in.read(magic, 2) || magic[0] != 'P' || (magic[1] != '4' && magic[1] != '5' && magic[1] != '6'))
        return false;
    int iw = ReadNumber(in), ih = ReadNumber(in);
    int maxval = magic[1] == '4' ? 1 : ReadNumber(in);
    if (iw <= 0 || ih <= 0 || maxval <= 0 || maxval > 255 || static_cast<long long>(iw) * ih > (1LL << 28))
        return false;
    in.get(); // the single whitespace byte before the data
    w = static_cast<unsigned>(iw);
    h = static_cast<unsigned>(ih);
    pixels.resize(static_cast<size_t>(w) * h);
    if (magic[1] == '4') {
        bpp = 1;
        std::vector<uint8_t> row((w + 7) / 8);
        for (unsigned y = 0; y < h; ++y) {
            if (!in.read(reinterpret_cast<char *>(row.data()), static_cast<std::streamsize>(row.size())))
                return false;
            for (unsigned x = 0; x < w; ++x) {
                uint8_t v = (row[x / 8] & (0x80 >> (x % 8))) ? 0 : 255; // PBM: 1 is black
                pixels[static_cast<size_t>(y) * w + x] = {v, v, v};
            }
        }
        return true;
    }
    const unsigned channels = magic[1] == '5' ? 1 : 3;
    bpp = channels == 1 ? 8 : 24;
    std::vector<uint8_t> data(static_cast<size_t>(w) * h * channels);
    if (!in.read(reinterpret_cast<char *>(data.data()), static_cast<std::streamsize>(data.size())))
        return false;
    for (size_t i = 0; i < pixels.size(); ++i) {
        const uint8_t *p = &data[i * channels];
        auto scale = [maxval](uint8_t v) { return static_cast<uint8_t>(v * 255 / maxval); };
        pixels[i] =
            channels == 1 ? Rgb{scale(p[0]), scale(p[0]), scale(p[0])} : Rgb{scale(p[0]), scale(p[1]), scale(p[2])};
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    unsigned width = 320, height = 240, bpp = 8, xdpi = 203, ydpi = 203, pages = 1;
    bool bppGiven = false;
    std::string pattern = "frame", pnm, output;
    RasterFormat format = RasterFormat::Uncompressed;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char * {
            if (i + 1 >= argc) {
                Usage();
                exit(2);
            }
            return argv[++i];
        };
        if (a == "--width")
            width = static_cast<unsigned>(atoi(next()));
        else if (a == "--height")
            height = static_cast<unsigned>(atoi(next()));
        else if (a == "--bpp") {
            bpp = static_cast<unsigned>(atoi(next()));
            bppGiven = true;
        } else if (a == "--dpi") {
            const char *v = next();
            xdpi = ydpi = static_cast<unsigned>(atoi(v));
            if (const char *x = strchr(v, 'x'))
                ydpi = static_cast<unsigned>(atoi(x + 1));
        } else if (a == "--pattern")
            pattern = next();
        else if (a == "--pages")
            pages = static_cast<unsigned>(atoi(next()));
        else if (a == "--compressed")
            format = RasterFormat::Compressed;
        else if (a == "--pnm")
            pnm = next();
        else if (a == "-h" || a == "--help") {
            Usage();
            return 0;
        } else if (output.empty() && (a == "-" || a[0] != '-'))
            output = a;
        else {
            Usage();
            return 2;
        }
    }
    if (output.empty() || (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) || xdpi == 0 || ydpi == 0 ||
        pages == 0 || width == 0 || height == 0 || width > 65536 || height > 65536) {
        Usage();
        return 2;
    }

    std::vector<Rgb> image;
    if (!pnm.empty()) {
        unsigned pnmBpp = 8;
        if (!ReadPnm(pnm, width, height, pnmBpp, image)) {
            fprintf(stderr, "quillfeed-rastergen: %s is not a readable P4, P5 or P6 image\n", pnm.c_str());
            return 1;
        }
        if (!bppGiven)
            bpp = pnmBpp;
    }

    std::vector<RasterPage> out;
    for (unsigned p = 0; p < pages; ++p) {
        RasterPage page = MakeWhitePage(width, height, bpp, xdpi, ydpi);
        const size_t bpl = page.header.cupsBytesPerLine;
        std::vector<uint8_t> row(bpl);
        for (unsigned y = 0; y < height; ++y) {
            std::copy(page.data.begin() + y * bpl, page.data.begin() + (y + 1) * bpl, row.begin());
            for (unsigned x = 0; x < width; ++x)
                PutPixel(row, x, bpp,
                         image.empty() ? PatternPixel(pattern, x, y, width, height, p)
                                       : image[static_cast<size_t>(y) * width + x]);
            std::copy(row.begin(), row.end(), page.data.begin() + y * bpl);
        }
        out.push_back(std::move(page));
    }
    bool ok = output == "-" ? WriteRaster(1, out, format) : WriteRasterFile(output, out, format);
    if (!ok) {
        fprintf(stderr, "quillfeed-rastergen: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
