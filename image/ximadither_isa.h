// Instruction-set level of the image engine's one-bit conversions (Dither,
// Threshold), for tests that must run every code path on a machine that has
// the widest one, and the row kernel Threshold shares with them. Not for
// other callers.
#ifndef QF_XIMADITHER_ISA_H
#define QF_XIMADITHER_ISA_H

#include <cstdint>

namespace qf_image_detail {

enum DitherIsa {
    kDitherScalar = 0, // portable C++
    kDitherSse2 = 1,   // 16-byte vectors
    kDitherAvx2 = 2,   // 32-byte vectors where the CPU has them
    kDitherNeon = 1,   // ARM: 16-byte vectors where the CPU has them
};

// The level in use; at start the widest the build and the CPU support.
int DitherIsaLevel();
// Uses at most `level` (never more than is supported); returns the level now
// in use.
int SetDitherIsaLevel(int level);

// One row of CxImage::Threshold: bit x of dst (MSB first) is 1, white, where
// level < src[x]; the bits past w in the last byte are 0.
void ThresholdRow(const uint8_t *src, uint8_t *dst, uint32_t w, uint8_t level);

} // namespace qf_image_detail

#endif // QF_XIMADITHER_ISA_H
