// CxImage container: lifetime, creation, copying, moving, header and alpha
// plane bookkeeping.
#include "ximage.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the pixel block header is stored in host byte order");

namespace {

constexpr uint32_t kHeaderSize = 40;
constexpr float kMaxMemory = 268435456.0f; // 256 MiB of pixel data

const char kErrSize[] = "CxImage::Create : width and height must be greater than zero";
const char kErrMemoryLimit[] = "CXIMAGE_MAX_MEMORY exceeded";
const char kErrAlloc[] = "CxImage::Create can't allocate memory";

// Pixels per metre for a resolution in dots per inch, saturated so that an
// absurd resolution from a page header cannot overflow the 32-bit field.
int32_t DpiToPelsPerMeter(int32_t dpi)
{
    double ppm = std::floor(dpi * 10000.0 / 254 + 0.5);
    if (ppm > 2147483647.0)
        return 2147483647;
    return static_cast<int32_t>(ppm);
}

// One axis's resolution (96 dpi when not positive): in dots per inch in the
// image info, in pixels per metre in the header and in the header copy at
// `offset` of the pixel block, when there is one.
void StoreDpi(int32_t dpi, int32_t &infoDpi, int32_t &pelsPerMeter, void *dib, size_t offset)
{
    if (dpi <= 0)
        dpi = 96;
    infoDpi = dpi;
    pelsPerMeter = DpiToPelsPerMeter(dpi);
    if (dib)
        std::memcpy(static_cast<uint8_t *>(dib) + offset, &pelsPerMeter, sizeof(int32_t));
}

} // namespace

CxImage::CxImage(uint32_t type)
{
    Startup(type);
}

CxImage::CxImage(uint32_t width, uint32_t height, uint32_t bpp, uint32_t type)
{
    Startup(type);
    Create(width, height, bpp, type);
}

CxImage::CxImage(const CxImage &src, bool copypixels, bool copyselection, bool copyalpha)
{
    Startup(src.GetType());
    Copy(src, copypixels, copyselection, copyalpha);
}

CxImage &CxImage::operator=(const CxImage &src)
{
    if (this != &src)
        Copy(src, true, true, true);
    return *this;
}

CxImage::~CxImage()
{
    Destroy();
}

void CxImage::Startup(uint32_t type)
{
    m_pDib = nullptr;
    m_pAlpha = nullptr;
    std::memset(&m_Head, 0, sizeof(m_Head));
    std::memset(&m_Info, 0, sizeof(m_Info));
    m_Info.dwType = type;
    m_Info.nAlphaMax = 255;
    m_Info.iTransIndex = -1;
    SetXDPI(96);
    SetYDPI(96);
}

bool CxImage::Destroy()
{
    std::free(m_pDib);
    m_pDib = nullptr;
    m_Info.pBits = nullptr;
    SelectionDelete();
    AlphaDelete();
    return true;
}

void CxImage::SetLastError(const char *text)
{
    std::strncpy(m_Info.szLastError, text, sizeof(m_Info.szLastError) - 1);
    m_Info.szLastError[sizeof(m_Info.szLastError) - 1] = '\0';
}

void *CxImage::Create(uint32_t width, uint32_t height, uint32_t bpp, uint32_t type)
{
    Destroy();

    if (width == 0 || height == 0) {
        SetLastError(kErrSize);
        return nullptr;
    }

    if (bpp <= 1)
        bpp = 1;
    else if (bpp <= 4)
        bpp = 4;
    else if (bpp <= 8)
        bpp = 8;
    else
        bpp = 24;

    if (static_cast<float>(width) * static_cast<float>(height) * static_cast<float>(bpp) / 8.0f > kMaxMemory) {
        SetLastError(kErrMemoryLimit);
        return nullptr;
    }

    // The float test above rounds, and row padding can multiply the real size
    // of a thin image: refuse anything the signed header fields or the 32-bit
    // size fields cannot describe.
    const uint32_t colors = bpp == 1 ? 2 : bpp == 4 ? 16 : bpp == 8 ? 256 : 0;
    const uint64_t stride = (uint64_t{width} * bpp + 31) / 32 * 4;
    const uint64_t imageBytes = stride * height;
    const uint64_t total = kHeaderSize + uint64_t{colors} * 4 + imageBytes;
    if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu || total > 0xFFFFFFFFu) {
        SetLastError(kErrMemoryLimit);
        return nullptr;
    }

    m_Info.dwEffWidth = static_cast<uint32_t>(stride);
    m_Info.dwType = type;
    m_Head.biSize = kHeaderSize;
    m_Head.biWidth = static_cast<int32_t>(width);
    m_Head.biHeight = static_cast<int32_t>(height);
    m_Head.biPlanes = 1;
    m_Head.biBitCount = static_cast<uint16_t>(bpp);
    m_Head.biCompression = 0;
    m_Head.biSizeImage = static_cast<uint32_t>(imageBytes);
    m_Head.biClrUsed = colors;

    // Zeroed: palette bytes must be 0, and zero pixels keep results
    // deterministic where an operation leaves bytes (row padding) unwritten.
    m_pDib = std::calloc(static_cast<size_t>(total), 1);
    if (!m_pDib) {
        SetLastError(kErrAlloc);
        return nullptr;
    }

    SelectionDelete();
    AlphaDelete();
    m_Info.bLastValid = false;

    std::memcpy(m_pDib, &m_Head, sizeof(m_Head));
    m_Info.pBits = static_cast<uint8_t *>(m_pDib) + kHeaderSize + GetPaletteSize();
    return m_pDib;
}

bool CxImage::CreateFromArray(uint8_t *pArray, uint32_t width, uint32_t height, uint32_t bpp, uint32_t bytesperline,
                              bool bFlipImage)
{
    if (!pArray)
        return false;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        return false;
    if (!Create(width, height, bpp, 0))
        return false;

    if (bpp < 24)
        SetGrayPalette();
    if (bpp == 32)
        AlphaCreate();

    const uint32_t stride = GetEffWidth();
    for (uint32_t i = 0; i < height; i++) {
        const uint8_t *src = pArray + size_t{i} * bytesperline;
        const uint32_t row = bFlipImage ? height - 1 - i : i;
        uint8_t *dst = GetBits(row);
        if (bpp == 32) {
            // Never read past bytesperline: a line shorter than the pixels it
            // should hold leaves the remaining pixels black and opaque.
            const uint32_t n = bytesperline / 4 < width ? bytesperline / 4 : width;
            uint8_t *alpha = m_pAlpha + size_t{row} * width;
            for (uint32_t x = 0; x < n; x++) {
                dst[3 * size_t{x}] = src[4 * size_t{x}];
                dst[3 * size_t{x} + 1] = src[4 * size_t{x} + 1];
                dst[3 * size_t{x} + 2] = src[4 * size_t{x} + 2];
                alpha[x] = src[4 * size_t{x} + 3];
            }
        } else {
            std::memcpy(dst, src, stride < bytesperline ? stride : bytesperline);
        }
    }
    return true;
}

void CxImage::Copy(const CxImage &src, bool copypixels, bool copyselection, bool copyalpha)
{
    if (this == &src)
        return;

    m_Info = src.m_Info;
    m_Head = src.m_Head;
    m_Info.pBits = nullptr; // Create sets it for our own block

    Create(src.GetWidth(), src.GetHeight(), src.GetBpp(), src.GetType());

    if (copypixels && m_pDib && src.m_pDib)
        std::memcpy(m_pDib, src.m_pDib, GetSize());
    else
        SetPalette(src.GetPalette(), 256);

    if (copyselection)
        SelectionCopy(src);

    if (copyalpha && src.m_pAlpha && m_pDib) {
        const size_t n = size_t{GetWidth()} * GetHeight();
        uint8_t *plane = static_cast<uint8_t *>(std::malloc(n));
        if (plane) {
            std::memcpy(plane, src.m_pAlpha, n);
            AlphaDelete();
            m_pAlpha = plane;
        }
    }
}

void CxImage::CopyInfo(const CxImage &src)
{
    if (m_pDib)
        return;
    m_Info = src.m_Info;
    m_Info.pBits = nullptr;
}

bool CxImage::Transfer(CxImage &from, bool /*bTransferFrames*/)
{
    if (this == &from)
        return true;
    Destroy();

    m_Head = from.m_Head;
    m_Info = from.m_Info;
    m_pDib = from.m_pDib;
    m_pAlpha = from.m_pAlpha;

    std::memset(&from.m_Head, 0, sizeof(from.m_Head));
    std::memset(&from.m_Info, 0, sizeof(from.m_Info));
    from.m_pDib = nullptr;
    from.m_pAlpha = nullptr;
    return true;
}

uint32_t CxImage::GetWidth() const
{
    return static_cast<uint32_t>(m_Head.biWidth);
}
uint32_t CxImage::GetHeight() const
{
    return static_cast<uint32_t>(m_Head.biHeight);
}
uint32_t CxImage::GetBpp() const
{
    return m_Head.biBitCount;
}
uint32_t CxImage::GetEffWidth() const
{
    return m_Info.dwEffWidth;
}
uint32_t CxImage::GetType() const
{
    return m_Info.dwType;
}

uint32_t CxImage::GetSize() const
{
    return m_Head.biSize + m_Head.biSizeImage + GetPaletteSize();
}

uint8_t *CxImage::GetBits(uint32_t row)
{
    if (!m_pDib || row >= GetHeight())
        return nullptr;
    return m_Info.pBits + size_t{row} * m_Info.dwEffWidth;
}

const uint8_t *CxImage::GetBits(uint32_t row) const
{
    if (!m_pDib || row >= GetHeight())
        return nullptr;
    return m_Info.pBits + size_t{row} * m_Info.dwEffWidth;
}

bool CxImage::IsValid() const
{
    return m_pDib != nullptr;
}

bool CxImage::IsInside(int32_t x, int32_t y) const
{
    return x >= 0 && y >= 0 && x < m_Head.biWidth && y < m_Head.biHeight;
}

const char *CxImage::GetLastError() const
{
    return m_Info.szLastError;
}
void *CxImage::GetDIB() const
{
    return m_pDib;
}
const tagBITMAPINFOHEADER &CxImage::GetHeader() const
{
    return m_Head;
}

int32_t CxImage::GetProgress() const
{
    return m_Info.iProgress;
}
int32_t CxImage::GetEscape() const
{
    return m_Info.iEscape;
}
void CxImage::SetProgress(int32_t progress)
{
    m_Info.iProgress = progress;
}
void CxImage::SetEscape(int32_t escape)
{
    m_Info.iEscape = escape;
}

void CxImage::SetXDPI(int32_t dpi)
{
    StoreDpi(dpi, m_Info.iXDPI, m_Head.biXPelsPerMeter, m_pDib, offsetof(tagBITMAPINFOHEADER, biXPelsPerMeter));
}

void CxImage::SetYDPI(int32_t dpi)
{
    StoreDpi(dpi, m_Info.iYDPI, m_Head.biYPelsPerMeter, m_pDib, offsetof(tagBITMAPINFOHEADER, biYPelsPerMeter));
}

int32_t CxImage::GetXDPI() const
{
    return m_Info.iXDPI;
}
int32_t CxImage::GetYDPI() const
{
    return m_Info.iYDPI;
}

tagRGBQUAD *CxImage::GetPalette() const
{
    if (!m_pDib || m_Head.biClrUsed == 0)
        return nullptr;
    return reinterpret_cast<tagRGBQUAD *>(static_cast<uint8_t *>(m_pDib) + kHeaderSize);
}

uint32_t CxImage::GetPaletteSize() const
{
    return m_Head.biClrUsed * 4;
}
uint32_t CxImage::GetNumColors() const
{
    return m_Head.biClrUsed;
}

void CxImage::SetPalette(const tagRGBQUAD *pPal, uint32_t nColors)
{
    tagRGBQUAD *pal = GetPalette();
    if (!pPal || !pal)
        return;
    const uint64_t want = uint64_t{nColors} * 4;
    const uint64_t have = GetPaletteSize();
    std::memcpy(pal, pPal, static_cast<size_t>(want < have ? want : have));
    m_Info.bLastValid = false;
}

void CxImage::SetGrayPalette()
{
    tagRGBQUAD *pal = GetPalette();
    const uint32_t n = GetNumColors();
    if (!pal)
        return;
    const uint32_t step = n > 1 ? 255 / (n - 1) : 0;
    for (uint32_t i = 0; i < n; i++) {
        const uint8_t v = static_cast<uint8_t>(step * i);
        pal[i].rgbBlue = pal[i].rgbGreen = pal[i].rgbRed = v;
    }
    m_Info.bLastValid = false;
}

bool CxImage::AlphaIsValid() const
{
    return m_pAlpha != nullptr;
}

bool CxImage::AlphaCreate()
{
    if (!m_pAlpha && m_pDib) {
        const size_t n = size_t{GetWidth()} * GetHeight();
        m_pAlpha = static_cast<uint8_t *>(std::malloc(n));
        if (m_pAlpha)
            std::memset(m_pAlpha, 255, n);
    }
    return m_pAlpha != nullptr;
}

void CxImage::AlphaDelete()
{
    std::free(m_pAlpha);
    m_pAlpha = nullptr;
}

uint8_t CxImage::AlphaGetMax() const
{
    return m_Info.nAlphaMax;
}

bool CxImage::SelectionIsInside(int32_t x, int32_t y) const
{
    return IsInside(x, y);
}

bool CxImage::SelectionCopy(const CxImage & /*from*/)
{
    return false;
}

void CxImage::SelectionDelete() {}
