// The device schemes: PAPPL's own (usb, socket, snmp, dnssd and file) and
// the app's:
//
// "serial": USB serial adapters, CDC-ACM printers and Bluetooth serial
// links (rfcomm), the way the portables are reached.
//   serial:/dev/ttyUSB0            115200 baud, 8N1
//   serial:/dev/rfcomm0?baud=9600
//
// PAPPL's "file" device writes into a file, or one file per job (named
// after the job) into a directory; the app accepts it only under the
// directory the administrator names (DevicePolicy, DeviceCheck.h).
#pragma once

#include <pappl/pappl.h>

#include "DeviceCheck.h"

// Before any other device call.
void AddDeviceSchemes();

void SetDevicePolicy(const DevicePolicy &policy);
const DevicePolicy &CurrentDevicePolicy();

// True when the printer may be made with DEVICE_URI; logs the reason when
// not.
bool DeviceUriAcceptable(pappl_system_t *system, const char *deviceUri);
