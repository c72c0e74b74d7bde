// The PAPPL side of the printers: the driver list, the driver callback that
// describes a model to PAPPL, and the auto-add match on a USB device ID.
#pragma once

#include <pappl/pappl.h>

// The app's drivers, one per shipped PPD; the array lives as long as the
// process.
pappl_pr_driver_t *AppDrivers(int *count);

bool AppDriverCallback(pappl_system_t *system, const char *driverName, const char *deviceUri, const char *deviceId,
                       pappl_pr_driver_data_t *data, ipp_t **attrs, void *cbData);

const char *AppAutoAdd(const char *deviceInfo, const char *deviceUri, const char *deviceId, void *data);
