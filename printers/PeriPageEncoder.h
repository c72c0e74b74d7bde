// PeriPage page encoding: ESC/POS plus DLE-prefixed start-up, paper,
// density, cut-line and end commands, and a deflate-compressed raster; the
// bytes of a page as a function of the prepared page, the settings and the
// resolution, with no state of its own.
#pragma once

#include "MyBuffer.h"
#include "RegStruct.h"
#include "ximage.h"

namespace peripage {

// Widest compressed row the printers take, in bytes.
constexpr int kMaxCompressedRow203 = 208;
constexpr int kMaxCompressedRowHigh = 312;

// Wake-up, paper type (left out for an unknown media type), then ESC @.
void AddInit(NS_QV_CLASS::CMyBuffer &out, int mediaType);
// Darkness 0 to 15; a negative value leaves the printer's own setting.
void AddDensity(NS_QV_CLASS::CMyBuffer &out, int density);
void AddCutLine(NS_QV_CLASS::CMyBuffer &out);
void AddEnd(NS_QV_CLASS::CMyBuffer &out);
// Compressed raster commands (bands of at most 65535 rows) of h rows of w
// bytes: 1F 00, w and h big-endian 16-bit, L big-endian 32-bit, then L
// bytes: the zlib stream (1 KiB window) without its 2-byte header, ending in
// the big-endian Adler-32 of the rows. A band that fails to compress appends
// nothing.
void AddCompressedRaster(NS_QV_CLASS::CMyBuffer &out, int w, int h, const unsigned char *data, int len);
// Bytes of a raster row as sent: the page's, held to the compressed limit
// when the raster is compressed.
int RowBytes(const CxImage &page, const tagREGSTRUCT &reg, int dpi);

// One page. `page` is prepared (one bit, 1 = white, white padding; on
// recording paper already cropped to its picture) and read, never changed.
// The buffer is reserved once, at the page's exact size, before appending.
void EncodePage(const CxImage &page, const tagREGSTRUCT &reg, int dpi, NS_QV_CLASS::CMyBuffer &out);

} // namespace peripage
