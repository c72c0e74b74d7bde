// The test page of a printer, drawn dot for dot at its resolution: the
// model's name, a darkness ramp, a Code 128 barcode of the driver name and a
// one-dot grid along the edges of the printable area. Nothing here knows
// PAPPL.
#pragma once

#include <string>
#include <vector>

#include "DriverTable.h"
#include "PageFit.h"

// The module widths of a Code 128 (code set B) symbol for `text`: bar,
// space, bar, ... from the start character to the stop character, the
// check character included. Characters outside printable ASCII are left
// out.
std::vector<int> Code128Modules(const std::string &text);

// The test page for `model` on media of width x height dots (grey, 0 is
// black). The grid's outermost lines are the page's first and last rows and
// columns; its ticks are every millimetre along the edges.
Picture MakeTestPage(const PpdModel &model, unsigned width, unsigned height);
