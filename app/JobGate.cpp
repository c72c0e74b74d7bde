#include "JobGate.h"

#include <chrono>

JobGate::Entry JobGate::Enter(int printer, int job, const Running &running, const std::function<bool()> &giveUp)
{
    std::unique_lock<std::mutex> lock(m_lock);
    Queue &q = m_printers[printer];
    if (q.holder == job || q.waiting.count(job))
        return Entry::Duplicate;
    q.waiting.insert(job);
    for (;;) {
        if (q.holder == 0 && *q.waiting.begin() == job) {
            q.waiting.erase(job);
            q.holder = job;
            return Entry::Go;
        }
        m_changed.wait_for(lock, std::chrono::milliseconds(200));
        // Asked without the lock: the answers come from the print system.
        const int holder = q.holder;
        lock.unlock();
        const bool holderGone = holder != 0 && !running(printer, holder);
        const bool stop = giveUp();
        lock.lock();
        if (holderGone && q.holder == holder) {
            q.holder = 0;
            m_changed.notify_all();
        }
        if (stop) {
            q.waiting.erase(job);
            m_changed.notify_all();
            return Entry::GaveUp;
        }
    }
}

void JobGate::Leave(int printer, int job)
{
    std::lock_guard<std::mutex> lock(m_lock);
    Queue &q = m_printers[printer];
    if (q.holder == job) {
        q.holder = 0;
        m_changed.notify_all();
    }
}
