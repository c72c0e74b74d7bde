// The virtual printer: queries told from data, answers from its state, the
// fate of each page.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DecodeCat.h"
#include "SimSession.h"

using namespace qf;
using namespace qf::sim;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

// A TSPL label of 8 x 2 dots whose bitmap is `row` twice.
Bytes Label(uint8_t row)
{
    Bytes b = Text("SIZE 1 mm,0.25 mm\r\nCLS\r\nBITMAP 0,0,1,2,1,");
    b.push_back(row);
    b.push_back(row);
    const Bytes end = Text("\r\nPRINT 1,1\r\n");
    b.insert(b.end(), end.begin(), end.end());
    return b;
}

const Bytes kTsplQuery = {0x1B, '!', '?'};

struct Job {
    SimSession session{preview::Lang::TSPL, 1};
    SimState state;
    std::vector<std::string> events;
    Bytes Feed(const Bytes &b) { return session.Feed(b.data(), b.size(), state, events); }
};

TEST(SimSession, AnswersAQueryBetweenLabelsAndKeepsItOutOfTheData)
{
    Job r;
    const Bytes label = Label(0x0F);
    EXPECT_TRUE(r.Feed(label).empty());
    EXPECT_EQ(r.Feed(kTsplQuery), (Bytes{0x00}));
    r.Feed(label);
    r.session.Finish(r.state, r.events);
    Bytes both = label;
    both.insert(both.end(), label.begin(), label.end());
    EXPECT_EQ(r.session.Data(), both);
    EXPECT_EQ(r.session.Result().pages.size(), 2u);
    EXPECT_EQ(r.session.Queries(), 1);
}

TEST(SimSession, QueryBytesInsideABitmapAreData)
{
    Job r;
    Bytes b = Text("SIZE 1 mm,0.375 mm\r\nCLS\r\nBITMAP 0,0,1,3,1,");
    b.insert(b.end(), kTsplQuery.begin(), kTsplQuery.end());
    const Bytes end = Text("\r\nPRINT 1,1\r\n");
    b.insert(b.end(), end.begin(), end.end());
    EXPECT_TRUE(r.Feed(b).empty());
    r.session.Finish(r.state, r.events);
    EXPECT_EQ(r.session.Data(), b);
    EXPECT_EQ(r.session.Queries(), 0);
    ASSERT_EQ(r.session.Result().pages.size(), 1u);
}

TEST(SimSession, QuerySplitAcrossReadsIsAnswered)
{
    Job r;
    r.Feed(Label(1));
    EXPECT_TRUE(r.Feed({0x1B, '!'}).empty());
    EXPECT_EQ(r.Feed({'?'}), (Bytes{0x00}));
}

TEST(SimSession, PaperRunsOutAfterNPagesAndLaterPagesAreLost)
{
    Job r;
    r.state.paperOutAfter = 2;
    r.Feed(Label(1));
    r.Feed(Label(2));
    EXPECT_EQ(r.Feed(kTsplQuery), (Bytes{0x04}));
    r.Feed(Label(3));
    r.session.Finish(r.state, r.events);
    ASSERT_EQ(r.session.Fates().size(), 3u);
    EXPECT_TRUE(r.session.Fates()[1].printed);
    EXPECT_FALSE(r.session.Fates()[2].printed);
    EXPECT_EQ(r.session.Fates()[2].why, "out of paper");
}

TEST(SimSession, SilentPrinterAnswersNothing)
{
    Job r;
    r.state.silent = true;
    r.state.paperOut = true;
    EXPECT_TRUE(r.Feed(kTsplQuery).empty());
}

const Bytes kCatQuery = {0x51, 0x78, 0xA3, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF};

Bytes CatFrame(uint8_t cmd, const Bytes &payload)
{
    // Byte by byte: GCC 12 at -O3 takes an insert after a short list for an overflow.
    Bytes b = {0x51, 0x78, cmd, 0x00, uint8_t(payload.size()), uint8_t(payload.size() >> 8)};
    for (uint8_t v : payload)
        b.push_back(v);
    b.push_back(preview::CatCrc8(payload.data(), payload.size()));
    b.push_back(0xFF);
    return b;
}

const Bytes kCatStart = CatFrame(0xA6, {0xAA, 0x55, 0x17, 0x38, 0x44, 0x5F, 0x5F, 0x5F, 0x44, 0x38, 0x2C});
const Bytes kCatEnd = CatFrame(0xA6, {0xAA, 0x55, 0x17, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x17});

Bytes Joined(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A cat printer answers A3 between any two frames, inside a page too (a row
// may hold the query's bytes: it is still data), and keeps it out of the data.
TEST(SimSession, CatAnswersTheStateBetweenFrames)
{
    SimSession session(preview::Lang::Cat, 1);
    SimState state;
    state.coverOpen = true;
    std::vector<std::string> events;
    Bytes row(48, 0x00);
    std::copy(kCatQuery.begin(), kCatQuery.end(), row.begin() + 10);
    const Bytes before = Joined({kCatStart, CatFrame(0xA2, row)});
    const Bytes after = Joined({kCatEnd, CatFrame(0xA1, {90, 0})});
    const Bytes all = Joined({before, kCatQuery, after});
    EXPECT_EQ(session.Feed(all.data(), all.size(), state, events), CatNotice(0xA3, 0x02));
    session.Finish(state, events);
    EXPECT_EQ(session.Data(), Joined({before, after}));
    EXPECT_EQ(session.Queries(), 1);
    ASSERT_EQ(session.Result().pages.size(), 1u);
}

// Pause then resume after every N rows, however the rows arrive.
TEST(SimSession, CatPausesEveryNRows)
{
    const Bytes pauseResume = Joined({CatNotice(0xAE, 0x10), CatNotice(0xAE, 0x00)});
    Bytes page = kCatStart;
    for (int i = 0; i < 5; ++i)
        page = Joined({page, CatFrame(0xA2, Bytes(48, uint8_t(i)))});
    page = Joined({page, kCatEnd});
    for (size_t chunk : {size_t(1), size_t(7), page.size()}) {
        SimSession session(preview::Lang::Cat, 1);
        SimState state;
        state.pauseEvery = 2;
        std::vector<std::string> events;
        Bytes replies;
        for (size_t i = 0; i < page.size(); i += chunk) {
            const size_t n = std::min(chunk, page.size() - i);
            const Bytes r = session.Feed(page.data() + i, n, state, events);
            replies.insert(replies.end(), r.begin(), r.end());
        }
        EXPECT_EQ(replies, Joined({pauseResume, pauseResume})) << chunk;
    }
}

// A Niimbot request (55 55 cmd 01 01 cmd AA AA), and a one-page task of one
// 8-dot row (the packets are framed as the printer's replies are).
Bytes NiimbotRequest(uint8_t cmd)
{
    return NiimbotReply(cmd, {0x01});
}

Bytes NiimbotTask(uint8_t row)
{
    return Joined({NiimbotReply(0x21, {3}), NiimbotReply(0x23, {1}), NiimbotReply(0x01, {1}), NiimbotReply(0x03, {1}),
                   NiimbotReply(0x13, {0, 1, 0, 8}), NiimbotReply(0x85, {0, 0, 0, 0, 0, 1, row}),
                   NiimbotReply(0xE3, {1}), NiimbotReply(0xF3, {1})});
}

// A Niimbot printer answers its requests between packets, a heartbeat's
// bytes inside a row being data; the lid opens after the first page, which
// the next heartbeat says, and the second page is lost.
TEST(SimSession, NiimbotAnswersBetweenPacketsAndOpensItsLid)
{
    SimSession session(preview::Lang::Niimbot, 1);
    SimState state;
    state.coverOpenAfter = 1;
    std::vector<std::string> events;
    const Bytes dc = NiimbotRequest(0xDC);
    const Bytes first = NiimbotTask(0x55);
    const Bytes all = Joined({first, dc, NiimbotTask(0xDC), dc});
    const Bytes replies = session.Feed(all.data(), all.size(), state, events);
    session.Finish(state, events);
    const Bytes open = StatusBytes(preview::Lang::Niimbot, dc.data(), dc.size(), state);
    EXPECT_EQ(replies, Joined({open, open}));
    EXPECT_EQ(session.Queries(), 2);
    EXPECT_EQ(session.Data(), Joined({first, NiimbotTask(0xDC)}));
    ASSERT_EQ(session.Fates().size(), 2u);
    EXPECT_TRUE(session.Fates()[0].printed);
    EXPECT_EQ(session.Fates()[1].why, "cover open");
}

SimState NoTag()
{
    SimState s;
    s.tag = false;
    return s;
}

SimState Printed(long pages)
{
    SimState s;
    s.pagesPrinted = pages;
    return s;
}

struct Answer {
    preview::Lang lang;
    Bytes query;
    SimState state;
    Bytes expect;
};

SimState With(bool SimState::*f)
{
    SimState s;
    s.*f = true;
    return s;
}

class Answers : public ::testing::TestWithParam<Answer> {};

TEST_P(Answers, SayTheState)
{
    const Answer &a = GetParam();
    EXPECT_EQ(StatusBytes(a.lang, a.query.data(), a.query.size(), a.state), a.expect);
}

INSTANTIATE_TEST_SUITE_P(
    Families, Answers,
    ::testing::Values(
        Answer{preview::Lang::TSPL, kTsplQuery, SimState(), {0x00}},
        Answer{preview::Lang::TSPL, kTsplQuery, With(&SimState::paperOut), {0x04}},
        Answer{preview::Lang::TSPL, kTsplQuery, With(&SimState::coverOpen), {0x01}},
        Answer{preview::Lang::TSPL, kTsplQuery, With(&SimState::offline), {0x10}},
        Answer{preview::Lang::CPCL, {0x1B, 'h'}, With(&SimState::paperOut), {0x02}},
        Answer{preview::Lang::CPCL, {0x1B, 'h'}, With(&SimState::coverOpen), {0x04}},
        Answer{preview::Lang::CPCL, {0x1B, 'h'}, With(&SimState::batteryLow), {0x08}},
        Answer{preview::Lang::ESCPOS, {0x10, 0x04, 1}, SimState(), {0x12}},
        Answer{preview::Lang::ESCPOS, {0x10, 0x04, 1}, With(&SimState::coverOpen), {0x1A}},
        Answer{preview::Lang::ESCPOS, {0x10, 0x04, 2}, With(&SimState::coverOpen), {0x16}},
        Answer{preview::Lang::ESCPOS, {0x10, 0x04, 2}, With(&SimState::paperOut), {0x32}},
        Answer{preview::Lang::ESCPOS, {0x10, 0x04, 4}, With(&SimState::paperOut), {0x7E}},
        Answer{preview::Lang::ESCPOS, {0x10, 0x04, 4}, With(&SimState::paperLow), {0x1E}},
        Answer{preview::Lang::Paperang, {0x1B, 'h'}, With(&SimState::paperOut), {}},
        Answer{preview::Lang::Cat, kCatQuery, SimState(), CatNotice(0xA3, 0x00)},
        Answer{preview::Lang::Cat,
               kCatQuery,
               With(&SimState::paperOut),
               {0x51, 0x78, 0xA3, 0x00, 0x01, 0x00, 0x01, 0x07, 0xFF}},
        Answer{preview::Lang::Cat, kCatQuery, With(&SimState::coverOpen), CatNotice(0xA3, 0x02)},
        Answer{preview::Lang::Cat, kCatQuery, With(&SimState::batteryLow), CatNotice(0xA3, 0x08)},
        // Heartbeat: lid, charge, paper, tag read in the last four of 13 bytes.
        Answer{preview::Lang::Niimbot, NiimbotRequest(0xDC), SimState(), {0x55, 0x55, 0xDD, 0x0D, 0,    0,   0,
                                                                          0,    0,    0,    0,    0,    0,   0,
                                                                          4,    0,    1,    0xD5, 0xAA, 0xAA}},
        Answer{preview::Lang::Niimbot, NiimbotRequest(0xDC), With(&SimState::coverOpen),
               NiimbotReply(0xDD, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 4, 0, 1})},
        Answer{preview::Lang::Niimbot, NiimbotRequest(0xDC), NoTag(),
               NiimbotReply(0xDD, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0})},
        Answer{preview::Lang::Niimbot, NiimbotRequest(0xA3), Printed(3), NiimbotReply(0xB3, {0, 3, 100, 100})},
        Answer{preview::Lang::Niimbot, NiimbotRequest(0x1A), NoTag(), NiimbotReply(0x1B, {0})},
        Answer{preview::Lang::Niimbot, NiimbotRequest(0x1A), SimState(),
               NiimbotReply(0x1B, {0x88, 0x04, 0x51, 0x46, 0,   0,   0,   1,   5,    '5',  '0', 'x', '3',
                                   '0',  6,    'Q',  'F',  '0', '0', '0', '1', 0x00, 0xE6, 0,   0,   1})},
        Answer{preview::Lang::Niimbot, NiimbotRequest(0x59), SimState(),
               NiimbotReply(0x69, {0, 24, 0, 240, 1, 0, 30, 1, 44, 1, 144, 1, 244, 0, 0, 0, 0, 0})},
        Answer{preview::Lang::Phomemo, {0x1F, 0x11, 0x11}, SimState(), {0x1A, 0x06, 0x89}},
        Answer{preview::Lang::Phomemo, {0x1F, 0x11, 0x11}, With(&SimState::paperOut), {0x1A, 0x06, 0x88}},
        Answer{preview::Lang::Phomemo, {0x1F, 0x11, 0x12}, SimState(), {0x1A, 0x05, 0x98}},
        Answer{preview::Lang::Phomemo, {0x1F, 0x11, 0x12}, With(&SimState::coverOpen), {0x1A, 0x05, 0x99}}),
    [](const ::testing::TestParamInfo<Answer> &info) {
        return std::string(preview::LangName(info.param.lang)) + "_" + std::to_string(info.index);
    });

} // namespace

namespace {

// A Phomemo label of one row: speed, density, media, one band, footer.
Bytes PhomemoLabel()
{
    return {0x1B, 0x4E, 0x0D, 0x05, 0x1B, 0x4E, 0x04, 0x08, 0x1F, 0x11, 0x0A, 0x1D, 0x76, 0x30,
            0x00, 0x01, 0x00, 0x01, 0x00, 0xF0, 0x1F, 0xF0, 0x05, 0x00, 0x1F, 0xF0, 0x03, 0x00};
}

// The media command 1F 11 0A is data; the queries between labels are
// answered; --cover-open-after 1 opens the cover after the first label, so
// the second query says so and the second label is lost.
TEST(SimSession, PhomemoCoverOpensAfterALabel)
{
    SimSession session(preview::Lang::Phomemo, 1);
    SimState state;
    state.coverOpenAfter = 1;
    std::vector<std::string> events;
    const Bytes label = PhomemoLabel();
    const Bytes query = {0x1F, 0x11, 0x12};
    for (const Bytes &part : {label, query, label}) {
        const Bytes answer = session.Feed(part.data(), part.size(), state, events);
        if (part == query)
            EXPECT_EQ(answer, (Bytes{0x1A, 0x05, 0x99}));
        else
            EXPECT_TRUE(answer.empty());
    }
    session.Finish(state, events);
    EXPECT_EQ(session.Queries(), 1);
    ASSERT_EQ(session.Fates().size(), 2u);
    EXPECT_TRUE(session.Fates()[0].printed);
    EXPECT_EQ(session.Fates()[1].why, "cover open");
}

} // namespace
