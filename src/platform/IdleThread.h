#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

// One background thread of low priority that runs the work it is given in
// order. It shares no lock with the threads that give it work: they hand it
// over through atomics and wake it, and never wait for it (but in
// waitForDone). Started by the first work; it runs for the rest of the
// process.
class IdleThread
{
public:
    enum class Priority {
        // SCHED_IDLE: runs only on a core nothing else wants, and can be
        // kept off the cores for seconds on a busy machine, whatever it
        // holds at that moment. Only for work that takes no lock another
        // thread may wait for: no Qt drawing, which takes the lock of Qt's
        // global pool and of its font and glyph caches.
        idle,
        // SCHED_BATCH: when it wakes it never preempts the thread on a core
        // (the UI thread, the X server), but it gets its fair share of a
        // busy machine, so what it holds is let go soon.
        batch,
    };

    explicit IdleThread(const char *name, Priority priority = Priority::idle) : m_name(name), m_priority(priority) {}
    IdleThread(const IdleThread &) = delete;
    IdleThread &operator=(const IdleThread &) = delete;

    // Any thread.
    void start(std::function<void()> work);
    // Returns once all the work started before the call has run.
    void waitForDone();

private:
    struct Task
    {
        std::function<void()> work;
        Task *next = nullptr;
    };

    void run();

    const char *m_name;
    const Priority m_priority;
    std::once_flag m_launched;
    std::atomic<Task *> m_incoming{nullptr}; // newest first
    std::atomic<uint32_t> m_given{0};        // tasks given; the thread sleeps on it
    std::atomic<uint32_t> m_done{0};         // tasks run; waitForDone sleeps on it
};
