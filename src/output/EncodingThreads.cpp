#include "output/EncodingThreads.h"

#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <pthread.h>
#include <sched.h>

QThreadPool &EncodingThreads::pool()
{
    static QThreadPool threads;
    static const bool configured = [] {
        threads.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
        threads.setObjectName(QStringLiteral("encoding"));
        threads.setExpiryTimeout(-1); // a thread keeps what enterJob() set
        return true;
    }();
    Q_UNUSED(configured);
    return threads;
}

QThreadPool &EncodingThreads::helpers()
{
    static QThreadPool threads;
    static const bool configured = [] {
        threads.setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 2));
        threads.setObjectName(QStringLiteral("encoding helpers"));
        threads.setExpiryTimeout(-1);
        threads.setThreadPriority(QThread::IdlePriority);
        return true;
    }();
    Q_UNUSED(configured);
    return threads;
}

void EncodingThreads::enterJob()
{
    // Batch scheduling: a woken thread of this class never preempts the
    // running one, and its weight is that of any other thread.
    thread_local bool entered = false;
    if (entered)
        return;
    entered = true;
    sched_param param{};
    param.sched_priority = 0;
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &param);
}
