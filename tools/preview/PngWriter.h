// PNG pictures of decoded pages.
#pragma once

#include <string>

#include "Page.h"

namespace qf::preview {

// Writes the page to `path`: a one-colour page as a 1-bit greyscale PNG
// (white paper, black dots), a two-colour page as an 8-bit RGB PNG with the
// red plane drawn first and the black plane over it. Planes sit at their
// x/y placement. A page without dots area (0 x 0) becomes a single white
// pixel, since PNG has no empty image. On failure returns false and sets
// `error`.
bool WritePagePng(const Page &page, const std::string &path, std::string &error);

} // namespace qf::preview
