// "quillbt": Bluetooth printers reached over a kernel RFCOMM socket, listed
// from BlueZ (paired devices with a serial port), paced per printer family.
//   quillbt://0011223344AA?family=peripage
// "quillble": Bluetooth LE printers (the cat printers) through BlueZ's GATT
// API, listed from the LE devices BlueZ has seen.
//   quillble://0011223344AA
// See bluetooth/BtTarget.h for the settings a URI may carry.
#pragma once

#include <pappl/pappl.h>

#include <string>

void AddBluetoothScheme();

// Why the last write to the job's Bluetooth printer failed (the job's
// device, opened by these schemes); empty for other printers and when no
// write failed.
std::string LinkError(pappl_job_t *job, pappl_device_t *device);
