#include "platform/IdleWork.h"

#include <QCoreApplication>
#include <QThread>

QThreadPool &IdleWork::pool()
{
    // Qt's global pool first: statics go in the reverse order, so this one,
    // which waits at exit for its work (and that work may use Qt's pool),
    // goes before it.
    QThreadPool::globalInstance();
    static QThreadPool threads;
    static const bool configured = [] {
        threads.setObjectName(QStringLiteral("idle work"));
        threads.setMaxThreadCount(1);
        threads.setExpiryTimeout(-1);
        threads.setThreadPriority(QThread::IdlePriority); // SCHED_IDLE on Linux
        // Work that paints needs the application: it ends before the
        // application does.
        if (QCoreApplication *app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, [] { threads.waitForDone(); });
        return true;
    }();
    Q_UNUSED(configured);
    return threads;
}
