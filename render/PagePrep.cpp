// Page preparation (see PagePrep.h): tone and one-bit conversion, shift,
// white-edge crop and geometry, and the two-colour split.
#include "PagePrep.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "PageLimits.h"
#include "PageRefusal.h"
#include "Units.h"

namespace {

// First and last stored row and column with a black pixel; -1 when none.
struct InkBox {
    int firstRow = -1, lastRow = -1, firstColumn = -1, lastColumn = -1;
};

// Why a step may not make an image of this size, or "" when it may.
std::string Oversize(const char *step, uint64_t width, uint64_t height, unsigned bitsPerPixel)
{
    return PageImageFits(width, height, bitsPerPixel) ? std::string() : OversizeRefusal(step, width, height);
}

// Column of the first black (0) pixel of a one-bit row, or -1.
int FirstBlack(const uint8_t *row, int width)
{
    const int full = width / 8;
    for (int i = 0; i < full; ++i)
        if (row[i] != 0xFF)
            for (int b = 0; b < 8; ++b)
                if (!(row[i] & (0x80 >> b)))
                    return i * 8 + b;
    for (int x = full * 8; x < width; ++x)
        if (!(row[x / 8] & (0x80 >> (x % 8))))
            return x;
    return -1;
}

// Column of the last black pixel of a one-bit row, or -1.
int LastBlack(const uint8_t *row, int width)
{
    for (int x = width - 1; x >= 0 && x >= (width / 8) * 8; --x)
        if (!(row[x / 8] & (0x80 >> (x % 8))))
            return x;
    for (int i = width / 8 - 1; i >= 0; --i)
        if (row[i] != 0xFF)
            for (int b = 7; b >= 0; --b)
                if (!(row[i] & (0x80 >> b)))
                    return i * 8 + b;
    return -1;
}

// Where the ink of a one-bit image lies: the first and last stored row and
// column holding a black pixel. Only what a crop with these limits needs is
// scanned, and every scan stops at the first black pixel from its edge.
InkBox FindInk(CxImage &image, bool rows, bool columns)
{
    const int width = static_cast<int>(image.GetWidth());
    const int height = static_cast<int>(image.GetHeight());
    InkBox ink;
    if (rows) {
        for (int y = 0; y < height && ink.firstRow < 0; ++y)
            if (FirstBlack(image.GetBits(y), width) >= 0)
                ink.firstRow = y;
        for (int y = height - 1; y >= 0 && ink.lastRow < 0; --y)
            if (FirstBlack(image.GetBits(y), width) >= 0)
                ink.lastRow = y;
    }
    // The first black column from either side is the extreme over all rows,
    // so scanning row by row finds the same column as scanning columns.
    if (columns) {
        for (int y = 0; y < height && ink.firstColumn != 0; ++y) {
            int c = FirstBlack(image.GetBits(y), width);
            if (c >= 0 && (ink.firstColumn < 0 || c < ink.firstColumn))
                ink.firstColumn = c;
        }
        for (int y = 0; y < height && ink.lastColumn != width - 1; ++y)
            ink.lastColumn = std::max(ink.lastColumn, LastBlack(image.GetBits(y), width));
    }
    return ink;
}

// The ink of two planes printed on top of each other.
InkBox Union(const InkBox &a, const InkBox &b)
{
    auto first = [](int p, int q) { return p < 0 ? q : q < 0 ? p : std::min(p, q); };
    return {first(a.firstRow, b.firstRow), std::max(a.lastRow, b.lastRow), first(a.firstColumn, b.firstColumn),
            std::max(a.lastColumn, b.lastColumn)};
}

void Unlimit(CropLimits &limits)
{
    for (int *l : {&limits.top, &limits.bottom, &limits.left, &limits.right})
        if (*l < 0)
            *l = 32767;
}

bool NoCrop(const CropLimits &l)
{
    return l.top == 0 && l.bottom == 0 && l.left == 0 && l.right == 0;
}

// Removes at each edge the white margin outside `ink`, at most its limit. The
// right edge removes one column more than its limit when the white margin is
// wider: printers have been tuned to that. Where the scan found no ink the
// edge keeps everything.
void CropToInk(CxImage &image, const InkBox &ink, const CropLimits &limits)
{
    const int width = static_cast<int>(image.GetWidth());
    const int height = static_cast<int>(image.GetHeight());
    int removedLow = 0, removedHigh = 0, removedLeft = 0, removedRight = 0;
    if (limits.bottom > 0 && ink.lastRow >= 0)
        removedHigh = std::min(height - 1 - ink.lastRow, limits.bottom);
    if (limits.top > 0 && ink.firstRow >= 0)
        removedLow = std::min(ink.firstRow, limits.top);
    if (limits.left > 0 && ink.firstColumn >= 0)
        removedLeft = std::min(ink.firstColumn, limits.left);
    if (limits.right > 0 && ink.lastColumn >= 0)
        removedRight = static_cast<int>(
            std::min<int64_t>(width - 1 - ink.lastColumn, int64_t{limits.right} + 1)); // limit may be INT_MAX

    // Crop counts top and bottom from the last stored row: the rows kept are
    // [removedLow, height - removedHigh).
    CxImage target;
    image.Crop(removedLeft, removedHigh, width - removedRight, height - removedLow, &target);
    image = target;
}

// Moves the picture dx columns right and dy stored rows down (toward the end
// of the page); what moves past an edge is lost, what is uncovered is white.
std::string ShiftImage(CxImage &image, int dx, int dy)
{
    if (!image.IsValid())
        return {};
    if (std::string why = Oversize("Shifting", image.GetWidth(), image.GetHeight(), image.GetBpp()); !why.empty())
        return why;
    CxImage copy(image, true, true, true);
    memset(image.GetBits(0), 0xFF, static_cast<size_t>(image.GetEffWidth()) * image.GetHeight());
    // The blend takes the source position as an offset from the target's, so
    // a shift by +dx reads from -dx. INT_MIN has no negation: it shifts
    // everything out either way.
    const int sx = dx == INT_MIN ? INT_MAX : -dx;
    const int sy = dy == INT_MIN ? INT_MAX : -dy;
    image.Mix(copy, static_cast<ImageOpType>(9), sx, sy, false);
    return {};
}

// Grey, brightness/contrast, gamma, threshold or dithering, scale and shift.
std::string AdjustTone(CxImage &image, const tagREGSTRUCT &reg)
{
    if (image.GetBpp() > 23)
        image.GrayScale();
    if (reg.iLiangdu != 0 || reg.iDuibidu != 0)
        image.Light(reg.iLiangdu, reg.iDuibidu);
    if (reg.iGamma != 10)
        image.Gamma(static_cast<float>(reg.iGamma) / 10.0f);
    if (reg.iGrayMethod <= 0)
        image.Threshold(static_cast<uint8_t>(reg.iThreValue % 256));
    else
        image.Dither(reg.iGrayMethod - 1);
    if (reg.iScale != 100) {
        const uint32_t scale = static_cast<uint32_t>(reg.iScale);
        const uint64_t width = uint64_t{image.GetWidth()} * scale / 100u;
        const uint64_t height = uint64_t{image.GetHeight()} * scale / 100u;
        if (std::string why = Oversize("Scaling", width, height, image.GetBpp()); !why.empty())
            return why;
        image.Resample(static_cast<int32_t>(width), static_cast<int32_t>(height), 1, nullptr);
    }
    if (reg.iOffsetX != 0 || reg.iOffsetY != 0)
        return ShiftImage(image, reg.iOffsetX, reg.iOffsetY);
    return {};
}

// Mirror, negative, rotation, and white row padding last.
std::string AdjustGeometry(CxImage &image, const tagREGSTRUCT &reg)
{
    if (reg.bMirror)
        image.Mirror(false, true);
    if (reg.bNegative)
        Negative(image);
    if (reg.iRotate == 2 || reg.iRotate == 3)
        if (std::string why = Oversize("Rotating", image.GetHeight(), image.GetWidth(), image.GetBpp()); !why.empty())
            return why;
    if (reg.iRotate == 1)
        image.Rotate(180, nullptr);
    else if (reg.iRotate == 2)
        image.Rotate(90, nullptr);
    else if (reg.iRotate == 3)
        image.Rotate(270, nullptr);
    AdjustEffWidthBits(image);
    return {};
}

} // namespace

CropLimits CropLimitsOf(const tagREGSTRUCT &reg, int dpi)
{
    return {LengthToDots(reg.iCropTopEdge, reg.iUnit, dpi), LengthToDots(reg.iCropBottomEdge, reg.iUnit, dpi),
            LengthToDots(reg.iCropLeftEdge, reg.iUnit, dpi), LengthToDots(reg.fCropRightEdge, reg.iUnit, dpi)};
}

void CropWhiteEdge(CxImage &image, CropLimits limits)
{
    if (NoCrop(limits))
        return;
    Unlimit(limits);
    InkBox ink = FindInk(image, limits.top > 0 || limits.bottom > 0, limits.left > 0 || limits.right > 0);
    CropToInk(image, ink, limits);
}

std::string PrepareImage(CxImage &image, const tagREGSTRUCT &reg, int dpi)
{
    if (std::string why = AdjustTone(image, reg); !why.empty())
        return why;
    CropWhiteEdge(image, CropLimitsOf(reg, dpi));
    return AdjustGeometry(image, reg);
}

std::string PreparePlanes(CxImage &black, CxImage &red, const tagREGSTRUCT &reg, int dpi)
{
    for (CxImage *plane : {&black, &red})
        if (std::string why = AdjustTone(*plane, reg); !why.empty())
            return why;
    CropLimits limits = CropLimitsOf(reg, dpi);
    if (!NoCrop(limits)) {
        Unlimit(limits);
        const bool rows = limits.top > 0 || limits.bottom > 0;
        const bool columns = limits.left > 0 || limits.right > 0;
        if (black.GetWidth() != red.GetWidth() || black.GetHeight() != red.GetHeight()) {
            CropToInk(black, FindInk(black, rows, columns), limits);
            CropToInk(red, FindInk(red, rows, columns), limits);
        } else {
            const InkBox ink = Union(FindInk(black, rows, columns), FindInk(red, rows, columns));
            CropToInk(black, ink, limits);
            CropToInk(red, ink, limits);
        }
    }
    for (CxImage *plane : {&black, &red})
        if (std::string why = AdjustGeometry(*plane, reg); !why.empty())
            return why;
    return {};
}

std::string SplitColourPlanes(CxImage &page, CxImage &red, const tagREGSTRUCT &reg)
{
    const int width = static_cast<int>(page.GetWidth());
    const int height = static_cast<int>(page.GetHeight());
    const uint32_t kWhite = 16777215;
    if (std::string why = Oversize("Splitting the colours", page.GetWidth(), page.GetHeight(), 24); !why.empty())
        return why;

    CxImage white(page, true, true, true);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            white.SetPixelColor(x, y, kWhite);
    CxImage blackPlane(white, true, true, true);
    CxImage redPlane(white, true, true, true);

    const int t = reg.iColorThreshold;
    const float brightLimit = static_cast<float>(reg.iBrightThreshold);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            tagRGBQUAD c = page.GetPixelColor(x, y, true);
            const int b = c.rgbBlue, g = c.rgbGreen, r = c.rgbRed;
            bool toRed = false;
            if (abs(r - b) > t || abs(r - g) > t || abs(b - g) > t) {
                float hue, saturation, brightness;
                CxImage::RGBtoHSB(c, hue, saturation, brightness);
                toRed = brightness > brightLimit;
            }
            const uint32_t packed = static_cast<uint32_t>(r + 256 * g + 65536 * b);
            (toRed ? redPlane : blackPlane).SetPixelColor(x, y, packed);
        }
    }
    page.Transfer(blackPlane, true);
    red.Transfer(redPlane, true);
    return {};
}

std::string PrepareSplitPage(CxImage &page, CxImage &red, const tagREGSTRUCT &reg, int dpi)
{
    return reg.bDoubleColor ? PreparePlanes(page, red, reg, dpi) : PrepareImage(page, reg, dpi);
}

std::string PreparePage(CxImage &page, CxImage &red, const tagREGSTRUCT &reg, int dpi)
{
    if (reg.bDoubleColor)
        if (std::string why = SplitColourPlanes(page, red, reg); !why.empty())
            return why;
    return PrepareSplitPage(page, red, reg, dpi);
}
