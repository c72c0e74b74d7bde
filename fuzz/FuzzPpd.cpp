// A PPD text through the PPD reader, the settings reader and one small page.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzKit.h"
#include "RasterWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace qf::fuzz;
    static const std::string raster = [] {
        std::string path = ScratchDir() + "/small.ras";
        RasterPage page = MakeWhitePage(64, 16, 1, 203, 203);
        for (size_t i = 0; i < page.data.size(); i += 3)
            page.data[i] = 0x5A;
        if (!WriteRasterFile(path, {page}, RasterFormat::Uncompressed))
            __builtin_trap();
        return path;
    }();
    static const std::string ppd = ScratchDir() + "/fuzzed.ppd";
    WriteFile(ppd, data, size);
    RunFilter(raster, ppd, "");
    return 0;
}
