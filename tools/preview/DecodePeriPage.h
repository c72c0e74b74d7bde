// PeriPage streams: ESC/POS inside DLE-framed pages, with a deflate
// compressed raster command.
#pragma once

#include "DecodeContext.h"

namespace qf::preview {

// Commands beyond ESC/POS (hex):
//   10 FF FE 01      start of page        10 FF FE 45   end of page
//   10 FF 10 03 p    paper type 00..05    10 FF 10 00 n density 00..0F
//   10 50            cut line             1D 0C         feed to the mark
//   1F 00 wH wL hH hL L3 L2 L1 L0 + L bytes: raw deflate data of the w*h
//                    raster bytes (the 2-byte zlib header stripped, window
//                    of at most 1 KiB) followed by their big-endian Adler-32
// Every command lies inside a 10 FF FE 01 .. 10 FF FE 45 frame; a frame is
// one page with at most one raster (none when the printer stream dropped
// an image that could not be compressed).
void DecodePeriPage(DecodeContext &ctx);

} // namespace qf::preview
