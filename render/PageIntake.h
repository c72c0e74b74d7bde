// One page from a front end to the page path, under one set of rules for the
// CUPS filter (rows read from the raster stream) and the Printer Application
// (rows handed over by PAPPL):
//
//     PageIntake intake(notes);                 // one per page
//     if (intake.Begin(header, number)) {       // the page limits, room for it
//         for each row: intake.AddRow(row);     // top first
//         RasterImage page;
//         if (intake.Finish(page))              // short page, luminance
//             path.PrintPage(page, number);
//     }
//
// - The header is checked (CheckPageHeader) before anything is allocated; a
//   refused page is told as an error and its rows are left to the caller to
//   drop.
// - A page whose rows end early is filled with white in its own colour space
//   and printed, with a warning; a page without a single row is skipped, with
//   an error.
// - Pages in an ink colour space (K, CMY, CMYK and the like) are turned into
//   luminance, the form the page path reads: one- to 8-bit pages inverted,
//   three-ink pages to RGB, four-ink pages to 24-bit RGB.
#pragma once

#include <cups/raster.h>

#include "MyBuffer.h"
#include "PageTypes.h"

class PageIntake {
public:
    explicit PageIntake(PageNotes notes);

    // Starts page `number` (counted from 1, for the messages). False: the
    // page is refused, with an error told; no row is kept until the next
    // Begin.
    bool Begin(const cups_page_header2_t &header, int number);
    // The page's next row, the header's bytes per line long. Rows past the
    // page's height, or of a refused page, are not kept.
    void AddRow(const void *row);
    // Rows kept so far on this page.
    unsigned Rows() const { return m_rows; }
    // Completes the page into `page`, which points into the intake. False:
    // nothing to print (no page begun, or no row came).
    bool Finish(RasterImage &page);

private:
    void Tell(NoteKind kind, const char *format, ...) __attribute__((format(printf, 3, 4)));
    void FillWhite();
    void MakeLuminance();

    PageNotes m_notes;
    cups_page_header2_t m_header{};
    NS_QV_CLASS::CMyBuffer m_page;
    int m_number = 0;
    unsigned m_rows = 0;
    unsigned m_bitsPerPixel = 0, m_bytesPerLine = 0; // as the page path reads the page
    bool m_open = false;
};
