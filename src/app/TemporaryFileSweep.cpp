#include "app/TemporaryFileSweep.h"

#include "model/AppState.h"
#include "output/HistoryService.h"
#include "output/ICloudDrive.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSet>
#include <QThreadPool>
#include <QtConcurrent>
#include <atomic>

namespace {

// Never waited for at exit: a folder on a mount that no longer answers must
// not keep the program from ending. Work still running then stops between
// folders once the application quits.
std::atomic<bool> g_quitting{false};

QThreadPool &sweepPool()
{
    static QThreadPool *pool = [] {
        auto *threads = new QThreadPool;
        threads->setObjectName(QStringLiteral("temporary file sweep"));
        threads->setMaxThreadCount(1);
        threads->setThreadPriority(QThread::LowPriority);
        if (QCoreApplication *app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, [] { g_quitting = true; });
        return threads;
    }();
    return *pool;
}

} // namespace

QStringList TemporaryFileSweep::folders(const AppState &state)
{
    QStringList all{state.saveDirectory()};
    all += state.savedPaths();
    all += {HistoryService::defaultStoreDir(), AppPaths::appDataDir(), AppPaths::appConfigDir()};
    QStringList unique;
    QSet<QString> seen;
    for (const QString &folder : std::as_const(all)) {
        const QString path = AppPaths::expandTilde(folder.trimmed());
        if (!path.isEmpty() && !seen.contains(path)) {
            seen.insert(path);
            unique.append(path);
        }
    }
    return unique;
}

QFuture<int> TemporaryFileSweep::start(const AppState &state)
{
    const QStringList named = folders(state);
    return QtConcurrent::run(&sweepPool(), [named] {
        QStringList all = named;
        if (const auto cloud = iCloudDriveFolderURL())
            all.append(cloud->toLocalFile());
        const QDateTime cutoff = QDateTime::currentDateTimeUtc().addSecs(-60 * staleAfterMinutes);
        int removed = 0;
        for (const QString &folder : std::as_const(all)) {
            if (g_quitting)
                break;
            removed += AtomicFile::removeStaleTemporaries(folder, cutoff);
        }
        if (removed > 0)
            vlog(QStringLiteral("[Vorna] launch: removed %1 left-over temporary file(s)").arg(removed));
        return removed;
    });
}
