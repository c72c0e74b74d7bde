// CxImage geometry: rotation, half-turn, left-right mirror, crop and
// nearest-pixel resampling. Every operation builds a new image and hands it
// over with Transfer, to the destination given or to the image itself.
#include "ximage.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Truncation toward zero that saturates instead of overflowing: any value
// beyond the int32 range is outside every image anyway.
int32_t TruncSat(double v)
{
    if (!(v > -2147483648.0))
        return INT32_MIN; // also NaN
    if (v >= 2147483647.0)
        return INT32_MAX;
    return static_cast<int32_t>(v);
}

// Size from a float extent: floor, with anything unrepresentable mapped to
// a value Create refuses.
uint32_t ExtentToSize(float extent)
{
    const double f = std::floor(static_cast<double>(extent));
    if (!(f >= 0))
        return 0;
    if (f >= 4294967295.0)
        return 0xFFFFFFFFu;
    return static_cast<uint32_t>(f);
}

// Copies `count` pixels of a one-bit row starting at bit `first` of src to
// the start of dst; bits of dst past `count` in its last byte become 0.
void CopyBits(const uint8_t *src, size_t first, size_t count, uint8_t *dst, size_t srcBytes)
{
    const size_t byte0 = first >> 3;
    const unsigned shift = first & 7;
    const size_t outBytes = (count + 7) / 8;
    for (size_t j = 0; j < outBytes; j++) {
        const unsigned hi = src[byte0 + j];
        const unsigned lo = byte0 + j + 1 < srcBytes ? src[byte0 + j + 1] : 0;
        dst[j] = static_cast<uint8_t>(((hi << 8 | lo) << shift) >> 8);
    }
    if (count & 7)
        dst[outBytes - 1] &= static_cast<uint8_t>(0xFF00 >> (count & 7));
}

} // namespace

bool CxImage::Rotate(float angle, CxImage *iDst)
{
    if (!m_pDib)
        return false;

    const double ang = angle;
    if (std::fmod(ang, 180.0) == 0 && std::fmod(ang, 360.0) != 0)
        return Rotate180(iDst);
    if (std::fmod(ang, 90.0) == 0 && std::fmod(ang, 180.0) != 0) {
        // 90 and -270 turn the right edge to the top; 270 and -90 the left.
        const double turns = std::fmod(ang, 360.0);
        return QuarterTurn(turns == 90.0 || turns == -270.0, iDst);
    }

    const double rad = -ang * 1.5707963267948966 / 90.0;
    const double c = std::cos(rad);
    const double s = std::sin(rad);
    const double w = GetWidth(), h = GetHeight();

    // Corners (0,0), (w,0), (0,h), (w,h), mapped in double, kept in float.
    const double cx[4] = {0, w, 0, w};
    const double cy[4] = {0, 0, h, h};
    float px[4], py[4];
    for (int i = 0; i < 4; i++) {
        px[i] = static_cast<float>(cx[i] * c - cy[i] * s);
        py[i] = static_cast<float>(cx[i] * s + cy[i] * c);
    }
    float L = px[0], R = px[0], T = py[0], B = py[0];
    for (int i = 1; i < 4; i++) {
        if (px[i] < L)
            L = px[i];
        if (px[i] > R)
            R = px[i];
        if (py[i] < T)
            T = py[i];
        if (py[i] > B)
            B = py[i];
    }
    const float extentX = (R + 0.5f) - L;
    const float extentY = (B + 0.5f) - T;

    CxImage out;
    out.CopyInfo(*this);
    if (!out.Create(ExtentToSize(extentX), ExtentToSize(extentY), GetBpp(), GetType())) {
        SetLastError(out.GetLastError());
        return false;
    }
    out.SetPalette(GetPalette(), GetNumColors());
    if (AlphaIsValid()) {
        if (!out.AlphaCreate())
            return false;
        std::memset(out.m_pAlpha, 0, size_t{out.GetWidth()} * out.GetHeight());
    }

    const bool palette = GetNumColors() != 0;
    const int64_t x0 = static_cast<int64_t>(std::trunc(L));
    const int64_t x1 = static_cast<int64_t>(std::trunc(R));
    const int64_t y0 = static_cast<int64_t>(std::trunc(T));
    const int64_t y1 = static_cast<int64_t>(std::trunc(B));
    const int64_t outW = out.GetWidth(), outH = out.GetHeight();
    // The loops may run one row and one column past the result; the setters
    // ignore those positions, so they are skipped here.
    for (int64_t yy = y0, ny = 0; yy <= y1 && ny < outH; yy++, ny++) {
        for (int64_t xx = x0, nx = 0; xx <= x1 && nx < outW; xx++, nx++) {
            const double fx = static_cast<double>(xx);
            const double fy = static_cast<double>(yy);
            const int32_t ox = TruncSat(fx * c + fy * s + 0.5);
            const int32_t oy = TruncSat(fy * c - fx * s + 0.5);
            const int32_t dx = static_cast<int32_t>(nx), dy = static_cast<int32_t>(ny);
            if (palette)
                out.BlindSetPixelIndex(dx, dy, GetPixelIndex(ox, oy));
            else
                out.BlindSetPixelColor(dx, dy, GetPixelColor(ox, oy, true), false);
            if (out.m_pAlpha)
                out.AlphaSet(dx, dy, AlphaGet(ox, oy));
        }
    }

    if (iDst)
        iDst->Transfer(out);
    else
        Transfer(out);
    return true;
}

bool CxImage::CreateTurned(CxImage &out, uint32_t width, uint32_t height)
{
    out.CopyInfo(*this);
    if (!out.Create(width, height, GetBpp(), GetType())) {
        SetLastError(out.GetLastError());
        return false;
    }
    out.SetPalette(GetPalette(), GetNumColors());
    return !AlphaIsValid() || out.AlphaCreate();
}

void CxImage::Deliver(CxImage &out, CxImage *iDst)
{
    if (iDst)
        iDst->Transfer(out);
    else
        Transfer(out);
}

bool CxImage::QuarterTurn(bool rightEdgeUp, CxImage *iDst)
{
    const uint32_t w = GetWidth(), h = GetHeight();
    CxImage out;
    if (!CreateTurned(out, h, w))
        return false;

    // Result pixel (x, y) comes from source column w - 1 - y, row x (right
    // edge up) or from source column y, row h - 1 - x (left edge up): every
    // source pixel lands on exactly one result pixel.
    const uint32_t bpp = GetBpp();
    for (uint32_t y = 0; y < w; y++) {
        const uint32_t sx = rightEdgeUp ? w - 1 - y : y;
        uint8_t *dst = out.GetBits(y);
        for (uint32_t x = 0; x < h; x++) {
            const uint32_t sy = rightEdgeUp ? x : h - 1 - x;
            if (bpp == 24)
                std::memcpy(dst + 3 * size_t{x}, GetBits(sy) + 3 * size_t{sx}, 3);
            else
                out.BlindSetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y),
                                       BlindGetPixelIndex(static_cast<int32_t>(sx), static_cast<int32_t>(sy)));
            if (m_pAlpha)
                out.m_pAlpha[size_t{y} * h + x] = m_pAlpha[size_t{sy} * w + sx];
        }
    }
    Deliver(out, iDst);
    return true;
}

bool CxImage::Rotate180(CxImage *iDst)
{
    if (!m_pDib)
        return false;
    const uint32_t w = GetWidth(), h = GetHeight();
    CxImage out;
    if (!CreateTurned(out, w, h))
        return false;

    const uint32_t bpp = GetBpp();
    for (uint32_t y = 0; y < h; y++) {
        const uint8_t *src = GetBits(y);
        uint8_t *dst = out.GetBits(h - 1 - y);
        if (bpp == 8) {
            for (uint32_t x = 0; x < w; x++)
                dst[w - 1 - x] = src[x];
        } else if (bpp == 24) {
            for (uint32_t x = 0; x < w; x++)
                std::memcpy(dst + 3 * size_t{w - 1 - x}, src + 3 * size_t{x}, 3);
        } else {
            const int32_t ty = static_cast<int32_t>(h - 1 - y);
            for (uint32_t x = 0; x < w; x++)
                out.BlindSetPixelIndex(static_cast<int32_t>(w - 1 - x), ty,
                                       BlindGetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y)));
        }
        if (m_pAlpha) {
            const uint8_t *a = m_pAlpha + size_t{y} * w;
            uint8_t *b = out.m_pAlpha + size_t{h - 1 - y} * w;
            for (uint32_t x = 0; x < w; x++)
                b[w - 1 - x] = a[x];
        }
    }
    Deliver(out, iDst);
    return true;
}

bool CxImage::Mirror(bool bMirrorSelection, bool bMirrorAlpha)
{
    if (!m_pDib)
        return false;
    (void)bMirrorSelection; // there is never a selection mask to mirror

    CxImage out(*this, false, true, true);
    if (!out.IsValid()) {
        SetLastError(out.GetLastError());
        return false;
    }

    const uint32_t w = GetWidth(), h = GetHeight(), bpp = GetBpp();
    for (uint32_t y = 0; y < h; y++) {
        const uint8_t *src = GetBits(y);
        uint8_t *dst = out.GetBits(y);
        if (bpp == 8) {
            for (uint32_t x = 0; x < w; x++)
                dst[x] = src[w - 1 - x];
        } else if (bpp == 24) {
            for (uint32_t x = 0; x < w; x++)
                std::memcpy(dst + 3 * size_t{x}, src + 3 * size_t{w - 1 - x}, 3);
        } else {
            const int32_t iy = static_cast<int32_t>(y);
            for (uint32_t x = 0; x < w; x++)
                out.BlindSetPixelIndex(static_cast<int32_t>(x), iy,
                                       BlindGetPixelIndex(static_cast<int32_t>(w - 1 - x), iy));
        }
    }

    if (bMirrorAlpha && out.m_pAlpha) {
        const size_t n = size_t{w} * h;
        uint8_t *plane = static_cast<uint8_t *>(std::malloc(n));
        if (plane) {
            for (uint32_t y = 0; y < h; y++) {
                const uint8_t *a = out.m_pAlpha + size_t{y} * w;
                uint8_t *b = plane + size_t{y} * w;
                for (uint32_t x = 0; x < w; x++)
                    b[x] = a[w - 1 - x];
            }
            out.AlphaDelete();
            out.m_pAlpha = plane;
        }
    }

    Transfer(out);
    return true;
}

bool CxImage::Crop(const tagRECT &rect, CxImage *iDst)
{
    return Crop(rect.left, rect.top, rect.right, rect.bottom, iDst);
}

bool CxImage::Crop(int32_t left, int32_t top, int32_t right, int32_t bottom, CxImage *iDst)
{
    if (!m_pDib)
        return false;

    const int64_t w = GetWidth(), h = GetHeight();
    auto clampTo = [](int64_t v, int64_t hi) { return v < 0 ? 0 : v > hi ? hi : v; };
    // top and bottom count from the last stored row.
    int64_t x0 = clampTo(left, w), x1 = clampTo(right, w);
    int64_t y0 = h - clampTo(top, h), y1 = h - clampTo(bottom, h);
    if (x0 == x1 || y0 == y1)
        return false;
    if (x0 > x1)
        std::swap(x0, x1);
    if (y0 > y1)
        std::swap(y0, y1);

    const uint32_t nw = static_cast<uint32_t>(x1 - x0);
    const uint32_t nh = static_cast<uint32_t>(y1 - y0);
    CxImage out;
    out.CopyInfo(*this);
    if (!out.Create(nw, nh, GetBpp(), GetType())) {
        SetLastError(out.GetLastError());
        return false;
    }
    out.SetPalette(GetPalette(), GetNumColors());
    out.m_Info.iTransIndex = m_Info.iTransIndex;
    out.m_Info.TransColor = m_Info.TransColor;

    const uint32_t bpp = GetBpp();
    for (uint32_t y = 0; y < nh; y++) {
        const uint8_t *src = GetBits(static_cast<uint32_t>(y0) + y);
        uint8_t *dst = out.GetBits(y);
        if (bpp == 1) {
            CopyBits(src, static_cast<size_t>(x0), nw, dst, GetEffWidth());
        } else if (bpp == 4) {
            for (uint32_t x = 0; x < nw; x++)
                out.BlindSetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y),
                                       BlindGetPixelIndex(static_cast<int32_t>(x0 + x), static_cast<int32_t>(y0 + y)));
        } else {
            const size_t bytesPerPixel = bpp / 8;
            std::memcpy(dst, src + static_cast<size_t>(x0) * bytesPerPixel, size_t{nw} * bytesPerPixel);
        }
    }

    if (m_pAlpha) {
        if (!out.AlphaCreate())
            return false;
        for (uint32_t y = 0; y < nh; y++)
            std::memcpy(out.m_pAlpha + size_t{y} * nw,
                        m_pAlpha + (static_cast<size_t>(y0) + y) * size_t(w) + static_cast<size_t>(x0), nw);
    }

    if (iDst)
        iDst->Transfer(out);
    else
        Transfer(out);
    return true;
}

bool CxImage::Resample(int32_t newx, int32_t newy, int mode, CxImage *iDst)
{
    (void)mode; // bicubic and bilinear are not built: every mode is nearest
    if (newx == 0 || newy == 0)
        return false;
    if (!m_pDib)
        return false;

    if (int64_t{newx} == int64_t{GetWidth()} && int64_t{newy} == int64_t{GetHeight()}) {
        if (iDst)
            *iDst = *this;
        return true;
    }

    const float sx = static_cast<float>(GetWidth()) / static_cast<float>(newx);
    const float sy = static_cast<float>(GetHeight()) / static_cast<float>(newy);

    CxImage out;
    out.CopyInfo(*this);
    if (!out.Create(static_cast<uint32_t>(newx), static_cast<uint32_t>(newy), GetBpp(), GetType())) {
        SetLastError(out.GetLastError());
        return false;
    }
    out.SetPalette(GetPalette(), GetNumColors());
    if (m_pAlpha && !out.AlphaCreate())
        return false;

    for (int32_t y = 0; y < newy; y++) {
        const float py = static_cast<float>(y) * sy;
        const int32_t oy = TruncSat(py);
        for (int32_t x = 0; x < newx; x++) {
            const float px = static_cast<float>(x) * sx;
            const int32_t ox = TruncSat(px);
            out.BlindSetPixelColor(x, y, GetPixelColor(ox, oy, true), false);
            if (out.m_pAlpha)
                out.AlphaSet(x, y, AlphaGet(ox, oy));
        }
    }

    if (iDst)
        iDst->Transfer(out);
    else
        Transfer(out);
    return true;
}
