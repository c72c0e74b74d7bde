// What the app accepts as a printer's device address, without PAPPL: the
// rules a printer is checked against when it is added (and when the saved
// printers are loaded), and that the serial device applies again when it
// opens the port.
#pragma once

#include <string>
#include <vector>

struct DevicePolicy {
    // The only directory under which a file: device may write; empty: no
    // file: device at all. The administrator sets it (server option
    // file-directory).
    std::string fileDirectory;
    // Paths a serial: device may open (fnmatch patterns): the serial
    // adapters and Bluetooth serial links by default, more by the
    // administrator (server option serial-ports, e.g. /dev/pts/* for tests).
    std::vector<std::string> serialPatterns;
};

// The serial ports every policy allows.
std::vector<std::string> DefaultSerialPatterns();

// Splits "A,B,C" into its non-empty parts.
std::vector<std::string> SplitList(const std::string &list);

struct SerialAddress {
    std::string path;
    long baud = 115200;
    std::string problem; // empty when the address is well formed
};

// serial:/dev/ttyUSB0, serial:///dev/ttyUSB0, then ?baud=N.
SerialAddress ParseSerialUri(const std::string &uri);

// The local path of a file: address (file:///dir/, file:/dir/x?ext=bin).
std::string FilePathOf(const std::string &uri);

// True when the serial port PATH matches one of the policy's patterns.
bool SerialPortAllowed(const std::string &path, const DevicePolicy &policy);

// Empty when PATH (resolved through symbolic links, or its directory when
// it does not exist yet) lies in the policy's file directory; else why not.
std::string FileTargetProblem(const std::string &path, const DevicePolicy &policy);

// Empty when the app can use the device address URI; else the reason, for
// the administrator who adds the printer. Schemes other than file: and
// serial: are PAPPL's to judge.
std::string DeviceUriProblem(const std::string &uri, const DevicePolicy &policy);

// Opens the file a file: device at URI writes JOB_NAME's data to, walking
// down from the policy's file directory one name at a time and following no
// symbolic link: a file is added to; a directory gets a file per job, named
// after the job, emptied first. Only a regular file of the app's own user
// with no other name is written to. The descriptor, or -1 with the reason
// in PROBLEM.
int OpenFileDevice(const std::string &uri, const std::string &jobName, const DevicePolicy &policy,
                   std::string &problem);

// Empty when DIR may serve as the file device's directory: an existing
// directory that not every user may write to.
std::string FileDirectoryProblem(const std::string &dir);
