// Byte-wise finishing of the prepared one-bit page.
//
// In a one-bit row the most significant bit of a byte is the leftmost pixel
// and a 1 bit is white. Printers want the opposite sense (Negative) and a
// defined value in the padding bits after the last pixel of a row
// (AdjustEffWidthBits), because several renderers send whole stored rows.
#include <cstring>

#include "BaseRender.h"

void CBaseRender::Negative(CxImage &image)
{
    if (!image.IsValid())
        return;
    const size_t n = static_cast<size_t>(image.GetEffWidth()) * image.GetHeight();
    unsigned char *p = image.GetBits(0);
    for (size_t i = 0; i < n; ++i)
        p[i] = static_cast<unsigned char>(~p[i]);
}

void CBaseRender::AdjustEffWidthBits(CxImage &image)
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
