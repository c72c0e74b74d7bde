#include "PrinterPeriPage.h"

#include <zlib.h>

#include <vector>

#include "ByteOrder.h"

using NS_QV_CLASS::CMyBuffer;

namespace {

// Paper-type byte of 10 FF 10 03 p, by media type.
constexpr unsigned char kPaperType[] = {0x01, 0x02, 0x00, 0x03, 0x01, 0x01, 0x04, 0x05, 0x01, 0x00, 0x00};
static_assert(sizeof kPaperType == kMediaA4Fold + 1, "one paper-type byte for every media type");

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

} // namespace

CPrinterPeriPage::CPrinterPeriPage()
{
    AddLog("new CPrinterPeriPage()");
}

CPrinterPeriPage::~CPrinterPeriPage() = default;

void CPrinterPeriPage::OnInit() {}

void CPrinterPeriPage::OnDestroy() {}

void CPrinterPeriPage::OnPaintBmp()
{
    // Recording paper prints the picture alone, without its blank lines at
    // the top and bottom.
    if (m_Reg.iMediaType == kMediaRecording) {
        CropWhiteEdge(m_Image, -1, -1, 0, 0);
        AdjustEffWidthBits(m_Image);
    }
    int w = RasterRowBytes();
    if (m_Reg.bImageCompress)
        w = std::min(w, m_iResolution <= 203 ? kMaxCompressedRow203 : kMaxCompressedRowHigh);
    const int h = static_cast<int>(m_Image.GetHeight());
    m_CmdBuffer.InitBuffer(0);
    if (!RasterFits(w, h))
        return;
    // From here a set bit is a dot to burn.
    Negative(m_Image);

    cmdInit();
    cmdDENSITY(m_Reg.iDensity);
    cmdAlign(m_Reg.iAlign);
    if (m_Reg.fFeedBefore > 0)
        PrintAndFeedPaper(m_Reg.fFeedBefore);
    CMyBuffer raster;
    GatherRaster(raster, w);
    PrintBMP(m_iResolution, m_iResolution, w, h, raster.GetBuffer(), raster.GetBufferLength());
    if (FeedsToMark(m_Reg.iMediaType))
        AppendBytes({0x1D, 0x0C});
    if (m_Reg.fFeedAfter > 0)
        PrintAndFeedPaper(m_Reg.fFeedAfter);
    if (TakesCutLine(m_Reg.iMediaType))
        cmdCutLine();
    cmdEndPrint();

    WritePage(m_CmdBuffer);
    m_CmdBuffer.InitBuffer(0);
}

// Wake-up, paper type (left out for an unknown media type), then ESC @.
void CPrinterPeriPage::cmdInit()
{
    AppendBytes({0x10, 0xFF, 0xFE, 0x01});
    const int media = m_Reg.iMediaType;
    if (media >= 0 && media < static_cast<int>(sizeof kPaperType))
        AppendBytes({0x10, 0xFF, 0x10, 0x03, kPaperType[media]});
    AppendBytes({0x1B, 0x40, 0x00});
}

void CPrinterPeriPage::PrintBMP(int xdpi, int ydpi, int w, int h, const void *data, int len)
{
    if (!m_Reg.bImageCompress) {
        CPrinterESCPOS::PrintBMP(xdpi, ydpi, w, h, data, len);
        return;
    }
    if (w < 0 || w > kMaxRasterField || h < 0)
        return;
    ForEachBand(w, h, static_cast<const unsigned char *>(data), len, kMaxRasterField,
                [&](int rows, const unsigned char *bytes, int n) { AppendCompressedBand(w, rows, bytes, n); });
}

void CPrinterPeriPage::cmdEndPrint()
{
    AppendBytes({0x10, 0xFF, 0xFE, 0x45});
}

void CPrinterPeriPage::cmdDENSITY(int density)
{
    if (density < 0)
        return;
    AppendBytes({0x10, 0xFF, 0x10, 0x00, static_cast<unsigned char>(std::min(density, 15))});
}

void CPrinterPeriPage::cmdCutLine()
{
    AppendBytes({0x10, 0x50});
}

// 1F 00, w and h big-endian 16-bit, L big-endian 32-bit, then L bytes: the
// zlib stream (1 KiB window) without its 2-byte header, ending in the
// big-endian Adler-32 of the rows. A failed compression appends nothing.
void CPrinterPeriPage::AppendCompressedBand(int w, int h, const unsigned char *data, int len)
{
    z_stream zs{};
    const uLong bound = deflateBound(&zs, static_cast<uLong>(len));
    std::vector<unsigned char> out(bound);
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 10, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return;
    zs.next_in = const_cast<Bytef *>(data);
    zs.avail_in = static_cast<uInt>(len);
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(bound);
    const int rc = deflate(&zs, Z_FINISH);
    const uLong produced = zs.total_out;
    if (deflateEnd(&zs) != Z_OK || rc != Z_STREAM_END || produced < 2)
        return;

    AppendBytes({0x1F, 0x00});
    byteorder::AppendBe16(m_CmdBuffer, static_cast<uint32_t>(w));
    byteorder::AppendBe16(m_CmdBuffer, static_cast<uint32_t>(h));
    byteorder::AppendBe32(m_CmdBuffer, static_cast<uint32_t>(produced - 2));
    m_CmdBuffer.AddBuffer(out.data() + 2, static_cast<int>(produced - 2));
}
