// Paperang packet streams.
#pragma once

#include <cstdint>

#include "DecodeContext.h"

namespace qf::preview {

// The protocol's CRC key: each frame's CRC is zlib's crc32(kPaperangCrcKey,
// inner command, n).
constexpr uint32_t kPaperangCrcKey = 0x35769521u;

// Frame:  A5 01 nL nH | n bytes inner command | CRC-32 (4 bytes, LE) | 5A
// Inner:  05 code b2 kL kH | k parameter bytes, k + 5 = n
//   19 03 k=0 begin printing          1A 03 k=0 end printing
//   16 03 k=2 feed v16                21 01 k=4 paper locate v32
//   20 01 k=2 paper type (0 or 3)
//   1B 03 k=12+W bitmap row: index16, 8+W 16, 01, W16, 00 00 00, W16, W bytes
// A page runs from begin to end printing; its rows carry packet indexes
// 0, 1, 2, ... and one row width. Locate and feed frames after the end
// belong to the page before them.
void DecodePaperang(DecodeContext &ctx);

} // namespace qf::preview
