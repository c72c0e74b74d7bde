// "quillbt": Bluetooth printers reached over a kernel RFCOMM socket, listed
// from BlueZ (paired devices with a serial port), paced per printer family.
//   quillbt://0011223344AA?family=peripage
// See bluetooth/BtTarget.h for the settings a URI may carry.
#pragma once

void AddBluetoothScheme();
