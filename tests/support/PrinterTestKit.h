// What the renderer tests (tests/printers) and the whole-filter tests of the
// same printers (tests/process) both build and read: expected bytes, one-bit
// pages as a prepared image and as a raster file, the renderer with its
// output captured, and readers for the framed and compressed streams. Kept in
// one place so that both levels expect the very same bytes.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "BaseRender.h"
#include "FilterRun.h"

using ByteVec = std::vector<uint8_t>;
// Whether the dot at column x, row y of a page is black.
using Black = std::function<bool(unsigned x, unsigned y)>;

// --- bytes -------------------------------------------------------------------
ByteVec Le16(unsigned v);
ByteVec Le32(uint32_t v);
ByteVec Be32(uint32_t v);
// Bytes [from, to) of s; both ends are clamped to its size.
ByteVec Slice(const ByteVec &s, size_t from, size_t to);
ByteVec Inverted(ByteVec data);
// Text lines, each ended by CR LF.
ByteVec Lines(const std::vector<std::string> &lines);
// Groups of text lines, one after the other.
std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts);
// The zlib stream (compress()) of the data.
ByteVec Zlib(const ByteVec &data);

// --- the renderer under test -------------------------------------------------
// A renderer at 203 dpi whose printer writes and trace lines are kept instead
// of going to fd 1 and the system log.
template <class Renderer> class CapturingRenderer : public Renderer {
public:
    CapturingRenderer() { this->m_iResolution = 203; }

    void WriteSpool(const void *data, int len) override
    {
        const auto *p = static_cast<const uint8_t *>(data);
        writes.emplace_back(p, p + len);
    }

    void AddLog(const char *format, ...) override
    {
        char text[512];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format, args);
        va_end(args);
        log += std::string(text) + "\n";
    }

    // What the command builders have appended to the page buffer so far.
    ByteVec Built() const
    {
        const auto *p = reinterpret_cast<const uint8_t *>(this->m_CmdBuffer.GetBuffer());
        return ByteVec(p, p + this->m_CmdBuffer.GetBufferLength());
    }

    std::vector<ByteVec> writes; // one entry per write to the printer
    std::string log;             // the trace lines, each ended by "\n"
};

// --- one-bit pages -----------------------------------------------------------
// A page as the renderers get it: one bit, 1 = white, the row padding white.
CxImage PreparedPage(unsigned width, unsigned height, const Black &black);
// The same page as a raster file carries it (1 = white), at dpi both ways.
RasterPage OneBitPage(unsigned width, unsigned height, unsigned dpi, const Black &black);
// An image's pixel storage, row padding included.
ByteVec Storage(const CxImage &img);
// A raster page's rows as the prepared image stores them: each row padded to
// whole 4-byte words, every bit after the last pixel white (1).
ByteVec PreparedRows(const RasterPage &page);

// Row y as the printer gets it, `bytes` long: a set bit prints, dots that do
// not fit are left out, the rest is 0.
ByteVec PrinterRow(unsigned width, unsigned y, const Black &black, unsigned bytes);
// Row y with all of its stored padding (to whole 4-byte words), zero.
ByteVec StoredRow(unsigned width, unsigned y, const Black &black);
// Rows 0 to height - 1 of `bytes` each; 0: the bytes that hold the dots.
ByteVec PrinterRows(unsigned width, unsigned height, const Black &black, unsigned bytes = 0);

// --- the filter ----------------------------------------------------------------
// Writes the pages as an uncompressed raster file and the PPD into `dir`, then
// runs the filter on them with the job's options.
FilterResult RunPages(const TempDir &dir, const std::vector<RasterPage> &pages, const TestPpd &printer,
                      const std::string &options);

// --- ESC/POS -------------------------------------------------------------------
namespace escpos {

inline const ByteVec kInit = {0x1B, 0x40, 0x00};
inline const ByteVec kCentre = {0x1B, 0x61, 0x01};

// GS v 0 with its mode byte, row width in bytes and row count.
ByteVec RasterHead(uint8_t mode, unsigned w, unsigned h);
// ESC J n.
ByteVec Feed(uint8_t n);

} // namespace escpos

// --- PeriPage ------------------------------------------------------------------
namespace peripage {

inline const ByteVec kWake = {0x10, 0xFF, 0xFE, 0x01};
inline const ByteVec kEscInit = escpos::kInit;
inline const ByteVec kCentre = escpos::kCentre;
inline const ByteVec kToMark = {0x1D, 0x0C};
inline const ByteVec kCutLine = {0x10, 0x50};
inline const ByteVec kEnd = {0x10, 0xFF, 0xFE, 0x45};

ByteVec Paper(uint8_t p);
ByteVec Density(uint8_t n);
// The plain raster: GS v 0 in normal mode.
ByteVec GsV0(unsigned w, unsigned h);

// One compressed raster command taken apart.
struct Compressed {
    unsigned w = 0, h = 0;
    uint32_t length = 0; // L: the deflate data and the Adler-32
    ByteVec rows;        // inflated
    bool adlerOk = false;
};

// Reads the command at `pos` (1F 00, big-endian w, h and L), inflates its raw
// deflate data and checks the big-endian Adler-32 that ends it; moves `pos`
// past it. Anything malformed is a test failure.
Compressed ReadCompressed(const ByteVec &s, size_t &pos);

} // namespace peripage

// --- Paperang ------------------------------------------------------------------
namespace paperang {

// The key every frame's CRC is seeded with.
constexpr uint32_t kCrcKey = 0x35769521;

// A frame's CRC by zlib, independent of the renderer's table.
uint32_t Crc(const ByteVec &inner);
// Inner command: 05 code byte2, the parameter count (LE16), the parameters.
ByteVec Inner(uint8_t code, uint8_t byte2, const ByteVec &params);
// A5 01, length (LE16), the inner command, its CRC (LE32), 5A.
ByteVec Frame(const ByteVec &inner);
// The inner command that carries one row.
ByteVec RowInner(unsigned index, const ByteVec &row);
ByteVec PaperType(unsigned v);

inline const ByteVec kBegin = Inner(0x19, 0x03, {});
inline const ByteVec kEnd = Inner(0x1A, 0x03, {});
inline const ByteVec kLocate300 = Inner(0x21, 0x01, Le32(300));
inline const ByteVec kFeed0 = Inner(0x16, 0x03, Le16(0));

// Splits a stream into frames, checking the framing and every CRC; returns
// the inner commands.
std::vector<ByteVec> Unframe(const ByteVec &s);

} // namespace paperang

// --- cat printers ----------------------------------------------------------------
namespace cattest {

// CRC-8 (polynomial 07) bit by bit, independent of the encoder's table.
uint8_t Crc8(const ByteVec &payload);
// 51 78 (or 22 21 with mx) cmd 00, the payload's length (LE16), the
// payload, its CRC-8, FF.
ByteVec Frame(uint8_t cmd, const ByteVec &payload, bool mx = false);
// Row y as the printers take it: 48 bytes, bit 0 of byte 0 the leftmost
// dot, 1 a dot.
ByteVec Row(unsigned width, unsigned y, const Black &black);

inline const ByteVec kLatticeStart = {0xAA, 0x55, 0x17, 0x38, 0x44, 0x5F, 0x5F, 0x5F, 0x44, 0x38, 0x2C};
inline const ByteVec kLatticeEnd = {0xAA, 0x55, 0x17, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x17};

} // namespace cattest

// --- Niimbot ---------------------------------------------------------------------
namespace niimbottest {

// 55 55 cmd len data, the XOR of cmd, len and data, AA AA; written apart
// from the encoder's.
ByteVec Packet(uint8_t cmd, const ByteVec &data);
// A row command's three black-dot counts of `row`, a third of `headBytes` each.
ByteVec Counts(const ByteVec &row, unsigned headBytes);
// 85: row number, counts, repeat, the row.
ByteVec BitmapRow(unsigned number, const ByteVec &row, unsigned repeat, unsigned headBytes);
// 84: row number, count.
ByteVec EmptyRows(unsigned number, unsigned count);

} // namespace niimbottest
// --- Phomemo printers --------------------------------------------------------------
namespace phomemotest {

// Row y of a page `width` dots wide as a head of `headDots` takes it: the
// page's bytes centred, bit 7 of a byte its leftmost dot, 1 a dot.
ByteVec HeadRow(unsigned headDots, unsigned width, unsigned y, const Black &black);
// GS v 0 commands of at most 255 rows each for `rows`, every row as wide.
ByteVec Raster(const std::vector<ByteVec> &rows);

inline const ByteVec kLabelFooter = {0x1F, 0xF0, 0x05, 0x00, 0x1F, 0xF0, 0x03, 0x00};
inline const ByteVec kM02Header = {0x1B, 0x40, 0x1B, 0x61, 0x01, 0x1F, 0x11, 0x02, 0x04};
inline const ByteVec kM02Footer = {0x1B, 0x64, 0x02, 0x1B, 0x64, 0x02};

} // namespace phomemotest
