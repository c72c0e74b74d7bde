// CxImage: the raster image object of the filter and the operations that
// page preparation runs on it (tone, dithering, geometry).
//
// Storage is one heap block laid out like a bottom-up Windows DIB in memory:
// a 40-byte tagBITMAPINFOHEADER, the palette (tagRGBQUAD entries), then the
// pixel rows, each padded to a multiple of 4 bytes (GetEffWidth()).
// Stored row y starts at GetBits() + y * GetEffWidth(); the page hand-off puts
// raster line i into stored row i.
//
// Pixel packing inside a row, column x:
//   1 bpp : byte x/8, bit 7 - x%8 (the MSB is the leftmost pixel)
//   4 bpp : byte x/2, even x in the high nibble, odd x in the low nibble
//   8 bpp : byte x
//  24 bpp : bytes 3x, 3x+1, 3x+2 = blue, green, red
//
// Failures are results (false / nullptr) plus a last-error text; nothing
// throws. Not thread-safe; one image belongs to one thread.
#ifndef QF_XIMAGE_H
#define QF_XIMAGE_H

#include <cstddef>
#include <cstdint>

// A colour as stored in palettes: blue, green, red, then alpha/reserved.
struct tagRGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};

struct tagRECT {
    int left;
    int top;
    int right;
    int bottom;
};

// The 40-byte header at the start of the pixel block (little-endian fields).
struct tagBITMAPINFOHEADER {
    uint32_t biSize;        // 40
    int32_t biWidth;        // pixels per row
    int32_t biHeight;       // rows; positive = bottom-up
    uint16_t biPlanes;      // 1
    uint16_t biBitCount;    // 1, 4, 8 or 24
    uint32_t biCompression; // 0
    uint32_t biSizeImage;   // stride * height
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;      // 2, 16, 256, or 0 for 24 bpp
    uint32_t biClrImportant; // 0 = all of biClrUsed
};
static_assert(sizeof(tagBITMAPINFOHEADER) == 40, "header must be 40 bytes");

// How Mix combines the source image into this one.
enum ImageOpType {
    OpDstCopy = 0, // keep this image: Mix changes nothing
    OpSrcCopy = 9, // the source over this image, weighted by its opacity
};

class CxImage {
public:
    // --- lifetime ------------------------------------------------------------
    explicit CxImage(uint32_t type = 0);
    CxImage(uint32_t width, uint32_t height, uint32_t bpp, uint32_t type = 0);
    CxImage(const CxImage &src, bool copypixels = true, bool copyselection = true, bool copyalpha = true);
    CxImage &operator=(const CxImage &src);
    virtual ~CxImage();

    bool Destroy();
    void *Create(uint32_t width, uint32_t height, uint32_t bpp, uint32_t type = 0);
    bool CreateFromArray(uint8_t *pArray, uint32_t width, uint32_t height, uint32_t bpp, uint32_t bytesperline,
                         bool bFlipImage);
    void Copy(const CxImage &src, bool copypixels = true, bool copyselection = true, bool copyalpha = true);
    void CopyInfo(const CxImage &src);
    bool Transfer(CxImage &from, bool bTransferFrames = true);

    // --- queries ---------------------------------------------------------------
    uint32_t GetWidth() const;
    uint32_t GetHeight() const;
    uint32_t GetBpp() const;
    uint32_t GetEffWidth() const;
    uint32_t GetType() const;
    uint32_t GetSize() const;
    // Start of stored row `row`; nullptr without pixel storage or past the last row.
    uint8_t *GetBits(uint32_t row = 0);
    const uint8_t *GetBits(uint32_t row = 0) const;
    bool IsValid() const;
    bool IsInside(int32_t x, int32_t y) const;
    const char *GetLastError() const;
    void *GetDIB() const;
    const tagBITMAPINFOHEADER &GetHeader() const;

    // Long operations set progress to 100 * row / height and stop their row
    // loop when escape is nonzero.
    int32_t GetProgress() const;
    int32_t GetEscape() const;
    void SetProgress(int32_t progress);
    void SetEscape(int32_t escape);

    // --- resolution --------------------------------------------------------------
    void SetXDPI(int32_t dpi);
    void SetYDPI(int32_t dpi);
    int32_t GetXDPI() const;
    int32_t GetYDPI() const;

    // --- palette -------------------------------------------------------------------
    tagRGBQUAD *GetPalette() const;
    uint32_t GetPaletteSize() const;
    uint32_t GetNumColors() const;
    void SetPalette(const tagRGBQUAD *pPal, uint32_t nColors = 256);
    void SetGrayPalette();
    tagRGBQUAD GetPaletteColor(uint8_t idx) const;
    void SetPaletteColor(uint8_t idx, uint8_t r, uint8_t g, uint8_t b, uint8_t alpha = 0);
    void SetPaletteColor(uint8_t idx, tagRGBQUAD c);
    bool IsGrayScale() const;
    uint8_t GetNearestIndex(tagRGBQUAD c);

    // --- pixels (x = column, y = stored row) ----------------------------------------
    // The Blind forms do no checks: the caller guarantees pixel storage and
    // (x, y) inside the image.
    uint8_t GetPixelIndex(int32_t x, int32_t y) const;
    uint8_t BlindGetPixelIndex(int32_t x, int32_t y) const;
    void SetPixelIndex(int32_t x, int32_t y, uint8_t i);
    void BlindSetPixelIndex(int32_t x, int32_t y, uint8_t i);
    tagRGBQUAD GetPixelColor(int32_t x, int32_t y, bool bGetAlpha = true) const;
    tagRGBQUAD BlindGetPixelColor(int32_t x, int32_t y, bool bGetAlpha = true) const;
    void SetPixelColor(int32_t x, int32_t y, tagRGBQUAD c, bool bSetAlpha = false);
    // packed: red in bits 0-7, green 8-15, blue 16-23.
    void SetPixelColor(int32_t x, int32_t y, uint32_t packed);
    void BlindSetPixelColor(int32_t x, int32_t y, tagRGBQUAD c, bool bSetAlpha = false);
    static tagRGBQUAD RGBtoRGBQUAD(uint32_t packed);

    // --- transparency ----------------------------------------------------------------
    bool IsTransparent(int32_t x, int32_t y) const;
    int32_t GetTransIndex() const;
    void SetTransIndex(int32_t idx);
    tagRGBQUAD GetTransColor() const;

    // --- alpha plane: width * height bytes, unpadded, 0 transparent ---------------
    bool AlphaIsValid() const;
    bool AlphaCreate();
    void AlphaDelete();
    uint8_t AlphaGetMax() const;
    bool AlphaCopy(const CxImage &from);
    void AlphaSet(int32_t x, int32_t y, uint8_t level);
    uint8_t AlphaGet(int32_t x, int32_t y) const;

    // --- selection -------------------------------------------------------------------
    // Nothing in the engine creates a selection mask, so every pixel inside the
    // image counts as selected and there is never a mask to copy or free.
    bool SelectionIsInside(int32_t x, int32_t y) const;
    bool SelectionCopy(const CxImage &from);
    void SelectionDelete();

    // --- tone ---------------------------------------------------------------------------
    bool GrayScale();
    bool Light(int32_t brightness, int32_t contrast = 0);
    bool Gamma(float gamma);
    bool Lut(const uint8_t *pLut);
    bool Threshold(uint8_t level);
    void Mix(CxImage &imgsrc2, ImageOpType op, int32_t lXOffset = 0, int32_t lYOffset = 0, bool bMixAlpha = false);
    // brightness = max(R, G, B) / 255 * 100; hue in degrees [0, 360),
    // saturation in percent.
    static void RGBtoHSB(tagRGBQUAD c, float &hue, float &saturation, float &brightness);

    // --- dithering to one bit (entry 0 black, entry 1 white) -------------------------
    // 0 Floyd-Steinberg, 1 ordered 4x4, 2 Burkes, 3 Stucki, 4 Jarvis-Judice-Ninke,
    // 5 Sierra, 6 Stevenson-Arce, 7 generated Bayer 4x4, 8 ordered 8x8,
    // 9 ordered 16x16; any other value Floyd-Steinberg.
    bool Dither(int32_t method = 0);

    // --- geometry (result goes to iDst, or to this image when iDst is null) -----------
    bool Rotate(float angle, CxImage *iDst = nullptr);
    bool Rotate180(CxImage *iDst = nullptr);
    bool Mirror(bool bMirrorSelection = false, bool bMirrorAlpha = true);
    // top and bottom count from the last stored row (bottom-up convention).
    bool Crop(const tagRECT &rect, CxImage *iDst = nullptr);
    bool Crop(int32_t left, int32_t top, int32_t right, int32_t bottom, CxImage *iDst = nullptr);
    // Only nearest-pixel resampling (mode 1) is built; every mode uses it.
    bool Resample(int32_t newx, int32_t newy, int mode = 1, CxImage *iDst = nullptr);

protected:
    void Startup(uint32_t type);
    // A turn by a quarter: the right edge becomes the top edge (90 degrees)
    // or the left edge does (270 degrees).
    bool QuarterTurn(bool rightEdgeUp, CxImage *iDst);
    // A result of this image's depth, palette and attributes (and an alpha
    // plane when this image has one), width x height; false when it cannot
    // be made, with this image's last error set.
    bool CreateTurned(CxImage &out, uint32_t width, uint32_t height);
    // Hands the result to iDst, or to this image when iDst is null.
    void Deliver(CxImage &out, CxImage *iDst);
    void SetLastError(const char *text);

private:
    // Descriptive attributes, copied by Copy/CopyInfo and moved by Transfer.
    struct tagAttributes {
        uint32_t dwEffWidth; // row stride in bytes
        uint8_t *pBits;      // first stored row inside m_pDib
        uint32_t dwType;
        char szLastError[256];
        int32_t iProgress;
        int32_t iEscape;
        int32_t iTransIndex; // -1 = none
        tagRGBQUAD TransColor;
        uint8_t nAlphaMax;
        int32_t iXDPI;
        int32_t iYDPI;
        tagRGBQUAD LastColor; // nearest-colour cache: colour looked up,
        uint8_t nLastIndex;   // the index found,
        bool bLastValid;      // and whether the two are current
    };

    void *m_pDib;
    tagBITMAPINFOHEADER m_Head;
    tagAttributes m_Info;
    uint8_t *m_pAlpha;
};

#endif // QF_XIMAGE_H
