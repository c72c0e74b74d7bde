// CxImage::Dither: grey to one bit (palette 0 black, 1 white; a 1 bit is
// white) by six error-diffusion kernels, four ordered matrices and one
// method for text and barcodes with pictures.
//
// Error diffusion keeps the exact arithmetic of the plain scan: rows from
// the first stored row on, columns left to right, g <= 128 black with error
// g, else white with error g - 255, and each neighbour becoming
// clamp(level + e * w / S) (product, then division truncating toward zero,
// then clamping to 0..255) in the grey source itself. Only the order of
// independent byte updates changes, never the sequence of updates that one
// byte sees:
//
//  * A row's errors into its own row (dy = 0) run serially, column by
//    column. Sixteen rows do so at once, one per byte lane of an SSE2
//    register, on a transposed copy of their current chunks; the row's own
//    final levels stay there and are not written back.
//  * Errors into the rows below are applied chunk by chunk, 16 or 32
//    columns at a time, as signed saturating byte adds on levels offset by
//    -128, clamp(v + q, 0, 255) being exactly that: for one target byte the
//    shares of one source row arrive in ascending source column, each
//    clamped, exactly as in the plain scan.
//  * Rows form a pipeline: row y works on chunk c only after row y - 1 has
//    completed chunk c + 1 in an earlier step. A chunk's shares reach the
//    columns [start - R, end - R) below it (R the kernel radius), and the
//    last chunk's reach to the row end, so a target byte receives everything
//    from row y - 1 before anything from row y, and is read by its own row
//    only after both.
#include "ximage.h"
#include "ximadither_isa.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#if defined(__SSE2__) && !defined(QF_IMAGE_NO_SIMD)
#define QF_DITHER_SSE2 1
#include <emmintrin.h>
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// AVX2 code is compiled per function and chosen at run time.
#define QF_DITHER_AVX2 1
#include <immintrin.h>
#define QF_TARGET_AVX2 __attribute__((target("avx2")))
#endif
#endif

// NEON: always there on aarch64; on 32-bit ARM either the build targets it
// (-mfpu=neon) or its code is compiled per function and chosen at run time.
#if !defined(QF_IMAGE_NO_SIMD) && (defined(__aarch64__) || (defined(__arm__) && defined(__ARM_NEON)))
#define QF_DITHER_NEON 1
#include <arm_neon.h>
#define QF_TARGET_NEON
#elif !defined(QF_IMAGE_NO_SIMD) && defined(__arm__) && defined(__GNUC__) && !defined(__clang__) &&                    \
    defined(__ARM_PCS_VFP) && defined(__linux__)
#define QF_DITHER_NEON      1
#define QF_NEON_AT_RUN_TIME 1
#pragma GCC push_options
#pragma GCC target("fpu=neon")
#include <arm_neon.h>
#pragma GCC pop_options
#include <sys/auxv.h>
#define QF_TARGET_NEON __attribute__((target("fpu=neon")))
#endif

#if defined(__GNUC__)
#define QF_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define QF_ALWAYS_INLINE inline
#endif

namespace {

int SupportedIsa()
{
#if defined(QF_DITHER_AVX2)
    __builtin_cpu_init(); // may run before the compiler's own initialiser
    if (__builtin_cpu_supports("avx2"))
        return qf_image_detail::kDitherAvx2;
#endif
#if defined(QF_DITHER_SSE2)
    return qf_image_detail::kDitherSse2;
#elif defined(QF_NEON_AT_RUN_TIME)
    return getauxval(AT_HWCAP) & HWCAP_ARM_NEON ? qf_image_detail::kDitherNeon : qf_image_detail::kDitherScalar;
#elif defined(QF_DITHER_NEON)
    return qf_image_detail::kDitherNeon;
#else
    return qf_image_detail::kDitherScalar;
#endif
}

// The level Dither uses (the process is single-threaded).
int g_isa = SupportedIsa();

// ---------------------------------------------------------------------------
// Error-diffusion kernels: dy rows down, dx columns right, weight w of S.

struct Tap {
    int dy, dx, w;
};

struct FloydSteinberg {
    static constexpr int S = 16;
    static constexpr Tap taps[] = {{0, 1, 7}, {1, -1, 3}, {1, 0, 5}, {1, 1, 1}};
};
struct Burkes {
    static constexpr int S = 32;
    static constexpr Tap taps[] = {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}};
};
struct Stucki {
    static constexpr int S = 42;
    static constexpr Tap taps[] = {{0, 1, 8}, {0, 2, 4},  {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4},
                                   {1, 2, 2}, {2, -2, 1}, {2, -1, 2}, {2, 0, 4},  {2, 1, 2}, {2, 2, 1}};
};
struct JarvisJudiceNinke {
    static constexpr int S = 48;
    static constexpr Tap taps[] = {{0, 1, 7}, {0, 2, 5},  {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5},
                                   {1, 2, 3}, {2, -2, 1}, {2, -1, 3}, {2, 0, 5},  {2, 1, 3}, {2, 2, 1}};
};
struct Sierra {
    static constexpr int S = 32;
    static constexpr Tap taps[] = {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5},
                                   {1, 1, 4}, {1, 2, 2}, {2, -1, 2}, {2, 0, 3},  {2, 1, 2}};
};
struct StevensonArce {
    static constexpr int S = 200;
    static constexpr Tap taps[] = {{0, 2, 32}, {1, -3, 12}, {1, -1, 26}, {1, 1, 30},  {1, 3, 16}, {2, -2, 12},
                                   {2, 0, 26}, {2, 2, 12},  {3, -3, 5},  {3, -1, 12}, {3, 1, 12}, {3, 3, 5}};
};

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

    static constexpr int W1 = OwnWeight(1);
    static constexpr int W2 = OwnWeight(2);
    static constexpr int D0 = W2 ? 2 : 1; // look-ahead of the serial chain
    static constexpr int R = Radius();
    static constexpr int MaxDy = Rows();
    static constexpr int NW = CountWeights();
    static constexpr Magic M1 = FindMagic(W1, K::S);
    static constexpr Magic M2 = FindMagic(W2, K::S);

    static_assert(W1 || W2, "a kernel pushes error to the right");
    static_assert(NW <= kMaxWeights, "too many distinct weights");
    static_assert(MaxDy <= 3, "at most three rows below");
    static_assert(CountBelow(1) <= kMaxTapsPerRow && CountBelow(2) <= kMaxTapsPerRow && CountBelow(3) <= kMaxTapsPerRow,
                  "too many taps in one row");
};

constexpr int kChunk = 64;                    // columns per chunk; a multiple of 16
constexpr int kLagChunks = 2;                 // how far each row trails the row above
constexpr int kSlots = 16;                    // rows in flight, one per SSE2 lane
constexpr int kPad = 48;                      // margin of the share window on both sides
constexpr int kWindow = 32 * kChunk;          // columns of a share window
constexpr int kShareLen = kWindow + 2 * kPad; // a multiple of 16

static_assert(kChunk % 16 == 0, "chunks hold whole 16-byte blocks");
static_assert(kChunk > 2 * 3 + 2, "chunks must be wider than every kernel");

// Bit order reversed within a byte: SSE lane 0 (the leftmost column) must
// become the most significant bit.
struct ReverseTable {
    uint8_t t[256];
    ReverseTable()
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
const ReverseTable kReverse;

#if defined(QF_DITHER_NEON)
// The bits of 16 columns from a lane mask (0xFF: white): the leftmost column
// becomes the most significant bit of dst[0]. Each lane keeps its own bit,
// and three rounds of pairwise sums gather 8 lanes into one byte.
QF_TARGET_NEON QF_ALWAYS_INLINE void StoreBitsNeon(uint8x16_t white, uint8_t *dst)
{
    static const uint8_t kBit[16] = {0x80, 0x40, 0x20, 0x10, 8, 4, 2, 1, 0x80, 0x40, 0x20, 0x10, 8, 4, 2, 1};
    const uint8x16_t b = vandq_u8(white, vld1q_u8(kBit));
    uint8x8_t s = vpadd_u8(vget_low_u8(b), vget_high_u8(b));
    s = vpadd_u8(s, s);
    s = vpadd_u8(s, s);
    dst[0] = vget_lane_u8(s, 0);
    dst[1] = vget_lane_u8(s, 1);
}

// Is every lane 0?
QF_TARGET_NEON QF_ALWAYS_INLINE bool AllZeroNeon(uint8x16_t v)
{
    const uint64x2_t q = vreinterpretq_u64_u8(v);
    return (vgetq_lane_u64(q, 0) | vgetq_lane_u64(q, 1)) == 0;
}
#endif

// Per-row working state of a row in flight.
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

template <class K> class Diffuser {
    using Sh = Shape<K>;

public:
    Diffuser(CxImage &grey, CxImage &out)
        : m_isa(g_isa), m_grey(grey), m_out(out), m_w(static_cast<int>(grey.GetWidth())),
          m_h(static_cast<int>(grey.GetHeight())), m_nChunks((m_w + kChunk - 1) / kChunk)
    {
        // Columns past the row end are only ever written with 0.
        std::memset(m_share, 0, sizeof(m_share));
        for (int i = 0; i < kSlots; i++)
            m_runs[i].share = m_share[i];
        for (int g = 0; g < 256; g++) {
            const int e = ErrorOf(g);
            m_q1[g] = e * Sh::W1 / K::S;
            m_q2[g] = e * Sh::W2 / K::S;
            for (int i = 0; i < Sh::NW; i++)
                m_qw[i][g] = static_cast<int8_t>(e * Sh::Weights()[i] / K::S);
        }
        for (int i = 0; i < Sh::NW; i++)
            m_magic[i] = FindMagic(Sh::Weights()[i], K::S);
    }

    void Run()
    {
        RowRun *active[kSlots];
        int n = 0;
        int next = 0;
        bool stop = false;
        for (;;) {
            if (!stop && next < m_h && n < kSlots && (n == 0 || active[n - 1]->done >= kLagChunks)) {
                RowRun &r = m_runs[static_cast<size_t>(next) % kSlots];
                if (StartRow(r, next)) {
                    active[n++] = &r;
                    next++;
                } else {
                    stop = true; // the rows already started still finish
                }
            }
            if (n == 0)
                return;

            // Who may advance, judged on the progress at the start of the step.
            RowRun *step[kSlots];
            int m = 0;
            for (int i = 0; i < n; i++)
                if (i == 0 || active[i - 1]->done >= active[i]->done + kLagChunks)
                    step[m++] = active[i];
            Serial(step, m);
            for (int j = 0; j < m; j++)
                Below(*step[j]);
            for (int j = 0; j < m; j++)
                step[j]->done++;

            // Rows finish in order.
            int finished = 0;
            while (finished < n && active[finished]->done == m_nChunks)
                finished++;
            for (int i = finished; i < n; i++)
                active[i - finished] = active[i];
            n -= finished;
        }
    }

private:
    int ChunkEnd(int c) const
    {
        const int e = (c + 1) * kChunk;
        return e < m_w ? e : m_w;
    }

    bool StartRow(RowRun &r, int y)
    {
        // Progress and escape at the start of each row, as the plain scan does.
        m_grey.SetProgress(static_cast<int32_t>(int64_t{100} * y / m_h));
        if (m_grey.GetEscape())
            return false;
        r.y = y;
        r.done = 0;
        r.src = m_grey.GetBits(static_cast<uint32_t>(y));
        r.out = m_out.GetBits(static_cast<uint32_t>(y));
        r.v0 = r.src[0];
        r.v1 = m_w > 1 ? r.src[1] : 0;
        r.base = 0;
        for (int i = 0; i < Sh::NW; i++)
            std::memset(r.share + i * kShareLen, 0, kPad);
        for (int d = 0; d < 3; d++)
            r.below[d] = d < Sh::MaxDy && y + d + 1 < m_h ? m_grey.GetBits(static_cast<uint32_t>(y + d + 1)) : nullptr;
        return true;
    }

    // Weight 0's share of column x in the row's share window.
    static int8_t *ShareAt(RowRun &r, int x) { return r.share + kPad + x - r.base; }
    static const int8_t *ShareAt(const RowRun &r, int x) { return r.share + kPad + x - r.base; }

    // Before a chunk that starts past the window: the window moves on by its
    // width, keeping the kPad columns before its new start (the rows below
    // still need them); the rest is cleared, so that what lies past the row
    // end reads 0.
    void SlideShares(RowRun &r) const
    {
        if (r.done * kChunk < r.base + kWindow)
            return;
        r.base += kWindow;
        // Past the row end: what the last chunk's window may read there.
        const int end = m_w - r.base;
        for (int i = 0; i < Sh::NW; i++) {
            int8_t *w = r.share + i * kShareLen;
            std::memcpy(w, w + kWindow, kPad);
            if (end < kWindow)
                std::memset(w + kPad + end, 0, kPad);
        }
    }

    // --- serial part --------------------------------------------------------

    static QF_ALWAYS_INLINE int Clamp(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

    // Chunk c of one row, plain scalar; the look-ahead is guarded at the
    // right edge.
    void SerialOne(RowRun &r, int c)
    {
        const int e = ChunkEnd(c);
        int v0 = r.v0, v1 = r.v1;
        for (int x = c * kChunk; x < e; x++) {
            const int g = v0;
            const int next = x + Sh::D0 < m_w ? r.src[x + Sh::D0] : 0;
            r.src[x] = static_cast<uint8_t>(g);
            if (Sh::D0 == 1) {
                v0 = Clamp(next + m_q1[g]);
            } else {
                v0 = Sh::W1 ? Clamp(v1 + m_q1[g]) : v1;
                v1 = Clamp(next + m_q2[g]);
            }
        }
        r.v0 = v0;
        r.v1 = v1;
    }

    // The serial passes of the rows' next chunks, with their result bits and
    // shares.
    void Serial(RowRun *const *rows, int n)
    {
        for (int j = 0; j < n; j++)
            SlideShares(*rows[j]);
#if defined(QF_DITHER_SSE2)
        if (m_isa >= qf_image_detail::kDitherSse2 && (!Sh::W1 || Sh::M1.shift < 16) && (!Sh::W2 || Sh::M2.shift < 16)) {
            if (n)
                SerialLanes(rows, n);
            if (!SharesMagicOk())
                for (int j = 0; j < n; j++)
                    Shares(*rows[j]);
            return;
        }
#endif
        for (int j = 0; j < n; j++) {
            SerialOne(*rows[j], rows[j]->done);
            Shares(*rows[j]);
        }
    }

#if defined(QF_DITHER_SSE2)
    // 16 x 16 bytes: byte j of v[i] becomes byte i of v[j].
    static QF_ALWAYS_INLINE void Transpose16(__m128i *v)
    {
        __m128i t[16];
#pragma GCC unroll 8
        for (int i = 0; i < 8; i++) {
            t[i] = _mm_unpacklo_epi8(v[2 * i], v[2 * i + 1]);
            t[i + 8] = _mm_unpackhi_epi8(v[2 * i], v[2 * i + 1]);
        }
#pragma GCC unroll 8
        for (int i = 0; i < 8; i++) {
            v[i] = _mm_unpacklo_epi16(t[2 * i], t[2 * i + 1]);
            v[i + 8] = _mm_unpackhi_epi16(t[2 * i], t[2 * i + 1]);
        }
#pragma GCC unroll 8
        for (int i = 0; i < 8; i++) {
            t[i] = _mm_unpacklo_epi32(v[2 * i], v[2 * i + 1]);
            t[i + 8] = _mm_unpackhi_epi32(v[2 * i], v[2 * i + 1]);
        }
#pragma GCC unroll 8
        for (int i = 0; i < 8; i++) {
            v[i] = _mm_unpacklo_epi64(t[2 * i], t[2 * i + 1]);
            v[i + 8] = _mm_unpackhi_epi64(t[2 * i], t[2 * i + 1]);
        }
        // Four interleaving rounds leave column i at the index with the bits of
        // i reversed.
#pragma GCC unroll 16
        for (int i = 0; i < 16; i++)
            t[i] = v[i];
#pragma GCC unroll 16
        for (int i = 0; i < 16; i++)
            v[i] = t[((i & 1) << 3) | ((i & 2) << 1) | ((i & 4) >> 1) | ((i & 8) >> 3)];
    }

    // Signed share e * w / S of 16 lanes from |e| (0..128) and the white mask
    // (-1 where e < 0). A weight of S / 2^k is a plain shift; others go
    // through 16-bit lanes and the multiplier.
    template <int W> static QF_ALWAYS_INLINE __m128i LaneShare(__m128i mag, __m128i white)
    {
        constexpr Magic m = FindMagic(W, K::S);
        constexpr int k = PowerShift(W, K::S);
        __m128i q;
        if constexpr (k >= 0) {
            q = _mm_and_si128(_mm_srli_epi16(mag, k), _mm_set1_epi8(static_cast<char>(0xFF >> k)));
        } else {
            const __m128i zero = _mm_setzero_si128();
            const __m128i mul = _mm_set1_epi16(static_cast<short>(m.magic));
            q = _mm_packus_epi16(_mm_srli_epi16(_mm_mulhi_epu16(_mm_unpacklo_epi8(mag, zero), mul), m.shift),
                                 _mm_srli_epi16(_mm_mulhi_epu16(_mm_unpackhi_epi8(mag, zero), mul), m.shift));
        }
        return _mm_sub_epi8(_mm_xor_si128(q, white), white); // -q for white
    }

    // One column of the serial chains of 16 rows, one per byte lane, levels
    // offset by -128 into int8 so that clamp(v + q, 0, 255) is one signed
    // saturating add. `next` holds the (offset) levels of column + D0 before
    // the rows' own errors; returns the (offset) final levels.
    static QF_ALWAYS_INLINE __m128i LaneStep(__m128i &v0, __m128i &v1, __m128i next)
    {
        const __m128i g = v0;
        const __m128i white = _mm_cmpgt_epi8(g, _mm_setzero_si128()); // level > 128
        // |e|: level for black, 255 - level for white, i.e. (g ^ white) + 128
        const __m128i mag = _mm_add_epi8(_mm_xor_si128(g, white), _mm_set1_epi8(static_cast<char>(0x80)));
        if (Sh::D0 == 1) {
            v0 = _mm_adds_epi8(next, LaneShare<Sh::W1>(mag, white));
        } else {
            v0 = Sh::W1 ? _mm_adds_epi8(v1, LaneShare<Sh::W1>(mag, white)) : v1;
            v1 = _mm_adds_epi8(next, LaneShare<Sh::W2>(mag, white));
        }
        return g;
    }

    // Up to 16 rows, row j in lane j. Their chunks (and the D0 columns after
    // them) are transposed, so one load brings a column of all the rows, and
    // the final levels transposed back into the rows. A chunk that reaches the
    // row end is worked on in a zero-padded copy; what lies past the row end
    // is never written back.
    void SerialLanes(RowRun *const *rr, int n)
    {
        alignas(16) uint8_t in[kChunk + 16][16];
        alignas(16) uint8_t fin[kChunk][16];
        alignas(16) uint8_t st0[16] = {}, st1[16] = {};
        static const uint8_t kZeros[kChunk + 16] = {};
        uint8_t edge[kChunk + 16];
        const uint8_t *src[16];
        int len[16]; // columns of the chunk inside the row
        for (int j = 0; j < 16; j++) {
            src[j] = kZeros;
            len[j] = 0;
            if (j >= n)
                continue;
            const int s = rr[j]->done * kChunk;
            src[j] = rr[j]->src + s;
            len[j] = m_w - s < kChunk ? m_w - s : kChunk;
            if (s + kChunk + Sh::D0 > m_w) { // at most one row per step is here
                std::memset(edge, 0, sizeof(edge));
                std::memcpy(edge, src[j], static_cast<size_t>(m_w - s));
                src[j] = edge;
            }
            st0[j] = static_cast<uint8_t>(rr[j]->v0);
            st1[j] = static_cast<uint8_t>(rr[j]->v1);
        }
        for (int k = 0; k < kChunk; k += 16) {
            __m128i v[16];
#pragma GCC unroll 16
            for (int j = 0; j < 16; j++)
                v[j] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src[j] + k));
            Transpose16(v);
#pragma GCC unroll 16
            for (int i = 0; i < 16; i++)
                _mm_store_si128(reinterpret_cast<__m128i *>(in[k + i]), v[i]);
        }
        for (int k = kChunk; k < kChunk + Sh::D0; k++)
            for (int j = 0; j < 16; j++)
                in[k][j] = src[j][k];

        const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
        __m128i v0 = _mm_xor_si128(_mm_load_si128(reinterpret_cast<const __m128i *>(st0)), flip);
        __m128i v1 = _mm_xor_si128(_mm_load_si128(reinterpret_cast<const __m128i *>(st1)), flip);
        for (int k = 0; k < kChunk; k++) {
            const __m128i nx = _mm_xor_si128(_mm_load_si128(reinterpret_cast<const __m128i *>(in[k + Sh::D0])), flip);
            _mm_store_si128(reinterpret_cast<__m128i *>(fin[k]), _mm_xor_si128(LaneStep(v0, v1, nx), flip));
        }
        _mm_store_si128(reinterpret_cast<__m128i *>(st0), _mm_xor_si128(v0, flip));
        _mm_store_si128(reinterpret_cast<__m128i *>(st1), _mm_xor_si128(v1, flip));

        // Back to rows: 16 columns of a row per vector, level 0 (error 0) past
        // the row end. The final levels go straight to the share computation;
        // only the scalar one reads them back from the row.
        for (int k = 0; k < kChunk; k += 32) {
            __m128i v[2][16];
            for (int h = 0; h < 2; h++) {
#pragma GCC unroll 16
                for (int i = 0; i < 16; i++)
                    v[h][i] = _mm_load_si128(reinterpret_cast<const __m128i *>(fin[k + 16 * h + i]));
                Transpose16(v[h]);
            }
            for (int j = 0; j < n; j++) {
                if (k >= len[j])
                    continue;
                const int x = rr[j]->done * kChunk + k;
                for (int h = 0; h < 2; h++) {
                    const int inside = len[j] - k - 16 * h; // columns inside the row
                    if (inside < 16) {
                        alignas(16) uint8_t t[16] = {};
                        if (inside > 0) {
                            _mm_store_si128(reinterpret_cast<__m128i *>(t), v[h][j]);
                            std::memset(t + inside, 0, static_cast<size_t>(16 - inside));
                        }
                        v[h][j] = _mm_load_si128(reinterpret_cast<const __m128i *>(t));
                    }
                }
                if (!SharesMagicOk()) {
                    alignas(16) uint8_t t[32];
                    _mm_store_si128(reinterpret_cast<__m128i *>(t), v[0][j]);
                    _mm_store_si128(reinterpret_cast<__m128i *>(t + 16), v[1][j]);
                    std::memcpy(rr[j]->src + x, t, static_cast<size_t>(len[j] - k < 32 ? len[j] - k : 32));
                    continue;
                }
#if defined(QF_DITHER_AVX2)
                if (m_isa >= qf_image_detail::kDitherAvx2) {
                    SharesOf256(*rr[j], x, v[0][j], v[1][j]);
                    continue;
                }
#endif
                SharesOf(*rr[j], x, v[0][j]);
                if (k + 16 < len[j])
                    SharesOf(*rr[j], x + 16, v[1][j]);
            }
        }
        for (int j = 0; j < n; j++) {
            rr[j]->v0 = st0[j];
            rr[j]->v1 = st1[j];
        }
    }
#endif

    // --- shares and the rows below ---------------------------------------------

    // For the chunk just finished: its result bits (white when the final level
    // is above 128) and its shares.
    void Shares(RowRun &r)
    {
        const int s = r.done * kChunk;
        const int e = ChunkEnd(r.done);
#if defined(QF_DITHER_SSE2)
        if (m_isa >= qf_image_detail::kDitherSse2 && SharesMagicOk()) {
            for (int x = s; x < e; x += 16)
                SharesBlock(r, x);
            return;
        }
#endif
        int x = s;
#if defined(QF_DITHER_NEON)
        if (m_isa >= qf_image_detail::kDitherNeon && SharesMagicOk())
            for (; x + 16 <= e; x += 16)
                SharesNeon(r, x);
#endif
        for (; x < e; x++) {
            const int g = r.src[x];
            const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
            r.out[x >> 3] = static_cast<uint8_t>(g > 128 ? (r.out[x >> 3] | bit) : (r.out[x >> 3] & ~bit));
            for (int i = 0; i < Sh::NW; i++)
                ShareAt(r, x)[i * kShareLen] = m_qw[i][g];
        }
    }

    // The shares of the chunk just finished added into the window of columns
    // [start - R, end - R) of the rows below, or to the row end for the last
    // chunk. The window needs no share right of the chunk.
    void Below(RowRun &r)
    {
        const int c = r.done;
        const int lo = c * kChunk - Sh::R < 0 ? 0 : c * kChunk - Sh::R;
        const int hi = c == m_nChunks - 1 ? m_w : ChunkEnd(c) - Sh::R;
#if defined(QF_DITHER_SSE2)
        if (m_isa >= qf_image_detail::kDitherSse2) {
            // The deepest row below is touched here first; fetch its next chunks
            // early, as the many interleaved rows defeat the hardware prefetcher.
            if (uint8_t *deep = r.below[Sh::MaxDy - 1]) {
                if (hi + 2 * kChunk < m_w) {
                    _mm_prefetch(reinterpret_cast<const char *>(deep + hi + kChunk), _MM_HINT_T0);
                    _mm_prefetch(reinterpret_cast<const char *>(deep + hi + 2 * kChunk - 1), _MM_HINT_T0);
                }
            }
#if defined(QF_DITHER_AVX2)
            if (m_isa >= qf_image_detail::kDitherAvx2)
                return Below256(r, lo, hi);
#endif
            for (int p = lo; p < hi; p += 16)
                BelowBlock(r, p, hi - p < 16 ? hi - p : 16);
            return;
        }
#endif
#if defined(QF_DITHER_NEON)
        if (m_isa >= qf_image_detail::kDitherNeon) {
            BelowScalar<1>(r, BelowNeon<1>(r, lo, hi), hi);
            BelowScalar<2>(r, BelowNeon<2>(r, lo, hi), hi);
            BelowScalar<3>(r, BelowNeon<3>(r, lo, hi), hi);
            return;
        }
#endif
        BelowScalar<1>(r, lo, hi);
        BelowScalar<2>(r, lo, hi);
        BelowScalar<3>(r, lo, hi);
    }

    template <int Dy> void BelowScalar(RowRun &r, int lo, int hi)
    {
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

    // Does every weight below have a 16-bit multiplier?
    static constexpr bool SharesMagicOk()
    {
        for (int i = 0; i < Sh::NW; i++)
            if (FindMagic(Sh::Weights()[i], K::S).shift >= 16)
                return false;
        return true;
    }

#if defined(QF_DITHER_NEON)
    // Bits and shares of the 16 columns from x (a multiple of 16), all inside
    // the row: |e| times each weight's multiplier in 32-bit lanes.
    QF_TARGET_NEON void SharesNeon(RowRun &r, int x)
    {
        const uint8x16_t g = vld1q_u8(r.src + x);
        const uint8x16_t white = vcgtq_u8(g, vdupq_n_u8(128));
        StoreBitsNeon(white, r.out + (x >> 3));
        const uint8x16_t mag = vbslq_u8(white, vsubq_u8(vdupq_n_u8(255), g), g);
        const uint16x8_t lo = vmovl_u8(vget_low_u8(mag)), hi = vmovl_u8(vget_high_u8(mag));
        for (int i = 0; i < Sh::NW; i++) {
            const Magic m = m_magic[i];
            const uint16x4_t mul = vdup_n_u16(static_cast<uint16_t>(m.magic));
            const int32x4_t sh = vdupq_n_s32(-(16 + m.shift));
            const uint16x8_t qlo = vcombine_u16(vmovn_u32(vshlq_u32(vmull_u16(vget_low_u16(lo), mul), sh)),
                                                vmovn_u32(vshlq_u32(vmull_u16(vget_high_u16(lo), mul), sh)));
            const uint16x8_t qhi = vcombine_u16(vmovn_u32(vshlq_u32(vmull_u16(vget_low_u16(hi), mul), sh)),
                                                vmovn_u32(vshlq_u32(vmull_u16(vget_high_u16(hi), mul), sh)));
            const uint8x16_t q = vcombine_u8(vmovn_u16(qlo), vmovn_u16(qhi));
            // white lanes negated: (q ^ -1) - (-1) = -q
            vst1q_s8(ShareAt(r, x) + i * kShareLen, vreinterpretq_s8_u8(vsubq_u8(veorq_u8(q, white), white)));
        }
    }

    // The rows below, 16 columns at a time: levels offset by -128 into int8
    // take each share as a signed saturating add, clamp(v + q, 0, 255)
    // exactly. Returns the first column left for the scalar loop.
    template <int Dy> QF_TARGET_NEON int BelowNeon(RowRun &r, int lo, int hi)
    {
        constexpr int nt = Sh::CountBelow(Dy);
        uint8_t *dst = r.below[Dy - 1];
        if (nt == 0 || !dst)
            return hi;
        constexpr auto taps = Sh::Below(Dy);
        const uint8x16_t flip = vdupq_n_u8(0x80);
        int p = lo;
        for (; p + 16 <= hi; p += 16) {
            int8x16_t v = vreinterpretq_s8_u8(veorq_u8(vld1q_u8(dst + p), flip));
            const int8_t *sh = ShareAt(r, p);
            for (int i = 0; i < nt; i++)
                v = vqaddq_s8(v, vld1q_s8(sh + taps[i][1] * kShareLen - taps[i][0]));
            vst1q_u8(dst + p, veorq_u8(vreinterpretq_u8_s8(v), flip));
        }
        return p;
    }
#endif

#if defined(QF_DITHER_SSE2)

    // How the share magnitude of weight index i is made: from |e| by a shift
    // (w * 2^k = S), from a larger weight w * 2^j of the same kernel by a
    // shift (floor(floor(a) / 2^j) = floor(a / 2^j)), or by the multiplier.
    // A weight's source always has a larger weight, so descending weight
    // order computes sources first.
    static constexpr int Source(int i)
    {
        const int w = Sh::Weights()[i];
        if (PowerShift(w, K::S) >= 0)
            return -1;
        int best = -1;
        for (int j = 0; j < Sh::NW; j++)
            for (int k = 1; k < 8; k++)
                if ((w << k) == Sh::Weights()[j] && (best < 0 || Sh::Weights()[j] > Sh::Weights()[best]))
                    best = j;
        return best;
    }
    static constexpr int SourceShift(int i)
    {
        for (int k = 1; k < 8; k++)
            if (Source(i) >= 0 && (Sh::Weights()[i] << k) == Sh::Weights()[Source(i)])
                return k;
        return 0;
    }
    static constexpr int ByDescendingWeight(int p)
    { // p-th weight index
        int order[kMaxWeights] = {};
        for (int i = 0; i < Sh::NW; i++)
            order[i] = i;
        for (int i = 1; i < Sh::NW; i++)
            for (int j = i; j > 0 && Sh::Weights()[order[j - 1]] < Sh::Weights()[order[j]]; j--) {
                const int t = order[j];
                order[j] = order[j - 1];
                order[j - 1] = t;
            }
        return order[p];
    }

    static QF_ALWAYS_INLINE __m128i ShiftBytes(__m128i v, int k)
    {
        return _mm_and_si128(_mm_srl_epi16(v, _mm_cvtsi32_si128(k)), _mm_set1_epi8(static_cast<char>(0xFF >> k)));
    }

    // The shares of weight positions P.. in descending weight order; q[i]
    // holds the magnitudes already made.
    template <int P>
    QF_ALWAYS_INLINE void StoreShares(RowRun &r, int x, __m128i mag, __m128i mlo, __m128i mhi, __m128i white,
                                      __m128i *q)
    {
        if constexpr (P < Sh::NW) {
            constexpr int i = ByDescendingWeight(P);
            constexpr int w = Sh::Weights()[i];
            constexpr int k = PowerShift(w, K::S);
            constexpr int src = Source(i);
            if constexpr (k >= 0) {
                q[i] = ShiftBytes(mag, k);
            } else if constexpr (src >= 0) {
                q[i] = ShiftBytes(q[src], SourceShift(i));
            } else {
                constexpr Magic m = FindMagic(w, K::S);
                const __m128i mul = _mm_set1_epi16(static_cast<short>(m.magic));
                q[i] = _mm_packus_epi16(_mm_srli_epi16(_mm_mulhi_epu16(mlo, mul), m.shift),
                                        _mm_srli_epi16(_mm_mulhi_epu16(mhi, mul), m.shift));
            }
            // white lanes negated: (q ^ -1) - (-1) = -q
            _mm_storeu_si128(reinterpret_cast<__m128i *>(ShareAt(r, x) + i * kShareLen),
                             _mm_sub_epi8(_mm_xor_si128(q[i], white), white));
            StoreShares<P + 1>(r, x, mag, mlo, mhi, white, q);
        }
    }

    // Bits and shares of the 16 columns from x (levels past the width read as
    // 0: black, error 0, so padding bits and the share margin stay 0).
    QF_ALWAYS_INLINE void SharesBlock(RowRun &r, int x)
    {
        alignas(16) uint8_t tail[16];
        const uint8_t *gp = r.src + x;
        if (x + 16 > m_w) {
            std::memset(tail, 0, sizeof(tail));
            std::memcpy(tail, gp, static_cast<size_t>(m_w - x));
            gp = tail;
        }
        SharesOf(r, x, _mm_loadu_si128(reinterpret_cast<const __m128i *>(gp)));
    }

    // Bits and shares of the final levels g of the 16 columns from x.
    QF_ALWAYS_INLINE void SharesOf(RowRun &r, int x, __m128i g)
    {
        const __m128i k255 = _mm_set1_epi8(static_cast<char>(255));
        const __m128i black = _mm_cmpeq_epi8(_mm_min_epu8(g, _mm_set1_epi8(static_cast<char>(128))), g);
        const __m128i white = _mm_xor_si128(black, k255);
        const int bits = _mm_movemask_epi8(white); // bit i = column x + i
        r.out[x >> 3] = kReverse.t[bits & 0xFF];
        r.out[(x >> 3) + 1] = kReverse.t[(bits >> 8) & 0xFF];
        const __m128i mag = _mm_or_si128(_mm_and_si128(black, g), _mm_and_si128(white, _mm_sub_epi8(k255, g)));
        const __m128i zero = _mm_setzero_si128();
        __m128i q[kMaxWeights];
        StoreShares<0>(r, x, mag, _mm_unpacklo_epi8(mag, zero), _mm_unpackhi_epi8(mag, zero), white, q);
    }

    template <int Dy> QF_ALWAYS_INLINE void BelowRow(const RowRun &r, int p, int n)
    {
        constexpr int nt = Sh::CountBelow(Dy);
        if constexpr (nt > 0) {
            uint8_t *dst = r.below[Dy - 1];
            if (!dst)
                return;
            constexpr auto taps = Sh::Below(Dy);
            const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
            alignas(16) uint8_t tail[16];
            uint8_t *d = dst + p;
            if (n < 16) {
                std::memcpy(tail, d, static_cast<size_t>(n));
                d = tail;
            }
            __m128i v = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(d)), flip);
            const int8_t *sh = ShareAt(r, p);
#pragma GCC unroll 8
            for (int i = 0; i < nt; i++)
                v = _mm_adds_epi8(
                    v, _mm_loadu_si128(reinterpret_cast<const __m128i *>(sh + taps[i][1] * kShareLen - taps[i][0])));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d), _mm_xor_si128(v, flip));
            if (n < 16)
                std::memcpy(dst + p, tail, static_cast<size_t>(n));
        }
    }

    // The shares added into n <= 16 columns from p of every row below. With
    // levels offset by -128 into int8, clamp(v + q, 0, 255) is exactly the
    // signed saturating add. Lanes past n read shares inside the zero margin
    // and are dropped.
    QF_ALWAYS_INLINE void BelowBlock(const RowRun &r, int p, int n)
    {
        BelowRow<1>(r, p, n);
        BelowRow<2>(r, p, n);
        BelowRow<3>(r, p, n);
    }
#endif

#if defined(QF_DITHER_AVX2)
    static QF_TARGET_AVX2 QF_ALWAYS_INLINE __m256i ShiftBytes256(__m256i v, int k)
    {
        return _mm256_and_si256(_mm256_srl_epi16(v, _mm_cvtsi32_si128(k)),
                                _mm256_set1_epi8(static_cast<char>(0xFF >> k)));
    }

    template <int P>
    QF_TARGET_AVX2 QF_ALWAYS_INLINE void StoreShares256(int8_t *base, __m256i mag, __m256i mlo, __m256i mhi,
                                                        __m256i white, __m256i *q)
    {
        if constexpr (P < Sh::NW) {
            constexpr int i = ByDescendingWeight(P);
            constexpr int w = Sh::Weights()[i];
            constexpr int k = PowerShift(w, K::S);
            constexpr int src = Source(i);
            if constexpr (k >= 0) {
                q[i] = ShiftBytes256(mag, k);
            } else if constexpr (src >= 0) {
                q[i] = ShiftBytes256(q[src], SourceShift(i));
            } else {
                constexpr Magic m = FindMagic(w, K::S);
                const __m256i mul = _mm256_set1_epi16(static_cast<short>(m.magic));
                // unpack and pack both work within 128-bit halves, so the column
                // order comes back as it was
                q[i] = _mm256_packus_epi16(_mm256_srli_epi16(_mm256_mulhi_epu16(mlo, mul), m.shift),
                                           _mm256_srli_epi16(_mm256_mulhi_epu16(mhi, mul), m.shift));
            }
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(base + i * kShareLen),
                                _mm256_sub_epi8(_mm256_xor_si256(q[i], white), white));
            StoreShares256<P + 1>(base, mag, mlo, mhi, white, q);
        }
    }

    // SharesOf for the 32 columns from x, final levels lo (x..x+15) and hi.
    QF_TARGET_AVX2 void SharesOf256(RowRun &r, int x, __m128i lo, __m128i hi)
    {
        const __m256i g = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
        const __m256i k255 = _mm256_set1_epi8(static_cast<char>(255));
        const __m256i black = _mm256_cmpeq_epi8(_mm256_min_epu8(g, _mm256_set1_epi8(static_cast<char>(128))), g);
        const __m256i white = _mm256_xor_si256(black, k255);
        const uint32_t bits = static_cast<uint32_t>(_mm256_movemask_epi8(white));
        uint8_t *out = r.out + (x >> 3);
        out[0] = kReverse.t[bits & 0xFF];
        out[1] = kReverse.t[(bits >> 8) & 0xFF];
        out[2] = kReverse.t[(bits >> 16) & 0xFF];
        out[3] = kReverse.t[bits >> 24];
        const __m256i mag =
            _mm256_or_si256(_mm256_and_si256(black, g), _mm256_and_si256(white, _mm256_sub_epi8(k255, g)));
        const __m256i zero = _mm256_setzero_si256();
        __m256i q[kMaxWeights];
        StoreShares256<0>(ShareAt(r, x), mag, _mm256_unpacklo_epi8(mag, zero), _mm256_unpackhi_epi8(mag, zero), white,
                          q);
    }

    template <int Dy> QF_TARGET_AVX2 QF_ALWAYS_INLINE void BelowRow256(const RowRun &r, int p, int n)
    {
        constexpr int nt = Sh::CountBelow(Dy);
        if constexpr (nt > 0) {
            uint8_t *dst = r.below[Dy - 1];
            if (!dst)
                return;
            constexpr auto taps = Sh::Below(Dy);
            const __m256i flip = _mm256_set1_epi8(static_cast<char>(0x80));
            alignas(32) uint8_t tail[32];
            uint8_t *d = dst + p;
            if (n < 32) {
                std::memcpy(tail, d, static_cast<size_t>(n));
                d = tail;
            }
            __m256i v = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(d)), flip);
            const int8_t *sh = ShareAt(r, p);
#pragma GCC unroll 8
            for (int i = 0; i < nt; i++)
                v = _mm256_adds_epi8(
                    v, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(sh + taps[i][1] * kShareLen - taps[i][0])));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(d), _mm256_xor_si256(v, flip));
            if (n < 32)
                std::memcpy(dst + p, tail, static_cast<size_t>(n));
        }
    }

    // Below on 32 columns at a time.
    QF_TARGET_AVX2 void Below256(const RowRun &r, int lo, int hi)
    {
        for (int p = lo; p < hi; p += 32) {
            const int n = hi - p < 32 ? hi - p : 32;
            BelowRow256<1>(r, p, n);
            BelowRow256<2>(r, p, n);
            BelowRow256<3>(r, p, n);
        }
    }
#endif

    const int m_isa;
    CxImage &m_grey;
    CxImage &m_out;
    const int m_w, m_h, m_nChunks;
    int m_q1[256] = {}, m_q2[256] = {}; // own-row shares by level
    int8_t m_qw[kMaxWeights][256] = {}; // shares below by weight and level
    Magic m_magic[kMaxWeights];         // multipliers of the weights below
    RowRun m_runs[kSlots];
    alignas(32) int8_t m_share[kSlots][Sh::NW * kShareLen];
};

template <class K> void Diffuse(CxImage &grey, CxImage &out)
{
    Diffuser<K>(grey, out).Run();
}

// ---------------------------------------------------------------------------
// Ordered dithering. Each method's rule "white when ..." is monotone in the
// grey level g, so it equals g > T for the threshold T = (smallest white g)
// - 1, tabulated here per (x mod 16, y mod 16) from the rule itself.

constexpr uint8_t kM1[4][4] = { // [y mod 4][x mod 4]
    {0, 8, 2, 10},
    {12, 4, 14, 6},
    {3, 11, 1, 9},
    {15, 7, 13, 5}};

constexpr uint8_t kP8[8][8] = { // [x mod 8][y mod 8]
    {0, 32, 8, 40, 2, 34, 10, 42},    {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},   {63, 31, 55, 23, 61, 29, 53, 21}};

constexpr uint8_t kP16[16][16] = { // [x mod 16][y mod 16]
    {1, 235, 59, 219, 15, 231, 55, 215, 2, 232, 56, 216, 12, 228, 52, 212},
    {129, 65, 187, 123, 143, 79, 183, 119, 130, 66, 184, 120, 140, 76, 180, 116},
    {33, 193, 17, 251, 47, 207, 31, 247, 34, 194, 18, 248, 44, 204, 28, 244},
    {161, 97, 145, 81, 175, 111, 159, 95, 162, 98, 146, 82, 172, 108, 156, 92},
    {9, 225, 49, 209, 5, 239, 63, 223, 10, 226, 50, 210, 6, 236, 60, 220},
    {137, 73, 177, 113, 133, 69, 191, 127, 138, 74, 178, 114, 134, 70, 188, 124},
    {41, 201, 25, 241, 37, 197, 21, 255, 42, 202, 26, 242, 38, 198, 22, 252},
    {169, 105, 153, 89, 165, 101, 149, 85, 170, 106, 154, 90, 166, 102, 150, 86},
    {3, 233, 57, 217, 13, 229, 53, 213, 0, 234, 58, 218, 14, 230, 54, 214},
    {131, 67, 185, 121, 141, 77, 181, 117, 128, 64, 186, 122, 142, 78, 182, 118},
    {35, 195, 19, 249, 45, 205, 29, 245, 32, 192, 16, 250, 46, 206, 30, 246},
    {163, 99, 147, 83, 173, 109, 157, 93, 160, 96, 144, 80, 174, 110, 158, 94},
    {11, 227, 51, 211, 7, 237, 61, 221, 8, 224, 48, 208, 4, 238, 62, 222},
    {139, 75, 179, 115, 135, 71, 189, 125, 136, 72, 176, 112, 132, 68, 190, 126},
    {43, 203, 27, 243, 39, 199, 23, 253, 40, 200, 24, 240, 36, 196, 20, 254},
    {171, 107, 155, 91, 167, 103, 151, 87, 168, 104, 152, 88, 164, 100, 148, 84}};

// The order-4 Bayer table: 256 entries, of which 0..15 are used.
void MakeBayer(uint8_t *table)
{
    constexpr int kOrder = 4;
    for (int i = 0; i < (1 << (2 * kOrder)); i++) {
        int a = i / kOrder;
        int b = i % kOrder;
        int d = 0;
        for (int k = 0; k < kOrder; k++) {
            d = (((d * 2) + ((a ^ b) & 1)) * 2) + (b & 1);
            a >>= 1;
            b >>= 1;
        }
        table[i] = static_cast<uint8_t>(d & 255);
    }
}

// The rule of each ordered method: is grey level g white at (x, y)?
bool OrderedWhite(int method, const uint8_t *bayer, int g, int x, int y)
{
    switch (method) {
    case 1:
        return kM1[y % 4][x % 4] < g * 16 / 255;
    case 7: {
        constexpr int kShift = 0; // max(0, 2 * (4 - order)) for order 4
        return bayer[(x % 4) + 4 * (y % 4)] < (g >> kShift);
    }
    case 8: {
        const int level = g >> 2;
        return level != 0 && level >= kP8[x % 8][y % 8];
    }
    default:
        return g > kP16[x % 16][y % 16];
    }
}

#if defined(QF_DITHER_NEON)
// A row's columns 16 at a time, as far as whole blocks go, against the 16
// thresholds of its matrix row; returns the first column left.
QF_TARGET_NEON uint32_t OrderedNeon(const uint8_t *src, uint8_t *dst, const uint8_t *t, uint32_t w)
{
    const uint8x16_t tv = vld1q_u8(t);
    uint32_t x = 0;
    for (; x + 16 <= w; x += 16)
        StoreBitsNeon(vcgtq_u8(vld1q_u8(src + x), tv), dst + (x >> 3));
    return x;
}
#endif

void DitherOrdered(CxImage &grey, CxImage &out, int method)
{
    uint8_t bayer[256];
    MakeBayer(bayer);

    uint8_t thr[16][16]; // [y mod 16][x mod 16]
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) {
            int g = 0;
            while (g < 256 && !OrderedWhite(method, bayer, g, x, y))
                g++;
            // g = 0 is black everywhere; white (255) stays white everywhere,
            // also where the 16 x 16 matrix holds 255.
            thr[y][x] = static_cast<uint8_t>(g > 255 ? 254 : g - 1);
        }

    const uint32_t w = grey.GetWidth(), h = grey.GetHeight();
    for (uint32_t y = 0; y < h; y++) {
        grey.SetProgress(static_cast<int32_t>(uint64_t{100} * y / h));
        if (grey.GetEscape())
            break;
        const uint8_t *src = grey.GetBits(y);
        uint8_t *dst = out.GetBits(y);
        const uint8_t *t = thr[y % 16];
        uint32_t x = 0;
#if defined(QF_DITHER_SSE2)
        const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
        const __m128i tv = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(t)), flip);
        for (; g_isa >= qf_image_detail::kDitherSse2 && x + 16 <= w; x += 16) {
            const __m128i g = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + x)), flip);
            const int m = _mm_movemask_epi8(_mm_cmpgt_epi8(g, tv));
            dst[x >> 3] = kReverse.t[m & 0xFF];
            dst[(x >> 3) + 1] = kReverse.t[(m >> 8) & 0xFF];
        }
#endif
#if defined(QF_DITHER_NEON)
        if (g_isa >= qf_image_detail::kDitherNeon)
            x = OrderedNeon(src, dst, t, w);
#endif
        for (; x < w; x += 8) {
            unsigned bits = 0;
            for (uint32_t i = 0; i < 8; i++) {
                const bool white = x + i < w && src[x + i] > t[(x + i) % 16];
                bits = (bits << 1) | static_cast<unsigned>(white);
            }
            dst[x >> 3] = static_cast<uint8_t>(bits);
        }
    }
}

// ---------------------------------------------------------------------------
// Text and barcodes with pictures: pure black and pure white pass as they
// are; a grey pixel with a pure black or white 4-neighbour lies on an edge
// (anti-aliased text, bar edges) and is thresholded at mid-grey, so that an
// edge column comes out all black or all white instead of alternating dots;
// the rest, grey inside grey areas, is Floyd-Steinberg diffused. Errors go
// only from and to pixels of grey areas, never across an edge pixel, so a
// picture's tone is kept and nothing bleeds into text beside it.

bool Pure(uint8_t g)
{
    return g == 0 || g == 255;
}

// Does the grey pixel at x of row `mid` (rows above and below may be null)
// touch pure black or pure white?
bool OnEdge(const uint8_t *up, const uint8_t *mid, const uint8_t *down, uint32_t x, uint32_t w)
{
    return (x > 0 && Pure(mid[x - 1])) || (x + 1 < w && Pure(mid[x + 1])) || (up && Pure(up[x])) ||
           (down && Pure(down[x]));
}

// inner[x] for x in [from, to): 1 for a grey pixel inside a grey area.
void InnerScalar(const uint8_t *up, const uint8_t *mid, const uint8_t *down, uint8_t *inner, uint32_t from, uint32_t to,
                 uint32_t w)
{
    for (uint32_t x = from; x < to; x++)
        inner[x] = !Pure(mid[x]) && !OnEdge(up, mid, down, x, w);
}

// The vector pieces of the method: inner flags of whole blocks of columns
// from column 1 on, as far as every block's right neighbour column exists
// (returning the first column left over), and the bits of a block of
// columns of which none is inner, which are plain thresholds at mid-grey.
// Blocks start at multiples of their width, so their bits are whole bytes.
#if defined(QF_DITHER_SSE2)
QF_ALWAYS_INLINE __m128i PureMask(const uint8_t *p)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    return _mm_or_si128(_mm_cmpeq_epi8(v, _mm_setzero_si128()), _mm_cmpeq_epi8(v, _mm_set1_epi8(-1)));
}

uint32_t InnerSse2(const uint8_t *up, const uint8_t *mid, const uint8_t *down, uint8_t *inner, uint32_t w)
{
    const __m128i one = _mm_set1_epi8(1);
    uint32_t x = 1;
    for (; x + 16 < w; x += 16) {
        __m128i p = _mm_or_si128(PureMask(mid + x), _mm_or_si128(PureMask(mid + x - 1), PureMask(mid + x + 1)));
        if (up)
            p = _mm_or_si128(p, PureMask(up + x));
        if (down)
            p = _mm_or_si128(p, PureMask(down + x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(inner + x), _mm_andnot_si128(p, one));
    }
    return x;
}

// 16 columns.
bool PlainBlockSse2(const uint8_t *src, const uint8_t *inner, uint8_t *dst)
{
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i *>(inner));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(in, _mm_setzero_si128())) != 0xFFFF)
        return false;
    // g > 128 as a signed compare of g - 128 with 0
    const __m128i g = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src)), _mm_set1_epi8(-128));
    const int m = _mm_movemask_epi8(_mm_cmpgt_epi8(g, _mm_setzero_si128())); // bit i: column i
    dst[0] = kReverse.t[m & 0xFF];
    dst[1] = kReverse.t[(m >> 8) & 0xFF];
    return true;
}
#endif

#if defined(QF_DITHER_AVX2)
QF_TARGET_AVX2 QF_ALWAYS_INLINE __m256i PureMask256(const uint8_t *p)
{
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    return _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_setzero_si256()), _mm256_cmpeq_epi8(v, _mm256_set1_epi8(-1)));
}

QF_TARGET_AVX2 uint32_t InnerAvx2(const uint8_t *up, const uint8_t *mid, const uint8_t *down, uint8_t *inner,
                                  uint32_t w)
{
    const __m256i one = _mm256_set1_epi8(1);
    uint32_t x = 1;
    for (; x + 32 < w; x += 32) {
        __m256i p =
            _mm256_or_si256(PureMask256(mid + x), _mm256_or_si256(PureMask256(mid + x - 1), PureMask256(mid + x + 1)));
        if (up)
            p = _mm256_or_si256(p, PureMask256(up + x));
        if (down)
            p = _mm256_or_si256(p, PureMask256(down + x));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(inner + x), _mm256_andnot_si256(p, one));
    }
    return x;
}

// 32 columns.
QF_TARGET_AVX2 bool PlainBlockAvx2(const uint8_t *src, const uint8_t *inner, uint8_t *dst)
{
    const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(inner));
    if (!_mm256_testz_si256(in, in))
        return false;
    const __m256i g =
        _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(src)), _mm256_set1_epi8(-128));
    const uint32_t m = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(g, _mm256_setzero_si256())));
    dst[0] = kReverse.t[m & 0xFF];
    dst[1] = kReverse.t[(m >> 8) & 0xFF];
    dst[2] = kReverse.t[(m >> 16) & 0xFF];
    dst[3] = kReverse.t[m >> 24];
    return true;
}
#endif

#if defined(QF_DITHER_NEON)
QF_TARGET_NEON QF_ALWAYS_INLINE uint8x16_t PureMaskNeon(const uint8_t *p)
{
    const uint8x16_t v = vld1q_u8(p);
    return vorrq_u8(vceqq_u8(v, vdupq_n_u8(0)), vceqq_u8(v, vdupq_n_u8(255)));
}

QF_TARGET_NEON uint32_t InnerNeon(const uint8_t *up, const uint8_t *mid, const uint8_t *down, uint8_t *inner,
                                  uint32_t w)
{
    const uint8x16_t one = vdupq_n_u8(1);
    uint32_t x = 1;
    for (; x + 16 < w; x += 16) {
        uint8x16_t p = vorrq_u8(PureMaskNeon(mid + x), vorrq_u8(PureMaskNeon(mid + x - 1), PureMaskNeon(mid + x + 1)));
        if (up)
            p = vorrq_u8(p, PureMaskNeon(up + x));
        if (down)
            p = vorrq_u8(p, PureMaskNeon(down + x));
        vst1q_u8(inner + x, vbicq_u8(one, p));
    }
    return x;
}

// 16 columns.
QF_TARGET_NEON bool PlainBlockNeon(const uint8_t *src, const uint8_t *inner, uint8_t *dst)
{
    if (!AllZeroNeon(vld1q_u8(inner)))
        return false;
    StoreBitsNeon(vcgtq_u8(vld1q_u8(src), vdupq_n_u8(128)), dst);
    return true;
}
#endif

#if defined(QF_DITHER_NEON)
// Threshold: columns 16 at a time; returns the first column left.
QF_TARGET_NEON uint32_t ThresholdNeon(const uint8_t *src, uint8_t *dst, uint32_t w, uint8_t level)
{
    const uint8x16_t lv = vdupq_n_u8(level);
    uint32_t x = 0;
    for (; x + 16 <= w; x += 16)
        StoreBitsNeon(vcgtq_u8(vld1q_u8(src + x), lv), dst + (x >> 3));
    return x;
}
#endif

void DitherTextAndPictures(CxImage &grey, CxImage &out)
{
    const uint32_t w = grey.GetWidth(), h = grey.GetHeight();
    const int isa = g_isa;
    // Diffused error, times 16, of this row and the next; one spare column
    // on both sides takes the shares past the row ends.
    std::vector<int> errors(2 * (static_cast<size_t>(w) + 2), 0);
    int *cur = errors.data() + 1;
    int *next = cur + w + 2;
    std::vector<uint8_t> inner(w); // 1: grey pixel inside a grey area
    for (uint32_t y = 0; y < h; y++) {
        grey.SetProgress(static_cast<int32_t>(uint64_t{100} * y / h));
        if (grey.GetEscape())
            break;
        const uint8_t *src = grey.GetBits(y);
        const uint8_t *up = y > 0 ? grey.GetBits(y - 1) : nullptr;
        const uint8_t *down = y + 1 < h ? grey.GetBits(y + 1) : nullptr;
        uint8_t *dst = out.GetBits(y);
        std::memset(dst, 0, out.GetEffWidth());

        uint32_t done = 0; // inner flags made by the vector pieces up to here
        uint32_t block = 0;
#if defined(QF_DITHER_AVX2)
        if (isa >= qf_image_detail::kDitherAvx2) {
            done = InnerAvx2(up, src, down, inner.data(), w);
            block = 32;
        } else
#endif
#if defined(QF_DITHER_SSE2)
            if (isa >= qf_image_detail::kDitherSse2) {
            done = InnerSse2(up, src, down, inner.data(), w);
            block = 16;
        }
#endif
#if defined(QF_DITHER_NEON)
        if (isa >= qf_image_detail::kDitherNeon) {
            done = InnerNeon(up, src, down, inner.data(), w);
            block = 16;
        }
#endif
        (void)isa;
        if (done > 1) {
            InnerScalar(up, src, down, inner.data(), 0, 1, w);
            InnerScalar(up, src, down, inner.data(), done, w, w);
        } else {
            InnerScalar(up, src, down, inner.data(), 0, w, w);
        }

        const auto pixel = [&](uint32_t x) {
            bool white;
            if (!inner[x]) {
                white = src[x] > 128; // pure levels and edges: threshold at mid-grey
            } else {
                const int g = src[x] * 16 + cur[x];
                white = g > 128 * 16;
                const int e = white ? g - 255 * 16 : g;
                // Floyd-Steinberg shares, into grey-area pixels only.
                if (x + 1 < w && inner[x + 1])
                    cur[x + 1] += e * 7 / 16;
                int *below = next + x; // spare columns take what falls off the ends
                below[-1] += e * 3 / 16;
                below[0] += e * 5 / 16;
                below[1] += e / 16;
            }
            if (white)
                dst[x >> 3] = static_cast<uint8_t>(dst[x >> 3] | (0x80 >> (x & 7)));
        };
        uint32_t x = 0;
        for (; block && x + block <= w; x += block) {
#if defined(QF_DITHER_AVX2)
            if (block == 32 && PlainBlockAvx2(src + x, inner.data() + x, dst + (x >> 3)))
                continue;
#endif
#if defined(QF_DITHER_SSE2)
            if (block == 16 && PlainBlockSse2(src + x, inner.data() + x, dst + (x >> 3)))
                continue;
#endif
#if defined(QF_DITHER_NEON)
            if (PlainBlockNeon(src + x, inner.data() + x, dst + (x >> 3)))
                continue;
#endif
            for (uint32_t i = x; i < x + block; i++)
                pixel(i);
        }
        for (; x < w; x++)
            pixel(x);
        // Shares into the next row that land on edge or pure pixels are
        // dropped when that row is read: only its grey-area pixels use them.
        std::swap(cur, next);
        std::fill(next - 1, next + w + 1, 0);
    }
}

} // namespace

namespace qf_image_detail {

void ThresholdRow(const uint8_t *src, uint8_t *dst, uint32_t w, uint8_t level)
{
    uint32_t x = 0;
#if defined(QF_DITHER_SSE2)
    if (g_isa >= kDitherSse2) {
        // level < g as a signed compare of both less 128
        const __m128i flip = _mm_set1_epi8(-128);
        const __m128i lv = _mm_xor_si128(_mm_set1_epi8(static_cast<char>(level)), flip);
        for (; x + 16 <= w; x += 16) {
            const __m128i g = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + x)), flip);
            const int m = _mm_movemask_epi8(_mm_cmpgt_epi8(g, lv));
            dst[x >> 3] = kReverse.t[m & 0xFF];
            dst[(x >> 3) + 1] = kReverse.t[(m >> 8) & 0xFF];
        }
    }
#endif
#if defined(QF_DITHER_NEON)
    if (g_isa >= kDitherNeon)
        x = ThresholdNeon(src, dst, w, level);
#endif
    // Eight pixels per output byte, MSB leftmost; a 1 bit is white.
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

int DitherIsaLevel()
{
    return g_isa;
}

int SetDitherIsaLevel(int level)
{
    const int top = SupportedIsa();
    g_isa = level < 0 ? 0 : level > top ? top : level;
    return g_isa;
}

} // namespace qf_image_detail

bool CxImage::Dither(int32_t method)
{
    if (!m_pDib)
        return false;
    if (GetBpp() == 1)
        return true;
    if (!GrayScale())
        return false;

    CxImage out;
    out.CopyInfo(*this);
    if (!out.Create(GetWidth(), GetHeight(), 1, GetType())) {
        SetLastError(out.GetLastError());
        return false;
    }
    out.SelectionCopy(*this);
    out.AlphaCopy(*this);

    switch (method) {
    case 1:
    case 7:
    case 8:
    case 9:
        DitherOrdered(*this, out, method);
        break;
    case 2:
        Diffuse<Burkes>(*this, out);
        break;
    case 3:
        Diffuse<Stucki>(*this, out);
        break;
    case 4:
        Diffuse<JarvisJudiceNinke>(*this, out);
        break;
    case 5:
        Diffuse<Sierra>(*this, out);
        break;
    case 6:
        Diffuse<StevensonArce>(*this, out);
        break;
    case 10:
        DitherTextAndPictures(*this, out);
        break;
    default:
        Diffuse<FloydSteinberg>(*this, out);
        break;
    }

    out.SetPaletteColor(0, 0, 0, 0, 0);
    out.SetPaletteColor(1, 255, 255, 255, 0);
    Transfer(out);
    return true;
}
