// CxImage::Dither: grey to one bit (palette 0 black, 1 white; a 1 bit is
// white) by six error-diffusion kernels and four ordered matrices.
//
// Error diffusion keeps the exact arithmetic of the plain scan: rows top to
// bottom, columns left to right, g <= 128 black with error g, else white
// with error g - 255, and each neighbour becoming clamp(level + e * w / S)
// (product, then division truncating toward zero, then clamping to 0..255)
// in the grey source itself. Only the order in which independent byte
// updates happen is changed, never the sequence of updates any one byte sees:
//
//  * Errors into the pixel's own row (dy = 0) run serially in registers.
//  * Errors into the rows below are applied per chunk of C columns, 16 bytes
//    at a time with saturating adds: the clamped update of one byte by the
//    taps of one source row, taken in ascending source column, is exactly a
//    sequence of saturating adds of the positive or negative shares.
//  * K rows run at once, each 2 chunks behind the row above, so that their
//    serial chains interleave. A target byte receives everything from source
//    row r before anything from row r + 1, and is read only after that, as
//    long as a chunk is wider than the kernel (C > 2 * radius + 2).
#include "ximage.h"

#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__GNUC__)
#define QF_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define QF_ALWAYS_INLINE inline
#endif

namespace {

// ---------------------------------------------------------------------------
// Error-diffusion kernels: dy rows down, dx columns right, weight w of S.

struct Tap {
  int dy, dx, w;
};

struct Kernel {
  int S;
  const Tap* taps;
  int count;
};

constexpr Tap kFloyd[] = {{0, 1, 7}, {1, -1, 3}, {1, 0, 5}, {1, 1, 1}};
constexpr Tap kBurkes[] = {{0, 1, 8},  {0, 2, 4}, {1, -2, 2}, {1, -1, 4},
                           {1, 0, 8},  {1, 1, 4}, {1, 2, 2}};
constexpr Tap kStucki[] = {{0, 1, 8},  {0, 2, 4},  {1, -2, 2}, {1, -1, 4},
                           {1, 0, 8},  {1, 1, 4},  {1, 2, 2},  {2, -2, 1},
                           {2, -1, 2}, {2, 0, 4},  {2, 1, 2},  {2, 2, 1}};
constexpr Tap kJarvis[] = {{0, 1, 7},  {0, 2, 5},  {1, -2, 3}, {1, -1, 5},
                           {1, 0, 7},  {1, 1, 5},  {1, 2, 3},  {2, -2, 1},
                           {2, -1, 3}, {2, 0, 5},  {2, 1, 3},  {2, 2, 1}};
constexpr Tap kSierra[] = {{0, 1, 5},  {0, 2, 3},  {1, -2, 2}, {1, -1, 4},
                           {1, 0, 5},  {1, 1, 4},  {1, 2, 2},  {2, -1, 2},
                           {2, 0, 3},  {2, 1, 2}};
constexpr Tap kStevensonArce[] = {
    {0, 2, 32},  {1, -3, 12}, {1, -1, 26}, {1, 1, 30},
    {1, 3, 16},  {2, -2, 12}, {2, 0, 26},  {2, 2, 12},
    {3, -3, 5},  {3, -1, 12}, {3, 1, 12},  {3, 3, 5}};

template <size_t N>
constexpr Kernel MakeKernel(int S, const Tap (&taps)[N]) {
  return Kernel{S, taps, static_cast<int>(N)};
}

constexpr int kChunk = 64;    // columns per chunk; a multiple of 16
constexpr int kLagChunks = 2;  // how far each row trails the row above
constexpr int kSlots = 16;     // rows in flight at most
constexpr int kGroup = 6;      // rows whose serial chains interleave
constexpr size_t kScratchStride = kChunk + 16;
constexpr int kPad = 32;       // zero margin around the share arrays
constexpr int kClampBias = 64; // |share| <= 56 for every kernel

// Error of a pixel whose diffused grey level is g.
inline int ErrorOf(int g) { return g <= 128 ? g : g - 255; }

// clamp(v + q) for v in 0..255 and q in -64..64, indexed by v + q + 64.
struct ClampTable {
  uint8_t t[256 + 2 * kClampBias];
  ClampTable() {
    for (int i = 0; i < 256 + 2 * kClampBias; i++) {
      const int v = i - kClampBias;
      t[i] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
  }
};
const ClampTable kClamp;

// Bit order reversed within a byte: SSE lane 0 (the leftmost column) must
// become the most significant bit.
struct ReverseTable {
  uint8_t t[256];
  ReverseTable() {
    for (int i = 0; i < 256; i++) {
      int r = 0;
      for (int b = 0; b < 8; b++)
        if (i & (1 << b)) r |= 0x80 >> b;
      t[i] = static_cast<uint8_t>(r);
    }
  }
};
const ReverseTable kReverse;

// Everything the diffusion of one kernel needs, built once per call.
struct Plan {
  int S = 1;
  int radius = 0;
  int d0 = 0;            // largest dx of the dy = 0 taps (1 or 2)
  int q1[256] = {};      // share + kClampBias for dx = +1, dy = 0
  int q2[256] = {};      // share + kClampBias for dx = +2, dy = 0
  int w1 = 0, w2 = 0;    // weights of those two taps (0: no tap)
  bool hasDx1 = false;
  int maxDy = 0;
  // Distinct weights of the taps below the row, and for each, the share
  // magnitude floor(m * w / S) = mulhi(m, magic) >> shift for the error
  // magnitude m in 0..128 (shift 16: no such pair, scalar shares only).
  std::vector<int> weights;
  std::vector<uint16_t> magic;
  std::vector<int> shift;
  std::vector<uint8_t> shareMag;  // [weight][m], the scalar form of the same
  // Taps per row below (index dy - 1), sorted by descending dx, i.e. in the
  // order in which ascending source columns reach one target byte.
  struct Down {
    int dx;
    int wi;
  };
  std::vector<Down> down[3];
};

// A 16-bit multiplier and shift with floor(e * w / S) = (e * magic) >> (16 +
// shift) for every error magnitude e in 0..128; returns the shift, or 16
// when there is no such pair.
int FindMagic(int w, int S, uint16_t& magic) {
  for (int sh = 0; sh < 16; sh++) {
    const uint64_t den = uint64_t{1} << (16 + sh);
    const uint64_t mm = (static_cast<uint64_t>(w) * den + static_cast<uint64_t>(S) - 1) /
                        static_cast<uint64_t>(S);
    if (mm > 0xFFFF) return 16;
    bool exact = true;
    for (uint64_t e = 0; e <= 128; e++)
      if (((e * mm) >> (16 + sh)) !=
          e * static_cast<uint64_t>(w) / static_cast<uint64_t>(S))
        exact = false;
    if (exact) {
      magic = static_cast<uint16_t>(mm);
      return sh;
    }
  }
  return 16;
}

Plan MakePlan(const Kernel& k) {
  Plan p;
  p.S = k.S;
  for (int i = 0; i < k.count; i++) {
    const Tap& t = k.taps[i];
    const int r = t.dx < 0 ? -t.dx : t.dx;
    if (r > p.radius) p.radius = r;
    if (t.dy == 0) {
      if (t.dx > p.d0) p.d0 = t.dx;
      for (int g = 0; g < 256; g++) {
        const int q = ErrorOf(g) * t.w / k.S + kClampBias;
        (t.dx == 1 ? p.q1 : p.q2)[g] = q;
      }
      if (t.dx == 1) p.hasDx1 = true;
      (t.dx == 1 ? p.w1 : p.w2) = t.w;
      continue;
    }
    if (t.dy > p.maxDy) p.maxDy = t.dy;
    int wi = -1;
    for (size_t j = 0; j < p.weights.size(); j++)
      if (p.weights[j] == t.w) wi = static_cast<int>(j);
    if (wi < 0) {
      wi = static_cast<int>(p.weights.size());
      p.weights.push_back(t.w);
      uint16_t m = 0;
      const int sh = FindMagic(t.w, k.S, m);
      p.magic.push_back(m);
      p.shift.push_back(sh);
      for (int e = 0; e <= 128; e++)
        p.shareMag.push_back(static_cast<uint8_t>(e * t.w / k.S));
    }
    p.down[t.dy - 1].push_back(Plan::Down{t.dx, wi});
  }
  for (auto& d : p.down) {
    for (size_t i = 1; i < d.size(); i++)
      for (size_t j = i; j > 0 && d[j - 1].dx < d[j].dx; j--)
        std::swap(d[j - 1], d[j]);
  }
  return p;
}

// Lookup tables of the serial part, kept together so that one base
// register reaches them all. Indices are unsigned: the shares carry a bias.
struct SerialTables {
  uint32_t q1[256];  // share + kClampBias for dx = +1, dy = 0, by level
  uint32_t q2[256];  // the same for dx = +2
  uint8_t clamp[256 + 2 * kClampBias];  // clamp(v + q), indexed v + q + bias
};

// Per-row working state of one row being diffused.
struct RowRun {
  int y = -1;
  int done = 0;            // chunks completed
  uint8_t* src = nullptr;  // grey row; final levels are written back into it
  uint8_t* out = nullptr;  // one-bit result row
  uint32_t v0 = 0, v1 = 0; // levels of columns x and x + 1 with own errors
  // Signed shares (int8) per distinct weight and column, with kPad zero
  // bytes on both sides.
  std::vector<int8_t> share;
  // The rows dy = 1..3 below (null past the last row) and, per row, the
  // share array of each tap shifted by its dx, in the order they are added.
  uint8_t* below[3] = {};
  int taps[3] = {};
  const int8_t* tapShares[3][8] = {};
};

class Diffuser {
 public:
  Diffuser(CxImage& grey, CxImage& out, const Plan& plan)
      : m_grey(grey), m_out(out), m_plan(plan),
        m_w(static_cast<int>(grey.GetWidth())),
        m_h(static_cast<int>(grey.GetHeight())),
        m_nChunks((m_w + kChunk - 1) / kChunk),
        m_stride(static_cast<size_t>(m_w) + 2 * kPad) {
    for (RowRun& r : m_runs) r.share.assign(plan.weights.size() * m_stride, 0);
    for (int g = 0; g < 256; g++) {
      m_tab.q1[g] = static_cast<uint32_t>(plan.q1[g]);
      m_tab.q2[g] = static_cast<uint32_t>(plan.q2[g]);
    }
    std::memcpy(m_tab.clamp, kClamp.t, sizeof(m_tab.clamp));
#if defined(__SSE2__)
    m_simdSerial = true;
    if (plan.w1) m_simdSerial = FindMagic(plan.w1, plan.S, m_m1) < 16;
    if (plan.w2) m_simdSerial = m_simdSerial && FindMagic(plan.w2, plan.S, m_m2) < 16;
    if (plan.w1) m_s1 = FindMagic(plan.w1, plan.S, m_m1);
    if (plan.w2) m_s2 = FindMagic(plan.w2, plan.S, m_m2);
    m_simdShares = plan.weights.size() <= kMaxWeights;
    for (size_t wi = 0; wi < plan.weights.size() && m_simdShares; wi++) {
      m_simdShares = plan.shift[wi] < 16;
      m_magic[wi] = _mm_set1_epi16(static_cast<short>(plan.magic[wi]));
      m_shift[wi] = _mm_cvtsi32_si128(plan.shift[wi]);
    }
#endif
  }

  void Run() {
    // Rows run as a pipeline of at most kSlots rows, in row order. Row y may
    // work on chunk c once row y - 1 has completed chunk c + 1 (or all of its
    // chunks) in an earlier step; the oldest row always may.
    RowRun* active[kSlots];
    int n = 0;
    int next = 0;
    bool stop = false;
    for (;;) {
      if (!stop && next < m_h && n < kSlots &&
          (n == 0 || active[n - 1]->done >= kLagChunks)) {
        RowRun& r = m_runs[static_cast<size_t>(next) % kSlots];
        if (StartRow(r, next)) {
          active[n++] = &r;
          next++;
        } else {
          stop = true;  // the rows already started still finish
        }
      }
      if (n == 0) return;

      RowRun* step[kSlots];
      int m = 0;
      for (int i = 0; i < n; i++)
        if (i == 0 || active[i - 1]->done >= active[i]->done + kLagChunks)
          step[m++] = active[i];
      SerialStep(step, m);
      for (int j = 0; j < m; j++) {
        RowRun& r = *step[j];
        const int c = r.done;
        ComputeShares(r, c * kChunk, ChunkEnd(c));
        const int lo = c * kChunk - m_plan.radius;
        int hi = ChunkEnd(c) - m_plan.radius;
        if (c == m_nChunks - 1) hi = m_w;  // the last window takes the rest
        ApplyBelow(r, lo < 0 ? 0 : lo, hi);
      }
      // Advance after all windows are applied, so that a row never sees its
      // predecessor's progress within the same step.
      for (int j = 0; j < m; j++) step[j]->done++;
      // Rows finish in order; a finished row counts as infinitely ahead.
      int finished = 0;
      while (finished < n && active[finished]->done == m_nChunks) {
        active[finished]->done = 1 << 30;
        finished++;
      }
      for (int i = finished; i < n; i++) active[i - finished] = active[i];
      n -= finished;
    }
  }

 private:
  int ChunkEnd(int c) const {
    const int e = (c + 1) * kChunk;
    return e < m_w ? e : m_w;
  }

  bool StartRow(RowRun& r, int y) {
    m_grey.SetProgress(static_cast<int32_t>(int64_t{100} * y / m_h));
    if (m_grey.GetEscape()) return false;
    r.y = y;
    r.done = 0;
    r.src = m_grey.GetBits(static_cast<uint32_t>(y));
    r.out = m_out.GetBits(static_cast<uint32_t>(y));
    r.v0 = r.src[0];
    r.v1 = m_w > 1 ? r.src[1] : 0;
    for (int dy = 1; dy <= 3; dy++) {
      const std::vector<Plan::Down>& taps = m_plan.down[dy - 1];
      const bool inside = y + dy < m_h && !taps.empty();
      r.below[dy - 1] =
          inside ? m_grey.GetBits(static_cast<uint32_t>(y + dy)) : nullptr;
      r.taps[dy - 1] = static_cast<int>(taps.size());
      for (size_t i = 0; i < taps.size(); i++)
        r.tapShares[dy - 1][i] = r.share.data() +
                                 static_cast<size_t>(taps[i].wi) * m_stride +
                                 kPad - taps[i].dx;
    }
    return true;
  }

  // One pixel at src[k]: store its final level (which decides it) and push
  // its error into the next one or two columns of its own row. `next` is
  // the level of column k + D0 before this row's own errors.
  template <int D0, bool HasDx1>
  static QF_ALWAYS_INLINE void Pixel(uint8_t* src, size_t k, uint32_t next,
                           uint32_t& v0, uint32_t& v1, const SerialTables& tab) {
    const uint32_t g = v0;
    src[k] = static_cast<uint8_t>(g);
    if (D0 == 1) {
      v0 = tab.clamp[next + tab.q1[g]];
    } else {
      v0 = HasDx1 ? tab.clamp[v1 + tab.q1[g]] : v1;
      v1 = tab.clamp[next + tab.q2[g]];
    }
  }

  // N rows on full chunks whose look-ahead stays inside the row; the rows
  // are independent, so their chains interleave. Each chunk (and the D0
  // levels after it) is worked on in a scratch block, so that one base
  // register with constant offsets reaches all N rows.
  template <int D0, bool HasDx1, int N>
  void SerialInterleaved(RowRun* const* rr, const int* base) {
    const SerialTables& tab = m_tab;
    uint8_t* scratch = m_scratch[0];
    uint32_t v0[N], v1[N];
    for (int j = 0; j < N; j++) {
      std::memcpy(m_scratch[j], rr[j]->src + base[j], kChunk + D0);
      v0[j] = rr[j]->v0;
      v1[j] = rr[j]->v1;
    }
    for (size_t k = 0; k < kChunk; k += 8) {
#pragma GCC unroll 8
      for (size_t b = 0; b < 8; b++) {
#pragma GCC unroll 8
        for (int j = 0; j < N; j++) {
          uint8_t* row = scratch + static_cast<size_t>(j) * kScratchStride;
          Pixel<D0, HasDx1>(row, k + b, row[k + b + D0], v0[j], v1[j], tab);
        }
      }
    }
    for (int j = 0; j < N; j++) {
      std::memcpy(rr[j]->src + base[j], m_scratch[j], kChunk);
      rr[j]->v0 = v0[j];
      rr[j]->v1 = v1[j];
    }
  }

  // One row on chunk c, the look-ahead guarded at the right edge.
  template <int D0, bool HasDx1>
  void SerialOne(RowRun& r, int c) {
    const int e = ChunkEnd(c);
    uint32_t v0 = r.v0, v1 = r.v1;
    for (int x = c * kChunk; x < e; x++) {
      const uint32_t next = x + D0 < m_w ? r.src[x + D0] : 0;
      Pixel<D0, HasDx1>(r.src, static_cast<size_t>(x), next, v0, v1, m_tab);
    }
    r.v0 = v0;
    r.v1 = v1;
  }

#if defined(__SSE2__)
  // One step of the serial chains of eight rows, one per 16-bit lane: store
  // the level g, then push its error into the next one or two columns.
  template <int D0, bool HasDx1>
  static QF_ALWAYS_INLINE void Lanes(__m128i& v0, __m128i& v1, __m128i next,
                           uint16_t* gout, __m128i m1, __m128i s1, __m128i m2,
                           __m128i s2) {
    const __m128i k128 = _mm_set1_epi16(128);
    const __m128i k255 = _mm_set1_epi16(255);
    const __m128i k256 = _mm_set1_epi16(256);
    const __m128i zero = _mm_setzero_si128();
    const __m128i g = v0;
    _mm_store_si128(reinterpret_cast<__m128i*>(gout), g);
    const __m128i white = _mm_cmpgt_epi16(g, k128);
    // |e|: g for black, (g ^ 0xFFFF) + 256 = 255 - g for white
    const __m128i mag = _mm_add_epi16(_mm_xor_si128(g, white), _mm_and_si128(white, k256));
    auto share = [&](__m128i m, __m128i sh) {
      const __m128i q = _mm_srl_epi16(_mm_mulhi_epu16(mag, m), sh);
      return _mm_sub_epi16(_mm_xor_si128(q, white), white);  // -q for white
    };
    auto clamp = [&](__m128i x) {
      return _mm_max_epi16(_mm_min_epi16(x, k255), zero);
    };
    if (D0 == 1) {
      v0 = clamp(_mm_add_epi16(next, share(m1, s1)));
    } else {
      v0 = HasDx1 ? clamp(_mm_add_epi16(v1, share(m1, s1))) : v1;
      v1 = clamp(_mm_add_epi16(next, share(m2, s2)));
    }
  }

  // 16 x 16 bytes: v[i] byte j becomes v[j] byte i.
  static QF_ALWAYS_INLINE void Transpose16(__m128i* v) {
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
    // After the four interleaving rounds, output i sits at the index whose
    // bits are those of i reversed; put the columns back in order.
#pragma GCC unroll 16
    for (int i = 0; i < 16; i++) t[i] = v[i];
#pragma GCC unroll 16
    for (int i = 0; i < 16; i++) {
      const int r = ((i & 1) << 3) | ((i & 2) << 1) | ((i & 4) >> 1) | ((i & 8) >> 3);
      v[i] = t[r];
    }
  }

  // Up to 16 rows on full chunks, row j in lane j; the chunks are
  // transposed so that one load brings a column of all 16 rows.
  template <int D0, bool HasDx1>
  void SerialSimd(RowRun* const* rr, const int* base, int n) {
    alignas(16) uint8_t in[kChunk + 16][16];
    alignas(16) uint8_t gout[kChunk][16];
    alignas(16) uint16_t st0[16] = {}, st1[16] = {};
    static const uint8_t kZeros[kChunk + 16] = {};
    const uint8_t* src[16];
    for (int j = 0; j < 16; j++) {
      src[j] = j < n ? rr[j]->src + base[j] : kZeros;
      if (j < n) {
        st0[j] = static_cast<uint16_t>(rr[j]->v0);
        st1[j] = static_cast<uint16_t>(rr[j]->v1);
      }
    }
    for (int k = 0; k < kChunk; k += 16) {
      __m128i v[16];
#pragma GCC unroll 16
      for (int j = 0; j < 16; j++)
        v[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src[j] + k));
      Transpose16(v);
#pragma GCC unroll 16
      for (int i = 0; i < 16; i++)
        _mm_store_si128(reinterpret_cast<__m128i*>(in[k + i]), v[i]);
    }
    for (int k = kChunk; k < kChunk + D0; k++)  // the look-ahead columns
      for (int j = 0; j < 16; j++) in[k][j] = src[j][k];

    const __m128i m1 = _mm_set1_epi16(static_cast<short>(m_m1));
    const __m128i m2 = _mm_set1_epi16(static_cast<short>(m_m2));
    const __m128i s1 = _mm_cvtsi32_si128(m_s1);
    const __m128i s2 = _mm_cvtsi32_si128(m_s2);
    const __m128i zero = _mm_setzero_si128();
    __m128i a0 = _mm_load_si128(reinterpret_cast<const __m128i*>(st0));
    __m128i b0 = _mm_load_si128(reinterpret_cast<const __m128i*>(st0 + 8));
    __m128i a1 = _mm_load_si128(reinterpret_cast<const __m128i*>(st1));
    __m128i b1 = _mm_load_si128(reinterpret_cast<const __m128i*>(st1 + 8));
    for (int k = 0; k < kChunk; k++) {
      const __m128i nx = _mm_load_si128(reinterpret_cast<const __m128i*>(in[k + D0]));
      alignas(16) uint16_t g[16];
      Lanes<D0, HasDx1>(a0, a1, _mm_unpacklo_epi8(nx, zero), g, m1, s1, m2, s2);
      Lanes<D0, HasDx1>(b0, b1, _mm_unpackhi_epi8(nx, zero), g + 8, m1, s1, m2, s2);
      _mm_store_si128(reinterpret_cast<__m128i*>(gout[k]),
                      _mm_packus_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(g)),
                                       _mm_load_si128(reinterpret_cast<const __m128i*>(g + 8))));
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(st0), a0);
    _mm_store_si128(reinterpret_cast<__m128i*>(st0 + 8), b0);
    _mm_store_si128(reinterpret_cast<__m128i*>(st1), a1);
    _mm_store_si128(reinterpret_cast<__m128i*>(st1 + 8), b1);

    for (int k = 0; k < kChunk; k += 16) {
      __m128i v[16];
#pragma GCC unroll 16
      for (int i = 0; i < 16; i++)
        v[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(gout[k + i]));
      Transpose16(v);
      for (int j = 0; j < n; j++)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rr[j]->src + base[j] + k), v[j]);
    }
    for (int j = 0; j < n; j++) {
      rr[j]->v0 = st0[j];
      rr[j]->v1 = st1[j];
    }
  }
#endif

  // The serial passes of the rows in `rows`, each on its next chunk. Rows on
  // full chunks go in groups of up to kGroup with their chains interleaved;
  // a row on its last chunk goes alone with the look-ahead guarded.
  template <int D0, bool HasDx1>
  void SerialT(RowRun* const* rows, int n) {
    RowRun* rr[kSlots];
    int base[kSlots];
    int full = 0;
    for (int j = 0; j < n; j++) {
      const int c = rows[j]->done;
      if ((c + 1) * kChunk + D0 > m_w) {
        SerialOne<D0, HasDx1>(*rows[j], c);
        continue;
      }
      rr[full] = rows[j];
      base[full++] = c * kChunk;
    }
#if defined(__SSE2__)
    if (m_simdSerial) {
      for (int j = 0; j < full; j += 16)
        SerialSimd<D0, HasDx1>(rr + j, base + j, full - j < 16 ? full - j : 16);
      return;
    }
#endif
    for (int j = 0; j < full; j += kGroup) {
      switch (full - j < kGroup ? full - j : kGroup) {
        case 1: SerialInterleaved<D0, HasDx1, 1>(rr + j, base + j); break;
        case 2: SerialInterleaved<D0, HasDx1, 2>(rr + j, base + j); break;
        case 3: SerialInterleaved<D0, HasDx1, 3>(rr + j, base + j); break;
        case 4: SerialInterleaved<D0, HasDx1, 4>(rr + j, base + j); break;
        case 5: SerialInterleaved<D0, HasDx1, 5>(rr + j, base + j); break;
        case 6: SerialInterleaved<D0, HasDx1, 6>(rr + j, base + j); break;
        default: break;
      }
    }
  }

  void SerialStep(RowRun* const* rows, int n) {
    if (m_plan.d0 == 1)
      SerialT<1, true>(rows, n);
    else if (m_plan.hasDx1)
      SerialT<2, true>(rows, n);
    else
      SerialT<2, false>(rows, n);
  }

#if defined(__SSE2__)
  template <int NW>
  void SharesBlocks(RowRun& r, int x, int e) {
    __m128i magic[NW], shift[NW];
    for (int wi = 0; wi < NW; wi++) {
      magic[wi] = m_magic[wi];
      shift[wi] = m_shift[wi];
    }
    int8_t* const share = r.share.data() + kPad;
    uint8_t* const out = r.out;
    const uint8_t* const src = r.src;
    const size_t stride = m_stride;
    const __m128i k128 = _mm_set1_epi8(static_cast<char>(128));
    const __m128i k255 = _mm_set1_epi8(static_cast<char>(255));
    const __m128i zero = _mm_setzero_si128();
    for (; x < e; x += 16) {
      // Past the width the level reads as 0: black with error 0, so the
      // padding bits stay 0 and the margin of the share arrays stays zero.
      alignas(16) uint8_t tail[16];
      const uint8_t* gp = src + x;
      if (x + 16 > m_w) {
        std::memset(tail, 0, sizeof(tail));
        std::memcpy(tail, gp, static_cast<size_t>(m_w - x));
        gp = tail;
      }
      const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gp));
      const __m128i black = _mm_cmpeq_epi8(_mm_min_epu8(g, k128), g);
      const __m128i white = _mm_xor_si128(black, k255);
      const int bits = _mm_movemask_epi8(white);  // bit i = column x + i
      out[x >> 3] = kReverse.t[bits & 0xFF];
      out[(x >> 3) + 1] = kReverse.t[(bits >> 8) & 0xFF];
      const __m128i mag = _mm_or_si128(
          _mm_and_si128(black, g), _mm_and_si128(white, _mm_sub_epi8(k255, g)));
      const __m128i mlo = _mm_unpacklo_epi8(mag, zero);
      const __m128i mhi = _mm_unpackhi_epi8(mag, zero);
#pragma GCC unroll 8
      for (int wi = 0; wi < NW; wi++) {
        const __m128i qlo = _mm_srl_epi16(_mm_mulhi_epu16(mlo, magic[wi]), shift[wi]);
        const __m128i qhi = _mm_srl_epi16(_mm_mulhi_epu16(mhi, magic[wi]), shift[wi]);
        const __m128i q = _mm_packus_epi16(qlo, qhi);
        // white lanes negated: (q ^ -1) - (-1) = -q
        const __m128i sq = _mm_sub_epi8(_mm_xor_si128(q, white), white);
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(share + static_cast<size_t>(wi) * stride +
                                       static_cast<size_t>(x)),
            sq);
      }
    }
  }
#endif

  // The result bits of columns [s, e) (white when the final level is above
  // 128), and their signed shares for every weight: +floor(g * w / S) for
  // black, -floor((255 - g) * w / S) for white, which is e * w / S truncated
  // toward zero.
  void ComputeShares(RowRun& r, int s, int e) {
    const size_t nw = m_plan.weights.size();
    int x = s;
#if defined(__SSE2__)
    switch (m_simdShares ? nw : 0) {
      case 1: return SharesBlocks<1>(r, x, e);
      case 2: return SharesBlocks<2>(r, x, e);
      case 3: return SharesBlocks<3>(r, x, e);
      case 4: return SharesBlocks<4>(r, x, e);
      case 5: return SharesBlocks<5>(r, x, e);
      default: break;
    }
#endif
    for (; x < e; x++) {
      const int g = r.src[x];
      const bool black = g <= 128;
      const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
      r.out[x >> 3] = static_cast<uint8_t>(black ? (r.out[x >> 3] & ~bit)
                                                 : (r.out[x >> 3] | bit));
      const int m = black ? g : 255 - g;
      for (size_t wi = 0; wi < nw; wi++) {
        const int q = m_plan.shareMag[wi * 129 + static_cast<size_t>(m)];
        r.share[wi * m_stride + kPad + static_cast<size_t>(x)] =
            static_cast<int8_t>(black ? q : -q);
      }
    }
  }

#if defined(__SSE2__)
  // NT share arrays added in order into columns [p, hi) of one row, 16
  // columns at a time.
  template <int NT>
  static void AddBlocks(uint8_t* dst, const int8_t* const* base, int p, int hi) {
    const int8_t* b[NT];
    for (int i = 0; i < NT; i++) b[i] = base[i];
    const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
    for (; p < hi; p += 16) {
      // A last block shorter than 16 goes through a copy; the shares past
      // hi stay inside the arrays' zero margin and their lanes are dropped.
      alignas(16) uint8_t tail[16];
      uint8_t* d = dst + p;
      const int n = hi - p;
      if (n < 16) {
        std::memcpy(tail, d, static_cast<size_t>(n));
        d = tail;
      }
      __m128i v = _mm_xor_si128(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(d)), flip);
#pragma GCC unroll 8
      for (int i = 0; i < NT; i++)
        v = _mm_adds_epi8(
            v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b[i] + p)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_xor_si128(v, flip));
      if (n < 16) std::memcpy(dst + p, tail, static_cast<size_t>(n));
    }
  }
#endif

  // Adds the shares of row r into columns [lo, hi) of the rows below. With
  // levels offset by -128 into int8, clamp(v + q, 0, 255) is exactly the
  // signed saturating add.
  void ApplyBelow(const RowRun& r, int lo, int hi) {
    for (int d = 0; d < 3; d++) {
      uint8_t* dst = r.below[d];
      if (!dst) continue;
      const int8_t* const* base = r.tapShares[d];
#if defined(__SSE2__)
      switch (r.taps[d]) {
        case 1: AddBlocks<1>(dst, base, lo, hi); continue;
        case 2: AddBlocks<2>(dst, base, lo, hi); continue;
        case 3: AddBlocks<3>(dst, base, lo, hi); continue;
        case 4: AddBlocks<4>(dst, base, lo, hi); continue;
        case 5: AddBlocks<5>(dst, base, lo, hi); continue;
        case 6: AddBlocks<6>(dst, base, lo, hi); continue;
        default: break;
      }
#endif
      for (int p = lo; p < hi; p++) {
        int v = dst[p];
        for (int i = 0; i < r.taps[d]; i++) {
          v += base[i][p];
          v = v < 0 ? 0 : v > 255 ? 255 : v;
        }
        dst[p] = static_cast<uint8_t>(v);
      }
    }
  }

  CxImage& m_grey;
  CxImage& m_out;
  const Plan& m_plan;
  const int m_w, m_h, m_nChunks;
  const size_t m_stride;
  SerialTables m_tab;
  RowRun m_runs[kSlots];
  alignas(64) uint8_t m_scratch[kGroup][kScratchStride];
#if defined(__SSE2__)
  static constexpr size_t kMaxWeights = 8;
  bool m_simdSerial = false;
  uint16_t m_m1 = 0, m_m2 = 0;  // share multipliers and shifts, dy = 0
  int m_s1 = 0, m_s2 = 0;
  bool m_simdShares = false;
  __m128i m_magic[kMaxWeights];
  __m128i m_shift[kMaxWeights];
#endif
};

static_assert(kChunk % 16 == 0, "chunks hold whole 16-byte blocks");
static_assert(kChunk > 2 * 3 + 2, "chunks must be wider than every kernel");

// ---------------------------------------------------------------------------
// Ordered dithering. Each method's rule "white when ..." is monotone in the
// grey level g, so it equals g > T for the threshold T = (smallest white g)
// - 1, tabulated here per (x mod 16, y mod 16) from the rule itself.

constexpr uint8_t kM1[4][4] = {  // [y mod 4][x mod 4]
    {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

constexpr uint8_t kP8[8][8] = {  // [x mod 8][y mod 8]
    {0, 32, 8, 40, 2, 34, 10, 42},   {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},  {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21}};

constexpr uint8_t kP16[16][16] = {  // [x mod 16][y mod 16]
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
void MakeBayer(uint8_t* table) {
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
bool OrderedWhite(int method, const uint8_t* bayer, int g, int x, int y) {
  switch (method) {
    case 1:
      return kM1[y % 4][x % 4] < g * 16 / 255;
    case 7: {
      constexpr int kShift = 0;  // max(0, 2 * (4 - order)) for order 4
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

void DitherOrdered(CxImage& grey, CxImage& out, int method) {
  uint8_t bayer[256];
  MakeBayer(bayer);

  uint8_t thr[16][16];  // [y mod 16][x mod 16]
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 16; x++) {
      int g = 0;
      while (g < 256 && !OrderedWhite(method, bayer, g, x, y)) g++;
      thr[y][x] = static_cast<uint8_t>(g - 1);  // g = 0 is black everywhere
    }

  const uint32_t w = grey.GetWidth(), h = grey.GetHeight();
  for (uint32_t y = 0; y < h; y++) {
    grey.SetProgress(static_cast<int32_t>(uint64_t{100} * y / h));
    if (grey.GetEscape()) break;
    const uint8_t* src = grey.GetBits(y);
    uint8_t* dst = out.GetBits(y);
    const uint8_t* t = thr[y % 16];
    uint32_t x = 0;
#if defined(__SSE2__)
    const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
    const __m128i tv = _mm_xor_si128(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(t)), flip);
    for (; x + 16 <= w; x += 16) {
      const __m128i g = _mm_xor_si128(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x)), flip);
      const int m = _mm_movemask_epi8(_mm_cmpgt_epi8(g, tv));
      dst[x >> 3] = kReverse.t[m & 0xFF];
      dst[(x >> 3) + 1] = kReverse.t[(m >> 8) & 0xFF];
    }
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

}  // namespace

bool CxImage::Dither(int32_t method) {
  if (!m_pDib) return false;
  if (GetBpp() == 1) return true;
  if (!GrayScale()) return false;

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
    default: {
      Kernel k = MakeKernel(16, kFloyd);
      switch (method) {
        case 2: k = MakeKernel(32, kBurkes); break;
        case 3: k = MakeKernel(42, kStucki); break;
        case 4: k = MakeKernel(48, kJarvis); break;
        case 5: k = MakeKernel(32, kSierra); break;
        case 6: k = MakeKernel(200, kStevensonArce); break;
        default: break;
      }
      const Plan plan = MakePlan(k);
      Diffuser(*this, out, plan).Run();
      break;
    }
  }

  out.SetPaletteColor(0, 0, 0, 0, 0);
  out.SetPaletteColor(1, 255, 255, 255, 0);
  Transfer(out);
  return true;
}
