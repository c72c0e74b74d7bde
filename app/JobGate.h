// One job at a time on a printer, whatever starts them.
//
// PAPPL (1.3 and 1.4 alike) looks for the next job to start without holding
// the printer's lock, and marks a job as the printer's current one only
// once the job's own thread runs: a job that ends as another arrives, or a
// job released as another arrives, can start two jobs on one printer, or
// the same job twice. Both would then write to the printer at once (the
// labels come out mixed), and on a file the first to end closes the device
// the other still writes to. Every job passes this gate before it writes:
// the others wait, the lowest job id first; a second start of a job already
// at the gate is told so and must print nothing.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>

class JobGate {
public:
    enum class Entry {
        Go,        // this job holds the gate; Leave when done
        Duplicate, // the job is already at the gate in another thread
        GaveUp,    // `giveUp` said so while waiting (the job was cancelled)
    };
    // Whether job `job` of printer `printer` is still being processed; a
    // holder that is not has ended without Leave (a failed start), and the
    // gate is free.
    using Running = std::function<bool(int printer, int job)>;

    Entry Enter(int printer, int job, const Running &running, const std::function<bool()> &giveUp);
    void Leave(int printer, int job);

private:
    struct Queue {
        int holder = 0;
        std::set<int> waiting;
    };
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<int, Queue> m_printers;
};
