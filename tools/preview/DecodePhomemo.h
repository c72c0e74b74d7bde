// Phomemo printer streams: ESC/POS-like settings around GS v 0 rasters.
#pragma once

#include "DecodeContext.h"

namespace qf::preview {

// Commands, each checked byte for byte:
//   1B 40             initialise           1B 61 n       align (0, 1, 2)
//   1F 11 02 n        M02 header tail      1F 11 t       media (0A gap, 0B
//                                                        continuous, 26 marks)
//   1F 11 08/11/12    status queries       1B 4E 0D s    speed (1..5)
//   1B 4E 04 n        density (1..15)
//   1D 76 30 00 xL xH yL yH data
//                     raster band of 0..255 rows, x > 0 bytes a row; the
//                     bands of a page are as wide, and join into it
//   1F F0 05 00       next label: ends the page
//   1F F0 03 00       end of the print: after a page only
//   1B 64 n           feed n lines: ends the page (the M02's)
// Settings before a page's first band belong to that page; a stream must
// not end inside a page.
// Params: align, header, media ("gap", "continuous", "marks"), speed,
// density, row-bytes, bands, feed (lines, summed), end ("label" or "feed").
void DecodePhomemo(DecodeContext &ctx);

} // namespace qf::preview
