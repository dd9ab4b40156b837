#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <memory>

// Whether the UI thread runs a queued call within the time given. Called
// from a thread of the test's own: false means the UI thread is stuck (in
// a read the test holds up, or waiting for something that is).
inline bool uiThreadAnswers(int ms)
{
    auto answered = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [answered] { answered->store(true); }, Qt::QueuedConnection);
    const QDeadlineTimer deadline(ms);
    while (!answered->load() && !deadline.hasExpired())
        QThread::msleep(1);
    return answered->load();
}
