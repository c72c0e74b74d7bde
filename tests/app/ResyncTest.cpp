// Bringing a printer back in step after a write that was cut off.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

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
