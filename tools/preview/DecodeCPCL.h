// CPCL label streams: CR LF terminated lines; the CG graphics command's
// binary data follows its line and is not followed by a line end.
#pragma once

#include "DecodeContext.h"

namespace qf::preview {

// Decodes the whole input of ctx. Each label is
//   "! <offset> <hres> <vres> <height> <quantity>"  CR LF
//   "PAGE-WIDTH <dots>"                             CR LF
//   "CG <bytes per row> <rows> <x> <y>"             CR LF  <bytes x rows>
//   ["FORM"                                         CR LF]
//   "PRINT"                                         CR LF
// CG data is 1 = dot; its rows must fit the label height.
void DecodeCpcl(DecodeContext &ctx);

} // namespace qf::preview
