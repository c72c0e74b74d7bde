// What the one-bit conversions' code paths share: which vector paths this
// build has, the error-diffusion kernels and what is worked out from them at
// compile time, a diffused row's working state with the scalar pieces that
// the NEON path uses for its tails too, and the table of the paths in use.
// Internal to image/ximadither*.cpp.
#ifndef QF_XIMADITHER_KERNELS_H
#define QF_XIMADITHER_KERNELS_H

#include <array>
#include <cstdint>

// SSE2 is the x86-64 baseline; AVX2 code is compiled per function (so that
// nothing of it can reach a CPU without it) and chosen at run time.
#if defined(__SSE2__) && !defined(QF_IMAGE_NO_SIMD)
#define QF_DITHER_SSE2 1
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define QF_DITHER_AVX2 1
#define QF_TARGET_AVX2 __attribute__((target("avx2")))
#endif
#endif

// NEON: always there on aarch64; on 32-bit ARM either the build targets it
// (-mfpu=neon) or its code is compiled per function and chosen at run time.
#if !defined(QF_IMAGE_NO_SIMD) && (defined(__aarch64__) || (defined(__arm__) && defined(__ARM_NEON)))
#define QF_DITHER_NEON 1
#define QF_TARGET_NEON
#elif !defined(QF_IMAGE_NO_SIMD) && defined(__arm__) && defined(__GNUC__) && !defined(__clang__) &&                    \
    defined(__ARM_PCS_VFP) && defined(__linux__)
#define QF_DITHER_NEON      1
#define QF_NEON_AT_RUN_TIME 1
#define QF_TARGET_NEON      __attribute__((target("fpu=neon")))
#endif

#if defined(__GNUC__)
#define QF_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define QF_ALWAYS_INLINE inline
#endif

namespace qf_image_detail {

// ---------------------------------------------------------------------------
// Error-diffusion kernels: dy rows down, dx columns right, weight w of S.

struct Tap {
    int dy, dx, w;
};

struct FloydSteinberg {
    static constexpr int kIndex = 0;
    static constexpr int S = 16;
    static constexpr Tap taps[] = {{0, 1, 7}, {1, -1, 3}, {1, 0, 5}, {1, 1, 1}};
};
struct Burkes {
    static constexpr int kIndex = 1;
    static constexpr int S = 32;
    static constexpr Tap taps[] = {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}};
};
struct Stucki {
    static constexpr int kIndex = 2;
    static constexpr int S = 42;
    static constexpr Tap taps[] = {{0, 1, 8}, {0, 2, 4},  {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4},
                                   {1, 2, 2}, {2, -2, 1}, {2, -1, 2}, {2, 0, 4},  {2, 1, 2}, {2, 2, 1}};
};
struct JarvisJudiceNinke {
    static constexpr int kIndex = 3;
    static constexpr int S = 48;
    static constexpr Tap taps[] = {{0, 1, 7}, {0, 2, 5},  {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5},
                                   {1, 2, 3}, {2, -2, 1}, {2, -1, 3}, {2, 0, 5},  {2, 1, 3}, {2, 2, 1}};
};
struct Sierra {
    static constexpr int kIndex = 4;
    static constexpr int S = 32;
    static constexpr Tap taps[] = {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5},
                                   {1, 1, 4}, {1, 2, 2}, {2, -1, 2}, {2, 0, 3},  {2, 1, 2}};
};
struct StevensonArce {
    static constexpr int kIndex = 5;
    static constexpr int S = 200;
    static constexpr Tap taps[] = {{0, 2, 32}, {1, -3, 12}, {1, -1, 26}, {1, 1, 30},  {1, 3, 16}, {2, -2, 12},
                                   {2, 0, 26}, {2, 2, 12},  {3, -3, 5},  {3, -1, 12}, {3, 1, 12}, {3, 3, 5}};
};
constexpr int kKernels = 6;

// Error of a pixel whose diffused grey level is g.
constexpr int ErrorOf(int g)
{
    return g <= 128 ? g : g - 255;
}

// floor(e * w / S) = (e * magic) >> (16 + shift) for every error magnitude
// e in 0..128; shift 16 when no 16-bit multiplier does it.
struct Magic {
    int magic = 0;
    int shift = 16;
};

constexpr Magic FindMagic(int w, int S)
{
    for (int sh = 0; sh < 16; sh++) {
        const uint64_t den = uint64_t{1} << (16 + sh);
        const uint64_t m = (static_cast<uint64_t>(w) * den + static_cast<uint64_t>(S) - 1) / static_cast<uint64_t>(S);
        if (m > 0xFFFF)
            break;
        bool exact = true;
        for (uint64_t e = 0; e <= 128; e++)
            if (((e * m) >> (16 + sh)) != e * static_cast<uint64_t>(w) / static_cast<uint64_t>(S))
                exact = false;
        if (exact)
            return Magic{static_cast<int>(m), sh};
    }
    return Magic{};
}

// k when w * 2^k = S (0 <= k < 8), else -1: floor(e * w / S) is then e >> k.
constexpr int PowerShift(int w, int S)
{
    for (int k = 0; k < 8; k++)
        if (w > 0 && (w << k) == S)
            return k;
    return -1;
}

constexpr int kMaxWeights = 8;
constexpr int kMaxTapsPerRow = 8;

// What the diffusion needs to know about a kernel, worked out at compile
// time: the taps into the pixel's own row, the distinct weights of the taps
// below it, and per row below its taps in descending dx (the order in which
// ascending source columns reach one target byte).
template <class K> struct Shape {
    static constexpr int kTaps = static_cast<int>(sizeof(K::taps) / sizeof(Tap));

    static constexpr int OwnWeight(int dx)
    {
        for (const Tap &t : K::taps)
            if (t.dy == 0 && t.dx == dx)
                return t.w;
        return 0;
    }
    static constexpr int Radius()
    {
        int r = 0;
        for (const Tap &t : K::taps)
            r = t.dx > r ? t.dx : -t.dx > r ? -t.dx : r;
        return r;
    }
    static constexpr int Rows()
    {
        int m = 0;
        for (const Tap &t : K::taps)
            m = t.dy > m ? t.dy : m;
        return m;
    }
    static constexpr std::array<int, kMaxWeights> Weights()
    {
        std::array<int, kMaxWeights> ws{};
        int n = 0;
        for (const Tap &t : K::taps) {
            if (t.dy == 0)
                continue;
            bool seen = false;
            for (int i = 0; i < n; i++)
                seen = seen || ws[i] == t.w;
            if (!seen)
                ws[n++] = t.w;
        }
        return ws;
    }
    static constexpr int CountWeights()
    {
        int n = 0;
        for (int w : Weights())
            n += w != 0;
        return n;
    }
    static constexpr int WeightIndex(int w)
    {
        for (int i = 0; i < kMaxWeights; i++)
            if (Weights()[i] == w)
                return i;
        return -1;
    }
    // Taps of row dy below: {dx, weight index}, descending dx.
    static constexpr std::array<std::array<int, 2>, kMaxTapsPerRow> Below(int dy)
    {
        std::array<std::array<int, 2>, kMaxTapsPerRow> out{};
        int n = 0;
        for (int dx = 8; dx >= -8; dx--)
            for (const Tap &t : K::taps)
                if (t.dy == dy && t.dx == dx)
                    out[n++] = {dx, WeightIndex(t.w)};
        return out;
    }
    static constexpr int CountBelow(int dy)
    {
        int n = 0;
        for (const Tap &t : K::taps)
            n += t.dy == dy;
        return n;
    }

    // How the vector paths make the share magnitude of weight index i: from
    // |e| by a shift (w * 2^k = S), from a larger weight w * 2^j of the same
    // kernel by a shift (floor(floor(a) / 2^j) = floor(a / 2^j)), or by the
    // multiplier. A weight's source always has a larger weight, so descending
    // weight order computes sources first.
    static constexpr int Source(int i)
    {
        const std::array<int, kMaxWeights> ws = Weights();
        if (PowerShift(ws[i], K::S) >= 0)
            return -1;
        int best = -1;
        for (int j = 0; j < CountWeights(); j++)
            for (int k = 1; k < 8; k++)
                if ((ws[i] << k) == ws[j] && (best < 0 || ws[j] > ws[best]))
                    best = j;
        return best;
    }
    static constexpr int SourceShift(int i)
    {
        for (int k = 1; k < 8; k++)
            if (Source(i) >= 0 && (Weights()[i] << k) == Weights()[Source(i)])
                return k;
        return 0;
    }
    static constexpr int ByDescendingWeight(int p)
    { // p-th weight index
        const std::array<int, kMaxWeights> ws = Weights();
        int order[kMaxWeights] = {};
        for (int i = 0; i < CountWeights(); i++)
            order[i] = i;
        for (int i = 1; i < CountWeights(); i++)
            for (int j = i; j > 0 && ws[order[j - 1]] < ws[order[j]]; j--) {
                const int t = order[j];
                order[j] = order[j - 1];
                order[j - 1] = t;
            }
        return order[p];
    }

    // Does every weight, own row and below, have a 16-bit multiplier? The
    // vector paths need it; the six kernels have one.
    static constexpr bool AllMagic()
    {
        for (int i = 0; i < CountWeights(); i++)
            if (FindMagic(Weights()[i], K::S).shift >= 16)
                return false;
        return (!OwnWeight(1) || FindMagic(OwnWeight(1), K::S).shift < 16) &&
               (!OwnWeight(2) || FindMagic(OwnWeight(2), K::S).shift < 16);
    }
    static constexpr std::array<Magic, kMaxWeights> Magics()
    {
        std::array<Magic, kMaxWeights> m{};
        for (int i = 0; i < CountWeights(); i++)
            m[i] = FindMagic(Weights()[i], K::S);
        return m;
    }
    // Shares e * w / S by final level, of the own row's weight w and of the
    // weights below.
    static constexpr std::array<int, 256> OwnShares(int w)
    {
        std::array<int, 256> q{};
        for (int g = 0; g < 256; g++)
            q[g] = ErrorOf(g) * w / K::S;
        return q;
    }
    static constexpr std::array<std::array<int8_t, 256>, kMaxWeights> SharesBelow()
    {
        std::array<std::array<int8_t, 256>, kMaxWeights> q{};
        const std::array<int, kMaxWeights> ws = Weights();
        for (int i = 0; i < CountWeights(); i++)
            for (int g = 0; g < 256; g++)
                q[i][g] = static_cast<int8_t>(ErrorOf(g) * ws[i] / K::S);
        return q;
    }

    static constexpr int W1 = OwnWeight(1);
    static constexpr int W2 = OwnWeight(2);
    static constexpr int D0 = W2 ? 2 : 1; // look-ahead of the serial chain
    static constexpr int R = Radius();
    static constexpr int MaxDy = Rows();
    static constexpr int NW = CountWeights();
    static constexpr std::array<int, 256> kQ1 = OwnShares(W1);
    static constexpr std::array<int, 256> kQ2 = OwnShares(W2);
    static constexpr std::array<std::array<int8_t, 256>, kMaxWeights> kQw = SharesBelow();

    static_assert(W1 || W2, "a kernel pushes error to the right");
    static_assert(NW <= kMaxWeights, "too many distinct weights");
    static_assert(MaxDy <= 3, "at most three rows below");
    static_assert(CountBelow(1) <= kMaxTapsPerRow && CountBelow(2) <= kMaxTapsPerRow && CountBelow(3) <= kMaxTapsPerRow,
                  "too many taps in one row");
};

constexpr int kChunk = 64;                    // columns per chunk; a multiple of 32
constexpr int kLagChunks = 2;                 // how far each row trails the row above
constexpr int kSlots = 16;                    // rows in flight, one per SSE2 lane
constexpr int kPad = 48;                      // margin of the share window on both sides
constexpr int kWindow = 32 * kChunk;          // columns of a share window
constexpr int kShareLen = kWindow + 2 * kPad; // a multiple of 16

static_assert(kChunk % 32 == 0, "chunks hold whole 32-byte blocks");
static_assert(kChunk > 2 * 3 + 2, "chunks must be wider than every kernel");

// Bit order reversed within a byte: the leftmost column (vector lane 0, the
// lowest bit of a movemask) must become the most significant bit.
struct ReverseTable {
    uint8_t t[256] = {};
    constexpr ReverseTable()
    {
        for (int i = 0; i < 256; i++) {
            int r = 0;
            for (int b = 0; b < 8; b++)
                if (i & (1 << b))
                    r |= 0x80 >> b;
            t[i] = static_cast<uint8_t>(r);
        }
    }
};
inline constexpr ReverseTable kReverse{};

// ---------------------------------------------------------------------------
// A row in flight of the error diffusion.

struct RowRun {
    int y = 0;
    int done = 0;           // chunks completed
    uint8_t *src = nullptr; // grey row (the scalar path writes final levels back)
    uint8_t *out = nullptr; // one-bit result row
    int v0 = 0, v1 = 0;     // levels of the next two columns with own errors
    uint8_t *below[3] = {}; // rows dy = 1..3 below, null past the last row
    // Signed shares e * w / S per distinct weight for a window of kWindow
    // columns from `base`: column x at index kPad + x - base. When the row
    // reaches the window end it slides on, keeping the kPad columns before.
    // Every column a row reads there it has written first, except those
    // before the row start and past the row end, which hold 0.
    int base = 0;
    int8_t *share = nullptr; // kShareLen bytes per weight
};

// Weight 0's share of column x in the row's share window.
inline int8_t *ShareAt(RowRun &r, int x)
{
    return r.share + kPad + x - r.base;
}
inline const int8_t *ShareAt(const RowRun &r, int x)
{
    return r.share + kPad + x - r.base;
}

inline int ChunkEnd(int c, int w)
{
    const int e = (c + 1) * kChunk;
    return e < w ? e : w;
}

// The columns of the rows below that the shares of chunk c complete:
// [start - R, end - R), or to the row end for the last chunk. A chunk's
// shares reach R columns left of it; the window needs none right of it.
template <class K> inline void BelowSpan(int c, int w, int &lo, int &hi)
{
    constexpr int R = Shape<K>::R;
    lo = c * kChunk - R < 0 ? 0 : c * kChunk - R;
    hi = (c + 1) * kChunk >= w ? w : ChunkEnd(c, w) - R;
}

QF_ALWAYS_INLINE int Clamp(int v)
{
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

// The serial chain of the row's next chunk, plain scalar, final levels
// written back into the row; the look-ahead is guarded at the right edge.
template <class K> inline void SerialScalar(RowRun &r, int w)
{
    using Sh = Shape<K>;
    const int e = ChunkEnd(r.done, w);
    int v0 = r.v0, v1 = r.v1;
    for (int x = r.done * kChunk; x < e; x++) {
        const int g = v0;
        const int next = x + Sh::D0 < w ? r.src[x + Sh::D0] : 0;
        r.src[x] = static_cast<uint8_t>(g);
        if (Sh::D0 == 1) {
            v0 = Clamp(next + Sh::kQ1[g]);
        } else {
            v0 = Sh::W1 ? Clamp(v1 + Sh::kQ1[g]) : v1;
            v1 = Clamp(next + Sh::kQ2[g]);
        }
    }
    r.v0 = v0;
    r.v1 = v1;
}

// Result bits (white when the final level is above 128) and shares of the
// columns [x, e), from the final levels in the row.
template <class K> inline void SharesScalar(RowRun &r, int x, int e)
{
    using Sh = Shape<K>;
    for (; x < e; x++) {
        const int g = r.src[x];
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
        r.out[x >> 3] = static_cast<uint8_t>(g > 128 ? (r.out[x >> 3] | bit) : (r.out[x >> 3] & ~bit));
        for (int i = 0; i < Sh::NW; i++)
            ShareAt(r, x)[i * kShareLen] = Sh::kQw[i][g];
    }
}

// The shares added into columns [lo, hi) of row dy below.
template <class K, int Dy> inline void BelowScalar(RowRun &r, int lo, int hi)
{
    using Sh = Shape<K>;
    constexpr int nt = Sh::CountBelow(Dy);
    if (nt == 0 || !r.below[Dy - 1])
        return;
    constexpr auto taps = Sh::Below(Dy);
    uint8_t *dst = r.below[Dy - 1];
    for (int p = lo; p < hi; p++) {
        int v = dst[p];
        for (int i = 0; i < nt; i++)
            v = Clamp(v + ShareAt(r, p)[taps[i][1] * kShareLen - taps[i][0]]);
        dst[p] = static_cast<uint8_t>(v);
    }
}

// The columns from x of ThresholdRow (ximadither_isa.h), eight pixels per
// output byte, MSB leftmost; x is a multiple of 8.
inline void ThresholdFrom(const uint8_t *src, uint8_t *dst, uint32_t x, uint32_t w, uint8_t level)
{
    for (; x + 8 <= w; x += 8) {
        unsigned bits = 0;
        for (uint32_t i = 0; i < 8; i++)
            bits = (bits << 1) | static_cast<unsigned>(level < src[x + i]);
        dst[x >> 3] = static_cast<uint8_t>(bits);
    }
    if (x < w) {
        unsigned bits = 0;
        for (uint32_t i = 0; x + i < w; i++)
            bits |= static_cast<unsigned>(level < src[x + i]) << (7 - i);
        dst[x >> 3] = static_cast<uint8_t>(bits);
    }
}

// ---------------------------------------------------------------------------
// The code paths in use, filled from the instruction-set level. Each vector
// path works on whole chunks, rows or steps, never on single pixels, so
// that a call through the table costs nothing in the inner loops.

// One step of the error diffusion: the next chunk of each of n rows (top
// row first, each row at least kLagChunks behind the one above): its serial
// chain, result bits and shares, then the shares added into the rows below.
struct DiffusionStep {
    RowRun *const *rows;
    int n;
    int w; // row width
};

// Text and pictures inside grey areas, rows in vector lanes: the steps of
// one group of rows, lane j holding row j, two columns behind lane j - 1
// (lane j is at column s - 2 j at step s; columns from the group's first).
struct TextSteps {
    // [step][lane]: the level times 16, | 1 << 12 for an inner pixel, | 1 <<
    // 13 when the next column's is; 0 before and past the row.
    const int32_t *codes;
    uint32_t steps;
    uint32_t span; // columns; lane 0 takes the error from above at carry[s]
    // The errors from the row above the group (read by lane 0 at column s
    // in step s) and, in place, into the row after it: lane `last` leaves
    // its row's at column s - 2 last - 1.
    int32_t *carry;
    int last;
    // Per lane: 0xFF (white) or 0 at column s - 2 j in step s.
    uint8_t *const *whites;
};
constexpr int kMaxTextLanes = 8;

struct DitherPaths {
    // Per kernel (K::kIndex); never null.
    void (*diffuse[kKernels])(const DiffusionStep &);
    // Bits of a row's whole 16-column blocks, white where src[x] >
    // t[x % 16]; returns the first column left. Null: none.
    uint32_t (*blocksAbove)(const uint8_t *src, uint8_t *dst, const uint8_t *t, uint32_t w);
    // ThresholdRow; never null (Threshold makes one call per row, and the
    // narrowest rows have few blocks).
    void (*thresholdRow)(const uint8_t *src, uint8_t *dst, uint32_t w, uint8_t level);
    // Text and pictures: the inner flags (1 for a grey pixel without a pure
    // black or white 4-neighbour) of whole blocks from column 1 on, as far
    // as each block's right neighbour column exists; returns the first
    // column left. Null: none.
    uint32_t (*inner)(const uint8_t *up, const uint8_t *mid, const uint8_t *down, uint8_t *inner, uint32_t w);
    // Text and pictures: the bits, thresholds at mid-grey, of every whole
    // block of plainBlock columns that holds no inner pixel; the others are
    // left alone. Null (and plainBlock 0): none.
    void (*plainBits)(const uint8_t *src, const uint8_t *inner, uint8_t *dst, uint32_t w);
    uint32_t plainBlock;
    // Text and pictures: the grey areas of textLanes rows at once. Null
    // (and textLanes 0): one row at a time.
    void (*textSteps)(const TextSteps &);
    int textLanes;
};

#if defined(QF_DITHER_SSE2)
template <class K> struct DiffuseSse2 {
    static void Step(const DiffusionStep &s);
    // The serial chains of the step's rows at once, one row per byte lane:
    // the final levels of row j's chunk go to levels[j], 0 past the row end.
    static void Lanes(const DiffusionStep &s, uint8_t (*levels)[kChunk]);
};
uint32_t BlocksAboveSse2(const uint8_t *src, uint8_t *dst, const uint8_t *t, uint32_t w);
void ThresholdRowSse2(const uint8_t *src, uint8_t *dst, uint32_t w, uint8_t level);
uint32_t InnerSse2(const uint8_t *up, const uint8_t *mid, const uint8_t *down, uint8_t *inner, uint32_t w);
void PlainBitsSse2(const uint8_t *src, const uint8_t *inner, uint8_t *dst, uint32_t w);
void TextStepsSse2(const TextSteps &t); // four lanes
#endif

#if defined(QF_DITHER_AVX2)
// The SSE2 serial chains (16 rows fill one 16-byte register); bits, shares
// and the rows below 32 columns at a time.
template <class K> struct DiffuseAvx2 {
    QF_TARGET_AVX2 static void Step(const DiffusionStep &s);
};
QF_TARGET_AVX2 uint32_t InnerAvx2(const uint8_t *up, const uint8_t *mid, const uint8_t *down, uint8_t *inner,
                                  uint32_t w);
QF_TARGET_AVX2 void PlainBitsAvx2(const uint8_t *src, const uint8_t *inner, uint8_t *dst, uint32_t w);
QF_TARGET_AVX2 void TextStepsAvx2(const TextSteps &t); // eight lanes
#endif

#if defined(QF_DITHER_NEON)
// The serial chains of 16 rows in byte lanes; bits, shares and the rows
// below 16 columns at a time.
template <class K> struct DiffuseNeon {
    QF_TARGET_NEON static void Step(const DiffusionStep &s);
};
QF_TARGET_NEON uint32_t BlocksAboveNeon(const uint8_t *src, uint8_t *dst, const uint8_t *t, uint32_t w);
QF_TARGET_NEON void ThresholdRowNeon(const uint8_t *src, uint8_t *dst, uint32_t w, uint8_t level);
QF_TARGET_NEON uint32_t InnerNeon(const uint8_t *up, const uint8_t *mid, const uint8_t *down, uint8_t *inner,
                                  uint32_t w);
QF_TARGET_NEON void PlainBitsNeon(const uint8_t *src, const uint8_t *inner, uint8_t *dst, uint32_t w);
QF_TARGET_NEON void TextStepsNeon(const TextSteps &t); // four lanes
#endif

} // namespace qf_image_detail

#endif // QF_XIMADITHER_KERNELS_H
