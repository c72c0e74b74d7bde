// `quillfeed-app devices`: every device found, each with its description
// (for Bluetooth printers their name and model guess) and its IEEE 1284
// device ID under its URI.
#pragma once

int ListDevices(const char *baseName);
