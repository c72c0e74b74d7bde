#include "PageIntake.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "PageCheck.h"
#include "TextFormat.h"

namespace {

// The byte of each ink in a pixel of a three- or four-ink page; k < 0: no
// black ink.
struct InkOrder {
    int c, m, y, k;
};

InkOrder InkOrderOf(int space, unsigned bitsPerPixel)
{
    switch (space) {
    case CUPS_CSPACE_YMC:
        return {2, 1, 0, -1};
    case CUPS_CSPACE_YMCK:
    case CUPS_CSPACE_GMCK:
    case CUPS_CSPACE_GMCS:
        return {2, 1, 0, 3};
    case CUPS_CSPACE_KCMY:
        return {1, 2, 3, 0};
    default:
        return bitsPerPixel == 32 ? InkOrder{0, 1, 2, 3} : InkOrder{0, 1, 2, -1};
    }
}

// Whether a page holds four inks per pixel, which only its 32-bit form has
// room for.
bool FourInkSpace(int space)
{
    return space == CUPS_CSPACE_YMCK || space == CUPS_CSPACE_GMCK || space == CUPS_CSPACE_GMCS ||
           space == CUPS_CSPACE_KCMY;
}

unsigned char Light(unsigned ink, unsigned black)
{
    return static_cast<unsigned char>(255 - std::min(255u, ink + black));
}

// Turns rows of ink pixels (`pixelBytes` each, rows `bytesPerLine` apart)
// into rows of RGB pixels, 3 * width bytes apart, in place: an output pixel
// never lies beyond the input pixel it is made from, and each input pixel is
// read whole before its output is written.
void InkToRgb(unsigned char *data, unsigned width, unsigned height, unsigned bytesPerLine, unsigned pixelBytes,
              InkOrder order)
{
    for (unsigned row = 0; row < height; ++row) {
        const unsigned char *in = data + size_t{row} * bytesPerLine;
        unsigned char *out = data + size_t{row} * width * 3;
        for (unsigned x = 0; x < width; ++x, in += pixelBytes, out += 3) {
            const unsigned c = in[order.c], m = in[order.m], y = in[order.y];
            const unsigned k = order.k < 0 ? 0 : in[order.k];
            out[0] = Light(c, k);
            out[1] = Light(m, k);
            out[2] = Light(y, k);
        }
    }
}

} // namespace

PageIntake::PageIntake(PageNotes notes) : m_notes(std::move(notes)) {}

void PageIntake::Tell(NoteKind kind, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = FormatTextV(format, args);
    va_end(args);
    if (m_notes)
        m_notes(kind, text);
}

bool PageIntake::Begin(const cups_page_header2_t &header, int number)
{
    m_header = header;
    m_number = number;
    m_rows = 0;
    m_open = false;
    const PageVerdict verdict = CheckPageHeader(header);
    if (verdict != PageVerdict::Ok) {
        Tell(NoteKind::Error, "%s", RefusalMessage(verdict, number, header).c_str());
        return false;
    }
    if (FourInkSpace(HeaderInt(header.cupsColorSpace)) && header.cupsBitsPerPixel == 24) {
        Tell(NoteKind::Error,
             "Page %d has 24 bits per pixel, too few for the four inks of its colour space; it was skipped.", number);
        return false;
    }
    // The header check bounded the page; the buffer's own content limit must
    // not cut a legitimate large page short.
    m_page.SetMaxBufferSize(0);
    m_page.SetBufferSize(static_cast<int>(uint64_t{header.cupsBytesPerLine} * header.cupsHeight));
    m_bitsPerPixel = header.cupsBitsPerPixel;
    m_bytesPerLine = header.cupsBytesPerLine;
    m_open = true;
    return true;
}

void PageIntake::AddRow(const void *row)
{
    if (!m_open || m_rows >= m_header.cupsHeight)
        return;
    m_page.AddBuffer(row, static_cast<int>(m_header.cupsBytesPerLine));
    ++m_rows;
}

bool PageIntake::Finish(RasterImage &page)
{
    if (!m_open)
        return false;
    m_open = false;
    const unsigned height = m_header.cupsHeight;
    if (m_rows == 0 && height > 0) {
        // Nothing of the page arrived: a page of filler would waste a label.
        Tell(NoteKind::Error, "Page %d has no raster data (the stream ends before its first row); it was skipped.",
             m_number);
        return false;
    }
    if (m_rows < height)
        Tell(NoteKind::Warning, "Page %d ends after %u of its %u rows; the %u missing rows are printed white.",
             m_number, m_rows, height, height - m_rows);
    FillWhite();
    MakeLuminance();
    page.data = m_page.GetBuffer();
    page.width = m_header.cupsWidth;
    page.height = height;
    page.bitsPerPixel = m_bitsPerPixel;
    page.bytesPerLine = m_bytesPerLine;
    page.xDpi = static_cast<int>(m_header.HWResolution[0]);
    page.yDpi = static_cast<int>(m_header.HWResolution[1]);
    return true;
}

// The rows a short page lacks, white in the page's own colour space, so that
// a cut stream prints blank paper rather than a black block.
void PageIntake::FillWhite()
{
    const int total = static_cast<int>(uint64_t{m_header.cupsBytesPerLine} * m_header.cupsHeight);
    const int have = m_page.GetBufferLength();
    if (have < total)
        memset(m_page.GetBuffer() + have, WhiteByte(m_header), static_cast<size_t>(total - have));
}

// Everything after the intake reads pages as luminance (a 1 bit, or 255,
// white), the form CUPS's grey and RGB rasterisers write. Pages that count ink
// (a 1 bit, or a high level, is a dot) are turned into that form here rather
// than printed as their negative.
void PageIntake::MakeLuminance()
{
    if (WhiteByte(m_header) != 0x00)
        return;
    const int space = HeaderInt(m_header.cupsColorSpace);
    auto *p = reinterpret_cast<unsigned char *>(m_page.GetBuffer());
    if (m_bitsPerPixel <= 8) {
        const size_t n = size_t{m_header.cupsBytesPerLine} * m_header.cupsHeight;
        for (size_t i = 0; i < n; ++i)
            p[i] = static_cast<unsigned char>(~p[i]);
        if (space == CUPS_CSPACE_K)
            Tell(NoteKind::Trace, "page in black colour space: inverted to luminance");
        else
            Tell(NoteKind::Trace, "page in ink colour space %d: inverted to luminance", space);
        return;
    }
    InkToRgb(p, m_header.cupsWidth, m_header.cupsHeight, m_bytesPerLine, m_bitsPerPixel / 8,
             InkOrderOf(space, m_bitsPerPixel));
    m_bitsPerPixel = 24;
    m_bytesPerLine = m_header.cupsWidth * 3;
    Tell(NoteKind::Trace, "page in ink colour space %d: turned to RGB luminance", space);
}
