// The app's own "socket" device (AppSocket/JetDirect, port 9100 unless the
// address names one):
//   socket://192.168.1.50          socket://printer.local:9101
//
// It differs from PAPPL 1.3's in what a status question may cost: a read
// waits at most kDeviceReadMs for the printer's answer, where PAPPL's waits
// ten seconds and cannot be cut short, so a label printer that ignores
// status queries would hold every job's end for ten seconds. A dropped
// connection fails the write with its reason. There is no SNMP here:
// supply levels and the SNMP device ID of PAPPL's device are for office
// printers, and its "snmp" scheme still offers them.
#pragma once

#include <pappl/pappl.h>

// How long a device read of the app's own devices waits for the printer.
constexpr int kDeviceReadMs = 1000;

// Writes all of BUFFER to FD (a socket, serial port or file; SIGPIPE is
// ignored in the app), or says why not on the device and returns -1.
ssize_t WriteAll(pappl_device_t *device, int fd, const void *buffer, size_t bytes);

// Registers the app's "socket" device.
void AddSocketScheme();
