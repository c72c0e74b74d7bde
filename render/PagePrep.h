// Page preparation: from the page image built from the raster to the picture
// every renderer prints, a one-bit image with 1 = white (no dot) and white
// row padding. In two-colour mode the page is first split into a black and a
// red plane, and both are prepared.
//
// Every function here works on the images it is given, driven by the
// settings record and the page's horizontal resolution (millimetre lengths
// become dots at it), and nothing else. The functions that may refuse a page
// return the reason for the user, or "" when the page was prepared; a page
// that would outgrow the page limits is refused before the image is made.
#pragma once

#include <string>

#include "RegStruct.h"
#include "ximage.h"

// Largest white margin to trim at each edge, in dots; negative: no limit.
struct CropLimits {
    int top, bottom, left, right;
};

// The whole preparation of a page: in two-colour mode `page` is split and
// becomes the black plane and `red` the red plane; otherwise `red` is left
// alone.
std::string PreparePage(CxImage &page, CxImage &red, const tagREGSTRUCT &reg, int dpi);

// Its two halves, for a caller with work to do between them.
// Two-colour mode: a pixel whose channels differ by more than
// iColorThreshold is coloured; a coloured pixel brighter than
// iBrightThreshold goes to `red`, every other pixel stays in `page`. The
// other plane is white there.
std::string SplitColourPlanes(CxImage &page, CxImage &red, const tagREGSTRUCT &reg);
// One-colour mode: PrepareImage; two-colour mode: PreparePlanes.
std::string PrepareSplitPage(CxImage &page, CxImage &red, const tagREGSTRUCT &reg, int dpi);

// One image: one bit deep, shifted, cropped, mirrored, inverted and rotated
// as the settings ask, padding white.
std::string PrepareImage(CxImage &image, const tagREGSTRUCT &reg, int dpi);
// Two planes printed at the same origin: prepared like PrepareImage, but
// cropped by the white margin of both together, so red and black stay
// aligned.
std::string PreparePlanes(CxImage &black, CxImage &red, const tagREGSTRUCT &reg, int dpi);

// The crop limits of the settings, in dots at dpi.
CropLimits CropLimitsOf(const tagREGSTRUCT &reg, int dpi);
// Trims the white margins of a one-bit image, removing at each edge no more
// than its limit. The right edge removes one column more than its limit
// when the white margin is wider: printers have been tuned to that.
void CropWhiteEdge(CxImage &image, CropLimits limits);

// Byte-wise finishing of a one-bit image. In a row the most significant bit
// of a byte is the leftmost pixel. Printers that want a set bit to burn get
// the page inverted (Negative); several families send whole stored rows, so
// the padding bits after the last pixel of a row are made white
// (AdjustEffWidthBits).
void Negative(CxImage &image);
void AdjustEffWidthBits(CxImage &image);
