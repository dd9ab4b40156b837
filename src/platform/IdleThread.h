#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

// One thread of idle priority (SCHED_IDLE) that runs the work it is given in
// order. A thread of idle priority can be kept off the cores for a long time
// on a busy machine, whatever it holds at that moment, so it shares no lock
// with the threads that give it work: they hand it over through atomics and
// wake it, and never wait for it (but in waitForDone). Started by the first
// work; it runs for the rest of the process.
class IdleThread
{
public:
    explicit IdleThread(const char *name) : m_name(name) {}
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
    std::once_flag m_launched;
    std::atomic<Task *> m_incoming{nullptr}; // newest first
    std::atomic<uint32_t> m_given{0};        // tasks given; the thread sleeps on it
    std::atomic<uint32_t> m_done{0};         // tasks run; waitForDone sleeps on it
};
