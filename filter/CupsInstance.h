// The filter process: arguments, inputs, the job loop over raster pages and
// the hand-off of each page to the renderer.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

#include <csignal>

#include "MyBuffer.h"

class CCupsInstance {
public:
    virtual ~CCupsInstance() = default;

    // The whole job; returns the process exit status.
    int Run(int argc, char **argv);
    // Builds the page image from the page buffer and runs the drawing hooks.
    void StartPage(ppd_file_t *ppd, cups_page_header2_t *header, NS_QV_CLASS::CMyBuffer &buffer);
    void EndPage(ppd_file_t *ppd, cups_page_header2_t *header);
};

// Process-wide job state. Canceled is written only by the SIGTERM handler
// (and reset by Run before the handler is installed).
extern volatile sig_atomic_t Canceled;
extern int Page;
extern int ModelNumber;
