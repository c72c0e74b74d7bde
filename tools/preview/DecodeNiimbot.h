// Niimbot label printer streams.
#pragma once

#include <cstddef>
#include <cstdint>

#include "DecodeContext.h"

namespace qf::preview {

// Packet:  55 55 cmd n | n data bytes | XOR of cmd, n and the data | AA AA
//          (03 before the connect packet C1 alone)
// A task, each step once a page:
//   21 n=1 density      23 n=1 label type (1, 2, 3, 5, 10 or 11)
//   01 start: n=1 (01), or n=7 (pages u16 >= 1, 00 00 00 00, colour)
//   03 n=1 (01) page start
//   13 page size: n=4 rows, cols (u16 BE), or n=6 with copies (>= 1)
//   the rows, numbered in order from 0, none past the size's rows:
//     84 n=3 row, count (>= 1): white rows
//     85 n=6+B row, three counts, repeat (>= 1), B = cols/8 rounded up
//        bytes, leftmost dot in bit 7, 1 a dot
//     83 n=6+2k row, three counts, repeat (>= 1), k <= 6 dot indexes below
//        cols (u16 BE)
//   E3 n=1 (01) page end, after every row of the size
//   F3 n=1 (01) end print
// Anywhere between packets: C1 connect, DC heartbeat, A3 print status, 1A
// tag and 59 label info requests (n=1, 01). The black-dot counts are not
// checked: newer models take zeros there.
// Params: density, label-type, start ("1" or "7": the start's data
// length), rows, cols, copies, row-bytes.
void DecodeNiimbot(DecodeContext &ctx);

// Whether `size` bytes are whole packets, checked for framing only (the
// length, AA AA; a leading 03 before C1); used to tell a command boundary.
bool NiimbotWholePackets(const uint8_t *data, size_t size);

} // namespace qf::preview
