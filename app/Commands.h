// Sub-commands where PAPPL 1.3's own fall short, run before papplMainloop:
//   delete -d NAME   PAPPL 1.3 reports printer-id 0 for a printer added
//                    since the server started, and its own delete gives up
//                    on it; this one takes the id from the system's list.
//   status -d NAME   PAPPL 1.3 runs the printer's reasons into the date
//                    ("...GMTmedia-empty"); this one says
//                    "Running, idle since DATE: media-empty, media-needed."
//   add ... -o NAME=VALUE
//                    PAPPL 1.3's add sends only the settings it knows the
//                    kind of, and leaves out the vendor ones
//                    (status-query-default=0, say) without a word; they
//                    are set after the printer is made, as modify does.
//   options -d NAME  PAPPL's list leaves out the vendor options; they are
//                    listed after it, with their choices and defaults.
//   submit [-d NAME] [-n COPIES] [-t TITLE] [-o NAME=VALUE] FILE...
//                    PAPPL 1.3's gives up after a minute without the job's
//                    answer, and a raster job is answered only once
//                    printed: a printer out of paper made it report a
//                    failure for a job that then printed. This one waits as
//                    long as the app answers, says once what the printer
//                    reports, and ends with a clear message if the app
//                    stops answering.
#pragma once

#include <string>
#include <vector>

// Deletes the printer named by -d through the running server. Returns the
// exit status, or -1 when it does not apply (no -d, no running server):
// PAPPL's own delete runs then.
int DeletePrinterCommand(int argc, char *argv[]);

// The arguments of a modify that sets the -o settings of an add (-d and
// every -o, nothing else); empty when the add has no -o.
std::vector<std::string> ModifyAfterAdd(int argc, char *argv[]);

// The state and reasons of the printer named by -d, from the running
// server. -1 when it does not apply (no -d, no running server): PAPPL's own
// status runs then.
int PrinterStatusCommand(int argc, char *argv[]);

// Sends FILEs ("-" or none: the standard input) to the printer named by
// -d (the default printer without -d) through the running server. -1 when
// it does not apply (-u, an option of PAPPL's alone, no running server):
// PAPPL's own submit runs then.
int SubmitCommand(int argc, char *argv[]);

// Lists the vendor options of the printer named by -d (the default printer
// without -d) from the running server; nothing when none answers.
void ShowVendorOptions(int argc, char *argv[]);
