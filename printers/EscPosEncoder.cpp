#include "EscPosEncoder.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "ByteOrder.h"
#include "Units.h"

using NS_QV_CLASS::CMyBuffer;

namespace escpos {

namespace {

void Add(CMyBuffer &out, std::initializer_list<unsigned char> bytes)
{
    out.AddBuffer(bytes.begin(), static_cast<int>(bytes.size()));
}

// GS v 0 mode byte: 0 normal, 1 double width, 2 double height, 3 both. A
// 100 dpi page is printed with doubled dots so that it keeps its size on a
// 203 dpi head.
unsigned char RasterMode(int xdpi, int ydpi)
{
    if (xdpi >= 203 && ydpi >= 203)
        return 0x00;
    if (xdpi >= 203 && ydpi == 100)
        return 0x01;
    if (xdpi == 100 && ydpi >= 203)
        return 0x02;
    if (xdpi == 100 && ydpi == 100)
        return 0x03;
    return 0x00;
}

int FeedDots(float mm, const tagREGSTRUCT &reg, int dpi)
{
    return LengthToDots(mm, reg.iUnit, dpi);
}

// The cutter sits above the print line: without the feed the last lines
// would be cut through or left inside the printer.
void FeedAndCut(CMyBuffer &out, const tagREGSTRUCT &reg, int dpi, int kind)
{
    if (reg.fCutterFeed > 0)
        AddFeed(out, FeedDots(reg.fCutterFeed, reg, dpi));
    AddCut(out, kind);
}

// ESC p 0 t1 t2, GS V m, and GS v 0 m with its four size bytes.
constexpr int64_t kDrawerPulseBytes = 5;
constexpr int64_t kCutBytes = 3;
constexpr int64_t kRasterHeadBytes = 8;

int64_t CutBytes(const tagREGSTRUCT &reg, int dpi)
{
    return (reg.fCutterFeed > 0 ? FeedBytes(FeedDots(reg.fCutterFeed, reg, dpi)) : 0) + kCutBytes;
}

} // namespace

void GatherDots(const CxImage &page, int w, int rows, CMyBuffer &raster)
{
    raster.SetMaxBufferSize(0); // the page check has bounded it
    raster.SetBufferSize(static_cast<int>(int64_t(w) * rows));
    std::vector<unsigned char> row(static_cast<size_t>(w));
    for (int y = 0; y < rows; ++y) {
        const uint8_t *bits = const_cast<CxImage &>(page).GetBits(static_cast<uint32_t>(y));
        for (int i = 0; i < w; ++i)
            row[static_cast<size_t>(i)] = static_cast<unsigned char>(~bits[i]);
        raster.AddBuffer(row.data(), w);
    }
}

int64_t FeedBytes(int dots)
{
    if (dots <= 255)
        return 3;
    return int64_t{dots} / 255 * 3 + (dots % 255 > 0 ? 3 : 0);
}

int64_t RasterBytes(int w, int h, int len, int bandRows)
{
    if (w < 0 || w > kMaxRasterField || h < 0)
        return 0;
    // At least one command, even for no rows.
    const int64_t commands = h == 0 ? 1 : (int64_t{h} + bandRows - 1) / bandRows;
    return commands * kRasterHeadBytes + (len > 0 ? len : 0);
}

void AddInit(CMyBuffer &out)
{
    Add(out, {0x1B, 0x40, 0x00});
}

void AddAlign(CMyBuffer &out, int align)
{
    const unsigned char a = (align == 0 || align == 2) ? static_cast<unsigned char>(align) : 0x01;
    Add(out, {0x1B, 0x61, a});
}

void AddCut(CMyBuffer &out, int kind)
{
    Add(out, {0x1D, 0x56, static_cast<unsigned char>(kind == 0 ? 0x30 : 0x31)});
}

void AddFeed(CMyBuffer &out, int dots)
{
    // ESC J feeds forward only; its byte is unsigned.
    if (dots < 0)
        dots = 0;
    if (dots <= 255) {
        Add(out, {0x1B, 0x4A, static_cast<unsigned char>(dots)});
        return;
    }
    for (int i = 0; i < dots / 255; ++i)
        Add(out, {0x1B, 0x4A, 0xFF});
    if (dots % 255 > 0)
        Add(out, {0x1B, 0x4A, static_cast<unsigned char>(dots % 255)});
}

// GS v 0 m xL xH yL yH, then the rows: width in bytes and row count are
// little-endian 16-bit numbers.
void AddRaster(CMyBuffer &out, int xdpi, int ydpi, int w, int h, const unsigned char *data, int len, int bandRows)
{
    if (w < 0 || w > kMaxRasterField || h < 0)
        return;
    if (len < 0)
        len = 0;
    const unsigned char mode = RasterMode(xdpi, ydpi);
    int rowsLeft = h;
    do {
        const int rows = std::min(rowsLeft, bandRows);
        const int n = rows == rowsLeft ? len : static_cast<int>(std::min<int64_t>(int64_t(rows) * w, len));
        Add(out, {0x1D, 0x76, 0x30, mode});
        byteorder::AppendLe16(out, static_cast<uint32_t>(w));
        byteorder::AppendLe16(out, static_cast<uint32_t>(rows));
        out.AddBuffer(data, n);
        data += n;
        len -= n;
        rowsLeft -= rows;
    } while (rowsLeft > 0);
}

void AddDrawerPulse(CMyBuffer &out)
{
    Add(out, {0x1B, 0x70, 0x00, 0xFF, 0xFF});
}

int RowBytes(const CxImage &page)
{
    return static_cast<int>((static_cast<uint64_t>(page.GetWidth()) + 7) / 8);
}

int BandRows(const tagREGSTRUCT &reg)
{
    return std::clamp(reg.iBandRows, 1, kMaxRasterField);
}

int RowsToLastInk(const CxImage &page, int w)
{
    for (uint32_t y = page.GetHeight(); y > 0; --y) {
        const uint8_t *row = const_cast<CxImage &>(page).GetBits(y - 1);
        for (int i = 0; i < w; ++i)
            if (row[i] != 0xFF)
                return static_cast<int>(y);
    }
    return 0;
}

void EncodePage(const CxImage &page, const tagREGSTRUCT &reg, int dpi, bool receiptStarted, CMyBuffer &out)
{
    const int w = RowBytes(page);
    const bool receipt = reg.bReceipt;
    // A receipt leaves out the white tail of each page, and a white page.
    const int h = receipt ? RowsToLastInk(page, w) : static_cast<int>(page.GetHeight());
    if (receipt && h == 0)
        return;
    CMyBuffer raster;
    GatherDots(page, w, h, raster);

    // Receipt mode: nothing between the pages but their printed rows, so the
    // receipt shows no seam; the drawer pulses and the end-of-job cut come
    // once per job.
    const bool opens = !receipt || !receiptStarted;
    const bool drawerFirst = opens && reg.iMoneyBox == 1;
    const bool feeds = reg.fFeedAfter > 0;
    const bool cuts = reg.iCutMode == 3 || reg.iCutMode == 4;
    const bool drawerLast = !receipt && reg.iMoneyBox == 2;
    out.Reserve(out.GetBufferLength() + (drawerFirst ? kDrawerPulseBytes : 0) + (opens ? 6 : 0) +
                RasterBytes(w, h, raster.GetBufferLength(), BandRows(reg)) +
                (feeds ? FeedBytes(FeedDots(reg.fFeedAfter, reg, dpi)) : 0) + (cuts ? CutBytes(reg, dpi) : 0) +
                (drawerLast ? kDrawerPulseBytes : 0));

    if (drawerFirst)
        AddDrawerPulse(out);
    if (opens) {
        AddInit(out);
        AddAlign(out, reg.iAlign);
    }
    AddRaster(out, dpi, dpi, w, h, reinterpret_cast<const unsigned char *>(raster.GetBuffer()),
              raster.GetBufferLength(), BandRows(reg));
    if (feeds)
        AddFeed(out, FeedDots(reg.fFeedAfter, reg, dpi));
    if (cuts)
        FeedAndCut(out, reg, dpi, reg.iCutMode == 3 ? 0 : 1);
    if (drawerLast)
        AddDrawerPulse(out);
}

// A blank receipt job still opens the drawer, but is not fed or cut.
void EncodeJobEnd(const tagREGSTRUCT &reg, int dpi, bool receiptStarted, CMyBuffer &out)
{
    const bool endCut = reg.iCutMode == 1 || reg.iCutMode == 2;
    if (endCut && (!reg.bReceipt || receiptStarted))
        FeedAndCut(out, reg, dpi, reg.iCutMode == 1 ? 0 : 1);
    if (reg.bReceipt && (reg.iMoneyBox == 2 || (reg.iMoneyBox == 1 && !receiptStarted)))
        AddDrawerPulse(out);
}

} // namespace escpos
