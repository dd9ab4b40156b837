#include "platform/WriteRetry.h"

#include "platform/Log.h"

#include <QTimer>
#include <algorithm>

WriteRetry::WriteRetry(std::function<void()> attempt, QObject *parent)
    : QObject(parent), m_attempt(std::move(attempt)), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { m_attempt(); });
}

void WriteRetry::failed(const QString &logLine)
{
    if (!m_failing.exchange(true))
        vlog(logLine);
    QMetaObject::invokeMethod(this, [this] {
        if (m_timer->isActive())
            return;
        m_timer->start(m_delayMs);
        m_delayMs = std::min(m_delayMs * 2, longestDelayMs);
    }, Qt::AutoConnection);
}

void WriteRetry::reset()
{
    m_failing = false;
    QMetaObject::invokeMethod(this, [this] {
        m_timer->stop();
        m_delayMs = firstDelayMs;
    }, Qt::AutoConnection);
}
