#include "app/DoublePressClock.h"

#include <QTimer>
#include <algorithm>
#include <limits>

DoublePressClock::DoublePressClock(QObject *parent) : QObject(parent)
{
    m_clock.start();
}

DoublePressClock::~DoublePressClock() = default;

qint64 DoublePressClock::nowMs() const
{
    return m_clock.elapsed();
}

quint64 DoublePressClock::schedule(qint64 delayMs, std::function<void()> fn)
{
    const quint64 token = m_nextToken++;
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, token, timer, fn = std::move(fn)] {
        m_timers.remove(token);
        timer->deleteLater();
        fn();
    });
    m_timers.insert(token, timer);
    timer->start(static_cast<int>(std::clamp<qint64>(delayMs, 0, std::numeric_limits<int>::max())));
    return token;
}

void DoublePressClock::cancel(quint64 token)
{
    if (QTimer *timer = m_timers.take(token)) {
        timer->stop();
        timer->deleteLater();
    }
}
