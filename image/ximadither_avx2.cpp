// The AVX2 paths of the one-bit conversions: the error diffusion's bits,
// shares and rows below 32 columns at a time after the SSE2 serial chains;
// the inner flags, plain blocks and grey areas (eight rows in lanes) of the
// text and pictures method. Every
// function here is compiled for AVX2 on its own (QF_TARGET_AVX2) and only
// reached through the table of ximadither.cpp when the CPU has AVX2; the
// file as a whole is built for the baseline, so that nothing inline that it
// shares with the others can come out as AVX2 code.
#include "ximadither_kernels.h"

#if defined(QF_DITHER_AVX2)

#include <cstring>
#include <immintrin.h>

namespace qf_image_detail {
namespace {

QF_TARGET_AVX2 QF_ALWAYS_INLINE __m256i ShiftBytes256(__m256i v, int k)
{
    return _mm256_and_si256(_mm256_srl_epi16(v, _mm_cvtsi32_si128(k)), _mm256_set1_epi8(static_cast<char>(0xFF >> k)));
}

// The shares of weight positions P.. in descending weight order; q[i] holds
// the magnitudes already made (see Shape::Source).
template <class K, int P>
QF_TARGET_AVX2 QF_ALWAYS_INLINE void StoreShares256(int8_t *base, __m256i mag, __m256i mlo, __m256i mhi, __m256i white,
                                                    __m256i *q)
{
    using Sh = Shape<K>;
    if constexpr (P < Sh::NW) {
        constexpr int i = Sh::ByDescendingWeight(P);
        constexpr int w = Sh::Weights()[i];
        constexpr int k = PowerShift(w, K::S);
        constexpr int src = Sh::Source(i);
        if constexpr (k >= 0) {
            q[i] = ShiftBytes256(mag, k);
        } else if constexpr (src >= 0) {
            q[i] = ShiftBytes256(q[src], Sh::SourceShift(i));
        } else {
            constexpr Magic m = FindMagic(w, K::S);
            const __m256i mul = _mm256_set1_epi16(static_cast<short>(m.magic));
            // unpack and pack both work within 128-bit halves, so the column
            // order comes back as it was
            q[i] = _mm256_packus_epi16(_mm256_srli_epi16(_mm256_mulhi_epu16(mlo, mul), m.shift),
                                       _mm256_srli_epi16(_mm256_mulhi_epu16(mhi, mul), m.shift));
        }
        // white lanes negated: (q ^ -1) - (-1) = -q
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(base + i * kShareLen),
                            _mm256_sub_epi8(_mm256_xor_si256(q[i], white), white));
        StoreShares256<K, P + 1>(base, mag, mlo, mhi, white, q);
    }
}

// Bits and shares of the final levels g of the 32 columns from x.
template <class K> QF_TARGET_AVX2 QF_ALWAYS_INLINE void SharesOf256(RowRun &r, int x, __m256i g)
{
    const __m256i k255 = _mm256_set1_epi8(static_cast<char>(255));
    const __m256i black = _mm256_cmpeq_epi8(_mm256_min_epu8(g, _mm256_set1_epi8(static_cast<char>(128))), g);
    const __m256i white = _mm256_xor_si256(black, k255);
    const uint32_t bits = static_cast<uint32_t>(_mm256_movemask_epi8(white));
    uint8_t *out = r.out + (x >> 3);
    out[0] = kReverse.t[bits & 0xFF];
    out[1] = kReverse.t[(bits >> 8) & 0xFF];
    out[2] = kReverse.t[(bits >> 16) & 0xFF];
    out[3] = kReverse.t[bits >> 24];
    const __m256i mag = _mm256_or_si256(_mm256_and_si256(black, g), _mm256_and_si256(white, _mm256_sub_epi8(k255, g)));
    const __m256i zero = _mm256_setzero_si256();
    __m256i q[kMaxWeights];
    StoreShares256<K, 0>(ShareAt(r, x), mag, _mm256_unpacklo_epi8(mag, zero), _mm256_unpackhi_epi8(mag, zero), white,
                         q);
}

// The shares added into n <= 32 columns from p of row Dy below, as signed
// saturating adds on levels offset by -128 (see the SSE2 BelowRow).
template <class K, int Dy> QF_TARGET_AVX2 QF_ALWAYS_INLINE void BelowRow256(const RowRun &r, int p, int n)
{
    using Sh = Shape<K>;
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

} // namespace

template <class K> QF_TARGET_AVX2 void DiffuseAvx2<K>::Step(const DiffusionStep &s)
{
    using Sh = Shape<K>;
    alignas(32) uint8_t levels[kSlots][kChunk];
    DiffuseSse2<K>::Lanes(s, levels);
    for (int j = 0; j < s.n; j++) {
        RowRun &r = *s.rows[j];
        const int x = r.done * kChunk;
        const int len = s.w - x < kChunk ? s.w - x : kChunk;
        for (int k = 0; k < len; k += 32)
            SharesOf256<K>(r, x + k, _mm256_load_si256(reinterpret_cast<const __m256i *>(levels[j] + k)));
    }
    for (int j = 0; j < s.n; j++) {
        const RowRun &r = *s.rows[j];
        int lo, hi;
        BelowSpan<K>(r.done, s.w, lo, hi);
        // As in the SSE2 path: the deepest row below is fetched early.
        if (const uint8_t *deep = r.below[Sh::MaxDy - 1]) {
            if (hi + 2 * kChunk < s.w) {
                _mm_prefetch(reinterpret_cast<const char *>(deep + hi + kChunk), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char *>(deep + hi + 2 * kChunk - 1), _MM_HINT_T0);
            }
        }
        for (int p = lo; p < hi; p += 32) {
            const int n = hi - p < 32 ? hi - p : 32;
            BelowRow256<K, 1>(r, p, n);
            BelowRow256<K, 2>(r, p, n);
            BelowRow256<K, 3>(r, p, n);
        }
    }
}

template struct DiffuseAvx2<FloydSteinberg>;
template struct DiffuseAvx2<Burkes>;
template struct DiffuseAvx2<Stucki>;
template struct DiffuseAvx2<JarvisJudiceNinke>;
template struct DiffuseAvx2<Sierra>;
template struct DiffuseAvx2<StevensonArce>;

namespace {

QF_TARGET_AVX2 QF_ALWAYS_INLINE __m256i PureMask256(const uint8_t *p)
{
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    return _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_setzero_si256()), _mm256_cmpeq_epi8(v, _mm256_set1_epi8(-1)));
}

} // namespace

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

QF_TARGET_AVX2 void PlainBitsAvx2(const uint8_t *src, const uint8_t *inner, uint8_t *dst, uint32_t w)
{
    for (uint32_t x = 0; x + 32 <= w; x += 32) {
        const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(inner + x));
        if (!_mm256_testz_si256(in, in))
            continue;
        const __m256i g =
            _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x)), _mm256_set1_epi8(-128));
        const uint32_t m = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(g, _mm256_setzero_si256())));
        uint8_t *out = dst + (x >> 3);
        out[0] = kReverse.t[m & 0xFF];
        out[1] = kReverse.t[(m >> 8) & 0xFF];
        out[2] = kReverse.t[(m >> 16) & 0xFF];
        out[3] = kReverse.t[m >> 24];
    }
}

namespace {

QF_TARGET_AVX2 QF_ALWAYS_INLINE __m256i Div16Avx2(__m256i e)
{
    return _mm256_srai_epi32(_mm256_add_epi32(e, _mm256_and_si256(_mm256_srai_epi32(e, 31), _mm256_set1_epi32(15))), 4);
}

} // namespace

// TextStepsSse2 with eight rows at once.
QF_TARGET_AVX2 void TextStepsAvx2(const TextSteps &t)
{
    const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi32(1);
    const __m256i levelBits = _mm256_set1_epi32(0xFFF), full = _mm256_set1_epi32(255 * 16),
                  mid = _mm256_set1_epi32(128 * 16);
    const __m256i down = _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6); // lane j takes lane j - 1
    __m256i done = zero, a0 = zero, a1 = zero, right = zero;
    const int lag = 2 * t.last + 1;
    for (uint32_t s = 0; s < t.steps; s++) {
        const __m256i c =
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t.codes + 8 * static_cast<std::size_t>(s)));
        const __m256i level = _mm256_and_si256(c, levelBits);
        const __m256i inner = _mm256_sub_epi32(zero, _mm256_and_si256(_mm256_srli_epi32(c, 12), one));
        const __m256i innerNext = _mm256_sub_epi32(zero, _mm256_srli_epi32(c, 13));
        const __m256i above = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(done, down),
                                                 _mm256_set1_epi32(s < t.span ? t.carry[s] : 0), 1);
        const __m256i g = _mm256_add_epi32(_mm256_add_epi32(level, above), right);
        const __m256i white = _mm256_cmpgt_epi32(_mm256_blendv_epi8(level, g, inner), mid);
        const __m256i e = _mm256_and_si256(_mm256_sub_epi32(g, _mm256_and_si256(white, full)), inner);
        right = _mm256_and_si256(Div16Avx2(_mm256_sub_epi32(_mm256_slli_epi32(e, 3), e)), innerNext);
        done = _mm256_add_epi32(a0, Div16Avx2(_mm256_add_epi32(_mm256_slli_epi32(e, 1), e)));
        a0 = _mm256_add_epi32(a1, Div16Avx2(_mm256_add_epi32(_mm256_slli_epi32(e, 2), e)));
        a1 = Div16Avx2(e);
        const int bits = _mm256_movemask_ps(_mm256_castsi256_ps(white));
        for (int j = 0; j <= t.last; j++)
            t.whites[j][static_cast<int>(s) - 2 * j] = static_cast<uint8_t>(-((bits >> j) & 1));
        if (static_cast<int>(s) >= lag - 1) {
            alignas(32) int32_t f[8];
            _mm256_store_si256(reinterpret_cast<__m256i *>(f), done);
            t.carry[static_cast<int>(s) - lag] = f[t.last];
        }
    }
}

} // namespace qf_image_detail

#endif // QF_DITHER_AVX2
