// Each printer-language decoder of the preview tool on arbitrary bytes; the
// first byte picks the decoder.
#include <cstddef>
#include <cstdint>

#include "Decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace qf::preview;
    if (size < 1)
        return -1;
    static const Lang langs[] = {Lang::Auto,     Lang::TSPL, Lang::CPCL,    Lang::ESCPOS, Lang::PeriPage,
                                 Lang::Paperang, Lang::Cat,  Lang::Niimbot, Lang::Phomemo};
    const DecodeResult r = Decode(data + 1, size - 1, langs[data[0] % 9]);
    // The text forms are part of what the tool prints.
    (void)FormatListing(r);
    (void)r.ErrorMessage();
    return 0;
}
