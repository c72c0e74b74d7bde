// ESC/POS page encoding: the bytes of a page as a function of the prepared
// page, the settings and the resolution, with no state of its own. The
// renderer (PrinterESCPOS) checks the page first and keeps the job state
// (whether a receipt has begun); its command hooks wrap the Add* below.
#pragma once

#include <cstdint>

#include "MyBuffer.h"
#include "RegStruct.h"
#include "ximage.h"

namespace escpos {

// Row width (bytes) and row count of a raster command are 16-bit fields.
constexpr int kMaxRasterField = 65535;

// --- commands, appended to `out` ----------------------------------------------
// ESC @ and the NUL the printers are sent after it.
void AddInit(NS_QV_CLASS::CMyBuffer &out);
// ESC a: 0 left, 1 centre, 2 right; anything else centres.
void AddAlign(NS_QV_CLASS::CMyBuffer &out, int align);
// GS V "0" (kind 0, full) or "1" (partial).
void AddCut(NS_QV_CLASS::CMyBuffer &out, int kind);
// ESC J commands feeding `dots`, at most 255 each; nothing below 0.
void AddFeed(NS_QV_CLASS::CMyBuffer &out, int dots);
// GS v 0 commands of at most bandRows rows each for h rows of w bytes (a set
// bit prints); a w that the 16-bit width can't carry appends nothing.
void AddRaster(NS_QV_CLASS::CMyBuffer &out, int xdpi, int ydpi, int w, int h, const unsigned char *data, int len,
               int bandRows);
// ESC p on drawer connector 0, on and off times of 255 x 2 ms.
void AddDrawerPulse(NS_QV_CLASS::CMyBuffer &out);

// --- the page -----------------------------------------------------------------
// Bytes per raster row that hold the page's dots: (width + 7) / 8.
int RowBytes(const CxImage &page);
// Rows in one raster command: iBandRows held to 1 .. kMaxRasterField.
int BandRows(const tagREGSTRUCT &reg);
// Rows of a prepared page (1 = white) down to its last one with a dot in
// its first w bytes; 0 for a white page.
int RowsToLastInk(const CxImage &page, int w);

// The first w bytes of the first `rows` rows of a prepared page, inverted:
// a set bit burns a dot.
void GatherDots(const CxImage &page, int w, int rows, NS_QV_CLASS::CMyBuffer &raster);
// Bytes of the ESC J commands for a feed of `dots`, exactly.
int64_t FeedBytes(int dots);
// Bytes AddRaster appends for these arguments, exactly.
int64_t RasterBytes(int w, int h, int len, int bandRows);

// One page. `page` is prepared: one bit, 1 = white, white row padding; it is
// read, never changed. In receipt mode (reg.bReceipt) the page continues the
// job's receipt: `receiptStarted` says whether its start (drawer pulse
// before, ESC @, alignment) has gone out; a white page appends nothing.
void EncodePage(const CxImage &page, const tagREGSTRUCT &reg, int dpi, bool receiptStarted,
                NS_QV_CLASS::CMyBuffer &out);
// The end of a job: its cut, and in receipt mode its drawer pulse.
void EncodeJobEnd(const tagREGSTRUCT &reg, int dpi, bool receiptStarted, NS_QV_CLASS::CMyBuffer &out);

} // namespace escpos
