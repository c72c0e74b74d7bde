// CxImage palette entries, single pixels, the nearest-colour search,
// transparency and single alpha values.
#include "ximage.h"

#include <cstdlib>
#include <cstring>

namespace {

bool SameColor(const tagRGBQUAD &a, const tagRGBQUAD &b)
{
    return a.rgbBlue == b.rgbBlue && a.rgbGreen == b.rgbGreen && a.rgbRed == b.rgbRed && a.rgbReserved == b.rgbReserved;
}

} // namespace

tagRGBQUAD CxImage::GetPaletteColor(uint8_t idx) const
{
    const tagRGBQUAD *pal = GetPalette();
    if (pal && idx < GetNumColors())
        return pal[idx];
    return tagRGBQUAD{0, 0, 0, 0};
}

void CxImage::SetPaletteColor(uint8_t idx, uint8_t r, uint8_t g, uint8_t b, uint8_t alpha)
{
    SetPaletteColor(idx, tagRGBQUAD{b, g, r, alpha});
}

void CxImage::SetPaletteColor(uint8_t idx, tagRGBQUAD c)
{
    tagRGBQUAD *pal = GetPalette();
    if (pal && idx < GetNumColors()) {
        pal[idx] = c;
        m_Info.bLastValid = false;
    }
}

bool CxImage::IsGrayScale() const
{
    const tagRGBQUAD *pal = GetPalette();
    if (!pal)
        return false;
    for (uint32_t i = 0; i < GetNumColors(); i++) {
        if (pal[i].rgbBlue != i || pal[i].rgbGreen != i || pal[i].rgbRed != i)
            return false;
    }
    return true;
}

uint8_t CxImage::GetNearestIndex(tagRGBQUAD c)
{
    const tagRGBQUAD *pal = GetPalette();
    if (!pal)
        return 0;
    if (m_Info.bLastValid && SameColor(c, m_Info.LastColor))
        return m_Info.nLastIndex;
    m_Info.LastColor = c;
    m_Info.bLastValid = true;

    uint32_t n = m_Head.biClrImportant ? m_Head.biClrImportant : GetNumColors();
    if (n > GetNumColors())
        n = GetNumColors();

    // Distances are at most 3 * 255^2 = 195075, so some entry always wins;
    // ties keep the lowest index.
    int32_t best = 200000;
    uint8_t found = 0;
    for (uint32_t j = 0; j < n; j++) {
        const int32_t db = pal[j].rgbBlue - c.rgbBlue;
        const int32_t dg = pal[j].rgbGreen - c.rgbGreen;
        const int32_t dr = pal[j].rgbRed - c.rgbRed;
        const int32_t d = db * db + dg * dg + dr * dr;
        if (d == 0) {
            found = static_cast<uint8_t>(j);
            break;
        }
        if (d < best) {
            best = d;
            found = static_cast<uint8_t>(j);
        }
    }
    m_Info.nLastIndex = found;
    return found;
}

uint8_t CxImage::GetPixelIndex(int32_t x, int32_t y) const
{
    if (!m_pDib || GetNumColors() == 0)
        return 0;
    if (!IsInside(x, y)) {
        // Outside: the background index, else the whole first byte of the
        // pixel data (not the pixel at column 0, even at 1 and 4 bpp).
        if (m_Info.iTransIndex >= 0)
            return static_cast<uint8_t>(m_Info.iTransIndex);
        return *m_Info.pBits;
    }
    return BlindGetPixelIndex(x, y);
}

uint8_t CxImage::BlindGetPixelIndex(int32_t x, int32_t y) const
{
    const uint8_t *row = m_Info.pBits + size_t(y) * m_Info.dwEffWidth;
    const size_t ux = size_t(x);
    switch (m_Head.biBitCount) {
    case 8:
        return row[ux];
    case 4: {
        const uint8_t b = row[ux >> 1];
        return (ux & 1) ? (b & 0x0F) : (b >> 4);
    }
    case 1:
        return (row[ux >> 3] >> (7 - (ux & 7))) & 1;
    default:
        return 0;
    }
}

void CxImage::SetPixelIndex(int32_t x, int32_t y, uint8_t i)
{
    if (!m_pDib || GetNumColors() == 0 || !IsInside(x, y))
        return;
    BlindSetPixelIndex(x, y, i);
}

void CxImage::BlindSetPixelIndex(int32_t x, int32_t y, uint8_t i)
{
    uint8_t *row = m_Info.pBits + size_t(y) * m_Info.dwEffWidth;
    const size_t ux = size_t(x);
    switch (m_Head.biBitCount) {
    case 8:
        row[ux] = i;
        break;
    case 4: {
        uint8_t &b = row[ux >> 1];
        if (ux & 1)
            b = static_cast<uint8_t>((b & 0xF0) | (i & 0x0F));
        else
            b = static_cast<uint8_t>((b & 0x0F) | ((i & 0x0F) << 4));
        break;
    }
    case 1: {
        uint8_t &b = row[ux >> 3];
        const uint8_t mask = static_cast<uint8_t>(0x80 >> (ux & 7));
        b = static_cast<uint8_t>((i & 1) ? (b | mask) : (b & ~mask));
        break;
    }
    default:
        break;
    }
}

tagRGBQUAD CxImage::GetPixelColor(int32_t x, int32_t y, bool bGetAlpha) const
{
    if (!m_pDib || !IsInside(x, y)) {
        if (m_Info.iTransIndex >= 0) {
            if (m_Head.biBitCount < 24) {
                if (m_Info.iTransIndex < static_cast<int64_t>(GetNumColors()))
                    return GetPaletteColor(static_cast<uint8_t>(m_Info.iTransIndex));
                return tagRGBQUAD{0, 0, 0, 0};
            }
            return m_Info.TransColor;
        }
        if (m_pDib)
            return BlindGetPixelColor(0, 0, bGetAlpha);
        return m_Info.TransColor;
    }
    return BlindGetPixelColor(x, y, bGetAlpha);
}

tagRGBQUAD CxImage::BlindGetPixelColor(int32_t x, int32_t y, bool bGetAlpha) const
{
    tagRGBQUAD c;
    if (GetNumColors()) {
        c = GetPalette()[BlindGetPixelIndex(x, y)];
    } else {
        const uint8_t *p = m_Info.pBits + size_t(y) * m_Info.dwEffWidth + size_t(x) * 3;
        c = tagRGBQUAD{p[0], p[1], p[2], 0};
    }
    if (bGetAlpha && m_pAlpha)
        c.rgbReserved = m_pAlpha[size_t(y) * GetWidth() + size_t(x)];
    return c;
}

void CxImage::SetPixelColor(int32_t x, int32_t y, tagRGBQUAD c, bool bSetAlpha)
{
    if (!m_pDib || !IsInside(x, y))
        return;
    BlindSetPixelColor(x, y, c, bSetAlpha);
}

void CxImage::SetPixelColor(int32_t x, int32_t y, uint32_t packed)
{
    SetPixelColor(x, y, RGBtoRGBQUAD(packed), false);
}

void CxImage::BlindSetPixelColor(int32_t x, int32_t y, tagRGBQUAD c, bool bSetAlpha)
{
    if (GetNumColors()) {
        BlindSetPixelIndex(x, y, GetNearestIndex(c));
    } else {
        uint8_t *p = m_Info.pBits + size_t(y) * m_Info.dwEffWidth + size_t(x) * 3;
        p[0] = c.rgbBlue;
        p[1] = c.rgbGreen;
        p[2] = c.rgbRed;
    }
    if (bSetAlpha)
        AlphaSet(x, y, c.rgbReserved);
}

tagRGBQUAD CxImage::RGBtoRGBQUAD(uint32_t packed)
{
    return tagRGBQUAD{static_cast<uint8_t>(packed >> 16), static_cast<uint8_t>(packed >> 8),
                      static_cast<uint8_t>(packed), 0};
}

bool CxImage::IsTransparent(int32_t x, int32_t y) const
{
    if (!m_pDib)
        return false;
    if (m_Info.iTransIndex >= 0) {
        if (GetNumColors()) {
            if (GetPixelIndex(x, y) == m_Info.iTransIndex)
                return true;
        } else if (SameColor(GetPixelColor(x, y, false), m_Info.TransColor)) {
            return true;
        }
    }
    return m_pAlpha && AlphaGet(x, y) == 0;
}

int32_t CxImage::GetTransIndex() const
{
    return m_Info.iTransIndex;
}

void CxImage::SetTransIndex(int32_t idx)
{
    m_Info.iTransIndex = idx < static_cast<int64_t>(GetNumColors()) ? idx : 0;
}

tagRGBQUAD CxImage::GetTransColor() const
{
    if (m_Head.biBitCount == 24 || m_Info.iTransIndex < 0)
        return m_Info.TransColor;
    if (m_Info.iTransIndex < static_cast<int64_t>(GetNumColors()))
        return GetPaletteColor(static_cast<uint8_t>(m_Info.iTransIndex));
    return tagRGBQUAD{0, 0, 0, 0};
}

bool CxImage::AlphaCopy(const CxImage &from)
{
    if (!from.m_pAlpha || from.GetWidth() != GetWidth() || from.GetHeight() != GetHeight())
        return false;
    const size_t n = size_t{GetWidth()} * GetHeight();
    if (!m_pAlpha) {
        m_pAlpha = static_cast<uint8_t *>(std::malloc(n));
        if (!m_pAlpha)
            return false;
    }
    std::memcpy(m_pAlpha, from.m_pAlpha, n);
    m_Info.nAlphaMax = from.m_Info.nAlphaMax;
    return true;
}

void CxImage::AlphaSet(int32_t x, int32_t y, uint8_t level)
{
    if (m_pAlpha && IsInside(x, y))
        m_pAlpha[size_t(y) * GetWidth() + size_t(x)] = level;
}

uint8_t CxImage::AlphaGet(int32_t x, int32_t y) const
{
    if (m_pAlpha && IsInside(x, y))
        return m_pAlpha[size_t(y) * GetWidth() + size_t(x)];
    return 0;
}
