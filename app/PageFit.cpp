#include "PageFit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "PageLimits.h"

namespace {

// One page dot along an axis: the source pixels it covers and the share of
// each (the shares add up to 1).
struct Span {
    unsigned first = 0;
    std::vector<float> weights;
};

// Page dot i covers the source interval [(i - offset) / scale,
// (i + 1 - offset) / scale); dots outside the source get no span.
std::vector<Span> Spans(unsigned pageLength, unsigned sourceLength, double scale, double offset)
{
    std::vector<Span> spans(pageLength);
    for (unsigned i = 0; i < pageLength; ++i) {
        double a = (i - offset) / scale, b = (i + 1 - offset) / scale;
        a = std::max(a, 0.0);
        b = std::min(b, static_cast<double>(sourceLength));
        if (b <= a)
            continue;
        Span &s = spans[i];
        s.first = static_cast<unsigned>(a);
        const unsigned last = std::min(sourceLength - 1, static_cast<unsigned>(std::ceil(b)) - 1);
        for (unsigned j = s.first; j <= last; ++j) {
            const double overlap = std::min(b, j + 1.0) - std::max(a, static_cast<double>(j));
            s.weights.push_back(static_cast<float>(std::max(overlap, 0.0) / (b - a)));
        }
    }
    return spans;
}

} // namespace

unsigned char Luminance(unsigned red, unsigned green, unsigned blue)
{
    return static_cast<unsigned char>((299 * red + 587 * green + 114 * blue + 500) / 1000);
}

Picture TurnClockwise(const Picture &picture)
{
    Picture out;
    out.width = picture.height;
    out.height = picture.width;
    out.channels = picture.channels;
    out.pixels.resize(picture.pixels.size());
    const unsigned c = picture.channels;
    for (unsigned y = 0; y < out.height; ++y)
        for (unsigned x = 0; x < out.width; ++x) {
            // Page dot (x, y) shows source pixel (y, height - 1 - x).
            const size_t from = (static_cast<size_t>(picture.height - 1 - x) * picture.width + y) * c;
            memcpy(&out.pixels[(static_cast<size_t>(y) * out.width + x) * c], &picture.pixels[from], c);
        }
    return out;
}

bool OrientationDiffers(unsigned width, unsigned height, unsigned pageWidth, unsigned pageHeight)
{
    return (width > height && pageWidth < pageHeight) || (width < height && pageWidth > pageHeight);
}

namespace {

// `picture` scaled by sx and sy and moved by ox and oy dots onto a white
// page of pageWidth x pageHeight dots, each dot the average of the area it
// covers.
Picture Resample(const Picture &picture, unsigned pageWidth, unsigned pageHeight, double sx, double sy, double ox,
                 double oy)
{
    Picture page;
    page.width = pageWidth;
    page.height = pageHeight;
    page.channels = picture.channels;
    page.pixels.assign(static_cast<size_t>(pageWidth) * pageHeight * page.channels, 255);
    if (picture.width == 0 || picture.height == 0 || pageWidth == 0 || pageHeight == 0)
        return page;
    const std::vector<Span> columns = Spans(pageWidth, picture.width, sx, ox);
    const std::vector<Span> rows = Spans(pageHeight, picture.height, sy, oy);

    const unsigned c = picture.channels;
    std::vector<float> line(static_cast<size_t>(pageWidth) * c);
    for (unsigned y = 0; y < pageHeight; ++y) {
        const Span &row = rows[y];
        if (row.weights.empty())
            continue;
        std::fill(line.begin(), line.end(), 0.0f);
        for (size_t k = 0; k < row.weights.size(); ++k) {
            const unsigned char *src = &picture.pixels[static_cast<size_t>(row.first + k) * picture.width * c];
            const float wy = row.weights[k];
            for (unsigned x = 0; x < pageWidth; ++x) {
                const Span &col = columns[x];
                for (size_t m = 0; m < col.weights.size(); ++m) {
                    const float w = wy * col.weights[m];
                    const unsigned char *p = src + static_cast<size_t>(col.first + m) * c;
                    for (unsigned ch = 0; ch < c; ++ch)
                        line[static_cast<size_t>(x) * c + ch] += w * p[ch];
                }
            }
        }
        unsigned char *out = &page.pixels[static_cast<size_t>(y) * pageWidth * c];
        for (unsigned x = 0; x < pageWidth; ++x) {
            if (columns[x].weights.empty())
                continue;
            for (unsigned ch = 0; ch < c; ++ch) {
                const float v = line[static_cast<size_t>(x) * c + ch];
                out[static_cast<size_t>(x) * c + ch] = static_cast<unsigned char>(std::min(255.0f, v + 0.5f));
            }
        }
    }
    return page;
}

} // namespace

Picture PlaceOnPage(const Picture &picture, unsigned pageWidth, unsigned pageHeight, Scaling scaling)
{
    if (picture.width == 0 || picture.height == 0 || pageWidth == 0 || pageHeight == 0)
        return Resample(picture, pageWidth, pageHeight, 1.0, 1.0, 0.0, 0.0);
    const double sx = static_cast<double>(pageWidth) / picture.width;
    const double sy = static_cast<double>(pageHeight) / picture.height;
    const double scale = scaling == Scaling::Fit ? std::min(sx, sy) : scaling == Scaling::Fill ? std::max(sx, sy) : 1.0;
    // Centred on whole dots (an odd dot goes to the right and bottom), so
    // that a picture of the page's size lands exactly on it.
    const double ox = std::floor((pageWidth - picture.width * scale) / 2.0);
    const double oy = std::floor((pageHeight - picture.height * scale) / 2.0);
    return Resample(picture, pageWidth, pageHeight, scale, scale, ox, oy);
}

RasterImage FitPageToMedia(const RasterImage &page, const FitTarget &target, std::vector<unsigned char> &store)
{
    // The page's size in the printer's dots.
    unsigned pageWidth = page.width, pageHeight = page.height;
    const bool otherDpi = target.xDpi > 0 && target.yDpi > 0 && page.xDpi > 0 && page.yDpi > 0 &&
                          (page.xDpi != target.xDpi || page.yDpi != target.yDpi);
    if (otherDpi) {
        const uint64_t w = std::max<uint64_t>(1, (uint64_t{page.width} * target.xDpi + page.xDpi / 2) / page.xDpi);
        const uint64_t h = std::max<uint64_t>(1, (uint64_t{page.height} * target.yDpi + page.yDpi / 2) / page.yDpi);
        if (!PageImageFits(w, h, 24))
            return page; // beyond any page: printed as it comes
        pageWidth = static_cast<unsigned>(w);
        pageHeight = static_cast<unsigned>(h);
    }
    unsigned width = target.width, height = target.height;
    if (target.maxWidth > 0)
        width = std::min(width, target.maxWidth);
    const bool fit = width > 0 && height > 0;
    const bool tooWide =
        fit && (pageWidth > target.width + target.slack || (target.maxWidth > 0 && pageWidth > target.maxWidth));
    const bool tooLong = fit && pageHeight > target.height + target.slack;
    if (!page.data || (!otherDpi && !tooWide && !tooLong))
        return page;
    const unsigned bpp = page.bitsPerPixel;
    if (bpp != 1 && bpp != 8 && bpp != 24 && bpp != 32)
        return page;

    Picture in;
    in.width = page.width;
    in.height = page.height;
    in.channels = bpp >= 24 ? 3 : 1;
    in.pixels.resize(static_cast<size_t>(in.width) * in.height * in.channels);
    const auto *data = static_cast<const unsigned char *>(page.data);
    for (unsigned y = 0; y < page.height; ++y) {
        const unsigned char *row = data + static_cast<size_t>(y) * page.bytesPerLine;
        unsigned char *out = &in.pixels[static_cast<size_t>(y) * in.width * in.channels];
        for (unsigned x = 0; x < page.width; ++x) {
            if (bpp == 1)
                out[x] = (row[x / 8] & (0x80 >> (x % 8))) ? 255 : 0;
            else if (bpp == 8)
                out[x] = row[x];
            else
                memcpy(out + static_cast<size_t>(x) * 3, row + static_cast<size_t>(x) * (bpp / 8), 3);
        }
    }
    if (otherDpi)
        in = Resample(in, pageWidth, pageHeight, static_cast<double>(target.xDpi) / page.xDpi,
                      static_cast<double>(target.yDpi) / page.yDpi, 0.0, 0.0);
    Picture fitted = tooWide || tooLong
                         ? PlaceOnPage(in, std::min(width, pageWidth), std::min(height, pageHeight), Scaling::Fit)
                         : std::move(in);
    store = std::move(fitted.pixels);

    RasterImage out = page;
    out.data = store.data();
    out.width = fitted.width;
    out.height = fitted.height;
    out.bitsPerPixel = fitted.channels == 3 ? 24 : 8;
    out.bytesPerLine = fitted.width * fitted.channels;
    if (otherDpi) {
        out.xDpi = target.xDpi;
        out.yDpi = target.yDpi;
    }
    return out;
}
