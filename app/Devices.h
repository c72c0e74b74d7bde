// The device schemes the app adds to PAPPL's own (usb, socket, dnssd, snmp):
//
// "serial": USB serial adapters, CDC-ACM printers and Bluetooth serial
// links (rfcomm), the way the portables are reached.
//   serial:/dev/ttyUSB0            115200 baud, 8N1
//   serial:/dev/rfcomm0?baud=9600
//
// "file": printer data into a file, or one file per job into a directory
// (named after the job, "-2", "-3", ... added when taken); for tests and for
// printers reached another way.
//   file:///var/tmp/labels/        file:///dev/usb/lp0
#pragma once

void AddDeviceSchemes();
