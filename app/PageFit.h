// Pictures and pages placed on the media: fitted whole or filling it, a
// picture turned to the label's orientation, colour turned to grey. Nothing
// here knows PAPPL; the job path calls it with the media in dots.
#pragma once

#include <string>
#include <vector>

#include "PageTypes.h"

// An 8-bit picture, rows top first and packed: one channel (grey, 255 is
// white) or three (sRGB).
struct Picture {
    unsigned width = 0, height = 0, channels = 1;
    std::vector<unsigned char> pixels;
};

// How a picture meets the page (IPP print-scaling).
enum class Scaling {
    Fit,  // as large as fits whole, centred
    Fill, // covers the page, centred, the overhanging edges cut off
    None, // dot for dot, centred, the overhanging edges cut off
};

// Grey by luminance (ITU-R BT.601 weights): red is dark grey, not white.
unsigned char Luminance(unsigned red, unsigned green, unsigned blue);

// A quarter turn clockwise: the top row becomes the right column.
Picture TurnClockwise(const Picture &picture);

// Whether `picture` is landscape on a portrait page or the other way round
// (a square side takes either).
bool OrientationDiffers(unsigned width, unsigned height, unsigned pageWidth, unsigned pageHeight);

// `picture` on a white page of pageWidth x pageHeight dots, with the same
// channels. Scaling averages the area each page dot covers, so a picture
// of the page's own size comes out unchanged.
Picture PlaceOnPage(const Picture &picture, unsigned pageWidth, unsigned pageHeight, Scaling scaling);

// The media a raster page is fitted to, in dots: a page more than `slack`
// dots larger than width x height either way (a Letter page on a label), or
// wider than `maxWidth` (the print head; 0 when unknown), is fitted into it.
// The slack keeps pages that are a dot larger from rounding as they are.
// A page of another resolution than the printer's (xDpi x yDpi; 0: pages
// keep theirs) is first scaled to the printer's, so that it prints at its
// own size, whatever the fitting.
struct FitTarget {
    unsigned width = 0, height = 0; // 0: pages are never fitted
    unsigned slack = 0;
    unsigned maxWidth = 0;
    int xDpi = 0, yDpi = 0;
};

// The page fitted to `target`, or the page itself when it needs no
// fitting. A fitted page is 8-bit grey (24-bit for colour pages) and lives
// in `store`.
RasterImage FitPageToMedia(const RasterImage &page, const FitTarget &target, std::vector<unsigned char> &store);
