// One job at a time on a printer, whatever starts them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "JobGate.h"

namespace {

const JobGate::Running kStillRunning = [](int, int) { return true; };
const auto kNeverGiveUp = [] { return false; };

// Jobs that arrive while one holds the gate go one at a time, lowest id
// first; another printer's job does not wait.
TEST(JobGate, OneJobAtATimeLowestIdFirst)
{
    JobGate gate;
    ASSERT_EQ(gate.Enter(1, 5, kStillRunning, kNeverGiveUp), JobGate::Entry::Go);
    std::mutex lock;
    std::vector<int> order;
    std::atomic<int> inside{0}, most{0};
    std::vector<std::thread> jobs;
    for (int id : {9, 7, 8}) {
        jobs.emplace_back([&, id] {
            ASSERT_EQ(gate.Enter(1, id, kStillRunning, kNeverGiveUp), JobGate::Entry::Go);
            most = std::max(most.load(), ++inside);
            {
                std::lock_guard<std::mutex> hold(lock);
                order.push_back(id);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            --inside;
            gate.Leave(1, id);
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // all three wait
    EXPECT_EQ(gate.Enter(2, 9, kStillRunning, kNeverGiveUp), JobGate::Entry::Go);
    gate.Leave(1, 5);
    for (std::thread &t : jobs)
        t.join();
    EXPECT_EQ(order, (std::vector<int>{7, 8, 9}));
    EXPECT_EQ(most.load(), 1);
}

TEST(JobGate, SecondStartOfAJobAtTheGateIsADuplicate)
{
    JobGate gate;
    ASSERT_EQ(gate.Enter(1, 5, kStillRunning, kNeverGiveUp), JobGate::Entry::Go);
    EXPECT_EQ(gate.Enter(1, 5, kStillRunning, kNeverGiveUp), JobGate::Entry::Duplicate);
    gate.Leave(1, 5);
    EXPECT_EQ(gate.Enter(1, 5, kStillRunning, kNeverGiveUp), JobGate::Entry::Go); // a later print of it
}

// A holder whose job ended without leaving (a start that failed) frees the
// gate; a waiting job that is cancelled stops waiting.
TEST(JobGate, EndedHolderFreesTheGateAndACancelledWaiterGivesUp)
{
    JobGate gate;
    ASSERT_EQ(gate.Enter(1, 5, kStillRunning, kNeverGiveUp), JobGate::Entry::Go);
    std::atomic<bool> cancelled{false};
    std::thread waiter(
        [&] { EXPECT_EQ(gate.Enter(1, 6, kStillRunning, [&] { return cancelled.load(); }), JobGate::Entry::GaveUp); });
    cancelled = true;
    waiter.join();
    const JobGate::Running fiveEnded = [](int, int id) { return id != 5; };
    EXPECT_EQ(gate.Enter(1, 7, fiveEnded, kNeverGiveUp), JobGate::Entry::Go);
}

} // namespace
