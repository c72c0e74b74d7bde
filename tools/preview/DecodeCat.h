// Cat printer streams, both preambles.
#pragma once

#include <cstddef>
#include <cstdint>

#include "DecodeContext.h"

namespace qf::preview {

// CRC-8, polynomial 07, initial 0, not reflected: each frame's check byte.
uint8_t CatCrc8(const uint8_t *data, size_t size);

// Frame:  P0 P1 cmd 00 nL nH | n payload bytes | CRC-8 of the payload | FF
//         P0 P1 = 51 78 (classic) or 22 21 (MXW01), the same in a stream.
// Classic:
//   A4 n=1 quality     AF n=1..4 energy (LE)    BD n=1 speed
//   A6 n=11 lattice start (AA 55 17 38 44 5F 5F 5F 44 38 2C) or end
//      (AA 55 17 00 00 00 00 00 00 00 17): a page runs from start to end
//   A2 n=W one row, bit 0 of byte 0 the leftmost dot, 1 a dot; every row of
//      a page as wide
//   A1 n=2 feed, A0 n=2 retract (LE rows), after the end: the page's
//   A3 n=1 (00) state request, anywhere
// MXW01:
//   A2 n=1 intensity   A9 n=4 print request: lines (LE16), 30, 00
//   FE n=48k the next k lines (the bulk data, as the filter marks it)
//   AD n=1 (00) flush: ends the page, which must have had all its lines
//   A1 n=1 (00) status request, anywhere
// Params: quality, energy, speed, feed, retract (classic); intensity,
// lines (MXW01); row-bytes.
void DecodeCat(DecodeContext &ctx);

// Whether `size` bytes are whole frames of either preamble, checked for
// framing only (the length, FF); used to tell a command boundary.
bool CatWholeFrames(const uint8_t *data, size_t size);

} // namespace qf::preview
