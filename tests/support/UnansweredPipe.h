#pragma once

#include <QString>
#include <atomic>
#include <thread>

// A named pipe nobody writes to: a plain open() or read of it waits for
// ever. After the patience time a watchdog frees whoever is still held on
// it (it opens the writing end and closes it again, which ends the wait),
// so code that waits on the pipe fails its test instead of hanging it;
// heldSomeone() then says so.
class UnansweredPipe
{
public:
    // Creates the pipe at path (its folder must exist).
    explicit UnansweredPipe(const QString &path, int patienceMs = 2000);
    ~UnansweredPipe();
    UnansweredPipe(const UnansweredPipe &) = delete;
    UnansweredPipe &operator=(const UnansweredPipe &) = delete;

    bool isValid() const { return m_valid; }
    // Whether anybody still had the pipe open for reading once the
    // patience time was over.
    bool heldSomeone() const { return m_heldSomeone.load(); }

private:
    void watch(int patienceMs);

    QString m_path;
    bool m_valid = false;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_heldSomeone{false};
    std::thread m_watchdog;
};
