// The status watch: when it asks, how long it waits, what it shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "StatusWatch.h"

using namespace qf::status;

namespace {

using Bytes = std::vector<uint8_t>;
using Words = std::vector<std::string>;

// A printer on a scripted clock: each query is answered with the next reply
// of the script after `delayMs` (never, for an empty reply).
struct FakePrinter : StatusLink {
    int64_t now = 0;
    std::deque<Bytes> script;
    Bytes pending;       // reply bytes not yet read
    Bytes stale;         // bytes waiting before any query
    int64_t readyAt = 0; // when `pending` arrives
    int delayMs = 5;
    int queries = 0;
    bool gone = false;

    bool Send(const Bytes &) override
    {
        if (gone)
            return false;
        ++queries;
        pending.clear();
        if (!script.empty()) {
            pending = script.front();
            script.pop_front();
        }
        readyAt = now + delayMs;
        return true;
    }
    long Receive(uint8_t *buffer, size_t size, int timeoutMs) override
    {
        if (gone)
            return -1;
        if (!stale.empty()) {
            size_t n = std::min(size, stale.size());
            std::copy(stale.begin(), stale.begin() + static_cast<long>(n), buffer);
            stale.erase(stale.begin(), stale.begin() + static_cast<long>(n));
            return static_cast<long>(n);
        }
        if (pending.empty() || now + timeoutMs < readyAt) {
            now += timeoutMs;
            return 0;
        }
        now = std::max(now, readyAt);
        size_t n = std::min(size, pending.size());
        std::copy(pending.begin(), pending.begin() + static_cast<long>(n), buffer);
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(n));
        return static_cast<long>(n);
    }
};

struct Shown {
    Words now;
    int reports = 0;
};

WatchHooks HooksFor(FakePrinter &p, Shown &shown, int cancelAfterSleeps = -1)
{
    WatchHooks h;
    h.nowMs = [&p] { return p.now; };
    auto sleeps = std::make_shared<int>(0);
    h.sleepMs = [&p, sleeps](int ms) {
        p.now += ms;
        ++*sleeps;
    };
    h.canceled = [sleeps, cancelAfterSleeps] { return cancelAfterSleeps >= 0 && *sleeps >= cancelAfterSleeps; };
    h.report = [&shown](const Words &add, const Words &remove, const PrinterStatus &) {
        ++shown.reports;
        for (const std::string &r : remove)
            shown.now.erase(std::remove(shown.now.begin(), shown.now.end(), r), shown.now.end());
        shown.now.insert(shown.now.end(), add.begin(), add.end());
    };
    return h;
}

WatchConfig Config()
{
    WatchConfig c;
    c.replyTimeoutMs = 1000;
    c.pollMs = 1000;
    c.backoffMs = 60000;
    c.maxBackoffMs = 240000;
    return c;
}

TEST(StatusWatch, ReadyPrinterCostsOneRoundTrip)
{
    FakePrinter p;
    p.script = {{0x00}};
    Shown shown;
    StatusGate gate(20, Config());
    EXPECT_EQ(WaitUntilReady(20, gate, p, HooksFor(p, shown)), WaitOutcome::Go);
    EXPECT_EQ(p.queries, 1);
    EXPECT_EQ(p.now, 5);
    EXPECT_EQ(shown.reports, 0);
}

TEST(StatusWatch, PaperOutWaitsShowsReasonsAndClearsThem)
{
    FakePrinter p;
    p.script = {{0x04}, {0x04}, {0x04}, {0x00}};
    Shown shown;
    StatusGate gate(20, Config());
    Words during;
    WatchHooks hooks = HooksFor(p, shown);
    auto report = hooks.report;
    hooks.report = [&](const Words &a, const Words &r, const PrinterStatus &s) {
        report(a, r, s);
        if (during.empty())
            during = shown.now;
    };
    EXPECT_EQ(WaitUntilReady(20, gate, p, hooks), WaitOutcome::Go);
    EXPECT_EQ(p.queries, 4);
    EXPECT_EQ(during, (Words{"media-empty", "media-needed"}));
    EXPECT_TRUE(shown.now.empty());
    EXPECT_EQ(shown.reports, 2);
}

TEST(StatusWatch, SilentPrinterCostsOneTimeoutThenIsNotAskedDuringBackoff)
{
    FakePrinter p;
    Shown shown;
    StatusGate gate(20, Config());
    WatchHooks hooks = HooksFor(p, shown);
    EXPECT_EQ(WaitUntilReady(20, gate, p, hooks), WaitOutcome::Go);
    EXPECT_EQ(p.now, 1000);
    for (int page = 0; page < 20; ++page)
        EXPECT_EQ(WaitUntilReady(20, gate, p, hooks), WaitOutcome::Go);
    EXPECT_EQ(p.queries, 1);
    EXPECT_EQ(p.now, 1000);
    EXPECT_FALSE(gate.Last().known);
}

TEST(StatusWatch, BackoffDoublesUpToItsCapAndAnAnswerResetsIt)
{
    StatusGate gate(20, Config());
    const PrinterStatus silent;
    gate.OnAnswer(silent, 0);
    EXPECT_EQ(gate.QuietUntil(), 60000);
    gate.OnAnswer(silent, 60000);
    EXPECT_EQ(gate.QuietUntil(), 60000 + 120000);
    gate.OnAnswer(silent, 180000);
    EXPECT_EQ(gate.QuietUntil(), 180000 + 240000);
    gate.OnAnswer(silent, 420000);
    EXPECT_EQ(gate.QuietUntil(), 420000 + 240000);
    PrinterStatus ready;
    ready.known = true;
    gate.OnAnswer(ready, 700000);
    EXPECT_TRUE(gate.ShouldAsk(700000));
    gate.OnAnswer(silent, 700000);
    EXPECT_EQ(gate.QuietUntil(), 760000);
}

TEST(StatusWatch, LateReplyIsNotTakenForTheNextAnswer)
{
    FakePrinter p;
    p.stale = {0x04};
    p.script = {{0x00}};
    Shown shown;
    StatusGate gate(20, Config());
    EXPECT_EQ(WaitUntilReady(20, gate, p, HooksFor(p, shown)), WaitOutcome::Go);
    EXPECT_TRUE(gate.Last().known);
    EXPECT_FALSE(gate.Last().paperOut);
}

TEST(StatusWatch, JunkIsUnknownAndPrintingGoesOn)
{
    FakePrinter p;
    p.script = {{'O', 'K'}};
    Shown shown;
    StatusGate gate(20, Config());
    EXPECT_EQ(WaitUntilReady(20, gate, p, HooksFor(p, shown)), WaitOutcome::Go);
    EXPECT_FALSE(gate.Last().known);
    EXPECT_LT(p.now, 1000);
}

TEST(StatusWatch, PrinterFallingSilentWhileWaitingLetsPrintingGoOn)
{
    FakePrinter p;
    p.script = {{0x40}, {}};
    Shown shown;
    StatusGate gate(20, Config());
    EXPECT_EQ(WaitUntilReady(20, gate, p, HooksFor(p, shown)), WaitOutcome::Go);
    EXPECT_EQ(p.queries, 2);
    EXPECT_TRUE(shown.now.empty());
}

TEST(StatusWatch, CancelEndsTheWait)
{
    FakePrinter p;
    for (int i = 0; i < 100; ++i)
        p.script.push_back({0x04});
    Shown shown;
    StatusGate gate(20, Config());
    EXPECT_EQ(WaitUntilReady(20, gate, p, HooksFor(p, shown, 3)), WaitOutcome::Canceled);
    EXPECT_EQ(shown.now, (Words{"media-empty", "media-needed"}));
    ClearReasons(gate, HooksFor(p, shown));
    EXPECT_TRUE(shown.now.empty());
}

TEST(StatusWatch, GoneConnectionIsReported)
{
    FakePrinter p;
    p.gone = true;
    Shown shown;
    StatusGate gate(21, Config());
    EXPECT_EQ(WaitUntilReady(21, gate, p, HooksFor(p, shown)), WaitOutcome::LinkLost);
}

TEST(StatusWatch, EscPosCoverOpenWaitsUntilClosed)
{
    FakePrinter p;
    p.script = {{0x1A, 0x16, 0x12, 0x12}, {0x12, 0x12, 0x12, 0x12}};
    Shown shown;
    StatusGate gate(21, Config());
    EXPECT_EQ(WaitUntilReady(21, gate, p, HooksFor(p, shown)), WaitOutcome::Go);
    EXPECT_EQ(p.queries, 2);
}

TEST(StatusWatch, FamiliesWithoutQueryOrSwitchedOffAreNeverAsked)
{
    for (int model : {23, 24}) {
        FakePrinter p;
        Shown shown;
        StatusGate gate(model, Config());
        EXPECT_FALSE(gate.Active());
        EXPECT_EQ(WaitUntilReady(model, gate, p, HooksFor(p, shown)), WaitOutcome::Go);
        EXPECT_EQ(p.queries, 0);
    }
    FakePrinter p;
    Shown shown;
    StatusGate off(20, Config(), false);
    EXPECT_EQ(WaitUntilReady(20, off, p, HooksFor(p, shown)), WaitOutcome::Go);
    EXPECT_EQ(p.queries, 0);
}

} // namespace
