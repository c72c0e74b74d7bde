// Image engine throughput on an A4 page at 300 dpi, per pixel, next to a
// plain memcpy of the same 8-bit page.
//
//   cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release -DQF_BUILD_TESTS=OFF
//   cmake --build build-rel --target qf_bench_image && build-rel/bench/qf_bench_image
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "ximage.h"

namespace {

constexpr uint32_t kWidth = 2480;
constexpr uint32_t kHeight = 3508;

// A page with smooth gradients, flat white areas and some noise, so that
// both colours and both clamps of the error diffusion are exercised.
std::vector<uint8_t> PageBytes(uint32_t bytesPerPixel)
{
    std::vector<uint8_t> page(size_t{kWidth} * kHeight * bytesPerPixel);
    std::mt19937 rng(42);
    for (uint32_t y = 0; y < kHeight; y++)
        for (uint32_t x = 0; x < kWidth; x++) {
            int v = static_cast<int>((x * 255u) / kWidth + (y * 64u) / kHeight);
            if ((y / 400) % 3 == 2)
                v = 255;
            v += static_cast<int>(rng() % 17) - 8;
            v = v < 0 ? 0 : v > 255 ? 255 : v;
            for (uint32_t c = 0; c < bytesPerPixel; c++)
                page[(size_t{y} * kWidth + x) * bytesPerPixel + c] =
                    static_cast<uint8_t>(bytesPerPixel == 1 ? v : (v + 40 * c) % 256);
        }
    return page;
}

const CxImage &GreyPage()
{
    static CxImage page = [] {
        std::vector<uint8_t> bytes = PageBytes(1);
        CxImage img;
        img.CreateFromArray(bytes.data(), kWidth, kHeight, 8, kWidth, false);
        return img;
    }();
    return page;
}

const CxImage &ColourPage()
{
    static CxImage page = [] {
        std::vector<uint8_t> bytes = PageBytes(3);
        CxImage img;
        img.CreateFromArray(bytes.data(), kWidth, kHeight, 24, kWidth * 3, false);
        return img;
    }();
    return page;
}

void PerPixel(benchmark::State &state)
{
    state.counters["per_pixel"] =
        benchmark::Counter(static_cast<double>(kWidth) * kHeight,
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Memcpy8BitPage(benchmark::State &state)
{
    const CxImage &page = GreyPage();
    const size_t bytes = size_t{kWidth} * kHeight;
    std::vector<uint8_t> dst(bytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), page.GetBits(0), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    PerPixel(state);
}

// Runs op on a fresh copy of the page each iteration; the copy is not timed.
template <class Op> void OnCopy(benchmark::State &state, const CxImage &page, Op op)
{
    for (auto _ : state) {
        state.PauseTiming();
        CxImage *work = new CxImage(page);
        state.ResumeTiming();
        benchmark::DoNotOptimize(op(*work));
        state.PauseTiming();
        delete work;
        state.ResumeTiming();
    }
    PerPixel(state);
}

void BM_GrayScale24To8(benchmark::State &state)
{
    OnCopy(state, ColourPage(), [](CxImage &img) { return img.GrayScale(); });
}

void BM_Threshold(benchmark::State &state)
{
    OnCopy(state, GreyPage(), [](CxImage &img) { return img.Threshold(175); });
}

void BM_Dither(benchmark::State &state)
{
    const int method = static_cast<int>(state.range(0));
    OnCopy(state, GreyPage(), [method](CxImage &img) { return img.Dither(method); });
}

} // namespace

BENCHMARK(BM_Memcpy8BitPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrayScale24To8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Threshold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dither)
    ->ArgName("method")
    ->Arg(0) // Floyd-Steinberg
    ->Arg(2) // Burkes
    ->Arg(6) // Stevenson-Arce
    ->Arg(9) // ordered 16x16
    ->Arg(1)
    ->Arg(7)
    ->Arg(8) // the other ordered methods
    ->Arg(3)
    ->Arg(4)
    ->Arg(5) // the other error-diffusion kernels
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
