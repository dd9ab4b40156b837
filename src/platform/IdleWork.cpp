#include "platform/IdleWork.h"

#include <QThread>

QThreadPool &IdleWork::pool()
{
    static QThreadPool *threads = [] {
        // Never deleted: a job still running at exit must not find its pool gone.
        auto *pool = new QThreadPool;
        pool->setObjectName(QStringLiteral("idle work"));
        pool->setMaxThreadCount(1);
        pool->setExpiryTimeout(-1);
        pool->setThreadPriority(QThread::IdlePriority); // SCHED_IDLE on Linux
        return pool;
    }();
    return *threads;
}
