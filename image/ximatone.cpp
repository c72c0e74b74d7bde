// CxImage tone operations: grey conversion, brightness/contrast, gamma,
// look-up tables, fixed threshold, mixing two images, and the HSB measure.
#include "ximage.h"
#include "ximadither_isa.h"

#include <cmath>
#include <cstring>

namespace {

// Integer luma with weights summing to 1024, so B = G = R keeps its level.
inline uint8_t GreyOf(uint8_t b, uint8_t g, uint8_t r)
{
    return static_cast<uint8_t>((117 * b + 601 * g + 306 * r) >> 10);
}

inline uint8_t ClampByte(double v)
{
    if (!(v > 0))
        return 0; // also NaN
    if (v >= 255)
        return 255;
    return static_cast<uint8_t>(v);
}

void SetBlackWhitePalette(CxImage &img)
{
    img.SetPaletteColor(0, 0, 0, 0, 0);
    img.SetPaletteColor(1, 255, 255, 255, 0);
}

} // namespace

bool CxImage::GrayScale()
{
    if (!m_pDib)
        return false;
    const uint32_t w = GetWidth(), h = GetHeight();

    // The widened image: this one's attributes, selection and alpha, 8 bits
    // with the identity grey palette.
    CxImage grey;
    auto makeGrey = [&]() {
        grey.CopyInfo(*this);
        if (!grey.Create(w, h, 8, GetType())) {
            SetLastError(grey.GetLastError());
            return false;
        }
        grey.SetGrayPalette();
        grey.SelectionCopy(*this);
        grey.AlphaCopy(*this);
        return true;
    };

    if (m_Head.biBitCount == 24) {
        if (!makeGrey())
            return false;
        for (uint32_t y = 0; y < h; y++) {
            const uint8_t *src = GetBits(y);
            uint8_t *dst = grey.GetBits(y);
            for (uint32_t x = 0; x < w; x++, src += 3)
                dst[x] = GreyOf(src[0], src[1], src[2]);
        }
        if (m_Info.iTransIndex >= 0)
            grey.m_Info.iTransIndex =
                GreyOf(m_Info.TransColor.rgbBlue, m_Info.TransColor.rgbGreen, m_Info.TransColor.rgbRed);
        Transfer(grey);
        return true;
    }

    // Palette images: the grey level of every entry, which the 8-bit case
    // also stores into the entries' blue bytes.
    tagRGBQUAD *pal = GetPalette();
    const uint32_t n = GetNumColors();
    uint8_t level[256] = {};
    for (uint32_t j = 0; j < n; j++)
        level[j] = GreyOf(pal[j].rgbBlue, pal[j].rgbGreen, pal[j].rgbRed);
    int32_t transIndex = m_Info.iTransIndex;
    if (transIndex >= 0 && transIndex < static_cast<int64_t>(n))
        transIndex = level[transIndex];

    if (m_Head.biBitCount == 8) {
        for (uint32_t j = 0; j < n; j++)
            pal[j].rgbBlue = level[j];
        m_Info.iTransIndex = transIndex;
        bool identity = true;
        for (uint32_t v = 0; v < 256; v++)
            identity = identity && level[v] == v;
        if (!identity) {
            uint8_t *p = m_Info.pBits;
            const size_t bytes = size_t{GetEffWidth()} * h;
            for (size_t k = 0; k < bytes; k++)
                p[k] = level[p[k]];
        }
        SetGrayPalette();
        return true;
    }

    // 1 and 4 bits widen to 8 bits; nothing here changes on failure.
    if (!makeGrey())
        return false;
    grey.m_Info.iTransIndex = transIndex;
    for (uint32_t y = 0; y < h; y++) {
        uint8_t *dst = grey.GetBits(y);
        for (uint32_t x = 0; x < w; x++)
            dst[x] = level[BlindGetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y))];
    }
    Transfer(grey);
    return true;
}

bool CxImage::Light(int32_t brightness, int32_t contrast)
{
    // 64-bit sums: the settings come from job options and may be extreme.
    const float c = static_cast<float>(int64_t{contrast} + 100) / 100.0f;
    const float b = static_cast<float>(int64_t{brightness} + 128);
    uint8_t table[256];
    for (int v = 0; v < 256; v++) {
        // Three separate single-precision steps, then truncation toward zero.
        float t = static_cast<float>(v - 128) * c;
        t = t + b;
        t = t + 0.5f;
        table[v] = ClampByte(std::trunc(t));
    }
    return Lut(table);
}

bool CxImage::Gamma(float gamma)
{
    if (!m_pDib || !(gamma > 0))
        return false;
    const double e = static_cast<double>(1.0f / gamma);
    const double m = std::pow(255.0, e) / 255.0;
    uint8_t table[256];
    for (int v = 0; v < 256; v++)
        table[v] = ClampByte(std::trunc(std::pow(static_cast<double>(v), e) / m));
    return Lut(table);
}

bool CxImage::Lut(const uint8_t *pLut)
{
    if (!m_pDib || !pLut)
        return false;

    const uint32_t n = GetNumColors();
    if (n == 0) {
        // True colour: every channel through the table.
        const uint32_t w = GetWidth(), h = GetHeight();
        for (uint32_t y = 0; y < h; y++) {
            uint8_t *p = GetBits(y);
            for (size_t k = 0; k < size_t{w} * 3; k++)
                p[k] = pLut[p[k]];
        }
        return true;
    }

    const bool wasGrey = IsGrayScale();
    for (uint32_t j = 0; j < n; j++) {
        const tagRGBQUAD c = GetPaletteColor(static_cast<uint8_t>(j));
        // White stays white: the paper colour is never darkened or tinted.
        if (c.rgbBlue == 255 && c.rgbGreen == 255 && c.rgbRed == 255)
            continue;
        SetPaletteColor(static_cast<uint8_t>(j), pLut[c.rgbRed], pLut[c.rgbGreen], pLut[c.rgbBlue], c.rgbReserved);
    }
    // An identity grey palette is folded back into the bytes.
    if (wasGrey)
        GrayScale();
    return true;
}

bool CxImage::Threshold(uint8_t level)
{
    if (!m_pDib)
        return false;
    if (GetBpp() == 1)
        return true;
    if (!GrayScale())
        return false;

    const uint32_t w = GetWidth(), h = GetHeight();
    CxImage out(w, h, 1, 0);
    if (!out.IsValid()) {
        SetLastError(out.GetLastError());
        return false;
    }

    for (uint32_t y = 0; y < h; y++) {
        m_Info.iProgress = static_cast<int32_t>(uint64_t{100} * y / h);
        if (m_Info.iEscape)
            break;
        qf_image_detail::ThresholdRow(GetBits(y), out.GetBits(y), w, level);
    }

    SetBlackWhitePalette(out);
    Transfer(out);
    return true;
}

void CxImage::Mix(CxImage &imgsrc2, ImageOpType op, int32_t lXOffset, int32_t lYOffset, bool bMixAlpha)
{
    if (!m_pDib || !imgsrc2.m_pDib || op != OpSrcCopy)
        return;

    // The covered area is computed on unsigned 32-bit values: a negative
    // offset widens it, an offset past the source wraps to "everything".
    uint32_t wcov = imgsrc2.GetWidth() - static_cast<uint32_t>(lXOffset);
    uint32_t hcov = imgsrc2.GetHeight() - static_cast<uint32_t>(lYOffset);
    if (GetWidth() < wcov)
        wcov = GetWidth();
    if (GetHeight() < hcov)
        hcov = GetHeight();

    const bool editAlpha = bMixAlpha && imgsrc2.AlphaIsValid();
    if (editAlpha && !AlphaIsValid())
        AlphaCreate();

    const uint32_t h = GetHeight();
    for (uint32_t y = 0; y < hcov; y++) {
        m_Info.iProgress = static_cast<int32_t>(uint64_t{100} * y / h);
        if (m_Info.iEscape)
            break;
        const int64_t sy = int64_t{y} + lYOffset;
        if (sy < 0 || sy >= imgsrc2.GetHeight())
            continue;
        for (uint32_t x = 0; x < wcov; x++) {
            const int64_t sx = int64_t{x} + lXOffset;
            if (sx < 0 || sx >= imgsrc2.GetWidth())
                continue;
            const int32_t ix = static_cast<int32_t>(x), iy = static_cast<int32_t>(y);
            const int32_t jx = static_cast<int32_t>(sx), jy = static_cast<int32_t>(sy);
            if (!SelectionIsInside(ix, iy) || !imgsrc2.SelectionIsInside(jx, jy))
                continue;

            const tagRGBQUAD c1 = GetPixelColor(ix, iy, true);
            const tagRGBQUAD c2 = imgsrc2.GetPixelColor(jx, jy, true);
            int32_t a;
            if (imgsrc2.IsTransparent(jx, jy))
                a = 0;
            else if (imgsrc2.AlphaIsValid())
                a = imgsrc2.AlphaGet(jx, jy) * imgsrc2.AlphaGetMax() / 255;
            else
                a = 255;

            tagRGBQUAD r;
            if (a == 0) {
                r = c1;
            } else if (a == 255) {
                r = c2;
            } else {
                const int32_t na = 255 - a;
                r.rgbBlue = static_cast<uint8_t>((c1.rgbBlue * na + c2.rgbBlue * a) / 255);
                r.rgbGreen = static_cast<uint8_t>((c1.rgbGreen * na + c2.rgbGreen * a) / 255);
                r.rgbRed = static_cast<uint8_t>((c1.rgbRed * na + c2.rgbRed * a) / 255);
                r.rgbReserved = c1.rgbReserved;
            }
            if (editAlpha)
                r.rgbReserved = static_cast<uint8_t>(c1.rgbReserved * a / 255);
            SetPixelColor(ix, iy, r, editAlpha);
        }
    }
}

void CxImage::RGBtoHSB(tagRGBQUAD c, float &hue, float &saturation, float &brightness)
{
    const int r = c.rgbRed, g = c.rgbGreen, b = c.rgbBlue;
    const int mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
    const int mn = r < g ? (r < b ? r : b) : (g < b ? g : b);

    brightness = static_cast<float>(mx) / 255.0f;
    brightness = brightness * 100.0f;

    const int delta = mx - mn;
    saturation = mx ? static_cast<float>(delta) / static_cast<float>(mx) * 100.0f : 0.0f;
    if (delta == 0) {
        hue = 0.0f;
        return;
    }
    float h;
    if (mx == r)
        h = static_cast<float>(g - b) / static_cast<float>(delta);
    else if (mx == g)
        h = 2.0f + static_cast<float>(b - r) / static_cast<float>(delta);
    else
        h = 4.0f + static_cast<float>(r - g) / static_cast<float>(delta);
    h *= 60.0f;
    if (h < 0)
        h += 360.0f;
    hue = h;
}
