#pragma once

#include "platform/IdleThread.h"

#include <QFuture>
#include <QObject>
#include <QPromise>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

// Background work that must not cost the desktop anything while a capture
// is being shown. Then the X server and the UI thread wake each other many
// times in a row, and each waits whenever the core it wakes on is held by a
// thread of normal priority, up to the end of that thread's time slice.
// Work run here starts on a thread of batch priority, whose wake-ups never
// preempt the thread on a core. (Not idle priority: the work draws with Qt,
// which takes the lock of its global pool, among others, and a thread of
// idle priority on a busy machine can be kept off the cores for a second
// while it holds one, and the UI thread with it.)
//
// When the result is not there after a grace period (every core busy), the
// same work starts again on Qt's global pool; whichever finishes first gives
// the result, and the other is dropped or never starts.
//
// Qt spreads the scaling and conversion of a large image over its global
// pool unless it is called from that pool: work meant for this thread
// should leave such steps to images that are already small.
class IdleWork
{
public:
    // The background thread: one, kept for the run. Giving it work never
    // waits for it. Its work ends before the application quits; a program
    // that ends without exec() waits for it itself (pool().waitForDone())
    // before the application goes.
    static IdleThread &pool();

    // Runs work as above. The grace period counts on context's thread and
    // ends with context: without it the work is left to the background thread.
    template <typename T>
    static QFuture<T> run(QObject *context, int graceMs, std::function<T()> work);
};

template <typename T>
QFuture<T> IdleWork::run(QObject *context, int graceMs, std::function<T()> work)
{
    struct Race
    {
        QPromise<T> promise;
        std::atomic_bool done{false};
    };
    auto race = std::make_shared<Race>();
    race->promise.start();
    QFuture<T> future = race->promise.future();
    auto attempt = [race, work = std::move(work)] {
        if (race->done.load())
            return;
        T result = work();
        if (race->done.exchange(true))
            return;
        race->promise.addResult(std::move(result));
        race->promise.finish();
    };
    pool().start(attempt);
    QTimer::singleShot(graceMs, context, [race, attempt] {
        if (!race->done.load())
            QThreadPool::globalInstance()->start(attempt);
    });
    return future;
}
