#include "CpclEncoder.h"

#include <cstdint>
#include <vector>

#include "Units.h"

using NS_QV_CLASS::CMyBuffer;

namespace cpcl {

namespace {

void EndLine(CMyBuffer &out)
{
    out.AddStringA("\r\n");
}

} // namespace

void AddBegin(CMyBuffer &out, const tagREGSTRUCT &reg, int dpi, int height)
{
    out.AddStringA("! ");
    out.AddInt(LengthToDots(reg.fReference[0], reg.iUnit, dpi));
    out.AddStringA(" 200 200 ");
    out.AddInt(height);
    out.AddStringA(" 1");
    EndLine(out);
}

void AddPageWidth(CMyBuffer &out, int width)
{
    out.AddStringA("PAGE-WIDTH ");
    out.AddInt(width);
    EndLine(out);
}

void AddGraphicLine(CMyBuffer &out, int stride, int height)
{
    out.AddStringA("CG ");
    out.AddInt(stride);
    out.AddStringA(" ");
    out.AddInt(height);
    out.AddStringA(" 0 0");
    EndLine(out);
}

void AddForm(CMyBuffer &out, const tagREGSTRUCT &reg)
{
    if (reg.iMediaType != kMediaGap && reg.iMediaType != kMediaBLine)
        return;
    out.AddStringA("FORM");
    EndLine(out);
}

void AddPrint(CMyBuffer &out)
{
    out.AddStringA("PRINT");
    EndLine(out);
}

void EncodePage(const CxImage &page, const tagREGSTRUCT &reg, int dpi, CMyBuffer &out)
{
    const int stride = static_cast<int>(page.GetEffWidth());
    const int height = static_cast<int>(page.GetHeight());
    // The lines around the graphic are written first, so that the page is
    // reserved at its exact size.
    CMyBuffer head, tail;
    AddBegin(head, reg, dpi, height);
    AddPageWidth(head, static_cast<int>(page.GetWidth()));
    AddGraphicLine(head, stride, height);
    AddForm(tail, reg);
    AddPrint(tail);
    out.Reserve(out.GetBufferLength() + head.GetBufferLength() + int64_t{stride} * height + tail.GetBufferLength());
    out.AddBuffer(head.GetBuffer(), head.GetBufferLength());
    // Rows in storage order, first raster line first; CG wants 1 = dot.
    std::vector<uint8_t> row(static_cast<size_t>(stride));
    for (int y = 0; y < height; ++y) {
        const uint8_t *bits = const_cast<CxImage &>(page).GetBits(static_cast<uint32_t>(y));
        for (int i = 0; i < stride; ++i)
            row[static_cast<size_t>(i)] = static_cast<uint8_t>(~bits[i]);
        out.AddBuffer(row.data(), stride);
    }
    out.AddBuffer(tail.GetBuffer(), tail.GetBufferLength());
}

} // namespace cpcl
