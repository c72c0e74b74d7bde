// The PAPPL side of the printers: the driver list, the driver callback that
// describes a model to PAPPL, and the auto-add match on a USB device ID.
#pragma once

#include <pappl/pappl.h>

#include <string>

#include "DriverTable.h"

// The app's drivers, one per shipped PPD; the array lives as long as the
// process.
pappl_pr_driver_t *AppDrivers(int *count);

bool AppDriverCallback(pappl_system_t *system, const char *driverName, const char *deviceUri, const char *deviceId,
                       pappl_pr_driver_data_t *data, ipp_t **attrs, void *cbData);

const char *AppAutoAdd(const char *deviceInfo, const char *deviceUri, const char *deviceId, void *data);

// PWG media name of a PPD size: the standard name where the size is one,
// else a self-describing name made of the PPD name and the size, in inches
// for inch sizes ("oe_2-25x1-25in_2.25x1.25in"), else in millimetres.
std::string MediaName(const PpdMedia &media);

// The words of the web interface for every driver's options, choices and
// media (PAPPL localisation strings); call before the system runs.
void AddWebStrings(pappl_system_t *system);
