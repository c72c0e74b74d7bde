// Bluetooth addresses, quillbt: URIs, the families' pacing and the model
// guess from advertised names.
#include <gtest/gtest.h>

#include "BtGuess.h"
#include "BtTarget.h"

namespace {

struct AddressCase {
    const char *text;
    bool ok;
    const char *canonical;
};

const AddressCase kAddresses[] = {
    {"00:11:22:33:44:AA", true, "00:11:22:33:44:AA"},
    {"00-11-22-33-44-aa", true, "00:11:22:33:44:AA"},
    {"0011223344aA", true, "00:11:22:33:44:AA"},
    {"DC:0D:30:12:34:56", true, "DC:0D:30:12:34:56"},
    {"", false, ""},
    {"00:11:22:33:44", false, ""},
    {"00:11:22:33:44:AA:", false, ""},
    {"00:11:22:33:44:AAB", false, ""},
    {"00:11-22:33:44:AA", false, ""}, // mixed separators
    {"00.11.22.33.44.AA", false, ""},
    {"00:11:22:33:44:AG", false, ""},
    {"0011223344A", false, ""},
    {"0011223344AAB", false, ""},
    {"001122334 4A", false, ""},
    {"00:00:00:00:00:00", false, ""}, // no device has it
    {"FF:FF:FF:FF:FF:FF", false, ""}, // broadcast
    {"+0:11:22:33:44:AA", false, ""},
};

TEST(BtAddress, ParsesTheThreeSpellingsAndRefusesEverythingElse)
{
    for (const AddressCase &c : kAddresses) {
        bt::Address a{};
        EXPECT_EQ(bt::ParseAddress(c.text, a), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(bt::FormatAddress(a), c.canonical) << c.text;
        }
    }
}

TEST(BtAddress, CompactFormIsTwelveUpperCaseDigits)
{
    bt::Address a{};
    ASSERT_TRUE(bt::ParseAddress("0a:1b:2c:3d:4e:5f", a));
    EXPECT_EQ(bt::FormatAddressCompact(a), "0A1B2C3D4E5F");
}

struct UriCase {
    const char *uri;
    bool ok;
    int channel, chunk, pause;
    bt::Family family;
};

const UriCase kUris[] = {
    {"quillbt://0011223344AA", true, 1, 0, -1, bt::Family::Unknown},
    {"quillbt://0011223344AA/", true, 1, 0, -1, bt::Family::Unknown},
    {"quillbt://00-11-22-33-44-AA", true, 1, 0, -1, bt::Family::Unknown},
    {"quillbt://0011223344AA?family=peripage", true, 1, 0, -1, bt::Family::PeriPage},
    {"quillbt://0011223344AA/?channel=30&chunk=16&pause=0", true, 30, 16, 0, bt::Family::Unknown},
    {"quillbt://0011223344AA?chunk=65536&pause=2000&family=tspl", true, 1, 65536, 2000, bt::Family::Tspl},
    {"quillbt://0011223344AA?", true, 1, 0, -1, bt::Family::Unknown},
    {"quillbt://0011223344AA?channel=0", false, 0, 0, 0, bt::Family::Unknown},
    {"quillbt://0011223344AA?channel=31", false, 0, 0, 0, bt::Family::Unknown},
    {"quillbt://0011223344AA?channel=-1", false, 0, 0, 0, bt::Family::Unknown},
    {"quillbt://0011223344AA?channel=", false, 0, 0, 0, bt::Family::Unknown},
    {"quillbt://0011223344AA?channel=1x", false, 0, 0, 0, bt::Family::Unknown},
    {"quillbt://0011223344AA?channel=99999999999999999999", false, 0, 0, 0, bt::Family::Unknown},
    {"quillbt://0011223344AA?chunk=15", false, 0, 0, 0, bt::Family::Unknown},
    {"quillbt://0011223344AA?chunk=65537", false, 0, 0, 0, bt::Family::Unknown},
    {"quillbt://0011223344AA?pause=2001", false, 0, 0, 0, bt::Family::Unknown},
    {"quillbt://0011223344AA?family=laser", false, 0, 0, 0, bt::Family::Unknown},
    {"quillbt://0011223344AA?family=cat", false, 0, 0, 0, bt::Family::Unknown}, // LE only: quillble:
    {"quillbt://0011223344AA?baud=9600", false, 0, 0, 0, bt::Family::Unknown},
    {"quillbt://0011223344AA?channel", false, 0, 0, 0, bt::Family::Unknown},
    {"quillbt://00:11:22:33:44:AA", true, 1, 0, -1, bt::Family::Unknown},
    {"quillbt://", false, 0, 0, 0, bt::Family::Unknown},
    {"quillbt:0011223344AA", false, 0, 0, 0, bt::Family::Unknown},
    {"serial:/dev/rfcomm0", false, 0, 0, 0, bt::Family::Unknown},
    {"quillbt://0011223344AA/extra", false, 0, 0, 0, bt::Family::Unknown},
    {"quillbt://printer.local", false, 0, 0, 0, bt::Family::Unknown},
};

TEST(BtUri, ParsesSettingsInRangeAndRefusesTheRestWithAReason)
{
    for (const UriCase &c : kUris) {
        bt::Target t;
        std::string error;
        const bool ok = bt::ParseUri(c.uri, t, error);
        EXPECT_EQ(ok, c.ok) << c.uri << ": " << error;
        if (ok && c.ok) {
            EXPECT_EQ(t.channel, c.channel) << c.uri;
            EXPECT_EQ(t.chunk, c.chunk) << c.uri;
            EXPECT_EQ(t.pauseMs, c.pause) << c.uri;
            EXPECT_EQ(t.family, c.family) << c.uri;
        } else if (!c.ok) {
            EXPECT_FALSE(error.empty()) << c.uri;
        }
    }
}

TEST(BtUri, MakeUriWritesWhatParseUriReads)
{
    bt::Target t;
    ASSERT_TRUE(bt::ParseAddress("00:11:22:33:44:AA", t.address));
    EXPECT_EQ(bt::MakeUri(t), "quillbt://0011223344AA");
    t.family = bt::Family::Paperang;
    t.channel = 2;
    t.chunk = 128;
    t.pauseMs = 0;
    const std::string uri = bt::MakeUri(t);
    EXPECT_EQ(uri, "quillbt://0011223344AA?family=paperang&channel=2&chunk=128&pause=0");
    bt::Target back;
    std::string error;
    ASSERT_TRUE(bt::ParseUri(uri, back, error)) << error;
    EXPECT_EQ(back.address, t.address);
    EXPECT_EQ(back.family, t.family);
    EXPECT_EQ(back.channel, 2);
    EXPECT_EQ(back.chunk, 128);
    EXPECT_EQ(back.pauseMs, 0);
}

// quillble: the address as for quillbt, packet and pause in range; a
// setting of the RFCOMM link is refused.
TEST(BleUri, ParsesSettingsInRangeAndMakesWhatItReads)
{
    struct Case {
        const char *uri;
        bool ok;
        int packet, pause;
    } const cases[] = {
        {"quillble://0011223344AA", true, 0, -1},
        {"quillble://00:11:22:33:44:AA/?packet=20&pause=0", true, 20, 0},
        {"quillble://0011223344AA?packet=512&pause=2000", true, 512, 2000},
        {"quillble://0011223344AA?packet=19", false, 0, 0},
        {"quillble://0011223344AA?packet=513", false, 0, 0},
        {"quillble://0011223344AA?pause=2001", false, 0, 0},
        {"quillble://0011223344AA?channel=1", false, 0, 0},
        {"quillble://0011223344", false, 0, 0},
        {"quillbt://0011223344AA", false, 0, 0},
    };
    for (const Case &c : cases) {
        bt::BleTarget t;
        std::string error;
        const bool ok = bt::ParseBleUri(c.uri, t, error);
        EXPECT_EQ(ok, c.ok) << c.uri << ": " << error;
        if (!ok) {
            EXPECT_FALSE(error.empty()) << c.uri;
            continue;
        }
        EXPECT_EQ(t.packet, c.packet) << c.uri;
        EXPECT_EQ(t.pauseMs, c.pause) << c.uri;
        bt::BleTarget back;
        ASSERT_TRUE(bt::ParseBleUri(bt::MakeBleUri(t), back, error)) << bt::MakeBleUri(t);
        EXPECT_EQ(back.address, t.address);
        EXPECT_EQ(back.packet, t.packet);
        EXPECT_EQ(back.pauseMs, t.pauseMs);
    }
}

TEST(BtPacing, UriSettingsOverrideTheFamilyOneByOne)
{
    bt::Target t;
    t.family = bt::Family::EscPos;
    t.chunk = 64;
    const bt::Pacing p = t.Effective();
    EXPECT_EQ(p.chunk, 64);
    EXPECT_EQ(p.pauseMs, bt::DefaultPacing(bt::Family::EscPos).pauseMs);
}

// The byte rate a family's pacing allows must stay under what its slowest
// printer takes: speed (mm/s) x dots per mm x bytes per row.
struct RateCase {
    bt::Family family;
    double mmPerS, dotsPerMm, bytesPerRow;
};

const RateCase kRates[] = {
    {bt::Family::Paperang, 10, 8, 48}, {bt::Family::PeriPage, 10, 8, 48}, {bt::Family::EscPos, 50, 8, 48},
    {bt::Family::Tspl, 50.8, 8, 104},  {bt::Family::Cpcl, 50.8, 8, 104},  {bt::Family::Unknown, 10, 8, 48},
    {bt::Family::Niimbot, 10, 8, 48},  {bt::Family::Phomemo, 20, 8, 48},
};

TEST(BtPacing, EachFamilyStaysUnderItsSlowestPrintersRate)
{
    for (const RateCase &c : kRates) {
        const bt::Pacing p = bt::DefaultPacing(c.family);
        ASSERT_GT(p.pauseMs, 0) << bt::FamilyName(c.family);
        const double allowed = p.chunk * 1000.0 / p.pauseMs;
        EXPECT_LT(allowed, c.mmPerS * c.dotsPerMm * c.bytesPerRow) << bt::FamilyName(c.family);
    }
}

TEST(BtFamily, ModelNumbersOfThePpds)
{
    EXPECT_EQ(bt::FamilyOfModelNumber(20), bt::Family::Tspl);
    EXPECT_EQ(bt::FamilyOfModelNumber(21), bt::Family::EscPos);
    EXPECT_EQ(bt::FamilyOfModelNumber(22), bt::Family::Cpcl);
    EXPECT_EQ(bt::FamilyOfModelNumber(23), bt::Family::Paperang);
    EXPECT_EQ(bt::FamilyOfModelNumber(24), bt::Family::PeriPage);
    EXPECT_EQ(bt::FamilyOfModelNumber(-1), bt::Family::Unknown);
    EXPECT_EQ(bt::FamilyOfModelNumber(25), bt::Family::Cat);
    EXPECT_EQ(bt::FamilyOfModelNumber(26), bt::Family::Niimbot);
    EXPECT_EQ(bt::FamilyOfModelNumber(27), bt::Family::Phomemo);
    EXPECT_EQ(bt::FamilyOfModelNumber(28), bt::Family::Unknown);
}

struct GuessCase {
    const char *name;
    bt::Family family;
    const char *driver;
};

const GuessCase kGuesses[] = {
    {"Paperang", bt::Family::Paperang, "paperang-p1"},
    {"Paperang_P2", bt::Family::Paperang, "paperang-p2"},
    {"PeriPage_3A2B", bt::Family::PeriPage, "peripage-a6"},
    {"PeriPage+3A2B", bt::Family::PeriPage, "peripage-a6plus"},
    {"MTP-II", bt::Family::EscPos, "escpos-58"},
    {"PT-210_1234", bt::Family::EscPos, "escpos-58"},
    {"RPP02N", bt::Family::EscPos, "escpos-58"},
    {"POS-80C", bt::Family::EscPos, "escpos-80"},
    {"BlueTooth Printer", bt::Family::EscPos, "escpos-58"},
    {"XP-365B", bt::Family::Tspl, "tspl-203"},
    {"D110-H456", bt::Family::Niimbot, "niimbot-d110"}, // not the D11
    {"D11-A123", bt::Family::Niimbot, "niimbot-d11"},
    {"B18-C1", bt::Family::Niimbot, "niimbot-b18"}, // not the B1
    {"M120", bt::Family::Phomemo, "phomemo-m110"},
    {"My phone", bt::Family::Unknown, ""},
    {"", bt::Family::Unknown, ""},
    {"SuperMTP-II", bt::Family::Unknown, ""}, // the generic names count only at the start
};

TEST(BtGuess, AdvertisedNamesGiveFamilyAndDriver)
{
    for (const GuessCase &c : kGuesses) {
        const bt::Guess g = bt::GuessModel(c.name);
        EXPECT_EQ(g.family, c.family) << c.name;
        EXPECT_EQ(g.driver, c.driver) << c.name;
        EXPECT_EQ(g.deviceId.empty(), g.family == bt::Family::Unknown) << c.name;
    }
}

} // namespace
