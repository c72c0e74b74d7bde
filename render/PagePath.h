// The page path: from a raster page to the bytes a printer receives.
//
// A front end (the CUPS filter, the Printer Application) makes one PagePath
// per job and hands it every page:
//
//     PagePath path(modelNumber, settings, modelName, sink);
//     if (!path.Known()) ...             // no printer family for this model
//     path.StartJob();
//     for each page:
//         PageOutcome o = path.PrintPage(page, number);
//         if (!o.printed && !o.reason.empty()) show o.reason to the user
//         if (path.OutputFailed()) stop: the printer has gone
//     path.EndJob();                     // end-of-job bytes (e.g. a cut)
//
// The printer family comes from the model number (20 TSPL, 21 ESC/POS,
// 22 CPCL, 23 Paperang, 24 PeriPage); the settings record is read beforehand
// (SettingsReader.h). Every byte for the printer goes through the sink, each
// page in as few pieces as its family writes; a sink that returns false
// means the printer is gone, and nothing more is written after that.
//
// Inside, a page is prepared (tone, crop, geometry: PagePrep.cpp) into a
// one-bit image and encoded by its family (printers/).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "ObjRef.h"
#include "RegStruct.h"

class CBaseRender;

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

class CxImage;

// The engine image of a raster page: raster line i is stored row i. Colour
// pixels arrive red first and are stored blue first, as the engine keeps
// them, so that their grey is their true luminance; the fourth byte of a
// 32-bit pixel is left out, whatever it holds. False when the engine cannot
// hold the page (its depth, its size, no memory).
bool MakePageImage(const RasterImage &page, CxImage &image);

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

class PagePath {
public:
    // false: the printer has gone (the write failed).
    using Sink = std::function<bool(const void *data, size_t size)>;

    PagePath(int modelNumber, const tagREGSTRUCT &settings, const std::string &modelName, Sink sink);
    // The filter's form: the family is set up first and `readSettings` then
    // fills its settings record, the order the filter's trace has always had.
    PagePath(int modelNumber, const std::function<void(tagREGSTRUCT &)> &readSettings, const std::string &modelName,
             Sink sink);
    // A renderer made by the caller (tests); the path takes a reference.
    PagePath(CBaseRender *render, Sink sink);
    ~PagePath();
    PagePath(const PagePath &) = delete;
    PagePath &operator=(const PagePath &) = delete;

    // Where the path's traces go; unset, the system log (debug level, and
    // error level for a page image that can't be made). Refusals come back
    // in PageOutcome either way.
    void SetNotes(PageNotes notes);

    // Whether the model number named a printer family. Every other call does
    // nothing on a path that doesn't know its model.
    bool Known() const;
    const tagREGSTRUCT &Settings() const;

    void StartJob();
    PageOutcome PrintPage(const RasterImage &page, int pageNumber);
    void EndJob();
    // True once a write has failed; the job should stop and fail.
    bool OutputFailed() const;

private:
    void Attach(Sink sink);
    void Trace(NoteKind kind, const char *format, ...) __attribute__((format(printf, 3, 4)));

    CStdRefPtr<CBaseRender> m_render;
    std::string m_refusal;
    PageNotes m_notes;
};
