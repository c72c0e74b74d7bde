// A raster stream through the whole filter. The input's first byte picks the
// printer model and whether it prints two colours, the next kOptionBytes bytes pick a choice of each option (or
// leave it at the PPD's default), the rest is the raster stream.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzKit.h"

namespace {
constexpr size_t kOptionBytes = 16;
// 512 x 512 dots: room for every feature of a page, small enough to run fast.
constexpr uint64_t kMaxFuzzPixels = 1u << 18;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace qf::fuzz;
    if (size < 1 + kOptionBytes)
        return -1;
    const int model = 20 + data[0] % 8;
    std::string options;
    const auto &all = AllOptions();
    for (size_t i = 0; i < all.size(); ++i) {
        // Byte pairs share a byte: low nibble for one option, high for the
        // next; 0 keeps the default.
        const uint8_t b = data[1 + (i / 2) % kOptionBytes];
        const unsigned pick = i % 2 ? b >> 4 : b & 0x0F;
        if (pick == 0)
            continue;
        options += std::string(all[i].keyword) + "=" + all[i].choices[(pick - 1) % all[i].choices.size()] + " ";
    }
    static const std::string raster = ScratchDir() + "/page.ras";
    WriteFile(raster, data + 1 + kOptionBytes, size - 1 - kOptionBytes);
    if (!PagesWithin(raster, kMaxFuzzPixels))
        return -1;
    RunFilter(raster, PpdForModel(model, (data[0] / 7) % 2), options);
    return 0;
}
