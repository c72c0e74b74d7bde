// Pictures and test pages on PAPPL: the app's own PNG and JPEG filter (in
// place of PAPPL's), the "Print Test Page" file and the testpage
// sub-command.
#pragma once

#include <pappl/pappl.h>

// A job cancelled in the moment PAPPL started it (PAPPL then takes the
// cancel as of a pending job: its document is gone, yet the job goes on
// and would end "aborted") is cancelled again, now as a printing one, so
// that it ends "canceled". True when JOB was such a job; print nothing.
bool CanceledAsItStarted(pappl_job_t *job);

// Registers the PNG and JPEG filter for every printer language of the
// drivers; call before the system runs.
void AddPictureFilters(pappl_system_t *system);

// PAPPL's test page callback: writes the printer's test page as a PNG in
// the temporary directory and returns its name.
const char *TestPageFile(pappl_printer_t *printer, char *buffer, size_t bufsize);

// "quillfeed-app testpage -m DRIVER [-o media=NAME]": the test page as a
// PNG on the standard output, for "quillfeed-app submit -d PRINTER".
int TestPageCommand(const char *baseName, int numOptions, cups_option_t *options, int numFiles, char **files,
                    void *data);
