// The printer's home page in the web interface, in place of PAPPL's: the
// same status, buttons and jobs, but the buttons that change the printer for
// everyone (pause, resume, hold and release new jobs, set as default) are
// for administrators only. PAPPL 1.3's own page does them for any client
// that sends the page's form field.
#pragma once

#include <pappl/pappl.h>

// PAPPL's printer creation callback: registers the page before PAPPL
// registers its own for the printer, which then stays unused.
void GuardPrinterHome(pappl_printer_t *printer, void *data);
