// TSPL label streams: CR LF terminated command lines; BITMAP carries binary
// data between its header and its CR LF.
#pragma once

#include "DecodeContext.h"

namespace qf::preview {

// Decodes the whole input of ctx. A page runs from the first command after
// the previous PRINT / SFAYPRINT up to and including the next one; it needs
// a SIZE line, and CLS before its first BITMAP. SETCOLOR RED / SETCOLOR
// BLACK select the plane of the next BITMAP; one BITMAP per plane and page.
// BITMAP mode 1 data (1 = white) and mode 3 zlib data (1 = black) both
// become planes with 1 = dot.
void DecodeTspl(DecodeContext &ctx);

} // namespace qf::preview
