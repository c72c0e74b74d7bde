// Bringing a printer back in step after a write that was cut off.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "JobKeeping.h"
#include "Resync.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(ResyncBytes, WhiteDotsForWhatIsInFlightThenTheLanguagesEnd)
{
    struct Case {
        int model;
        size_t inFlight;
        unsigned char fill;
        Bytes end;
    };
    const Case cases[] = {
        {20, 5, 0xFF, {'\r', '\n'}},
        {22, 4, 0x00, {'\r', '\n'}},
        {21, 3, 0x00, {0x1B, 0x40}},
        {24, 0, 0x00, {0x1B, 0x40}},
    };
    for (const Case &c : cases) {
        Bytes want(c.inFlight, c.fill);
        want.insert(want.end(), c.end.begin(), c.end.end());
        EXPECT_EQ(ResyncBytes(c.model, c.inFlight), want) << "model " << c.model;
    }
    EXPECT_TRUE(ResyncBytes(23, 100).empty()); // framed packets: nothing public to send
}

TEST(InFlightRecord, LastsFromBeginToEndAndSurvivesACutOffWrite)
{
    char dir[] = "/tmp/qf-inflight-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const InFlightRecord record(dir, "label/../x");
    EXPECT_EQ(record.Path(), std::string(dir) + "/in-flight-label____x"); // no way out of the directory
    EXPECT_EQ(record.Pending(), 0u);
    ASSERT_TRUE(record.Begin(123456));
    // A new process finds what the last one left.
    EXPECT_EQ(InFlightRecord(dir, "label/../x").Pending(), 123456u);
    EXPECT_EQ(InFlightRecord(dir, "other").Pending(), 0u);
    record.End();
    EXPECT_EQ(record.Pending(), 0u);
    EXPECT_NE(access(record.Path().c_str(), F_OK), 0);
    // A record of an absurd size is held at the largest page.
    std::ofstream(record.Path()) << "99999999999999999999\n";
    EXPECT_EQ(record.Pending(), size_t{256} << 20);
    record.End();
    rmdir(dir);
}

} // namespace

// Jobs kept over a stop: the state file's jobs that were printing become
// pending, nothing else changes, whatever a job's name holds.
namespace {

TEST(PendingAgain, OnlyTheStateOfJobsThatWerePrinting)
{
    struct Case {
        const char *in;
        const char *out;
        int resumed;
    };
    const Case cases[] = {
        {"Job id=\"3\" name=\"a\" state=\"5\" created=\"1\"\n", "Job id=\"3\" name=\"a\" state=\"3\" created=\"1\"\n",
         1},
        {"Job id=\"4\" name=\"b\" state=\"9\"\n", "Job id=\"4\" name=\"b\" state=\"9\"\n", 0},
        {"Job id=\"5\" name=\"x state=\\\"5\\\"\" state=\"4\"\n",
         "Job id=\"5\" name=\"x state=\\\"5\\\"\" state=\"4\"\n", 0},
        {"Job id=\"6\" name=\"q\\\\\" state=\"5\"", "Job id=\"6\" name=\"q\\\\\" state=\"3\"", 1},
        {"<Printer a>\nDeviceURI state=\"5\"\nJob id=\"7\" state=\"50\"\n",
         "<Printer a>\nDeviceURI state=\"5\"\nJob id=\"7\" state=\"50\"\n", 0},
    };
    for (const Case &c : cases) {
        int resumed = -1;
        EXPECT_EQ(PendingAgain(c.in, resumed), c.out) << c.in;
        EXPECT_EQ(resumed, c.resumed) << c.in;
    }
}

TEST(PagesRecord, CountsAndNamesRoundTrip)
{
    char dir[] = "/tmp/qf-pages.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const PagesRecord record(dir, 2, 17);
    EXPECT_EQ(record.Done(), 0);
    ASSERT_TRUE(record.Note(3));
    EXPECT_EQ(PagesRecord(dir, 2, 17).Done(), 3);
    int printer = 0, job = 0;
    EXPECT_TRUE(ParsePagesRecordName("pages-2-17", printer, job));
    EXPECT_EQ(printer, 2);
    EXPECT_EQ(job, 17);
    for (const char *bad :
         {"pages-2-17.new", "pages--1-2", "pages-2", "in-flight-2", "pages-0-3", "pages-1-99999999999"})
        EXPECT_FALSE(ParsePagesRecordName(bad, printer, job)) << bad;
    record.Remove();
    EXPECT_EQ(record.Done(), 0);
    rmdir(dir);
}

} // namespace
