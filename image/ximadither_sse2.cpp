// The SSE2 paths of the one-bit conversions: the error diffusion's serial
// chains of 16 rows at once, its bits, shares and rows below 16 columns at a
// time; ordered and threshold blocks; the inner flags, plain blocks and
// grey areas (four rows in lanes) of the text and pictures method.
// ximadither.cpp says where they run.
#include "ximadither_kernels.h"

#if defined(QF_DITHER_SSE2)

#include <cstring>
#include <emmintrin.h>

namespace qf_image_detail {
namespace {

// 16 x 16 bytes: byte j of v[i] becomes byte i of v[j].
QF_ALWAYS_INLINE void Transpose16(__m128i *v)
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
// (-1 where e < 0). A weight of S / 2^k is a plain shift; others go through
// 16-bit lanes and the multiplier.
template <class K, int W> QF_ALWAYS_INLINE __m128i LaneShare(__m128i mag, __m128i white)
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
// saturating add. `next` holds the (offset) levels of column + D0 before the
// rows' own errors; returns the (offset) final levels.
template <class K> QF_ALWAYS_INLINE __m128i LaneStep(__m128i &v0, __m128i &v1, __m128i next)
{
    using Sh = Shape<K>;
    const __m128i g = v0;
    const __m128i white = _mm_cmpgt_epi8(g, _mm_setzero_si128()); // level > 128
    // |e|: level for black, 255 - level for white, i.e. (g ^ white) + 128
    const __m128i mag = _mm_add_epi8(_mm_xor_si128(g, white), _mm_set1_epi8(static_cast<char>(0x80)));
    if (Sh::D0 == 1) {
        v0 = _mm_adds_epi8(next, LaneShare<K, Sh::W1>(mag, white));
    } else {
        v0 = Sh::W1 ? _mm_adds_epi8(v1, LaneShare<K, Sh::W1>(mag, white)) : v1;
        v1 = _mm_adds_epi8(next, LaneShare<K, Sh::W2>(mag, white));
    }
    return g;
}

QF_ALWAYS_INLINE __m128i ShiftBytes(__m128i v, int k)
{
    return _mm_and_si128(_mm_srl_epi16(v, _mm_cvtsi32_si128(k)), _mm_set1_epi8(static_cast<char>(0xFF >> k)));
}

// The shares of weight positions P.. in descending weight order; q[i] holds
// the magnitudes already made.
template <class K, int P>
QF_ALWAYS_INLINE void StoreShares(int8_t *base, __m128i mag, __m128i mlo, __m128i mhi, __m128i white, __m128i *q)
{
    using Sh = Shape<K>;
    if constexpr (P < Sh::NW) {
        constexpr int i = Sh::ByDescendingWeight(P);
        constexpr int w = Sh::Weights()[i];
        constexpr int k = PowerShift(w, K::S);
        constexpr int src = Sh::Source(i);
        if constexpr (k >= 0) {
            q[i] = ShiftBytes(mag, k);
        } else if constexpr (src >= 0) {
            q[i] = ShiftBytes(q[src], Sh::SourceShift(i));
        } else {
            constexpr Magic m = FindMagic(w, K::S);
            const __m128i mul = _mm_set1_epi16(static_cast<short>(m.magic));
            q[i] = _mm_packus_epi16(_mm_srli_epi16(_mm_mulhi_epu16(mlo, mul), m.shift),
                                    _mm_srli_epi16(_mm_mulhi_epu16(mhi, mul), m.shift));
        }
        // white lanes negated: (q ^ -1) - (-1) = -q
        _mm_storeu_si128(reinterpret_cast<__m128i *>(base + i * kShareLen),
                         _mm_sub_epi8(_mm_xor_si128(q[i], white), white));
        StoreShares<K, P + 1>(base, mag, mlo, mhi, white, q);
    }
}

// Bits and shares of the final levels g of the 16 columns from x.
template <class K> QF_ALWAYS_INLINE void SharesOf(RowRun &r, int x, __m128i g)
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
    StoreShares<K, 0>(ShareAt(r, x), mag, _mm_unpacklo_epi8(mag, zero), _mm_unpackhi_epi8(mag, zero), white, q);
}

// The shares added into n <= 16 columns from p of row Dy below. With levels
// offset by -128 into int8, clamp(v + q, 0, 255) is exactly the signed
// saturating add. Lanes past n read shares inside the zero margin and are
// dropped.
template <class K, int Dy> QF_ALWAYS_INLINE void BelowRow(const RowRun &r, int p, int n)
{
    using Sh = Shape<K>;
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

} // namespace

// Up to 16 rows, row j in lane j. Their chunks (and the D0 columns after
// them) are transposed, so one load brings a column of all the rows, and the
// final levels transposed back into rows. A chunk that reaches the row end
// is worked on in a zero-padded copy.
template <class K> void DiffuseSse2<K>::Lanes(const DiffusionStep &s, uint8_t (*levels)[kChunk])
{
    using Sh = Shape<K>;
    static_assert(Sh::AllMagic(), "the lanes need a 16-bit multiplier for every weight");
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
        _mm_store_si128(reinterpret_cast<__m128i *>(fin[k]), _mm_xor_si128(LaneStep<K>(v0, v1, nx), flip));
    }
    _mm_store_si128(reinterpret_cast<__m128i *>(st0), _mm_xor_si128(v0, flip));
    _mm_store_si128(reinterpret_cast<__m128i *>(st1), _mm_xor_si128(v1, flip));

    // Back to rows, 16 columns of a row per vector.
    for (int k = 0; k < kChunk; k += 16) {
        __m128i v[16];
#pragma GCC unroll 16
        for (int i = 0; i < 16; i++)
            v[i] = _mm_load_si128(reinterpret_cast<const __m128i *>(fin[k + i]));
        Transpose16(v);
        for (int j = 0; j < n; j++)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(levels[j] + k), v[j]);
    }
    for (int j = 0; j < n; j++) {
        // Level 0 (black, error 0) past the row end.
        if (len[j] < kChunk)
            std::memset(levels[j] + len[j], 0, static_cast<size_t>(kChunk - len[j]));
        rr[j]->v0 = st0[j];
        rr[j]->v1 = st1[j];
    }
}

template <class K> void DiffuseSse2<K>::Step(const DiffusionStep &s)
{
    using Sh = Shape<K>;
    alignas(16) uint8_t levels[kSlots][kChunk];
    Lanes(s, levels);
    // The final levels go straight to the shares; they are not written back
    // into the row.
    for (int j = 0; j < s.n; j++) {
        RowRun &r = *s.rows[j];
        const int x = r.done * kChunk;
        const int len = s.w - x < kChunk ? s.w - x : kChunk;
        for (int k = 0; k < len; k += 16)
            SharesOf<K>(r, x + k, _mm_load_si128(reinterpret_cast<const __m128i *>(levels[j] + k)));
    }
    for (int j = 0; j < s.n; j++) {
        const RowRun &r = *s.rows[j];
        int lo, hi;
        BelowSpan<K>(r.done, s.w, lo, hi);
        // The deepest row below is touched here first; fetch its next chunks
        // early, as the many interleaved rows defeat the hardware prefetcher.
        if (const uint8_t *deep = r.below[Sh::MaxDy - 1]) {
            if (hi + 2 * kChunk < s.w) {
                _mm_prefetch(reinterpret_cast<const char *>(deep + hi + kChunk), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char *>(deep + hi + 2 * kChunk - 1), _MM_HINT_T0);
            }
        }
        for (int p = lo; p < hi; p += 16) {
            const int n = hi - p < 16 ? hi - p : 16;
            BelowRow<K, 1>(r, p, n);
            BelowRow<K, 2>(r, p, n);
            BelowRow<K, 3>(r, p, n);
        }
    }
}

template struct DiffuseSse2<FloydSteinberg>;
template struct DiffuseSse2<Burkes>;
template struct DiffuseSse2<Stucki>;
template struct DiffuseSse2<JarvisJudiceNinke>;
template struct DiffuseSse2<Sierra>;
template struct DiffuseSse2<StevensonArce>;

uint32_t BlocksAboveSse2(const uint8_t *src, uint8_t *dst, const uint8_t *t, uint32_t w)
{
    // t < g as a signed compare of both less 128
    const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
    const __m128i tv = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(t)), flip);
    uint32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        const __m128i g = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + x)), flip);
        const int m = _mm_movemask_epi8(_mm_cmpgt_epi8(g, tv));
        dst[x >> 3] = kReverse.t[m & 0xFF];
        dst[(x >> 3) + 1] = kReverse.t[(m >> 8) & 0xFF];
    }
    return x;
}

void ThresholdRowSse2(const uint8_t *src, uint8_t *dst, uint32_t w, uint8_t level)
{
    // level < g as a signed compare of both less 128
    const __m128i flip = _mm_set1_epi8(-128);
    const __m128i lv = _mm_xor_si128(_mm_set1_epi8(static_cast<char>(level)), flip);
    uint32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        const __m128i g = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + x)), flip);
        const int m = _mm_movemask_epi8(_mm_cmpgt_epi8(g, lv));
        dst[x >> 3] = kReverse.t[m & 0xFF];
        dst[(x >> 3) + 1] = kReverse.t[(m >> 8) & 0xFF];
    }
    ThresholdFrom(src, dst, x, w, level);
}

namespace {

QF_ALWAYS_INLINE __m128i PureMask(const uint8_t *p)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    return _mm_or_si128(_mm_cmpeq_epi8(v, _mm_setzero_si128()), _mm_cmpeq_epi8(v, _mm_set1_epi8(-1)));
}

} // namespace

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

void PlainBitsSse2(const uint8_t *src, const uint8_t *inner, uint8_t *dst, uint32_t w)
{
    for (uint32_t x = 0; x + 16 <= w; x += 16) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i *>(inner + x));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(in, _mm_setzero_si128())) != 0xFFFF)
            continue;
        // g > 128 as a signed compare of g - 128 with 0
        const __m128i g =
            _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + x)), _mm_set1_epi8(-128));
        const int m = _mm_movemask_epi8(_mm_cmpgt_epi8(g, _mm_setzero_si128())); // bit i: column x + i
        dst[x >> 3] = kReverse.t[m & 0xFF];
        dst[(x >> 3) + 1] = kReverse.t[(m >> 8) & 0xFF];
    }
}

namespace {

// e / 16 truncated toward zero, as C's division does.
QF_ALWAYS_INLINE __m128i Div16(__m128i e)
{
    return _mm_srai_epi32(_mm_add_epi32(e, _mm_and_si128(_mm_srai_epi32(e, 31), _mm_set1_epi32(15))), 4);
}

} // namespace

void TextStepsSse2(const TextSteps &t)
{
    const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi32(1);
    const __m128i levelBits = _mm_set1_epi32(0xFFF), full = _mm_set1_epi32(255 * 16), mid = _mm_set1_epi32(128 * 16);
    __m128i done = zero, a0 = zero, a1 = zero, right = zero;
    const int lag = 2 * t.last + 1;
    for (uint32_t s = 0; s < t.steps; s++) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t.codes + 4 * static_cast<std::size_t>(s)));
        const __m128i level = _mm_and_si128(c, levelBits);
        const __m128i inner = _mm_sub_epi32(zero, _mm_and_si128(_mm_srli_epi32(c, 12), one));
        const __m128i innerNext = _mm_sub_epi32(zero, _mm_srli_epi32(c, 13));
        // Lane 0's error from the row above the group, lane j's from lane j - 1.
        const __m128i above = _mm_or_si128(_mm_slli_si128(done, 4), _mm_cvtsi32_si128(s < t.span ? t.carry[s] : 0));
        const __m128i g = _mm_add_epi32(_mm_add_epi32(level, above), right);
        const __m128i judged = _mm_or_si128(_mm_and_si128(inner, g), _mm_andnot_si128(inner, level));
        const __m128i white = _mm_cmpgt_epi32(judged, mid);
        const __m128i e = _mm_and_si128(_mm_sub_epi32(g, _mm_and_si128(white, full)), inner);
        right = _mm_and_si128(Div16(_mm_sub_epi32(_mm_slli_epi32(e, 3), e)), innerNext);
        done = _mm_add_epi32(a0, Div16(_mm_add_epi32(_mm_slli_epi32(e, 1), e)));
        a0 = _mm_add_epi32(a1, Div16(_mm_add_epi32(_mm_slli_epi32(e, 2), e)));
        a1 = Div16(e);
        const int bits = _mm_movemask_ps(_mm_castsi128_ps(white));
        for (int j = 0; j <= t.last; j++)
            t.whites[j][static_cast<int>(s) - 2 * j] = static_cast<uint8_t>(-((bits >> j) & 1));
        if (static_cast<int>(s) >= lag - 1) {
            alignas(16) int32_t f[4];
            _mm_store_si128(reinterpret_cast<__m128i *>(f), done);
            t.carry[static_cast<int>(s) - lag] = f[t.last];
        }
    }
}

} // namespace qf_image_detail

#endif // QF_DITHER_SSE2
