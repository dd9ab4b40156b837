#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>

class QTimer;

// Tries a write that failed (a full disk, a folder that went away) again a
// little later, so what it holds reaches the disk without waiting for the
// next change or for quit: first after a few seconds, then twice as long
// after each further failure, up to fifteen seconds (a failed try costs
// next to nothing, and a kill meanwhile loses what waits). The attempt
// runs on the thread this object lives on and tells its outcome through
// failed() or reset(), as every other try of the same write does.
class WriteRetry : public QObject
{
    Q_OBJECT
public:
    static constexpr int firstDelayMs = 2000;
    static constexpr int longestDelayMs = 15000;

    explicit WriteRetry(std::function<void()> attempt, QObject *parent = nullptr);

    // The write failed: logs the line (once, until the write goes through)
    // and tries again once the current delay has passed, unless an attempt
    // is already waiting. Callable from any thread.
    void failed(const QString &logLine);
    // The write went through, or is no longer wanted: nothing waits any more
    // and the next failure starts again from the first delay. Callable from
    // any thread.
    void reset();

private:
    std::function<void()> m_attempt;
    QTimer *m_timer;
    int m_delayMs = firstDelayMs;
    std::atomic<bool> m_failing{false};
};
