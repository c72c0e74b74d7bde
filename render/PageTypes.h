// What a front end, the page intake and the page path hand each other: a
// page as read, the notes told about it and the outcome of printing it.
#pragma once

#include <functional>
#include <string>

// A raster page as read: rows top first, each bytesPerLine long (at least
// the bytes its width needs), in luminance form: a 1 bit or 255 is white.
// 1, 4, 8 and 24 bits per pixel print, colour red first (32-bit pixels are
// read as 24; their fourth byte is left out).
struct RasterImage {
    const void *data = nullptr;
    unsigned width = 0, height = 0;
    unsigned bitsPerPixel = 0, bytesPerLine = 0;
    int xDpi = 0, yDpi = 0;
};

// What the page path (and the page intake) tells about a page. The filter
// shows errors and warnings to CUPS and traces in the system log; the Printer
// Application writes them all to the job's log.
enum class NoteKind { Error, Warning, Trace };
using PageNotes = std::function<void(NoteKind kind, const std::string &text)>;

struct PageOutcome {
    bool printed = false;
    // Why a page was not printed, one sentence for the user (no "ERROR:"
    // prefix); empty when nothing needs saying.
    std::string reason;
};
