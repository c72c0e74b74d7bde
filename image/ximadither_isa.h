// Instruction-set level of CxImage::Dither, for tests that must run every
// code path on a machine that has the widest one. Not for other callers.
#ifndef QF_XIMADITHER_ISA_H
#define QF_XIMADITHER_ISA_H

namespace qf_image_detail {

enum DitherIsa {
    kDitherScalar = 0, // portable C++
    kDitherSse2 = 1,   // 16-byte vectors
    kDitherAvx2 = 2,   // 32-byte vectors where the CPU has them
};

// The level in use; at start the widest the build and the CPU support.
int DitherIsaLevel();
// Uses at most `level` (never more than is supported); returns the level now
// in use.
int SetDitherIsaLevel(int level);

} // namespace qf_image_detail

#endif // QF_XIMADITHER_ISA_H
