// Status replies: bytes as the printers' manuals give them, and junk.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "PrinterStatus.h"

using namespace qf::status;

namespace {

using Bytes = std::vector<uint8_t>;

ReplyState Read(int model, const Bytes &reply, PrinterStatus &s)
{
    return ReadReply(model, reply.data(), reply.size(), s);
}

PrinterStatus Done(int model, const Bytes &reply)
{
    PrinterStatus s;
    EXPECT_EQ(Read(model, reply, s), ReplyState::Done);
    return s;
}

PrinterStatus Make(std::initializer_list<bool PrinterStatus::*> on)
{
    PrinterStatus s;
    s.known = true;
    for (bool PrinterStatus::*f : on)
        s.*f = true;
    return s;
}

TEST(StatusQuery, BytesPerFamily)
{
    EXPECT_EQ(QueryFor(20).bytes, (Bytes{0x1B, '!', '?'}));
    EXPECT_EQ(QueryFor(20).replyLength, 1u);
    EXPECT_EQ(QueryFor(21).bytes, (Bytes{0x10, 0x04, 1, 0x10, 0x04, 2, 0x10, 0x04, 3, 0x10, 0x04, 4}));
    EXPECT_EQ(QueryFor(21).replyLength, 4u);
    EXPECT_EQ(QueryFor(22).bytes, (Bytes{0x1B, 'h'}));
    EXPECT_EQ(QueryFor(22).replyLength, 1u);
    EXPECT_EQ(QueryFor(25).bytes, (Bytes{0x51, 0x78, 0xA3, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF}));
}

// A cat printer's state notification, whole, cut short, or another frame.
TEST(StatusQuery, CatReplyIsTheStateNotification)
{
    PrinterStatus s;
    const Bytes paperOut = {0x51, 0x78, 0xA3, 0x00, 0x01, 0x00, 0x01, 0x07, 0xFF};
    EXPECT_EQ(ReadReply(25, paperOut.data(), paperOut.size(), s), ReplyState::Done);
    EXPECT_TRUE(s.paperOut);
    EXPECT_EQ(ReadReply(25, paperOut.data(), 7, s), ReplyState::Incomplete);
    const Bytes resume = {0x51, 0x78, 0xAE, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF};
    EXPECT_EQ(ReadReply(25, resume.data(), resume.size(), s), ReplyState::Junk);
}

// A Niimbot printer is asked with the heartbeat; its reply's lid, paper and
// tag bytes (by the reply's length) give the reasons, a tag not read being
// as no paper. Cut short it is incomplete; another packet, or a bad XOR, junk.
TEST(StatusQuery, NiimbotReplyIsTheHeartbeat)
{
    EXPECT_EQ(QueryFor(26).bytes, (Bytes{0x55, 0x55, 0xDC, 0x01, 0x01, 0xDC, 0xAA, 0xAA}));
    auto packet = [](uint8_t cmd, Bytes data) {
        Bytes p = {0x55, 0x55, cmd, uint8_t(data.size())};
        uint8_t x = uint8_t(cmd ^ data.size());
        for (uint8_t b : data)
            p.push_back(b), x ^= b;
        p.insert(p.end(), {x, 0xAA, 0xAA});
        return p;
    };
    auto dd13 = [&](uint8_t lid, uint8_t paper, uint8_t tag) {
        return packet(0xDD, {0, 0, 0, 0, 0, 0, 0, 0, 0, lid, 4, paper, tag});
    };
    const std::vector<std::pair<Bytes, std::vector<std::string>>> cases = {
        {dd13(0, 0, 1), {}},
        {dd13(1, 0, 1), {"cover-open"}},
        {dd13(0, 1, 1), {"media-empty", "media-needed"}},
        {dd13(0, 0, 0), {"media-empty", "media-needed"}},
        {packet(0xD9, {4, 30, 1, 0, 1, 0, 0, 0, 0}), {"media-empty", "media-needed", "cover-open"}},
    };
    for (const auto &c : cases) {
        PrinterStatus s;
        ASSERT_EQ(Read(26, c.first, s), ReplyState::Done);
        EXPECT_EQ(ReasonKeywords(s), c.second);
    }
    PrinterStatus s;
    const Bytes whole = dd13(0, 0, 1);
    EXPECT_EQ(ReadReply(26, whole.data(), whole.size() - 1, s), ReplyState::Incomplete);
    EXPECT_EQ(ReadReply(26, whole.data(), 3, s), ReplyState::Incomplete);
    EXPECT_EQ(Read(26, packet(0xB3, {0, 1, 100, 100}), s), ReplyState::Junk);
    Bytes badXor = whole;
    badXor[badXor.size() - 3] ^= 1;
    EXPECT_EQ(Read(26, badXor, s), ReplyState::Junk);
    EXPECT_FALSE(s.known);
}

TEST(StatusQuery, PortablesHaveNone)
{
    EXPECT_TRUE(QueryFor(23).bytes.empty());
    EXPECT_TRUE(QueryFor(24).bytes.empty());
    EXPECT_TRUE(QueryFor(0).bytes.empty());
}

struct Case {
    const char *what;
    int model;
    Bytes reply;
    PrinterStatus expect;
};

using P = PrinterStatus;

// A test name from a case's description: letters and digits only.
template <typename T> std::string NameOf(const ::testing::TestParamInfo<T> &info)
{
    std::string name;
    for (const char *p = info.param.what; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

class Replies : public ::testing::TestWithParam<Case> {};

TEST_P(Replies, ReadAsTheManualSays)
{
    EXPECT_EQ(Done(GetParam().model, GetParam().reply), GetParam().expect) << GetParam().what;
}

// TSPL's table: 00 normal, 01 head open, 02 jam, 04 out of paper, 05 out of
// paper and head open, 08 out of ribbon, 10 pause, 20 printing, 40 cover,
// 80 temperature.
// CPCL: bit 0 busy, 1 paper out, 2 latch open, 3 battery low, 4 reset.
// ESC/POS, DLE EOT 1..4 in order: 0x12 0x12 0x12 0x12 all well; 0x1A offline;
// 0x16 (n=2) cover open; 0x32 (n=2) stopped at paper end; 0x72 (n=4) roll
// end; 0x1E (n=4) near end; 0x1A (n=3) cutter error.
INSTANTIATE_TEST_SUITE_P(
    Manuals, Replies,
    ::testing::Values(
        Case{"tspl normal", 20, {0x00}, Make({})}, Case{"tspl head", 20, {0x01}, Make({&P::coverOpen})},
        Case{"tspl jam", 20, {0x02}, Make({&P::paperJam})}, Case{"tspl paper", 20, {0x04}, Make({&P::paperOut})},
        Case{"tspl paper+head", 20, {0x05}, Make({&P::paperOut, &P::coverOpen})},
        Case{"tspl ribbon", 20, {0x08}, Make({&P::ribbonOut})}, Case{"tspl pause", 20, {0x10}, Make({&P::paused})},
        Case{"tspl printing", 20, {0x20}, Make({&P::busy})}, Case{"tspl cover", 20, {0x40}, Make({&P::coverOpen})},
        Case{"tspl temperature", 20, {0x80}, Make({&P::otherError})}, Case{"cpcl ready", 22, {0x00}, Make({})},
        Case{"cpcl busy", 22, {0x01}, Make({&P::busy})}, Case{"cpcl paper", 22, {0x02}, Make({&P::paperOut})},
        Case{"cpcl latch", 22, {0x04}, Make({&P::coverOpen})}, Case{"cpcl battery", 22, {0x08}, Make({&P::batteryLow})},
        Case{"cpcl reset only", 22, {0x10}, Make({})}, Case{"escpos ready", 21, {0x12, 0x12, 0x12, 0x12}, Make({})},
        Case{"escpos drawer high", 21, {0x16, 0x12, 0x12, 0x12}, Make({})},
        Case{"escpos cover", 21, {0x1A, 0x16, 0x12, 0x12}, Make({&P::offline, &P::coverOpen})},
        Case{"escpos paper end stop", 21, {0x1A, 0x32, 0x12, 0x72}, Make({&P::offline, &P::paperOut})},
        Case{"escpos near end", 21, {0x12, 0x12, 0x12, 0x1E}, Make({&P::paperLow})},
        Case{"escpos cutter", 21, {0x1A, 0x52, 0x1A, 0x12}, Make({&P::offline, &P::otherError})},
        Case{"escpos offline only", 21, {0x1A, 0x12, 0x12, 0x12}, Make({&P::offline})}));

TEST(EscPosReply, AutomaticStatusBlockBetweenRepliesIsRead)
{
    // ASB: cover open (byte 1 bit 5), paper end (byte 3 bits 2-3); then the
    // four real-time replies say all is well, and the last word wins.
    EXPECT_EQ(Done(21, {0x12, 0x30, 0x00, 0x0C, 0x00, 0x12, 0x12, 0x12}), Make({}));
    EXPECT_EQ(Done(21, {0x12, 0x12, 0x12, 0x12}), Make({}));
}

TEST(EscPosReply, AutomaticStatusBlockAfterRepliesTellsTheLatestState)
{
    EXPECT_EQ(Done(21, {0x12, 0x12, 0x12, 0x12, 0x38, 0x00, 0x0F, 0x00}),
              Make({&P::offline, &P::coverOpen, &P::paperOut, &P::paperLow}));
}

TEST(EscPosReply, FewerThanFourRepliesWaitForMore)
{
    PrinterStatus s;
    EXPECT_EQ(Read(21, {}, s), ReplyState::Incomplete);
    EXPECT_EQ(Read(21, {0x12, 0x12, 0x12}, s), ReplyState::Incomplete);
    EXPECT_EQ(Read(21, {0x12, 0x10, 0x00}, s), ReplyState::Incomplete);
    EXPECT_FALSE(s.known);
}

struct Junk {
    const char *what;
    int model;
    Bytes reply;
};

class JunkReplies : public ::testing::TestWithParam<Junk> {};

TEST_P(JunkReplies, AreUnknown)
{
    PrinterStatus s;
    EXPECT_EQ(Read(GetParam().model, GetParam().reply, s), ReplyState::Junk) << GetParam().what;
    EXPECT_FALSE(s.known);
    EXPECT_FALSE(s.MustWait());
    EXPECT_TRUE(ReasonKeywords(s).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Garbage, JunkReplies,
    ::testing::Values(Junk{"tspl two bytes", 20, {0x00, 0x00}}, Junk{"cpcl two bytes", 22, {0x00, 0x02}},
                      Junk{"cpcl text", 22, {'O'}}, Junk{"cpcl bit 7", 22, {0x82}},
                      Junk{"escpos fixed bit 1 clear", 21, {0x10, 0x12, 0x12, 0x12}},
                      Junk{"escpos bit 7 set", 21, {0x92, 0x12, 0x12, 0x12}},
                      Junk{"escpos text", 21, {'O', 'K', '\r', '\n'}},
                      Junk{"escpos five replies", 21, {0x12, 0x12, 0x12, 0x12, 0x12}},
                      Junk{"escpos broken status block", 21, {0x10, 0x80, 0x00, 0x00, 0x12, 0x12, 0x12, 0x12}},
                      Junk{"paperang has no reply", 23, {0x00}}, Junk{"peripage has no reply", 24, {0x00}}),
    NameOf<Junk>);

TEST(StatusReply, OneByteFamiliesWaitForTheirByte)
{
    PrinterStatus s;
    EXPECT_EQ(Read(20, {}, s), ReplyState::Incomplete);
    EXPECT_EQ(Read(22, {}, s), ReplyState::Incomplete);
}

TEST(StatusWait, FaultsStopPrintingWarningsDoNot)
{
    EXPECT_TRUE(Make({&P::paperOut}).MustWait());
    EXPECT_TRUE(Make({&P::coverOpen}).MustWait());
    EXPECT_TRUE(Make({&P::paperJam}).MustWait());
    EXPECT_TRUE(Make({&P::ribbonOut}).MustWait());
    EXPECT_TRUE(Make({&P::paused}).MustWait());
    EXPECT_TRUE(Make({&P::offline}).MustWait());
    EXPECT_TRUE(Make({&P::otherError}).MustWait());
    EXPECT_FALSE(Make({&P::paperLow}).MustWait());
    EXPECT_FALSE(Make({&P::batteryLow}).MustWait());
    EXPECT_FALSE(Make({&P::busy}).MustWait());
    EXPECT_FALSE(PrinterStatus().MustWait());
}

TEST(StatusReasons, KeywordsForEachFault)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(ReasonKeywords(Make({&P::paperOut, &P::offline})), (V{"media-empty", "media-needed"}));
    EXPECT_EQ(ReasonKeywords(Make({&P::paperLow})), (V{"media-low"}));
    EXPECT_EQ(ReasonKeywords(Make({&P::coverOpen, &P::offline})), (V{"cover-open"}));
    EXPECT_EQ(ReasonKeywords(Make({&P::paperJam})), (V{"media-jam"}));
    EXPECT_EQ(ReasonKeywords(Make({&P::ribbonOut})), (V{"marker-supply-empty"}));
    EXPECT_EQ(ReasonKeywords(Make({&P::offline})), (V{"offline"}));
    EXPECT_EQ(ReasonKeywords(Make({&P::paused})), (V{"offline"}));
    EXPECT_EQ(ReasonKeywords(Make({&P::batteryLow})), (V{"battery-low"}));
    EXPECT_EQ(ReasonKeywords(Make({&P::busy})), V{});
}

TEST(StatusText, Describes)
{
    EXPECT_EQ(Describe(PrinterStatus()), "unknown");
    EXPECT_EQ(Describe(Make({})), "ready");
    EXPECT_EQ(Describe(Make({&P::paperOut, &P::coverOpen})), "out of paper, cover open");
}

} // namespace

namespace {

// The A3 state byte of a cat printer: one reason a bit, unknown bits left out.
TEST(CatState, ReasonsOfTheStateByte)
{
    const std::vector<std::pair<uint8_t, std::vector<std::string>>> cases = {
        {0x00, {}},
        {0x01, {"media-empty", "media-needed"}},
        {0x02, {"cover-open"}},
        {0x04, {"other"}},
        {0x08, {"battery-low"}},
        {0xF0, {}},
        {0xFF, {"media-empty", "media-needed", "cover-open", "other", "battery-low"}},
    };
    for (const auto &c : cases) {
        const PrinterStatus s = CatStateStatus(c.first);
        EXPECT_TRUE(s.known);
        EXPECT_EQ(ReasonKeywords(s), c.second) << int(c.first);
        EXPECT_EQ(s.MustWait(), (c.first & 0x07) != 0) << int(c.first);
    }
}

} // namespace

namespace {

// A Phomemo printer's paper and cover replies, in either order, with
// others between them; one missing waits, a broken one is junk.
TEST(PhomemoReply, PaperAndCoverReadInAnyOrder)
{
    EXPECT_EQ(QueryFor(27).bytes, (Bytes{0x1F, 0x11, 0x11, 0x1F, 0x11, 0x12}));
    struct Case {
        Bytes reply;
        ReplyState state;
        std::vector<std::string> reasons;
    };
    const std::vector<Case> cases = {
        {{0x1A, 0x06, 0x89, 0x1A, 0x05, 0x98}, ReplyState::Done, {}},
        {{0x1A, 0x05, 0x99, 0x1A, 0x0F, 0x0C, 0x1A, 0x06, 0x88},
         ReplyState::Done,
         {"media-empty", "media-needed", "cover-open"}},
        {{0x1A, 0x06, 0x88, 0x1A, 0x05}, ReplyState::Incomplete, {}},
        {{0x1A, 0x04, 0x50}, ReplyState::Incomplete, {}},
        {{0x1A, 0x06, 0x77, 0x1A, 0x05, 0x98}, ReplyState::Junk, {}},
    };
    for (const Case &c : cases) {
        PrinterStatus s;
        EXPECT_EQ(Read(27, c.reply, s), c.state) << c.reply.size();
        EXPECT_EQ(s.known, c.state == ReplyState::Done);
        EXPECT_EQ(ReasonKeywords(s), c.reasons) << c.reply.size();
    }
}

} // namespace
