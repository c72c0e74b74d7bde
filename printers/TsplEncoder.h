// TSPL page encoding: the bytes of a label as a function of the prepared
// plane(s), the settings, the resolution and the model name, with no state
// of its own. The renderer (PrinterTSPL) checks the page first and writes;
// its command builders wrap the Add* below.
#pragma once

#include <zlib.h>

#include <functional>
#include <string>

#include "MyBuffer.h"
#include "RegStruct.h"
#include "ximage.h"

namespace tspl {

// zlib's compress() or a stand-in with its contract.
using Compressor = std::function<int(Bytef *dest, uLongf *destLen, const Bytef *source, uLong sourceLen)>;
// Where the trace line of a compression fallback goes.
using Trace = std::function<void(const std::string &line)>;

// Appends lines to a page; lengths in the settings unit become dots at dpi.
struct Lines {
    NS_QV_CLASS::CMyBuffer &out;
    int unit; // tagREGSTRUCT::iUnit
    int dpi;

    // Unit 1 sends " mm", unit 2 " dot", any other unit no unit word.
    void Size(double width, double height, int sizeUnit);
    void OnOff(const char *command, bool on); // "<command>ON" / "OFF"
    // `offWord` for mode 0, BATCH for mode 1, otherwise the count.
    void Cutter(const char *command, const char *offWord, int mode, int count);
    void Reference(float x, float y);
    // "<command><a> dot,<b> dot".
    void DotPair(const char *command, float a, float b);
    void Offset(float distance);
    // Negative: the printer's own setting, no line.
    void Density(int density);
    // The firmware rejects speed 0 and speeds above 12; those send 4.
    void Speed(int speed);
    void Line(const char *text);
    void Number(const char *command, int value); // "<command><value>"
    // Plain form (mode 1): the bits as prepared, 1 = white. Compressed form
    // (mode 3): a zlib stream of the inverted bits (the printer wants 1 =
    // dot there); when compression fails the plain form is sent, traced.
    void Bitmap(int x, int y, int widthBytes, int height, const uint8_t *bits, int length, bool compress,
                const Compressor &compressor, const Trace &trace);
    // "SFAYPRINT" for the one model whose firmware wants it, else "PRINT".
    void Print(const std::string &modelName, int sets, int copies);
};

// One label. `black` (and `red` in two-colour mode, else null) are prepared:
// one bit, 1 = white, white row padding; they are read, never changed. The
// page's command buffer is reserved once, at its exact size, before anything is
// appended.
void EncodePage(const CxImage &black, const CxImage *red, const tagREGSTRUCT &reg, int dpi,
                const std::string &modelName, NS_QV_CLASS::CMyBuffer &out, const Compressor &compressor,
                const Trace &trace);

} // namespace tspl
