// Page preparation: turns the page image built from the raster into the
// picture every renderer prints, a one-bit image with 1 = white (no dot) and
// white row padding. In two-colour mode the page is first split into a black
// plane (m_Image) and a red plane (m_ImageRed).
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "BaseRender.h"
#include "PageLimits.h"
#include "PageRefusal.h"

// A step that makes a new image checks its size first; a page that would
// outgrow the limits is refused (PageRefused()) and left as it is.
bool CBaseRender::MayMake(const char *step, uint64_t width, uint64_t height, unsigned bitsPerPixel)
{
    if (PageImageFits(width, height, bitsPerPixel))
        return true;
    Refuse("%s", OversizeRefusal(step, width, height).c_str());
    return false;
}

void CBaseRender::OnBeginBmp()
{
    m_bPageRefused = false;
    if (m_Reg.bDoubleColor)
        SplitColorPlanes();
    if (!m_bInited) {
        OnInit();
        m_bInited = true;
    }
    if (m_bPageRefused)
        return;
    if (!m_Reg.bDoubleColor) {
        AdjustImage(m_Image);
        return;
    }
    AdjustTone(m_Image);
    AdjustTone(m_ImageRed);
    if (m_bPageRefused)
        return;
    CropPlanesTogether(m_Image, m_ImageRed, CropLimitsFromSettings());
    AdjustGeometry(m_Image);
    AdjustGeometry(m_ImageRed);
}

// A pixel whose channels differ by more than iColorThreshold is coloured; a
// coloured pixel brighter than iBrightThreshold goes to the red plane, every
// other pixel to the black plane. The other plane stays white there.
void CBaseRender::SplitColorPlanes()
{
    const int width = static_cast<int>(m_Image.GetWidth());
    const int height = static_cast<int>(m_Image.GetHeight());
    const uint32_t kWhite = 16777215;
    if (!MayMake("Splitting the colours", m_Image.GetWidth(), m_Image.GetHeight(), 24))
        return;

    CxImage white(m_Image, true, true, true);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            white.SetPixelColor(x, y, kWhite);
    CxImage black(white, true, true, true);
    CxImage red(white, true, true, true);

    const int t = m_Reg.iColorThreshold;
    const float brightLimit = static_cast<float>(m_Reg.iBrightThreshold);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            tagRGBQUAD c = m_Image.GetPixelColor(x, y, true);
            const int b = c.rgbBlue, g = c.rgbGreen, r = c.rgbRed;
            bool toRed = false;
            if (abs(r - b) > t || abs(r - g) > t || abs(b - g) > t) {
                float hue, saturation, brightness;
                CxImage::RGBtoHSB(c, hue, saturation, brightness);
                toRed = brightness > brightLimit;
            }
            const uint32_t packed = static_cast<uint32_t>(r + 256 * g + 65536 * b);
            (toRed ? red : black).SetPixelColor(x, y, packed);
        }
    }
    m_Image.Transfer(black, true);
    m_ImageRed.Transfer(red, true);
}

// The whole preparation of one image: one bit deep, shifted, cropped,
// mirrored, inverted and rotated as the settings ask, padding white.
void CBaseRender::AdjustImage(CxImage &image)
{
    AdjustTone(image);
    if (m_bPageRefused)
        return;
    const CropLimits limits = CropLimitsFromSettings();
    CropWhiteEdge(image, limits.top, limits.bottom, limits.left, limits.right);
    AdjustGeometry(image);
}

// Grey, brightness/contrast, gamma, threshold or dithering, scale and shift.
void CBaseRender::AdjustTone(CxImage &image)
{
    const tagREGSTRUCT &reg = m_Reg;

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
        if (!MayMake("Scaling", uint64_t{image.GetWidth()} * scale / 100u, uint64_t{image.GetHeight()} * scale / 100u,
                     image.GetBpp()))
            return;
        image.Resample(static_cast<int32_t>(image.GetWidth() * scale / 100u),
                       static_cast<int32_t>(image.GetHeight() * scale / 100u), 1, nullptr);
    }
    if (reg.iOffsetX != 0 || reg.iOffsetY != 0)
        ShiftImage(image, reg.iOffsetX, reg.iOffsetY);
}

// Mirror, negative, rotation, and white row padding last.
void CBaseRender::AdjustGeometry(CxImage &image)
{
    const tagREGSTRUCT &reg = m_Reg;

    if (reg.bMirror)
        image.Mirror(false, true);
    if (reg.bNegative)
        Negative(image);
    if ((reg.iRotate == 2 || reg.iRotate == 3) &&
        !MayMake("Rotating", image.GetHeight(), image.GetWidth(), image.GetBpp()))
        return;
    if (reg.iRotate == 1)
        image.Rotate(180, nullptr);
    else if (reg.iRotate == 2)
        image.Rotate(90, nullptr);
    else if (reg.iRotate == 3)
        image.Rotate(270, nullptr);
    AdjustEffWidthBits(image);
}

// Moves the picture dx columns right and dy stored rows down (toward the end
// of the page); what moves past an edge is lost, what is uncovered is white.
void CBaseRender::ShiftImage(CxImage &image, int dx, int dy)
{
    if (!image.IsValid() || !MayMake("Shifting", image.GetWidth(), image.GetHeight(), image.GetBpp()))
        return;
    CxImage copy(image, true, true, true);
    memset(image.GetBits(0), 0xFF, static_cast<size_t>(image.GetEffWidth()) * image.GetHeight());
    // The blend takes the source position as an offset from the target's, so
    // a shift by +dx reads from -dx. INT_MIN has no negation: it shifts
    // everything out either way.
    const int sx = dx == INT_MIN ? INT_MAX : -dx;
    const int sy = dy == INT_MIN ? INT_MAX : -dy;
    image.Mix(copy, static_cast<ImageOpType>(9), sx, sy, false);
}

namespace {

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

} // namespace

// Crop limits in dots from the millimetre settings; a negative limit means
// no limit.
CropLimits CBaseRender::CropLimitsFromSettings()
{
    return {MillimetresToDots(m_Reg.iCropTopEdge), MillimetresToDots(m_Reg.iCropBottomEdge),
            MillimetresToDots(m_Reg.iCropLeftEdge), MillimetresToDots(m_Reg.fCropRightEdge)};
}

namespace {

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

} // namespace

// Trims white margins of a one-bit image, removing at each edge no more than
// its limit in pixels (a negative limit means no limit).
void CBaseRender::CropWhiteEdge(CxImage &image, int top, int bottom, int left, int right)
{
    CropLimits limits{top, bottom, left, right};
    if (NoCrop(limits))
        return;
    Unlimit(limits);
    InkBox ink = FindInk(image, limits.top > 0 || limits.bottom > 0, limits.left > 0 || limits.right > 0);
    CropToInk(image, ink, limits);
}

// Two-colour pages: both planes are printed at the same origin, so they are
// cropped by the same rectangle, the white margin of the two together.
// Cropping each plane by its own margins would move red and black apart.
void CBaseRender::CropPlanesTogether(CxImage &black, CxImage &red, CropLimits limits)
{
    if (NoCrop(limits))
        return;
    Unlimit(limits);
    const bool rows = limits.top > 0 || limits.bottom > 0;
    const bool columns = limits.left > 0 || limits.right > 0;
    if (black.GetWidth() != red.GetWidth() || black.GetHeight() != red.GetHeight()) {
        CropToInk(black, FindInk(black, rows, columns), limits);
        CropToInk(red, FindInk(red, rows, columns), limits);
        return;
    }
    InkBox ink = Union(FindInk(black, rows, columns), FindInk(red, rows, columns));
    CropToInk(black, ink, limits);
    CropToInk(red, ink, limits);
}
