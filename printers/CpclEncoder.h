// CPCL page encoding: the bytes of a label as a function of the prepared
// page, the settings and the resolution, with no state of its own.
#pragma once

#include "MyBuffer.h"
#include "RegStruct.h"
#include "ximage.h"

namespace cpcl {

// "! offset 200 200 height 1": the 200 200 and the quantity are fixed; the
// offset is the horizontal adjustment (fReference[0]) in dots.
void AddBegin(NS_QV_CLASS::CMyBuffer &out, const tagREGSTRUCT &reg, int dpi, int height);
void AddPageWidth(NS_QV_CLASS::CMyBuffer &out, int width);
// The width field is the padded row stride in bytes, so the graphic may be
// up to 31 blank dots wider than PAGE-WIDTH. No line end follows the data.
void AddGraphicLine(NS_QV_CLASS::CMyBuffer &out, int stride, int height);
// Only gap and black-line media have a next label to feed to.
void AddForm(NS_QV_CLASS::CMyBuffer &out, const tagREGSTRUCT &reg);
void AddPrint(NS_QV_CLASS::CMyBuffer &out);

// One label. `page` is prepared (one bit, 1 = white, white row padding) and
// is read, never changed: the graphic carries its storage inverted (1 = dot,
// the padding blank). The buffer is reserved once, at the page's exact size, before appending.
void EncodePage(const CxImage &page, const tagREGSTRUCT &reg, int dpi, NS_QV_CLASS::CMyBuffer &out);

} // namespace cpcl
