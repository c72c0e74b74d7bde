// The printer's own status in the app: a query before each page, and when
// someone looks at an idle printer (PAPPL's status callback, at most every
// few seconds), turned into printer-state-reasons (media-empty, media-needed, media-low, cover-open,
// media-jam, marker-supply-empty, offline).
//
// Out of paper, cover open and the like before a page: nothing more is sent,
// the job shows printer-stopped and waits, asking every second, and goes on
// by itself once the fault is cleared. A printer that does not answer within
// a second is "status unknown": printing goes on at once, and it is not asked
// again for a minute, then two, up to ten. The printer setting status-query
// (the PPD's qfStatusQuery) set to 0 turns the queries off; they are made
// only on connections that carry answers back (socket, usb, serial).
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <functional>
#include <vector>

// Before a page is sent; false when the job must end (cancelled while
// waiting, or the printer has gone), with the job's message set.
bool StatusBeforePage(pappl_job_t *job, pappl_device_t *device, int modelNumber);

// A question of the job's own to its printer, on a connection that carries
// answers back: `request` is sent and what comes back within timeoutMs is
// read until `whole` says it holds the answer. Empty when none came (or the
// connection carries none back).
std::vector<uint8_t> AskPrinter(pappl_job_t *job, pappl_device_t *device, const std::vector<uint8_t> &request,
                                int timeoutMs, const std::function<bool(const std::vector<uint8_t> &)> &whole);

// End of a job, before PAPPL closes the device.
void StatusEndJob(pappl_job_t *job);

// The job's bytes to its printer, written and flushed while no status read
// uses the device; false when any of them did not go out.
bool WriteToPrinter(pappl_job_t *job, pappl_device_t *device, const void *bytes, size_t size);

// How often an idle printer may be asked when someone looks at it (server
// option status-interval, 5 s by default); 0: never.
void SetIdleStatusInterval(int seconds);

// A deleted printer's watch goes.
void ForgetPrinter(int printerId);

// PAPPL's printer status callback (pappl_pr_driver_data_t.status_cb).
bool StatusCallback(pappl_printer_t *printer);
