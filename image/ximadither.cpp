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

constexpr int kChunk = 64;     // columns per chunk; a multiple of 16
constexpr int kLagChunks = 2;  // how far each row trails the row above
constexpr int kRows = 3;       // rows diffused together
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

// Everything the diffusion of one kernel needs, built once per call.
struct Plan {
  int radius = 0;
  int d0 = 0;            // largest dx of the dy = 0 taps (1 or 2)
  int q1[256] = {};      // share + kClampBias for dx = +1, dy = 0
  int q2[256] = {};      // share + kClampBias for dx = +2, dy = 0
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

Plan MakePlan(const Kernel& k) {
  Plan p;
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
      continue;
    }
    if (t.dy > p.maxDy) p.maxDy = t.dy;
    int wi = -1;
    for (size_t j = 0; j < p.weights.size(); j++)
      if (p.weights[j] == t.w) wi = static_cast<int>(j);
    if (wi < 0) {
      wi = static_cast<int>(p.weights.size());
      p.weights.push_back(t.w);
      // Smallest shift whose rounded-up multiplier is exact on 0..128.
      int sh = 0;
      uint32_t m = 0;
      for (sh = 0; sh < 16; sh++) {
        const uint64_t den = uint64_t{1} << (16 + sh);
        const uint64_t mm =
            (static_cast<uint64_t>(t.w) * den + static_cast<uint64_t>(k.S) - 1) /
            static_cast<uint64_t>(k.S);
        if (mm > 0xFFFF) {
          sh = 16;
          break;
        }
        bool exact = true;
        for (uint64_t e = 0; e <= 128; e++)
          if (((e * mm) >> (16 + sh)) !=
              e * static_cast<uint64_t>(t.w) / static_cast<uint64_t>(k.S))
            exact = false;
        if (exact) {
          m = static_cast<uint32_t>(mm);
          break;
        }
      }
      p.magic.push_back(static_cast<uint16_t>(m));
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
  uint8_t* src = nullptr;  // grey row; final levels are written back into it
  uint8_t* out = nullptr;  // one-bit result row
  uint32_t v0 = 0, v1 = 0; // levels of columns x and x + 1 with own errors
  // Signed shares (int8) per distinct weight and column, with kPad zero
  // bytes on both sides.
  std::vector<int8_t> share;
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
  }

  void Run() {
    for (int y0 = 0; y0 < m_h; y0 += kRows) {
      const int rows = m_h - y0 < kRows ? m_h - y0 : kRows;
      const int steps = m_nChunks + kLagChunks * (rows - 1);
      for (int t = 0; t < steps; t++) {
        // Slot i works on chunk t - lag * i of row y0 + i.
        int active[kRows];
        int n = 0;
        for (int i = 0; i < rows; i++) {
          const int c = t - kLagChunks * i;
          if (c < 0 || c >= m_nChunks) continue;
          if (c == 0 && !StartRow(m_runs[i], y0 + i)) return;
          active[n++] = i;
        }
        SerialStep(t, active, n);
        for (int j = 0; j < n; j++) {
          const int i = active[j];
          const int c = t - kLagChunks * i;
          ComputeShares(m_runs[i], c * kChunk, ChunkEnd(c));
          const int lo = c * kChunk - m_plan.radius;
          int hi = ChunkEnd(c) - m_plan.radius;
          if (c == m_nChunks - 1) hi = m_w;  // the last window takes the rest
          ApplyBelow(m_runs[i], lo < 0 ? 0 : lo, hi);
        }
      }
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
    r.src = m_grey.GetBits(static_cast<uint32_t>(y));
    r.out = m_out.GetBits(static_cast<uint32_t>(y));
    r.v0 = r.src[0];
    r.v1 = m_w > 1 ? r.src[1] : 0;
    return true;
  }

  // One pixel at src[k]: decide it, store its final level, and push its
  // error into the next one or two columns of its own row. `next` is the
  // level of column k + D0 before this row's own errors.
  template <int D0, bool HasDx1>
  static inline void Pixel(uint8_t* src, size_t k, uint32_t next,
                           uint32_t& v0, uint32_t& v1, uint32_t& acc,
                           const SerialTables& tab) {
    const uint32_t g = v0;
    src[k] = static_cast<uint8_t>(g);
    acc = (acc << 1) | static_cast<uint32_t>(g > 128);
    if (D0 == 1) {
      v0 = tab.clamp[next + tab.q1[g]];
    } else {
      v0 = HasDx1 ? tab.clamp[v1 + tab.q1[g]] : v1;
      v1 = tab.clamp[next + tab.q2[g]];
    }
  }

  // N rows on full chunks whose look-ahead stays inside the row; the rows
  // are independent, so their chains interleave.
  template <int D0, bool HasDx1, int N>
  void SerialInterleaved(RowRun* const* rr, const int* base) {
    const SerialTables& tab = m_tab;
    uint8_t* src[N];
    uint8_t* out[N];
    uint32_t v0[N], v1[N], acc[N];
    for (int j = 0; j < N; j++) {
      src[j] = rr[j]->src + base[j];
      out[j] = rr[j]->out + base[j] / 8;
      v0[j] = rr[j]->v0;
      v1[j] = rr[j]->v1;
      acc[j] = 0;
    }
    for (size_t k = 0; k < kChunk; k += 8) {
#pragma GCC unroll 8
      for (size_t b = 0; b < 8; b++) {
#pragma GCC unroll 4
        for (int j = 0; j < N; j++)
          Pixel<D0, HasDx1>(src[j], k + b, src[j][k + b + D0], v0[j], v1[j],
                            acc[j], tab);
      }
#pragma GCC unroll 4
      for (int j = 0; j < N; j++) {
        out[j][k / 8] = static_cast<uint8_t>(acc[j]);
        acc[j] = 0;
      }
    }
    for (int j = 0; j < N; j++) {
      rr[j]->v0 = v0[j];
      rr[j]->v1 = v1[j];
    }
  }

  // One row on chunk c, the look-ahead guarded at the right edge.
  template <int D0, bool HasDx1>
  void SerialOne(RowRun& r, int c) {
    const int s = c * kChunk;
    const int e = ChunkEnd(c);
    uint32_t v0 = r.v0, v1 = r.v1, acc = 0;
    for (int x = s; x < e; x++) {
      const uint32_t next = x + D0 < m_w ? r.src[x + D0] : 0;
      Pixel<D0, HasDx1>(r.src, static_cast<size_t>(x), next, v0, v1, acc,
                        m_tab);
      if ((x & 7) == 7) {
        r.out[x >> 3] = static_cast<uint8_t>(acc);
        acc = 0;
      }
    }
    if (e % 8) r.out[e >> 3] = static_cast<uint8_t>(acc << (8 - e % 8));
    r.v0 = v0;
    r.v1 = v1;
  }

  template <int D0, bool HasDx1>
  void SerialT(int t, const int* active, int n) {
    RowRun* rr[kRows];
    int base[kRows];
    bool full = true;
    for (int j = 0; j < n; j++) {
      const int c = t - kLagChunks * active[j];
      rr[j] = &m_runs[active[j]];
      base[j] = c * kChunk;
      if ((c + 1) * kChunk + D0 > m_w) full = false;
    }
    if (full && n == 3) return SerialInterleaved<D0, HasDx1, 3>(rr, base);
    if (full && n == 2) return SerialInterleaved<D0, HasDx1, 2>(rr, base);
    if (full && n == 1) return SerialInterleaved<D0, HasDx1, 1>(rr, base);
    for (int j = 0; j < n; j++)
      SerialOne<D0, HasDx1>(*rr[j], t - kLagChunks * active[j]);
  }

  void SerialStep(int t, const int* active, int n) {
    if (m_plan.d0 == 1)
      SerialT<1, true>(t, active, n);
    else if (m_plan.hasDx1)
      SerialT<2, true>(t, active, n);
    else
      SerialT<2, false>(t, active, n);
  }

  // Signed shares of columns [s, e) for every weight, from the final levels
  // stored in the row: +floor(g * w / S) for black, -floor((255 - g) * w / S)
  // for white, which is e * w / S truncated toward zero.
  void ComputeShares(RowRun& r, int s, int e) {
    const size_t nw = m_plan.weights.size();
    int x = s;
#if defined(__SSE2__)
    bool simd = true;
    for (size_t wi = 0; wi < nw; wi++) simd = simd && m_plan.shift[wi] < 16;
    if (simd) {
      const __m128i k128 = _mm_set1_epi8(static_cast<char>(128));
      const __m128i k255 = _mm_set1_epi8(static_cast<char>(255));
      const __m128i zero = _mm_setzero_si128();
      for (; x < e; x += 16) {
        // Past the width the level reads as 0: error 0, shares 0, so the
        // zero margin of the share arrays stays zero.
        alignas(16) uint8_t tail[16] = {};
        const uint8_t* gp = r.src + x;
        if (x + 16 > m_w) {
          std::memcpy(tail, gp, static_cast<size_t>(m_w - x));
          gp = tail;
        }
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gp));
        const __m128i black = _mm_cmpeq_epi8(_mm_min_epu8(g, k128), g);
        const __m128i white = _mm_xor_si128(black, k255);
        const __m128i mag = _mm_or_si128(
            _mm_and_si128(black, g), _mm_and_si128(white, _mm_sub_epi8(k255, g)));
        const __m128i mlo = _mm_unpacklo_epi8(mag, zero);
        const __m128i mhi = _mm_unpackhi_epi8(mag, zero);
        for (size_t wi = 0; wi < nw; wi++) {
          const __m128i mv =
              _mm_set1_epi16(static_cast<short>(m_plan.magic[wi]));
          const __m128i sh = _mm_cvtsi32_si128(m_plan.shift[wi]);
          const __m128i qlo = _mm_srl_epi16(_mm_mulhi_epu16(mlo, mv), sh);
          const __m128i qhi = _mm_srl_epi16(_mm_mulhi_epu16(mhi, mv), sh);
          const __m128i q = _mm_packus_epi16(qlo, qhi);
          // white lanes negated: (q ^ -1) - (-1) = -q
          const __m128i sq = _mm_sub_epi8(_mm_xor_si128(q, white), white);
          const size_t off = wi * m_stride + kPad + static_cast<size_t>(x);
          _mm_storeu_si128(reinterpret_cast<__m128i*>(r.share.data() + off), sq);
        }
      }
      return;
    }
#endif
    for (; x < e; x++) {
      const int g = r.src[x];
      const bool black = g <= 128;
      const int m = black ? g : 255 - g;
      for (size_t wi = 0; wi < nw; wi++) {
        const int q = m_plan.shareMag[wi * 129 + static_cast<size_t>(m)];
        r.share[wi * m_stride + kPad + static_cast<size_t>(x)] =
            static_cast<int8_t>(black ? q : -q);
      }
    }
  }

  // Adds the shares of row r into columns [lo, hi) of the rows below. With
  // levels offset by -128 into int8, clamp(v + q, 0, 255) is exactly the
  // signed saturating add.
  void ApplyBelow(const RowRun& r, int lo, int hi) {
    for (int dy = 1; dy <= m_plan.maxDy; dy++) {
      if (r.y + dy >= m_h) break;
      const std::vector<Plan::Down>& taps = m_plan.down[dy - 1];
      if (taps.empty()) continue;
      uint8_t* dst = m_grey.GetBits(static_cast<uint32_t>(r.y + dy));
      const int8_t* base[8];
      const size_t nt = taps.size() < 8 ? taps.size() : 8;
      for (size_t i = 0; i < nt; i++)
        base[i] = r.share.data() + static_cast<size_t>(taps[i].wi) * m_stride +
                  kPad - taps[i].dx;
      int p = lo;
#if defined(__SSE2__)
      if (nt == taps.size()) {
        const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
        for (; p + 16 <= hi; p += 16) {
          __m128i v = _mm_xor_si128(
              _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + p)), flip);
          for (size_t i = 0; i < nt; i++)
            v = _mm_adds_epi8(v, _mm_loadu_si128(
                                     reinterpret_cast<const __m128i*>(base[i] + p)));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + p),
                           _mm_xor_si128(v, flip));
        }
      }
#endif
      for (; p < hi; p++) {
        int v = dst[p];
        for (const Plan::Down& d : taps) {
          v += r.share[static_cast<size_t>(d.wi) * m_stride + kPad +
                       static_cast<size_t>(p - d.dx)];
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
  RowRun m_runs[kRows];
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

  uint8_t rev[256];  // bit order reversed: SSE lane 0 becomes the MSB
  for (int i = 0; i < 256; i++) {
    int r = 0;
    for (int b = 0; b < 8; b++)
      if (i & (1 << b)) r |= 0x80 >> b;
    rev[i] = static_cast<uint8_t>(r);
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
      dst[x >> 3] = rev[m & 0xFF];
      dst[(x >> 3) + 1] = rev[(m >> 8) & 0xFF];
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
