#include "PeriPageEncoder.h"

#include <zlib.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "ByteOrder.h"
#include "EscPosEncoder.h"
#include "Units.h"

using NS_QV_CLASS::CMyBuffer;

namespace peripage {

namespace {

// Paper-type byte of 10 FF 10 03 p, by media type.
constexpr unsigned char kPaperType[] = {0x01, 0x02, 0x00, 0x03, 0x01, 0x01, 0x04, 0x05, 0x01, 0x00, 0x00};
static_assert(sizeof kPaperType == kMediaA4Fold + 1, "one paper-type byte for every media type");

// The commands around the raster, with room to spare.
constexpr int64_t kPageCommandBytes = 256;

void Add(CMyBuffer &out, std::initializer_list<unsigned char> bytes)
{
    out.AddBuffer(bytes.begin(), static_cast<int>(bytes.size()));
}

// Marked media whose next print start the printer finds itself (GS FF).
bool FeedsToMark(int media)
{
    return media == kMediaGap || media == kMediaBLine || media == kMediaPerforated || media == kMediaUsLetterFold ||
           media == kMediaA4Fold;
}

// Endless paper that gets a tear line after the page.
bool TakesCutLine(int media)
{
    return media == kMediaContinuous || media == kMediaRoll || media == kMediaContinuousRoll;
}

void AddCompressedBand(CMyBuffer &out, int w, int h, const unsigned char *data, int len)
{
    z_stream zs{};
    const uLong bound = deflateBound(&zs, static_cast<uLong>(len));
    std::vector<unsigned char> packed(bound);
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 10, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return;
    zs.next_in = const_cast<Bytef *>(data);
    zs.avail_in = static_cast<uInt>(len);
    zs.next_out = packed.data();
    zs.avail_out = static_cast<uInt>(bound);
    const int rc = deflate(&zs, Z_FINISH);
    const uLong produced = zs.total_out;
    if (deflateEnd(&zs) != Z_OK || rc != Z_STREAM_END || produced < 2)
        return;

    Add(out, {0x1F, 0x00});
    byteorder::AppendBe16(out, static_cast<uint32_t>(w));
    byteorder::AppendBe16(out, static_cast<uint32_t>(h));
    byteorder::AppendBe32(out, static_cast<uint32_t>(produced - 2));
    out.AddBuffer(packed.data() + 2, static_cast<int>(produced - 2));
}

} // namespace

void AddInit(CMyBuffer &out, int media)
{
    Add(out, {0x10, 0xFF, 0xFE, 0x01});
    if (media >= 0 && media < static_cast<int>(sizeof kPaperType))
        Add(out, {0x10, 0xFF, 0x10, 0x03, kPaperType[media]});
    escpos::AddInit(out);
}

void AddDensity(CMyBuffer &out, int density)
{
    if (density >= 0)
        Add(out, {0x10, 0xFF, 0x10, 0x00, static_cast<unsigned char>(std::min(density, 15))});
}

void AddCutLine(CMyBuffer &out)
{
    Add(out, {0x10, 0x50});
}

void AddEnd(CMyBuffer &out)
{
    Add(out, {0x10, 0xFF, 0xFE, 0x45});
}

void AddCompressedRaster(CMyBuffer &out, int w, int h, const unsigned char *data, int len)
{
    if (w < 0 || w > escpos::kMaxRasterField || h < 0)
        return;
    if (len < 0)
        len = 0;
    int rowsLeft = h;
    do {
        const int rows = std::min(rowsLeft, escpos::kMaxRasterField);
        const int n = rows == rowsLeft ? len : static_cast<int>(std::min<int64_t>(int64_t(rows) * w, len));
        AddCompressedBand(out, w, rows, data, n);
        data += n;
        len -= n;
        rowsLeft -= rows;
    } while (rowsLeft > 0);
}

int RowBytes(const CxImage &page, const tagREGSTRUCT &reg, int dpi)
{
    const int w = escpos::RowBytes(page);
    return reg.bImageCompress ? std::min(w, dpi <= 203 ? kMaxCompressedRow203 : kMaxCompressedRowHigh) : w;
}

void EncodePage(const CxImage &page, const tagREGSTRUCT &reg, int dpi, CMyBuffer &out)
{
    const int w = RowBytes(page, reg, dpi);
    const int h = static_cast<int>(page.GetHeight());
    CMyBuffer raster;
    escpos::GatherDots(page, w, h, raster);
    const int feedBefore = LengthToDots(reg.fFeedBefore, reg.iUnit, dpi);
    const int feedAfter = LengthToDots(reg.fFeedAfter, reg.iUnit, dpi);
    out.Reserve(out.GetBufferLength() + raster.GetBufferLength() + kPageCommandBytes + escpos::FeedBytes(feedBefore) +
                escpos::FeedBytes(feedAfter));

    AddInit(out, reg.iMediaType);
    AddDensity(out, reg.iDensity);
    escpos::AddAlign(out, reg.iAlign);
    if (reg.fFeedBefore > 0)
        escpos::AddFeed(out, feedBefore);
    const auto *data = reinterpret_cast<const unsigned char *>(raster.GetBuffer());
    if (reg.bImageCompress)
        AddCompressedRaster(out, w, h, data, raster.GetBufferLength());
    else
        escpos::AddRaster(out, dpi, dpi, w, h, data, raster.GetBufferLength(), escpos::BandRows(reg));
    if (FeedsToMark(reg.iMediaType))
        Add(out, {0x1D, 0x0C});
    if (reg.fFeedAfter > 0)
        escpos::AddFeed(out, feedAfter);
    if (TakesCutLine(reg.iMediaType))
        AddCutLine(out);
    AddEnd(out);
}

} // namespace peripage
