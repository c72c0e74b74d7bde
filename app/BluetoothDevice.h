// "quillbt": Bluetooth printers reached over a kernel RFCOMM socket, listed
// from BlueZ (paired devices with a serial port), paced per printer family.
//   quillbt://0011223344AA?family=peripage
// "quillble": Bluetooth LE printers (the cat printers) through BlueZ's GATT
// API, listed from the LE devices BlueZ has seen.
//   quillble://0011223344AA
// See bluetooth/BtTarget.h for the settings a URI may carry.
#pragma once

void AddBluetoothScheme();
