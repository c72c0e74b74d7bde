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
#include "PageTypes.h"
#include "RegStruct.h"

class CBaseRender;
class CxImage;

// The engine image of a raster page: raster line i is stored row i. Colour
// pixels arrive red first and are stored blue first, as the engine keeps
// them, so that their grey is their true luminance; the fourth byte of a
// 32-bit pixel is left out, whatever it holds. False when the engine cannot
// hold the page (its depth, its size, no memory).
bool MakePageImage(const RasterImage &page, CxImage &image);

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
