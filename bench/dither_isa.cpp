// Each one-bit conversion of the image engine (threshold and every dithering
// method) at every instruction-set level the machine has, against the
// portable level in the same run: best of five, on a 4 x 6 in label at
// 203 dpi with text-like bars, a grey ramp and a noisy photo-like area.
//
//   qf_dither_isa [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ximadither_isa.h"
#include "ximage.h"

namespace {

constexpr uint32_t kW = 812, kH = 1218;

CxImage Label()
{
    std::vector<uint8_t> px(size_t{kW} * kH, 255);
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < kH; y++)
        for (uint32_t x = 0; x < kW; x++) {
            uint8_t &p = px[size_t{y} * kW + x];
            if (y < kH / 3) // bars with soft edges, as a barcode or text
                p = (x / 7) % 3 == 0 ? 0 : (x / 7) % 3 == 1 && x % 7 == 0 ? 128 : 255;
            else if (y < 2 * kH / 3) // a ramp
                p = static_cast<uint8_t>(1 + x * 253 / kW);
            else { // a photo: a ramp with noise
                noise = noise * 1103515245u + 12345u;
                p = static_cast<uint8_t>(
                    std::clamp(static_cast<int>(y * 255 / kH) + static_cast<int>(noise >> 27) - 16, 1, 254));
            }
        }
    CxImage img;
    img.CreateFromArray(px.data(), kW, kH, 8, kW, false);
    return img;
}

double Seconds(const CxImage &page, int method, int runs)
{
    double best = 1e9;
    for (int i = 0; i < runs; i++) {
        CxImage img(page);
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = method < 0 ? img.Threshold(128) : img.Dither(method);
        const auto t1 = std::chrono::steady_clock::now();
        if (!ok)
            std::exit(1);
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const CxImage page = Label();
    const int top = qf_image_detail::DitherIsaLevel();
    const char *names[] = {"threshold", "0 Floyd-Steinberg", "1 ordered 4x4",   "2 Burkes",
                           "3 Stucki",  "4 Jarvis",          "5 Sierra",        "6 Stevenson-Arce",
                           "7 Bayer",   "8 ordered 8x8",     "9 ordered 16x16", "10 text and barcodes"};
    std::printf("%-22s %10s", "conversion", "portable");
    for (int isa = 1; isa <= top; isa++)
        std::printf("   level %d  ratio", isa);
    std::printf("   (ms, best of %d)\n", runs);
    for (int method = -1; method <= 10; method++) {
        qf_image_detail::SetDitherIsaLevel(0);
        const double base = Seconds(page, method, runs);
        std::printf("%-22s %10.2f", names[method + 1], base * 1e3);
        for (int isa = 1; isa <= top; isa++) {
            qf_image_detail::SetDitherIsaLevel(isa);
            const double t = Seconds(page, method, runs);
            std::printf(" %10.2f %6.2f", t * 1e3, base / t);
        }
        std::printf("\n");
    }
    qf_image_detail::SetDitherIsaLevel(top);
    return 0;
}
