// Decoder and checker for the printer byte streams of the filter: TSPL,
// CPCL, ESC/POS, PeriPage, Paperang, cat printers, Niimbot and Phomemo printers.
//
// Decoding stops at the first malformed byte. The result then carries the
// offset of that byte, the text of what was expected there, the pages that
// were complete before it and the listing up to it.
//
// Page parameters (Page::params) by language; values are decimal text
// unless stated:
//   TSPL      size ("40.04 mm,30.03 mm"), ribbon, peel, tear, cutter,
//             partial-cutter, reference ("x,y"), gap / bline ("24 dot,0 dot"),
//             offset ("0 dot"), density, speed, autodotted, pausekey,
//             watermark (ON/OFF), red-param, compressed ("0"/"1"), print
//             ("1,1"), print-command ("PRINT" or "SFAYPRINT")
//   CPCL      offset, hres, vres, label-height, quantity, page-width, form
//             ("1" when a FORM line was sent)
//   ESC/POS   align, mode (GS v 0 mode byte), feed (dots fed after the
//             image, all ESC J summed), feed-before, cut ("full"/"partial"),
//             drawer ("before", "after" or "before,after"), bands (raster
//             commands of the page: consecutive rasters of one width join
//             into one page), band-rows (rows of the tallest)
//   PeriPage  the ESC/POS names plus paper (paper-type byte), density,
//             compressed ("0"/"1"), locate ("1" for 1D 0C), cut-line ("1")
//   Paperang  paper-type, feed, locate, row-bytes
//   Cat       quality, energy, speed, feed, retract, row-bytes; MXW01
//             streams intensity and lines (the print request's count)
//   Niimbot   density, label-type, start, rows, cols, copies, row-bytes
//   Phomemo   align, header, media, speed, density, row-bytes, bands, feed,
//             end (DecodePhomemo.h)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Page.h"

namespace qf::preview {

enum class Lang { Auto, TSPL, CPCL, ESCPOS, PeriPage, Paperang, Cat, Niimbot, Phomemo };

struct DecodeResult {
    Lang lang = Lang::Auto;           // the language decoded (after detection)
    bool ok = false;                  // the whole stream is well formed
    size_t errorOffset = 0;           // first malformed byte (when !ok)
    std::string expected;             // "expected ..." text for that byte
    std::vector<std::string> listing; // one line per command
    std::vector<Page> pages;          // pages completed before any error

    // "error at byte N: expected ..." (empty when ok).
    std::string ErrorMessage() const;
};

// The language a stream's first bytes announce: 55 55 or 03 55 55
// Niimbot, 51 78 or 22 21 cat printers, 1B 4E or 1B 40 1B 61 01 1F 11 02
// Phomemo, A5 Paperang, 10 FF FE 01
// PeriPage, 1B 40 / 1B 70 / 1D 56 ESC/POS, "! " CPCL, "SIZE " TSPL; Auto
// when none matches. Status queries before them (ESC ! ?, ESC h, DLE EOT n)
// are passed over.
Lang DetectLang(const uint8_t *data, size_t size);

// Decodes `bytes` as `lang`, or as the detected language for Lang::Auto.
DecodeResult Decode(const std::vector<uint8_t> &bytes, Lang lang = Lang::Auto);
DecodeResult Decode(const uint8_t *data, size_t size, Lang lang = Lang::Auto);

// "tspl", "cpcl", "escpos", "peripage", "paperang", "cat", "niimbot", "phomemo" (and
// "auto").
const char *LangName(Lang lang);
// Inverse of LangName; false for an unknown name.
bool ParseLang(const std::string &name, Lang &lang);

// The listing as text, one line per entry, each ending in '\n'.
std::string FormatListing(const DecodeResult &result);

} // namespace qf::preview
