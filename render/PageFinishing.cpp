// Byte-wise finishing of the prepared one-bit page (see PagePrep.h).
#include <cstring>

#include "PagePrep.h"

void Negative(CxImage &image)
{
    if (!image.IsValid())
        return;
    const size_t n = static_cast<size_t>(image.GetEffWidth()) * image.GetHeight();
    unsigned char *p = image.GetBits(0);
    for (size_t i = 0; i < n; ++i)
        p[i] = static_cast<unsigned char>(~p[i]);
}

void AdjustEffWidthBits(CxImage &image)
{
    if (!image.IsValid())
        return;
    const unsigned width = image.GetWidth();
    const unsigned stride = image.GetEffWidth();
    const unsigned n = width / 8;
    const unsigned r = width % 8;
    for (unsigned y = 0; y < image.GetHeight(); ++y) {
        unsigned char *row = image.GetBits(y);
        unsigned first = n;
        if (r != 0 && n < stride) {
            row[n] |= static_cast<unsigned char>(0xFF >> r); // keep the r pixels
            first = n + 1;
        }
        if (first < stride)
            memset(row + first, 0xFF, stride - first);
    }
}
