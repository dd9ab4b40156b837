#include "platform/IdleWork.h"

#include <QCoreApplication>

IdleThread &IdleWork::pool()
{
    // Never destroyed: its thread runs for the rest of the process.
    static IdleThread *thread = [] {
        // Its work draws with Qt: see IdleThread::Priority.
        auto *idle = new IdleThread("idle work", IdleThread::Priority::batch);
        // Work that paints needs the application: it ends before the
        // application does.
        if (QCoreApplication *app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, [idle] { idle->waitForDone(); });
        return idle;
    }();
    return *thread;
}
