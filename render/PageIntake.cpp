#include "PageIntake.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <vector>

#include "PageCheck.h"
#include "PageLimits.h"
#include "TextFormat.h"

namespace {

// Where each ink of a pixel lies: its slot (0 first) among the pixel's
// `slots` equal fields; k < 0: no black ink. A pixel of 8 bits an ink holds
// its inks as bytes, three or four; at 1, 2 or 4 bits an ink it holds four
// fields, the first of them unused on a three-ink page, the first ink in the
// highest bits.
struct InkLayout {
    int c, m, y, k;
    unsigned bitsPerInk, pixelBits;
};

InkLayout InkLayoutOf(int space, unsigned bitsPerPixel)
{
    InkLayout l{};
    switch (space) {
    case CUPS_CSPACE_YMC:
        l = {2, 1, 0, -1, 0, 0};
        break;
    case CUPS_CSPACE_YMCK:
    case CUPS_CSPACE_GMCK:
    case CUPS_CSPACE_GMCS:
        l = {2, 1, 0, 3, 0, 0};
        break;
    case CUPS_CSPACE_KCMY:
        l = {1, 2, 3, 0, 0, 0};
        break;
    default:
        l = bitsPerPixel == 32 || (InkCount(space) == 4 && bitsPerPixel < 24) ? InkLayout{0, 1, 2, 3, 0, 0}
                                                                              : InkLayout{0, 1, 2, -1, 0, 0};
        break;
    }
    l.pixelBits = bitsPerPixel;
    l.bitsPerInk = bitsPerPixel >= 24 ? 8 : bitsPerPixel / 4;
    if (l.bitsPerInk < 8 && l.k < 0) {
        ++l.c;
        ++l.m;
        ++l.y;
    }
    return l;
}

// The level of the ink in `slot` of pixel x, 0 to 255.
unsigned InkLevel(const unsigned char *row, unsigned x, int slot, const InkLayout &l)
{
    if (slot < 0)
        return 0;
    if (l.bitsPerInk == 8)
        return row[size_t{x} * (l.pixelBits / 8) + static_cast<unsigned>(slot)];
    const size_t bit = size_t{x} * l.pixelBits + static_cast<unsigned>(slot) * l.bitsPerInk;
    const unsigned most = (1u << l.bitsPerInk) - 1;
    const unsigned level = (row[bit / 8] >> (8 - l.bitsPerInk - bit % 8)) & most;
    return level * 255 / most;
}

unsigned char Light(unsigned ink, unsigned black)
{
    return static_cast<unsigned char>(255 - std::min(255u, ink + black));
}

// Turns rows of ink pixels (rows `bytesPerLine` apart) into rows of RGB
// pixels, 3 * width bytes apart, in `out`. `out` may be `in` where a pixel
// takes at least three bytes: an output pixel then never lies beyond the
// input pixel it is made from, and each input pixel is read whole before its
// output is written.
void InkToRgb(const unsigned char *in, unsigned char *out, unsigned width, unsigned height, unsigned bytesPerLine,
              const InkLayout &layout)
{
    for (unsigned row = 0; row < height; ++row) {
        const unsigned char *from = in + size_t{row} * bytesPerLine;
        unsigned char *to = out + size_t{row} * width * 3;
        for (unsigned x = 0; x < width; ++x, to += 3) {
            const unsigned c = InkLevel(from, x, layout.c, layout), m = InkLevel(from, x, layout.m, layout),
                           y = InkLevel(from, x, layout.y, layout), k = InkLevel(from, x, layout.k, layout);
            to[0] = Light(c, k);
            to[1] = Light(m, k);
            to[2] = Light(y, k);
        }
    }
}

// A page of colour inks at 1, 2 or 4 bits an ink.
bool PackedInks(int space, unsigned bitsPerPixel)
{
    return InkCount(space) > 0 && (bitsPerPixel == 4 || bitsPerPixel == 8 || bitsPerPixel == 16);
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
    const int space = HeaderInt(header.cupsColorSpace);
    if (InkCount(space) == 4 && header.cupsBitsPerPixel == 24) {
        Tell(NoteKind::Error,
             "Page %d has 24 bits per pixel, too few for the four inks of its colour space; it was skipped.", number);
        return false;
    }
    // An ink page is printed from RGB, which may take more room than its ink.
    if (PackedInks(space, header.cupsBitsPerPixel) &&
        PageImageBytes(header.cupsWidth, header.cupsHeight, 24) > kMaxPageBytes) {
        Tell(NoteKind::Error, "%s", RefusalMessage(PageVerdict::TooLarge, number, header).c_str());
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
    if (m_bitsPerPixel <= 8 && !PackedInks(space, m_bitsPerPixel)) {
        const size_t n = size_t{m_header.cupsBytesPerLine} * m_header.cupsHeight;
        for (size_t i = 0; i < n; ++i)
            p[i] = static_cast<unsigned char>(~p[i]);
        if (space == CUPS_CSPACE_K)
            Tell(NoteKind::Trace, "page in black colour space: inverted to luminance");
        else
            Tell(NoteKind::Trace, "page in ink colour space %d: inverted to luminance", space);
        return;
    }
    const InkLayout layout = InkLayoutOf(space, m_bitsPerPixel);
    const unsigned width = m_header.cupsWidth, height = m_header.cupsHeight;
    if (layout.bitsPerInk == 8) {
        InkToRgb(p, p, width, height, m_bytesPerLine, layout);
    } else {
        std::vector<unsigned char> rgb(size_t{width} * 3 * height);
        InkToRgb(p, rgb.data(), width, height, m_bytesPerLine, layout);
        m_page.SetBufferSize(static_cast<int>(rgb.size()));
        m_page.InitBuffer(0);
        m_page.AddBuffer(rgb.data(), static_cast<int>(rgb.size()));
    }
    m_bitsPerPixel = 24;
    m_bytesPerLine = width * 3;
    Tell(NoteKind::Trace, "page in ink colour space %d: turned to RGB luminance", space);
}
