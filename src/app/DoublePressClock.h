#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <functional>

class QTimer;

// Time and delayed calls for the double-press rule: a monotonic clock in
// milliseconds and one-shot calls on the main thread. Tests replace it with
// a clock they move by hand.
class DoublePressClock : public QObject
{
    Q_OBJECT
public:
    explicit DoublePressClock(QObject *parent = nullptr);
    ~DoublePressClock() override;

    // Milliseconds since some fixed moment; never goes back.
    virtual qint64 nowMs() const;
    // Calls fn once, delayMs from now, on the main thread. Returns a token
    // for cancel().
    virtual quint64 schedule(qint64 delayMs, std::function<void()> fn);
    // Stops a scheduled call that has not run yet.
    virtual void cancel(quint64 token);

private:
    QElapsedTimer m_clock;
    QHash<quint64, QTimer *> m_timers;
    quint64 m_nextToken = 1;
};
