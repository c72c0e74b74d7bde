// The device address rules and the loopback peer lookup, without PAPPL.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "DeviceCheck.h"
#include "PeerUid.h"

namespace {

struct SerialCase {
    const char *uri;
    const char *path;
    long baud;
    bool wellFormed;
};

TEST(DeviceCheck, SerialAddressesParse)
{
    const SerialCase cases[] = {
        {"serial:/dev/ttyUSB0", "/dev/ttyUSB0", 115200, true},
        {"serial:///dev/rfcomm0?baud=9600", "/dev/rfcomm0", 9600, true},
        {"serial://localhost/dev/ttyACM1", "/dev/ttyACM1", 115200, true},
        {"serial:/dev/ttyUSB0?baud=1200", "/dev/ttyUSB0", 1200, false},
        {"serial:/dev/ttyUSB0?baud=fast", "/dev/ttyUSB0", 115200, false},
        {"serial:/dev/ttyUSB0?parity=odd", "/dev/ttyUSB0", 115200, false},
        {"serial:ttyUSB0", "ttyUSB0", 115200, false},
        {"serial:", "", 115200, false},
    };
    for (const SerialCase &c : cases) {
        const SerialAddress a = ParseSerialUri(c.uri);
        EXPECT_EQ(a.path, c.path) << c.uri;
        EXPECT_EQ(a.baud, c.baud) << c.uri;
        EXPECT_EQ(a.problem.empty(), c.wellFormed) << c.uri << ": " << a.problem;
    }
}

TEST(DeviceCheck, SerialPortsAreTheAllowedOnes)
{
    DevicePolicy policy;
    policy.serialPatterns = DefaultSerialPatterns();
    EXPECT_TRUE(SerialPortAllowed("/dev/ttyUSB0", policy));
    EXPECT_TRUE(SerialPortAllowed("/dev/rfcomm12", policy));
    EXPECT_FALSE(SerialPortAllowed("/dev/pts/3", policy));
    EXPECT_FALSE(SerialPortAllowed("/dev/ttyUSB0/../sda", policy));
    EXPECT_FALSE(SerialPortAllowed("/etc/passwd", policy));
    policy.serialPatterns.push_back("/dev/pts/*");
    EXPECT_TRUE(SerialPortAllowed("/dev/pts/3", policy));
    // A pattern's "*" stays in its directory.
    EXPECT_FALSE(SerialPortAllowed("/dev/pts/3/x", policy));
}

TEST(DeviceCheck, ListsSplitOnCommas)
{
    EXPECT_EQ(SplitList("/dev/ttyS*,,/dev/pts/*"), (std::vector<std::string>{"/dev/ttyS*", "/dev/pts/*"}));
    EXPECT_TRUE(SplitList("").empty());
}

class FileDirectory : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/qf-devicecheck.XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root = name;
        chmod(root.c_str(), 0755);
        mkdir((root + "/out").c_str(), 0755);
        mkdir((root + "/other").c_str(), 0755);
        std::ofstream(root + "/other/secret.conf") << "x";
        ASSERT_EQ(symlink((root + "/other/secret.conf").c_str(), (root + "/out/link").c_str()), 0);
        policy.fileDirectory = root + "/out";
    }
    void TearDown() override
    {
        std::string command = "rm -rf '" + root + "'";
        EXPECT_EQ(system(command.c_str()), 0);
    }
    std::string root;
    DevicePolicy policy;
};

TEST_F(FileDirectory, OnlyPathsInsideItAreAccepted)
{
    struct {
        std::string uri;
        bool accepted;
    } cases[] = {
        {"file://" + root + "/out", true},
        {"file://" + root + "/out/", true},
        {"file://" + root + "/out/label.prn", true},
        {"file:" + root + "/out/label.prn?ext=bin", true},
        {"file://localhost" + root + "/out/", true},
        {"file://" + root + "/other/secret.conf", false},
        {"file://" + root + "/out/../other/secret.conf", false},
        {"file://" + root + "/out/link", false},
        {"file://" + root + "/outside", false},
        {"file://" + root + "/out-not", false},
        {"file://" + root + "/out/missing/label.prn", false},
        {"file:///etc/passwd", false},
        {"file://", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DeviceUriProblem(c.uri, policy).empty(), c.accepted)
            << c.uri << ": " << DeviceUriProblem(c.uri, policy);
}

// What a device open writes, after the printer was added: the file as it
// is then (a link swapped in, another name for it, a pipe) decides.
TEST_F(FileDirectory, TheDeviceOpensOnlyItsOwnFilesInside)
{
    const std::string out = root + "/out";
    mkdir((out + "/jobs").c_str(), 0755);
    std::ofstream(out + "/kept.prn") << "old";
    ASSERT_EQ(link((out + "/kept.prn").c_str(), (out + "/second-name").c_str()), 0);
    ASSERT_EQ(symlink((root + "/other").c_str(), (out + "/dirlink").c_str()), 0);
    ASSERT_EQ(mkfifo((out + "/pipe").c_str(), 0600), 0);
    struct {
        std::string uri, job, written; // written: the file that holds "new", empty when refused
    } cases[] = {
        {"file://" + out + "/label.prn", "a", out + "/label.prn"},
        {"file://" + out + "/jobs", "Label 1/2", out + "/jobs/Label 1_2.prn"},
        {"file://" + out + "/jobs/?ext=bin", "x", out + "/jobs/x.bin"},
        {"file://" + out + "/?ext=../../etc", "y", out + "/y.prn"},
        {"file://" + out + "/link", "a", ""},
        {"file://" + out + "/dirlink/secret.conf", "a", ""},
        {"file://" + out + "/../other/secret.conf", "a", ""},
        {"file://" + out + "/second-name", "a", ""},
        {"file://" + out + "/pipe", "a", ""},
        {"file://" + root + "/other/new.prn", "a", ""},
    };
    for (const auto &c : cases) {
        std::string problem;
        const int fd = OpenFileDevice(c.uri, c.job, policy, problem);
        EXPECT_EQ(fd >= 0, !c.written.empty()) << c.uri << ": " << problem;
        if (fd < 0) {
            EXPECT_NE(problem, "") << c.uri;
            continue;
        }
        EXPECT_EQ(write(fd, "new", 3), 3);
        close(fd);
        std::ifstream in(c.written);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, "new") << c.uri;
    }
    std::ifstream secret(root + "/other/secret.conf");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(secret)), std::istreambuf_iterator<char>()), "x");
    struct stat info;
    EXPECT_NE(stat((root + "/other/new.prn").c_str(), &info), 0);
    // A file is added to; a per-job file is made anew.
    std::string problem;
    for (const char *uri : {"/label.prn", "/jobs"}) {
        const int fd = OpenFileDevice("file://" + out + uri, "Label 1/2", policy, problem);
        ASSERT_GE(fd, 0) << problem;
        EXPECT_EQ(write(fd, "more", 4), 4);
        close(fd);
    }
    std::ifstream added(out + "/label.prn"), anew(out + "/jobs/Label 1_2.prn");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(added)), std::istreambuf_iterator<char>()), "newmore");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(anew)), std::istreambuf_iterator<char>()), "more");
}

TEST_F(FileDirectory, NoDirectoryNoFileDevice)
{
    policy.fileDirectory.clear();
    EXPECT_NE(DeviceUriProblem("file://" + root + "/out/", policy), "");
}

TEST_F(FileDirectory, AWorldWritableDirectoryIsRefused)
{
    EXPECT_EQ(FileDirectoryProblem(root + "/out"), "");
    chmod((root + "/out").c_str(), 0777);
    EXPECT_NE(FileDirectoryProblem(root + "/out"), "");
    EXPECT_NE(FileDirectoryProblem(root + "/nothing"), "");
}

TEST(DeviceCheck, SerialAddressNeedsAnExistingCharacterDevice)
{
    DevicePolicy policy;
    policy.serialPatterns = {"/dev/null", "/dev/ttyUSB*", "/tmp/*"};
    EXPECT_EQ(DeviceUriProblem("serial:/dev/null", policy), "");
    EXPECT_NE(DeviceUriProblem("serial:/dev/ttyUSB987", policy), "");
    EXPECT_NE(DeviceUriProblem("serial:/tmp", policy), "");
    EXPECT_NE(DeviceUriProblem("serial:/dev/zero", policy), "");
}

TEST(DeviceCheck, OtherSchemesArePapplsToJudge)
{
    DevicePolicy policy;
    EXPECT_EQ(DeviceUriProblem("socket://127.0.0.1:9100", policy), "");
    EXPECT_EQ(DeviceUriProblem("usb://Example/Printer?serial=1", policy), "");
}

// Two lines of /proc/net/tcp for one loopback connection from port 40000
// (uid 1000) to the server's port 8631 (uid 0), and a listener.
const char kTable[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
    "   0: 0100007F:21B7 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 100 1 0 100 0 0 10 0\n"
    "   1: 0100007F:9C40 0100007F:21B7 01 00000000:00000000 00:00000000 00000000  1000        0 101 1 0 20 4 30 10 "
    "-1\n"
    "   2: 0100007F:21B7 0100007F:9C40 01 00000000:00000000 00:00000000 00000000     0        0 102 1 0 20 4 30 10 "
    "-1\n";

TEST(PeerUid, TheClientsSocketNamesItsOwner)
{
    const unsigned char loopback[] = {127, 0, 0, 1};
    const TableAddress client = ToTableAddress(loopback, 4, 40000);
    const TableAddress server = ToTableAddress(loopback, 4, 8631);
    EXPECT_EQ(SocketOwner(kTable, client, server), 1000);
    EXPECT_EQ(SocketOwner(kTable, server, client), 0);
    EXPECT_EQ(SocketOwner(kTable, ToTableAddress(loopback, 4, 40001), server), -1);
    EXPECT_EQ(SocketOwner("", client, server), -1);
    EXPECT_EQ(SocketOwner("heading\ngarbage 1 2\n\n", client, server), -1);
}

TEST(PeerUid, AddressesAreWrittenAsTheKernelDoes)
{
    const unsigned char loopback[] = {127, 0, 0, 1};
    const TableAddress a = ToTableAddress(loopback, 4, 0x21B7);
    uint32_t word = 0x0100007F;
    const bool little = *reinterpret_cast<unsigned char *>(&word) == 0x7F;
    EXPECT_EQ(a.hexAddress, little ? "0100007F" : "7F000001");
    EXPECT_EQ(a.port, 0x21B7u);
    unsigned char six[16] = {};
    six[15] = 1;
    EXPECT_EQ(ToTableAddress(six, 16, 1).hexAddress.size(), 32u);
}

} // namespace
