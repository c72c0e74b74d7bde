#include "TsplEncoder.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "TextFormat.h"
#include "Units.h"

using NS_QV_CLASS::CMyBuffer;

namespace tspl {

namespace {

// The one model whose firmware takes SFAYPRINT in place of PRINT.
const char kSfayModelName[] = "do-zidivoz";

void EndLine(CMyBuffer &out)
{
    out.AddStringA("\r\n");
}

// One BITMAP command, assembled before anything is appended so that the
// label's size is known: its text up to the data, then the data (the
// plane's own bits or their zlib form) and the line end.
struct BitmapCommand {
    CMyBuffer head;
    std::unique_ptr<Bytef[]> packed;
    const uint8_t *data = nullptr;
    int length = 0;

    int64_t Bytes() const { return head.GetBufferLength() + int64_t{length} + 2; }
    void AppendTo(CMyBuffer &out) const
    {
        out.AddBuffer(head.GetBuffer(), head.GetBufferLength());
        out.AddBuffer(data, length);
        EndLine(out);
    }
};

// The zlib form of the inverted bits (the printer wants 1 = dot there);
// false when there is none, traced.
bool Pack(BitmapCommand &command, const uint8_t *bits, int length, const Compressor &compressor, const Trace &trace)
{
    std::vector<Bytef> dots(bits, bits + length);
    for (Bytef &b : dots)
        b = static_cast<Bytef>(~b);
    const uLong bound = compressBound(static_cast<uLong>(length));
    std::unique_ptr<Bytef[]> packed(new (std::nothrow) Bytef[bound]);
    if (!packed) {
        trace(FormatText("BITMAP: no memory for %lu bytes of compressed data; sending the plain bitmap",
                         static_cast<unsigned long>(bound)));
        return false;
    }
    uLongf packedLen = bound;
    const int rc = compressor(packed.get(), &packedLen, dots.data(), static_cast<uLong>(length));
    if (rc != Z_OK) {
        trace(FormatText("BITMAP: zlib compress failed (%d: %s); sending the plain bitmap", rc, zError(rc)));
        return false;
    }
    if (packedLen > static_cast<uLongf>(INT_MAX)) {
        trace(FormatText("BITMAP: %lu bytes of compressed data are too many for one command; sending "
                         "the plain bitmap",
                         static_cast<unsigned long>(packedLen)));
        return false;
    }
    command.packed = std::move(packed);
    command.data = command.packed.get();
    command.length = static_cast<int>(packedLen);
    return true;
}

// Mode 3 with the compressed data, or mode 1 with the bits as they are.
void MakeBitmap(BitmapCommand &command, int x, int y, int widthBytes, int height, const uint8_t *bits, int length,
                bool compress, const Compressor &compressor, const Trace &trace)
{
    CMyBuffer &head = command.head;
    head.AddStringA("BITMAP ");
    head.AddInt(x);
    head.AddStringA(",");
    head.AddInt(y);
    head.AddStringA(",");
    head.AddInt(widthBytes);
    head.AddStringA(",");
    head.AddInt(height);
    head.AddStringA(",");
    if (length < 0)
        length = 0;
    if (compress && Pack(command, bits, length, compressor, trace)) {
        head.AddStringA("3,");
        head.AddInt(command.length);
        head.AddStringA(",");
    } else {
        head.AddStringA("1,");
        command.data = bits;
        command.length = length;
    }
}

// A whole plane as one bitmap at the label's origin.
void MakePlane(BitmapCommand &command, const CxImage &plane, const tagREGSTRUCT &reg, const Compressor &compressor,
               const Trace &trace)
{
    const uint64_t bytes = static_cast<uint64_t>(plane.GetEffWidth()) * plane.GetHeight();
    MakeBitmap(command, 0, 0, static_cast<int>(plane.GetEffWidth()), static_cast<int>(plane.GetHeight()),
               const_cast<CxImage &>(plane).GetBits(0), static_cast<int>(bytes), reg.bImageCompress, compressor, trace);
}

// SET PEEL / CUTTER / PARTIAL_CUTTER / TEAR for iPostAction: 1 tear, 2 cut,
// 3 peel, 4 partial cut after every label; anything else sends nothing.
void AddPostAction(Lines &lines, int action)
{
    if (action < 1 || action > 4)
        return;
    lines.OnOff("SET PEEL ", action == 3);
    lines.Cutter("SET CUTTER ", "FALSE", action == 2 ? 2 : 0, action == 2 ? 1 : 0);
    lines.Cutter("SET PARTIAL_CUTTER ", "OFF", action == 4 ? 2 : 0, action == 4 ? 1 : 0);
    lines.OnOff("SET TEAR ", action == 1);
}

} // namespace

void Lines::Line(const char *text)
{
    out.AddStringA(text);
    EndLine(out);
}

void Lines::Size(double width, double height, int sizeUnit)
{
    const char *unitWord = sizeUnit == 1 ? " mm" : sizeUnit == 2 ? " dot" : "";
    // "%.2f" of the largest double is 312 characters.
    char text[400];
    snprintf(text, sizeof text, "SIZE %.2f%s,", width, unitWord);
    out.AddStringA(text);
    snprintf(text, sizeof text, "%.2f%s", height, unitWord);
    Line(text);
}

void Lines::OnOff(const char *command, bool on)
{
    out.AddStringA(command);
    Line(on ? "ON" : "OFF");
}

void Lines::Cutter(const char *command, const char *offWord, int mode, int count)
{
    out.AddStringA(command);
    if (mode == 0)
        out.AddStringA(offWord);
    else if (mode == 1)
        out.AddStringA("BATCH");
    else
        out.AddInt(count);
    EndLine(out);
}

void Lines::Reference(float x, float y)
{
    out.AddStringA("REFERENCE ");
    out.AddInt(LengthToDots(x, unit, dpi));
    out.AddStringA(",");
    out.AddInt(LengthToDots(y, unit, dpi));
    EndLine(out);
}

void Lines::DotPair(const char *command, float a, float b)
{
    out.AddStringA(command);
    out.AddInt(LengthToDots(a, unit, dpi));
    out.AddStringA(" dot,");
    out.AddInt(LengthToDots(b, unit, dpi));
    Line(" dot");
}

void Lines::Offset(float distance)
{
    out.AddStringA("OFFSET ");
    out.AddInt(LengthToDots(distance, unit, dpi));
    Line(" dot");
}

void Lines::Density(int density)
{
    if (density >= 0)
        Number("DENSITY ", density);
}

void Lines::Speed(int speed)
{
    if (speed < 0)
        return;
    Number("SPEED ", speed == 0 || speed > 12 ? 4 : speed);
}

void Lines::Number(const char *command, int value)
{
    out.AddStringA(command);
    out.AddInt(value);
    EndLine(out);
}

void Lines::Bitmap(int x, int y, int widthBytes, int height, const uint8_t *bits, int length, bool compress,
                   const Compressor &compressor, const Trace &trace)
{
    BitmapCommand command;
    MakeBitmap(command, x, y, widthBytes, height, bits, length, compress, compressor, trace);
    command.AppendTo(out);
}

void Lines::Print(const std::string &modelName, int sets, int copies)
{
    out.AddStringA(modelName == kSfayModelName ? "SFAYPRINT " : "PRINT ");
    out.AddInt(sets);
    out.AddStringA(",");
    out.AddInt(copies);
    EndLine(out);
}

void EncodePage(const CxImage &black, const CxImage *red, const tagREGSTRUCT &reg, int dpi,
                const std::string &modelName, CMyBuffer &out, const Compressor &compressor, const Trace &trace)
{
    // The lines before the bitmaps, the bitmaps and the lines between and
    // after them are assembled first, so that the label is reserved at its
    // exact size.
    CMyBuffer text, redOn, redOff, print;
    Lines lines{text, reg.iUnit, dpi};

    // The horizontal resolution is the head's dot pitch in both directions:
    // every stored row prints as one dot line.
    const double dotsPerMm = dpi / 25.4;
    lines.Size(black.GetWidth() / dotsPerMm, black.GetHeight() / dotsPerMm, 1);
    if (reg.iPrinttype == 0 || reg.iPrinttype == 1)
        lines.OnOff("SET RIBBON ", reg.iPrinttype == 1);
    AddPostAction(lines, reg.iPostAction);
    lines.Reference(reg.fReference[0], reg.fReference[1]);

    // GAP 0,0 puts the printer in continuous mode; media kinds without a
    // sensing command of their own leave the printer's setting alone.
    if (reg.iMediaType == kMediaContinuous)
        lines.DotPair("GAP ", 0, 0);
    else if (reg.iMediaType == kMediaGap)
        lines.DotPair("GAP ", reg.fGap, reg.fGapOffset);
    else if (reg.iMediaType == kMediaBLine)
        lines.DotPair("BLINE ", std::trunc(reg.fGap), std::trunc(reg.fGapOffset)); // whole settings units

    lines.Offset(reg.iOffset);
    lines.Density(reg.iDensity);
    lines.Speed(reg.iSpeed);
    if (reg.bSendSetc) { // some firmware drops a job holding any SETC line
        lines.OnOff("SETC AUTODOTTED ", reg.iDottedline);
        lines.OnOff("SETC PAUSEKEY ", reg.bPauseKey);
        lines.OnOff("SETC WATERMARK ", reg.bWaterMark);
    }
    lines.Line("CLS");

    BitmapCommand redPlane, blackPlane;
    if (red) {
        Lines{redOn, reg.iUnit, dpi}.Number("SETCOLOR RED ", reg.iRedParam);
        MakePlane(redPlane, *red, reg, compressor, trace);
        Lines{redOff, reg.iUnit, dpi}.Line("SETCOLOR BLACK");
    }
    MakePlane(blackPlane, black, reg, compressor, trace);
    Lines{print, reg.iUnit, dpi}.Print(modelName, 1, 1);

    out.Reserve(out.GetBufferLength() + text.GetBufferLength() + redOn.GetBufferLength() +
                (red ? redPlane.Bytes() : 0) + redOff.GetBufferLength() + blackPlane.Bytes() + print.GetBufferLength());
    out.AddBuffer(text.GetBuffer(), text.GetBufferLength());
    if (red) {
        out.AddBuffer(redOn.GetBuffer(), redOn.GetBufferLength());
        redPlane.AppendTo(out);
        out.AddBuffer(redOff.GetBuffer(), redOff.GetBufferLength());
    }
    blackPlane.AppendTo(out);
    out.AddBuffer(print.GetBuffer(), print.GetBufferLength());
}

} // namespace tspl
