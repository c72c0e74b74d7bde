// The app refuses a Bluetooth printer's address it could not use when the
// printer is added, with the reason, and takes a good one.
#include <gtest/gtest.h>

#include "DeviceCheck.h"

namespace {

struct Case {
    const char *uri;
    const char *problem; // part of the reason, "" for none
};

const Case kCases[] = {
    {"quillbt://0011223344AA", ""},
    {"quillbt://0011223344AA?family=peripage&chunk=128&pause=40", ""},
    {"quillbt://00112233", "is not a Bluetooth address"},
    {"quillbt://0011223344AA?channel=0", "is not a setting of a Bluetooth printer"},
    {"quillbt://0011223344AA?family=laser", "is not a setting of a Bluetooth printer"},
    {"quillbt:0011223344AA", "is not a quillbt:// address"},
    {"quillble://0011223344AA?packet=100", ""},
    {"quillble://0011223344AA?family=cat", "is not a setting of a Bluetooth LE printer"},
    {"quillble://00112233", "is not a Bluetooth address"},
};

TEST(AppDeviceCheck, BluetoothAddressesAreCheckedWhenAPrinterIsAdded)
{
    const DevicePolicy policy{std::string(), DefaultSerialPatterns()};
    for (const Case &c : kCases) {
        const std::string problem = DeviceUriProblem(c.uri, policy);
        if (!*c.problem) {
            EXPECT_EQ(problem, "") << c.uri;
        } else {
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.uri << ": " << problem;
            EXPECT_NE(problem.back(), '.') << c.uri; // the log line adds its own
        }
    }
}

} // namespace
