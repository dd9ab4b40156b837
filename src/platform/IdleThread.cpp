#include "platform/IdleThread.h"

#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

// Sleeps while word holds value (or until woken, or for at most timeoutMs
// when positive).
void futexWait(std::atomic<uint32_t> &word, uint32_t value, int timeoutMs = 0)
{
    timespec timeout{timeoutMs / 1000, long(timeoutMs % 1000) * 1000000L};
    ::syscall(SYS_futex, reinterpret_cast<uint32_t *>(&word), FUTEX_WAIT_PRIVATE, value,
              timeoutMs > 0 ? &timeout : nullptr, nullptr, 0);
}

void futexWakeAll(std::atomic<uint32_t> &word)
{
    ::syscall(SYS_futex, reinterpret_cast<uint32_t *>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

} // namespace

void IdleThread::start(std::function<void()> work)
{
    std::call_once(m_launched, [this] { std::thread([this] { run(); }).detach(); });
    auto *task = new Task{std::move(work), m_incoming.load(std::memory_order_relaxed)};
    while (!m_incoming.compare_exchange_weak(task->next, task, std::memory_order_release, std::memory_order_relaxed)) {
    }
    m_given.fetch_add(1);
    futexWakeAll(m_given);
}

void IdleThread::waitForDone()
{
    const uint32_t given = m_given.load();
    for (uint32_t done = m_done.load(); int32_t(given - done) > 0; done = m_done.load())
        futexWait(m_done, done, 100);
}

void IdleThread::run()
{
    ::pthread_setname_np(::pthread_self(), m_name);
    const sched_param none{};
    ::pthread_setschedparam(::pthread_self(), m_priority == Priority::idle ? SCHED_IDLE : SCHED_BATCH, &none);
    for (;;) {
        const uint32_t given = m_given.load();
        Task *newestFirst = m_incoming.exchange(nullptr, std::memory_order_acquire);
        if (!newestFirst) {
            futexWait(m_given, given);
            continue;
        }
        Task *oldestFirst = nullptr;
        while (newestFirst) {
            Task *next = newestFirst->next;
            newestFirst->next = oldestFirst;
            oldestFirst = newestFirst;
            newestFirst = next;
        }
        while (oldestFirst) {
            Task *task = oldestFirst;
            oldestFirst = task->next;
            try {
                task->work();
            } catch (...) {
                // The work's own business; the thread goes on with the next.
            }
            delete task;
            m_done.fetch_add(1);
            futexWakeAll(m_done);
        }
    }
}
