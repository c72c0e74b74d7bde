// Checked inflation of the compressed bitmaps: TSPL mode 3 carries a zlib
// stream (2-byte header, deflate data, big-endian Adler-32); the PeriPage
// raster carries the same stream without its 2-byte header.
#pragma once

#include <cstdint>
#include <vector>

#include "DecodeContext.h"

namespace qf::preview {

struct CompressedBlock {
    size_t offset = 0;         // stream offset of the compressed block
    size_t length = 0;         // its length, all of which must be used
    bool zlibHeader = true;    // block starts with CMF FLG
    int rawWindowBits = 15;    // window for headerless data
    uint64_t expectedSize = 0; // the block must inflate to exactly this
};

// Inflates the block into `out`. Fails (through ctx) at the offending byte:
// a bad zlib header, invalid deflate data, data that ends early, more or
// fewer bytes than expected, bytes left over after the Adler-32, or an
// Adler-32 that does not match the inflated bytes.
bool InflateChecked(DecodeContext &ctx, const CompressedBlock &blk, std::vector<uint8_t> &out);

} // namespace qf::preview
