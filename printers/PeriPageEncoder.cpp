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

// The commands around the raster: 10 FF FE 01 and ESC @ 00; 10 FF 10 03 p;
// 10 FF 10 00 d; ESC a n; GS FF; 10 50; 10 FF FE 45.
constexpr int64_t kInitBytes = 4 + 3;
constexpr int64_t kPaperTypeBytes = 5;
constexpr int64_t kDensityBytes = 5;
constexpr int64_t kAlignBytes = 3;
constexpr int64_t kMarkFeedBytes = 2;
constexpr int64_t kCutLineBytes = 2;
constexpr int64_t kEndBytes = 4;

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

// One band of compressed raster: 1F 00, width and rows (big-endian 16-bit),
// the stream's length (big-endian 32-bit), then the deflate stream without
// zlib's two head bytes. A band zlib fails on is left out.
struct PackedBand {
    int w = 0, h = 0;
    std::vector<unsigned char> packed; // zlib's whole output, head included
    bool ok = false;
    int64_t Bytes() const { return ok ? 10 + static_cast<int64_t>(packed.size()) - 2 : 0; }
};

void Pack(PackedBand &band, const unsigned char *data, int len)
{
    z_stream zs{};
    const uLong bound = deflateBound(&zs, static_cast<uLong>(len));
    band.packed.resize(bound);
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 10, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return;
    zs.next_in = const_cast<Bytef *>(data);
    zs.avail_in = static_cast<uInt>(len);
    zs.next_out = band.packed.data();
    zs.avail_out = static_cast<uInt>(bound);
    const int rc = deflate(&zs, Z_FINISH);
    const uLong produced = zs.total_out;
    if (deflateEnd(&zs) != Z_OK || rc != Z_STREAM_END || produced < 2)
        return;
    band.packed.resize(produced);
    band.ok = true;
}

void AddPackedBand(CMyBuffer &out, const PackedBand &band)
{
    if (!band.ok)
        return;
    Add(out, {0x1F, 0x00});
    byteorder::AppendBe16(out, static_cast<uint32_t>(band.w));
    byteorder::AppendBe16(out, static_cast<uint32_t>(band.h));
    byteorder::AppendBe32(out, static_cast<uint32_t>(band.packed.size() - 2));
    out.AddBuffer(band.packed.data() + 2, static_cast<int>(band.packed.size() - 2));
}

// The bands of h rows of w bytes, at most kMaxRasterField rows each,
// compressed before anything is appended so that the page's size is known.
std::vector<PackedBand> PackRaster(int w, int h, const unsigned char *data, int len)
{
    std::vector<PackedBand> bands;
    if (w < 0 || w > escpos::kMaxRasterField || h < 0)
        return bands;
    if (len < 0)
        len = 0;
    int rowsLeft = h;
    do {
        const int rows = std::min(rowsLeft, escpos::kMaxRasterField);
        const int n = rows == rowsLeft ? len : static_cast<int>(std::min<int64_t>(int64_t(rows) * w, len));
        bands.emplace_back();
        bands.back().w = w;
        bands.back().h = rows;
        Pack(bands.back(), data, n);
        data += n;
        len -= n;
        rowsLeft -= rows;
    } while (rowsLeft > 0);
    return bands;
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
    for (const PackedBand &band : PackRaster(w, h, data, len))
        AddPackedBand(out, band);
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
    const auto *data = reinterpret_cast<const unsigned char *>(raster.GetBuffer());
    std::vector<PackedBand> bands;
    int64_t rasterBytes = 0;
    if (reg.bImageCompress) {
        bands = PackRaster(w, h, data, raster.GetBufferLength());
        for (const PackedBand &band : bands)
            rasterBytes += band.Bytes();
    } else {
        rasterBytes = escpos::RasterBytes(w, h, raster.GetBufferLength(), escpos::BandRows(reg));
    }
    const bool knownMedia = reg.iMediaType >= 0 && reg.iMediaType < static_cast<int>(sizeof kPaperType);
    out.Reserve(out.GetBufferLength() + kInitBytes + (knownMedia ? kPaperTypeBytes : 0) +
                (reg.iDensity >= 0 ? kDensityBytes : 0) + kAlignBytes +
                (reg.fFeedBefore > 0 ? escpos::FeedBytes(feedBefore) : 0) + rasterBytes +
                (FeedsToMark(reg.iMediaType) ? kMarkFeedBytes : 0) +
                (reg.fFeedAfter > 0 ? escpos::FeedBytes(feedAfter) : 0) +
                (TakesCutLine(reg.iMediaType) ? kCutLineBytes : 0) + kEndBytes);

    AddInit(out, reg.iMediaType);
    AddDensity(out, reg.iDensity);
    escpos::AddAlign(out, reg.iAlign);
    if (reg.fFeedBefore > 0)
        escpos::AddFeed(out, feedBefore);
    if (reg.bImageCompress) {
        for (const PackedBand &band : bands)
            AddPackedBand(out, band);
    } else {
        escpos::AddRaster(out, dpi, dpi, w, h, data, raster.GetBufferLength(), escpos::BandRows(reg));
    }
    if (FeedsToMark(reg.iMediaType))
        Add(out, {0x1D, 0x0C});
    if (reg.fFeedAfter > 0)
        escpos::AddFeed(out, feedAfter);
    if (TakesCutLine(reg.iMediaType))
        AddCutLine(out);
    AddEnd(out);
}

} // namespace peripage
