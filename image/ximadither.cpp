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
//    column. Sixteen rows do so at once, one per byte lane of an SSE2 or
//    NEON register, on a transposed copy of their current chunks.
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
//
// The code paths of every instruction set go through one table, DitherPaths
// (ximadither_kernels.h), filled here from the level in use; the vector
// paths are in ximadither_sse2.cpp, ximadither_avx2.cpp and
// ximadither_neon.cpp.
#include "ximage.h"
#include "ximadither_isa.h"
#include "ximadither_kernels.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(QF_NEON_AT_RUN_TIME)
#include <sys/auxv.h>
#endif

using namespace qf_image_detail;

namespace {

int SupportedIsa()
{
#if defined(QF_DITHER_AVX2)
    __builtin_cpu_init(); // may run before the compiler's own initialiser
    if (__builtin_cpu_supports("avx2"))
        return kDitherAvx2;
#endif
#if defined(QF_DITHER_SSE2)
    return kDitherSse2;
#elif defined(QF_NEON_AT_RUN_TIME)
    return getauxval(AT_HWCAP) & HWCAP_ARM_NEON ? kDitherNeon : kDitherScalar;
#elif defined(QF_DITHER_NEON)
    return kDitherNeon;
#else
    return kDitherScalar;
#endif
}

// The portable step of the error diffusion, row by row.
template <class K> struct DiffusePortable {
    static void Step(const DiffusionStep &s)
    {
        for (int j = 0; j < s.n; j++) {
            RowRun &r = *s.rows[j];
            SerialScalar<K>(r, s.w);
            SharesScalar<K>(r, r.done * kChunk, ChunkEnd(r.done, s.w));
        }
        for (int j = 0; j < s.n; j++) {
            RowRun &r = *s.rows[j];
            int lo, hi;
            BelowSpan<K>(r.done, s.w, lo, hi);
            BelowScalar<K, 1>(r, lo, hi);
            BelowScalar<K, 2>(r, lo, hi);
            BelowScalar<K, 3>(r, lo, hi);
        }
    }
};

void ThresholdRowPortable(const uint8_t *src, uint8_t *dst, uint32_t w, uint8_t level)
{
    ThresholdFrom(src, dst, 0, w, level);
}

template <template <class> class Isa> constexpr void UseDiffusion(DitherPaths &p)
{
    p.diffuse[FloydSteinberg::kIndex] = &Isa<FloydSteinberg>::Step;
    p.diffuse[Burkes::kIndex] = &Isa<Burkes>::Step;
    p.diffuse[Stucki::kIndex] = &Isa<Stucki>::Step;
    p.diffuse[JarvisJudiceNinke::kIndex] = &Isa<JarvisJudiceNinke>::Step;
    p.diffuse[Sierra::kIndex] = &Isa<Sierra>::Step;
    p.diffuse[StevensonArce::kIndex] = &Isa<StevensonArce>::Step;
}

// Which path runs where at a level. AVX2 widens what it can of the SSE2
// level and keeps the rest of it (ordered and threshold blocks).
constexpr DitherPaths PathsFor(int isa)
{
    DitherPaths p{};
    UseDiffusion<DiffusePortable>(p);
    p.thresholdRow = ThresholdRowPortable;
#if defined(QF_DITHER_SSE2)
    if (isa >= kDitherSse2) {
        UseDiffusion<DiffuseSse2>(p);
        p.blocksAbove = BlocksAboveSse2;
        p.thresholdRow = ThresholdRowSse2;
        p.inner = InnerSse2;
        p.plainBits = PlainBitsSse2;
        p.plainBlock = 16;
        p.textSteps = TextStepsSse2;
        p.textLanes = 4;
    }
#endif
#if defined(QF_DITHER_AVX2)
    if (isa >= kDitherAvx2) {
        UseDiffusion<DiffuseAvx2>(p);
        p.inner = InnerAvx2;
        p.plainBits = PlainBitsAvx2;
        p.plainBlock = 32;
        p.textSteps = TextStepsAvx2;
        p.textLanes = 8;
    }
#endif
#if defined(QF_DITHER_NEON)
    if (isa >= kDitherNeon) {
        UseDiffusion<DiffuseNeon>(p);
        p.blocksAbove = BlocksAboveNeon;
        p.thresholdRow = ThresholdRowNeon;
        p.inner = InnerNeon;
        p.plainBits = PlainBitsNeon;
        p.plainBlock = 16;
        p.textSteps = TextStepsNeon;
        p.textLanes = 4;
    }
#endif
    (void)isa;
    return p;
}

// The paths in use (the process is single-threaded): the portable ones
// from the start, so that a conversion run by another file's static
// initialiser still works, then those of the level Dither uses.
constexpr DitherPaths kPortablePaths = PathsFor(kDitherScalar);
DitherPaths g_paths = kPortablePaths;

int UseLevel(int isa)
{
    g_paths = PathsFor(isa);
    return isa;
}
int g_isa = UseLevel(SupportedIsa());

// ---------------------------------------------------------------------------
// The rows of the error diffusion: which row advances when (see the top of
// the file), the share windows, progress and escape.

template <class K> class Diffuser {
    using Sh = Shape<K>;

public:
    Diffuser(CxImage &grey, CxImage &out)
        : m_step(g_paths.diffuse[K::kIndex]), m_grey(grey), m_out(out), m_w(static_cast<int>(grey.GetWidth())),
          m_h(static_cast<int>(grey.GetHeight())), m_nChunks((m_w + kChunk - 1) / kChunk)
    {
        // Columns past the row end are only ever written with 0.
        std::memset(m_share, 0, sizeof(m_share));
        for (int i = 0; i < kSlots; i++)
            m_runs[i].share = m_share[i];
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
            for (int j = 0; j < m; j++)
                SlideShares(*step[j]);
            m_step(DiffusionStep{step, m, m_w});
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

    void (*const m_step)(const DiffusionStep &);
    CxImage &m_grey;
    CxImage &m_out;
    const int m_w, m_h, m_nChunks;
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
        if (g_paths.blocksAbove)
            x = g_paths.blocksAbove(src, dst, t, w);
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

// Is no pixel of the n columns from `inner` (a multiple of 8) inner?
bool NoneInner(const uint8_t *inner, uint32_t n)
{
    uint64_t any = 0;
    for (uint32_t i = 0; i < n; i += 8) {
        uint64_t v;
        std::memcpy(&v, inner + i, sizeof(v));
        any |= v;
    }
    return any == 0;
}

// A row's inner flags, by the vector path as far as it goes.
void InnerFlags(const DitherPaths &paths, const uint8_t *up, const uint8_t *src, const uint8_t *down, uint8_t *inner,
                uint32_t w)
{
    const uint32_t done = paths.inner ? paths.inner(up, src, down, inner, w) : 0;
    if (done > 1) {
        InnerScalar(up, src, down, inner, 0, 1, w);
        InnerScalar(up, src, down, inner, done, w, w);
    } else {
        InnerScalar(up, src, down, inner, 0, w, w);
    }
}

// The same method with rows in vector lanes (paths.textSteps): groups of
// paths.textLanes rows, row j of a group two columns behind row j - 1, so
// that every error a pixel takes from the row above has arrived when it is
// reached; the errors are whole numbers summed without clamping, so the
// order in which they arrive does not change them. Outside the columns
// holding a grey-area pixel of the group a row's bits are its thresholds.
void DitherTextAndPicturesInLanes(CxImage &grey, CxImage &out, const DitherPaths &paths)
{
    const uint32_t w = grey.GetWidth(), h = grey.GetHeight();
    const int lanes = paths.textLanes;
    const uint32_t lead = 2 * static_cast<uint32_t>(lanes); // room before and after a lane's results
    // Errors into the row after the group, column x at x + 1.
    std::vector<int32_t> carryBuf(static_cast<size_t>(w) + 2, 0);
    int32_t *carry = carryBuf.data() + 1;
    std::vector<int32_t> codes((static_cast<size_t>(w) + lead + 2) * static_cast<size_t>(lanes));
    std::vector<uint8_t> inner((static_cast<size_t>(w) + 1) * static_cast<size_t>(lanes));
    std::vector<uint8_t> whiteBuf((static_cast<size_t>(w) + 2 * lead + 2) * static_cast<size_t>(lanes));
    uint8_t *whites[kMaxTextLanes];
    for (int j = 0; j < lanes; j++)
        whites[j] = whiteBuf.data() + static_cast<size_t>(j) * (w + 2 * lead + 2) + lead;
    for (uint32_t y0 = 0; y0 < h; y0 += static_cast<uint32_t>(lanes)) {
        int n = 0;
        bool stop = false;
        for (; n < lanes && y0 + static_cast<uint32_t>(n) < h; n++) {
            const uint32_t y = y0 + static_cast<uint32_t>(n);
            grey.SetProgress(static_cast<int32_t>(uint64_t{100} * y / h));
            if ((stop = grey.GetEscape()))
                break;
        }
        // Each row's inner flags and thresholds; the columns [lo, hi) hold
        // every grey-area pixel of the group.
        uint32_t lo = w, hi = 0;
        for (int j = 0; j < n; j++) {
            const uint32_t y = y0 + static_cast<uint32_t>(j);
            const uint8_t *src = grey.GetBits(y);
            const uint8_t *up = y > 0 ? grey.GetBits(y - 1) : nullptr;
            const uint8_t *down = y + 1 < h ? grey.GetBits(y + 1) : nullptr;
            uint8_t *in = inner.data() + static_cast<size_t>(j) * (w + 1);
            InnerFlags(paths, up, src, down, in, w);
            in[w] = 0;
            uint8_t *dst = out.GetBits(y);
            std::memset(dst, 0, out.GetEffWidth());
            paths.thresholdRow(src, dst, w, 128);
            if (const void *first = std::memchr(in, 1, w)) {
                lo = std::min(lo, static_cast<uint32_t>(static_cast<const uint8_t *>(first) - in));
                hi = std::max(hi, static_cast<uint32_t>(static_cast<const uint8_t *>(memrchr(in, 1, w)) - in) + 1);
            }
        }
        if (lo >= hi) {
            std::fill(carryBuf.begin(), carryBuf.end(), 0);
        } else {
            const uint32_t from = lo & ~7u, to = std::min(w, (hi + 7) & ~7u), span = to - from;
            const uint32_t steps = span + 2 * static_cast<uint32_t>(n - 1) + 2;
            std::fill(carry - 1, carry + from, 0);
            std::fill(carry + to, carry + w + 1, 0);
            std::fill(codes.begin(), codes.begin() + static_cast<long>(steps) * lanes, 0);
            for (int j = 0; j < n; j++) {
                const uint8_t *src = grey.GetBits(y0 + static_cast<uint32_t>(j));
                const uint8_t *in = inner.data() + static_cast<size_t>(j) * (w + 1);
                int32_t *c = codes.data() + static_cast<size_t>(2 * j) * static_cast<size_t>(lanes) + j;
                for (uint32_t x = from; x < to; x++)
                    c[static_cast<size_t>(x - from) * static_cast<size_t>(lanes)] =
                        src[x] << 4 | in[x] << 12 | in[x + 1] << 13;
            }
            paths.textSteps(TextSteps{codes.data(), steps, span, carry + from, n - 1, whites});
            for (int j = 0; j < n; j++)
                paths.thresholdRow(whites[j], out.GetBits(y0 + static_cast<uint32_t>(j)) + (from >> 3), span, 0);
        }
        if (stop)
            break;
    }
}

void DitherTextAndPictures(CxImage &grey, CxImage &out)
{
    const DitherPaths &paths = g_paths;
    if (paths.textSteps)
        return DitherTextAndPicturesInLanes(grey, out, paths);
    const uint32_t w = grey.GetWidth(), h = grey.GetHeight();
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

        InnerFlags(paths, up, src, down, inner.data(), w);

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
        // Blocks without inner pixels are plain thresholds at mid-grey, as
        // pixel() would make them; the vector path has made their bits.
        const uint32_t block = paths.plainBlock;
        if (block)
            paths.plainBits(src, inner.data(), dst, w);
        uint32_t x = 0;
        for (; block && x + block <= w; x += block) {
            if (NoneInner(inner.data() + x, block))
                continue;
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
    g_paths.thresholdRow(src, dst, w, level);
}

int DitherIsaLevel()
{
    return g_isa;
}

int SetDitherIsaLevel(int level)
{
    const int top = SupportedIsa();
    g_isa = UseLevel(level < 0 ? 0 : level > top ? top : level);
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
