// The filter process: arguments, inputs, the job loop over raster pages and
// the hand-off of each page to the page path.
#pragma once

#include <csignal>

class CCupsInstance {
public:
    virtual ~CCupsInstance() = default;

    // The whole job; returns the process exit status.
    int Run(int argc, char **argv);
};

// Process-wide job state. Canceled is written only by the SIGTERM handler
// (and reset by Run before the handler is installed).
extern volatile sig_atomic_t Canceled;
extern int Page;
extern int ModelNumber;
