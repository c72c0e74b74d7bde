// The app's own "usb" device, for PAPPL 1.3, where the app's socket and
// file devices can only go first if every scheme is the app's own (PAPPL
// 1.3 adds its own schemes only while none is registered, and keeps the
// first device registered under a name). A USB printer (interface class
// 7) is found by the URI its maker, model and serial number give
// (UsbAddress.h), the same URI PAPPL's own USB device gave it; it is taken
// from the kernel's printer driver while the app uses it. Reads wait at
// most kDeviceReadMs; the port status tells paper out and offline.
#pragma once

#include <pappl/pappl.h>

void AddUsbScheme();
