// The NEON paths of the one-bit conversions: the error diffusion's serial
// chains of 16 rows at once in byte lanes, then its bits, shares and rows
// below 16 columns at a time; ordered and threshold blocks; the inner flags,
// plain blocks and grey areas (four rows in lanes) of the text and pictures
// method. ximadither.cpp says where they run; on 32-bit ARM
// builds without -mfpu=neon each function here is compiled for NEON on its
// own and only reached when the CPU has it.
#include "ximadither_kernels.h"

#include <cstring>

#if defined(QF_DITHER_NEON)

#if defined(QF_NEON_AT_RUN_TIME)
#pragma GCC push_options
#pragma GCC target("fpu=neon")
#include <arm_neon.h>
#pragma GCC pop_options
#else
#include <arm_neon.h>
#endif

namespace qf_image_detail {
namespace {

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

// floor(|e| * w / S) for sixteen error magnitudes, widened to 16 bits in
// two halves: the multiply by the weight's 16-bit multiplier in 32-bit lanes.
QF_TARGET_NEON QF_ALWAYS_INLINE uint8x16_t DivideNeon(uint16x8_t lo, uint16x8_t hi, Magic m)
{
    const uint16x4_t mul = vdup_n_u16(static_cast<uint16_t>(m.magic));
    const int32x4_t sh = vdupq_n_s32(-(16 + m.shift));
    const uint16x8_t qlo = vcombine_u16(vmovn_u32(vshlq_u32(vmull_u16(vget_low_u16(lo), mul), sh)),
                                        vmovn_u32(vshlq_u32(vmull_u16(vget_high_u16(lo), mul), sh)));
    const uint16x8_t qhi = vcombine_u16(vmovn_u32(vshlq_u32(vmull_u16(vget_low_u16(hi), mul), sh)),
                                        vmovn_u32(vshlq_u32(vmull_u16(vget_high_u16(hi), mul), sh)));
    return vcombine_u8(vmovn_u16(qlo), vmovn_u16(qhi));
}

// Bits and shares of the 16 columns from x (a multiple of 16), all inside
// the row: |e| times each weight's multiplier in 32-bit lanes.
template <class K> QF_TARGET_NEON QF_ALWAYS_INLINE void SharesNeon(RowRun &r, int x)
{
    using Sh = Shape<K>;
    static constexpr std::array<Magic, kMaxWeights> kMagic = Sh::Magics();
    const uint8x16_t g = vld1q_u8(r.src + x);
    const uint8x16_t white = vcgtq_u8(g, vdupq_n_u8(128));
    StoreBitsNeon(white, r.out + (x >> 3));
    const uint8x16_t mag = vbslq_u8(white, vsubq_u8(vdupq_n_u8(255), g), g);
    const uint16x8_t lo = vmovl_u8(vget_low_u8(mag)), hi = vmovl_u8(vget_high_u8(mag));
    for (int i = 0; i < Sh::NW; i++) {
        const Magic m = kMagic[i];
        const uint8x16_t q = DivideNeon(lo, hi, m);
        // white lanes negated: (q ^ -1) - (-1) = -q
        vst1q_s8(ShareAt(r, x) + i * kShareLen, vreinterpretq_s8_u8(vsubq_u8(veorq_u8(q, white), white)));
    }
}

// The shares added into the columns from lo of row Dy below, 16 at a time:
// levels offset by -128 into int8 take each share as a signed saturating
// add, clamp(v + q, 0, 255) exactly. Returns the first column left for the
// scalar loop.
template <class K, int Dy> QF_TARGET_NEON QF_ALWAYS_INLINE int BelowNeon(RowRun &r, int lo, int hi)
{
    using Sh = Shape<K>;
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

// The signed own-row share e * w / S of 16 lanes from |e| (0..128) and the
// white mask (0xFF where e < 0).
template <class K, int W> QF_TARGET_NEON QF_ALWAYS_INLINE int8x16_t LaneShareNeon(uint8x16_t mag, uint8x16_t white)
{
    constexpr Magic m = FindMagic(W, K::S);
    constexpr int k = PowerShift(W, K::S);
    uint8x16_t q;
    if constexpr (k == 0) {
        q = mag;
    } else if constexpr (k > 0) {
        q = vshrq_n_u8(mag, k);
    } else {
        q = DivideNeon(vmovl_u8(vget_low_u8(mag)), vmovl_u8(vget_high_u8(mag)), m);
    }
    return vreinterpretq_s8_u8(vsubq_u8(veorq_u8(q, white), white)); // -q for white
}

// One column of the serial chains of 16 rows, one per byte lane, levels
// offset by -128 into int8 so that clamp(v + q, 0, 255) is one signed
// saturating add; returns the (offset) final levels.
template <class K> QF_TARGET_NEON QF_ALWAYS_INLINE int8x16_t LaneStepNeon(int8x16_t &v0, int8x16_t &v1, int8x16_t next)
{
    using Sh = Shape<K>;
    const int8x16_t g = v0;
    const uint8x16_t white = vcgtq_s8(g, vdupq_n_s8(0)); // level > 128
    // |e|: level for black, 255 - level for white, i.e. (g ^ white) + 128
    const uint8x16_t mag = vaddq_u8(veorq_u8(vreinterpretq_u8_s8(g), white), vdupq_n_u8(0x80));
    if constexpr (Sh::D0 == 1) {
        v0 = vqaddq_s8(next, LaneShareNeon<K, Sh::W1>(mag, white));
    } else {
        if constexpr (Sh::W1 != 0)
            v0 = vqaddq_s8(v1, LaneShareNeon<K, Sh::W1>(mag, white));
        else
            v0 = v1;
        v1 = vqaddq_s8(next, LaneShareNeon<K, Sh::W2>(mag, white));
    }
    return g;
}

// The serial chains of the step's rows at once, row j in lane j, on a
// transposed copy of their chunks (and the D0 columns after them); the
// final levels are written back into the rows, as the scalar chain does.
template <class K> QF_TARGET_NEON void LanesNeon(const DiffusionStep &s)
{
    using Sh = Shape<K>;
    RowRun *const *rr = s.rows;
    const int n = s.n;
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
        const int x = rr[j]->done * kChunk;
        src[j] = rr[j]->src + x;
        len[j] = s.w - x < kChunk ? s.w - x : kChunk;
        if (x + kChunk + Sh::D0 > s.w) { // at most one row per step is here
            std::memset(edge, 0, sizeof(edge));
            std::memcpy(edge, src[j], static_cast<size_t>(s.w - x));
            src[j] = edge;
        }
        st0[j] = static_cast<uint8_t>(rr[j]->v0);
        st1[j] = static_cast<uint8_t>(rr[j]->v1);
    }
    for (int j = 0; j < 16; j++)
        for (int k = 0; k < kChunk + Sh::D0; k++)
            in[k][j] = src[j][k];

    const uint8x16_t flip = vdupq_n_u8(0x80);
    int8x16_t v0 = vreinterpretq_s8_u8(veorq_u8(vld1q_u8(st0), flip));
    int8x16_t v1 = vreinterpretq_s8_u8(veorq_u8(vld1q_u8(st1), flip));
    for (int k = 0; k < kChunk; k++) {
        const int8x16_t nx = vreinterpretq_s8_u8(veorq_u8(vld1q_u8(in[k + Sh::D0]), flip));
        vst1q_u8(fin[k], veorq_u8(vreinterpretq_u8_s8(LaneStepNeon<K>(v0, v1, nx)), flip));
    }
    vst1q_u8(st0, veorq_u8(vreinterpretq_u8_s8(v0), flip));
    vst1q_u8(st1, veorq_u8(vreinterpretq_u8_s8(v1), flip));
    for (int j = 0; j < n; j++) {
        uint8_t *row = rr[j]->src + rr[j]->done * kChunk;
        for (int k = 0; k < len[j]; k++)
            row[k] = fin[k][j];
        rr[j]->v0 = st0[j];
        rr[j]->v1 = st1[j];
    }
}

} // namespace

template <class K> QF_TARGET_NEON void DiffuseNeon<K>::Step(const DiffusionStep &s)
{
    static_assert(Shape<K>::AllMagic(), "the shares need a 16-bit multiplier for every weight");
    LanesNeon<K>(s);
    for (int j = 0; j < s.n; j++) {
        RowRun &r = *s.rows[j];
        const int e = ChunkEnd(r.done, s.w);
        int x = r.done * kChunk;
        for (; x + 16 <= e; x += 16)
            SharesNeon<K>(r, x);
        SharesScalar<K>(r, x, e);
    }
    for (int j = 0; j < s.n; j++) {
        RowRun &r = *s.rows[j];
        int lo, hi;
        BelowSpan<K>(r.done, s.w, lo, hi);
        BelowScalar<K, 1>(r, BelowNeon<K, 1>(r, lo, hi), hi);
        BelowScalar<K, 2>(r, BelowNeon<K, 2>(r, lo, hi), hi);
        BelowScalar<K, 3>(r, BelowNeon<K, 3>(r, lo, hi), hi);
    }
}

template struct DiffuseNeon<FloydSteinberg>;
template struct DiffuseNeon<Burkes>;
template struct DiffuseNeon<Stucki>;
template struct DiffuseNeon<JarvisJudiceNinke>;
template struct DiffuseNeon<Sierra>;
template struct DiffuseNeon<StevensonArce>;

QF_TARGET_NEON uint32_t BlocksAboveNeon(const uint8_t *src, uint8_t *dst, const uint8_t *t, uint32_t w)
{
    const uint8x16_t tv = vld1q_u8(t);
    uint32_t x = 0;
    for (; x + 16 <= w; x += 16)
        StoreBitsNeon(vcgtq_u8(vld1q_u8(src + x), tv), dst + (x >> 3));
    return x;
}

QF_TARGET_NEON void ThresholdRowNeon(const uint8_t *src, uint8_t *dst, uint32_t w, uint8_t level)
{
    const uint8x16_t lv = vdupq_n_u8(level);
    uint32_t x = 0;
    for (; x + 16 <= w; x += 16)
        StoreBitsNeon(vcgtq_u8(vld1q_u8(src + x), lv), dst + (x >> 3));
    ThresholdFrom(src, dst, x, w, level);
}

namespace {

QF_TARGET_NEON QF_ALWAYS_INLINE uint8x16_t PureMaskNeon(const uint8_t *p)
{
    const uint8x16_t v = vld1q_u8(p);
    return vorrq_u8(vceqq_u8(v, vdupq_n_u8(0)), vceqq_u8(v, vdupq_n_u8(255)));
}

} // namespace

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

QF_TARGET_NEON void PlainBitsNeon(const uint8_t *src, const uint8_t *inner, uint8_t *dst, uint32_t w)
{
    for (uint32_t x = 0; x + 16 <= w; x += 16)
        if (AllZeroNeon(vld1q_u8(inner + x)))
            StoreBitsNeon(vcgtq_u8(vld1q_u8(src + x), vdupq_n_u8(128)), dst + (x >> 3));
}

namespace {

QF_TARGET_NEON QF_ALWAYS_INLINE int32x4_t Div16Neon(int32x4_t e)
{
    return vshrq_n_s32(vaddq_s32(e, vandq_s32(vshrq_n_s32(e, 31), vdupq_n_s32(15))), 4);
}

} // namespace

// The text and pictures method's grey areas, four rows at once (see
// TextSteps in ximadither_kernels.h).
QF_TARGET_NEON void TextStepsNeon(const TextSteps &t)
{
    const int32x4_t zero = vdupq_n_s32(0);
    const uint32x4_t levelBits = vdupq_n_u32(0xFFF), innerBit = vdupq_n_u32(1u << 12), nextBit = vdupq_n_u32(1u << 13);
    const int32x4_t full = vdupq_n_s32(255 * 16), mid = vdupq_n_s32(128 * 16);
    int32x4_t done = zero, a0 = zero, a1 = zero, right = zero;
    const int lag = 2 * t.last + 1;
    for (uint32_t s = 0; s < t.steps; s++) {
        const uint32x4_t c = vld1q_u32(reinterpret_cast<const uint32_t *>(t.codes + 4 * static_cast<std::size_t>(s)));
        const int32x4_t level = vreinterpretq_s32_u32(vandq_u32(c, levelBits));
        const uint32x4_t inner = vtstq_u32(c, innerBit);
        const int32x4_t innerNext = vreinterpretq_s32_u32(vtstq_u32(c, nextBit));
        // Lane 0's error from the row above the group, lane j's from lane j - 1.
        const int32x4_t above = vextq_s32(vdupq_n_s32(s < t.span ? t.carry[s] : 0), done, 3);
        const int32x4_t g = vaddq_s32(vaddq_s32(level, above), right);
        const uint32x4_t white = vcgtq_s32(vbslq_s32(inner, g, level), mid);
        const int32x4_t e =
            vandq_s32(vsubq_s32(g, vandq_s32(vreinterpretq_s32_u32(white), full)), vreinterpretq_s32_u32(inner));
        right = vandq_s32(Div16Neon(vsubq_s32(vshlq_n_s32(e, 3), e)), innerNext);
        done = vaddq_s32(a0, Div16Neon(vaddq_s32(vshlq_n_s32(e, 1), e)));
        a0 = vaddq_s32(a1, Div16Neon(vaddq_s32(vshlq_n_s32(e, 2), e)));
        a1 = Div16Neon(e);
        alignas(16) uint32_t wv[4];
        vst1q_u32(wv, white);
        for (int j = 0; j <= t.last; j++)
            t.whites[j][static_cast<int>(s) - 2 * j] = static_cast<uint8_t>(wv[j]);
        if (static_cast<int>(s) >= lag - 1) {
            alignas(16) int32_t f[4];
            vst1q_s32(f, done);
            t.carry[static_cast<int>(s) - lag] = f[t.last];
        }
    }
}

} // namespace qf_image_detail

#endif // QF_DITHER_NEON
