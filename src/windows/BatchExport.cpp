#include "windows/BatchExport.h"

#include "model/AppState.h"
#include "model/VornaError.h"
#include "output/HistoryService.h"
#include "output/ImageExporter.h"
#include "platform/AppPaths.h"
#include "platform/Localized.h"
#include "platform/Log.h"
#include "platform/OpenPanel.h"
#include "windows/HistoryActions.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThreadPool>
#include <QtConcurrent>
#include <algorithm>
#include <optional>

namespace {

struct Job
{
    HistoryItem item;
    QString historyPng;
    QString fileName;
};

// Captures are encoded a few at a time, then written in list order, so that
// the numbered names follow the list and only a few encoded files are held
// at once.
QThreadPool &exportPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(std::clamp(QThread::idealThreadCount() / 2, 1, 3));
        return p;
    }();
    return *pool;
}

std::optional<QByteArray> encoded(const Job &job, ImageFormat format, double quality)
{
    const QImage image = HistoryActions::pixels(job.item, job.historyPng);
    if (image.isNull())
        return std::nullopt;
    try {
        return ImageExporter::encode(image, format, quality);
    } catch (const VornaError &) {
        return std::nullopt;
    }
}

QString replaced(QString format, const QList<qint64> &values)
{
    for (qint64 value : values)
        format.replace(format.indexOf(QStringLiteral("%lld")), 4, QString::number(value));
    return format;
}

} // namespace

QString BatchExport::message(const Outcome &outcome)
{
    if (outcome.failed == 0)
        return replaced(localized("Exported %lld screenshots."), {outcome.total});
    return replaced(localized("Exported %lld screenshots (%lld failed)."),
                    {outcome.total - outcome.failed, outcome.failed});
}

QFuture<BatchExport::Outcome> BatchExport::run(const QList<HistoryItem> &items, const QString &folder,
                                                ImageFormat format, double quality)
{
    QList<Job> jobs;
    const HistoryService &history = HistoryService::shared();
    for (const HistoryItem &item : items) {
        // Named by the capture's time where the user is.
        jobs.append({item, history.imagePath(item.id), ImageExporter::fileName(format, item.date.toLocalTime())});
    }
    return QtConcurrent::run([jobs, folder, format, quality] {
        QElapsedTimer clock;
        clock.start();
        Outcome outcome;
        outcome.total = int(jobs.size());
        const int batch = std::max(1, exportPool().maxThreadCount());
        for (qsizetype start = 0; start < jobs.size(); start += batch) {
            const QList<Job> chunk = jobs.mid(start, batch);
            const QList<std::optional<QByteArray>> bytes = QtConcurrent::blockingMapped<QList<std::optional<QByteArray>>>(
                &exportPool(), chunk, [format, quality](const Job &job) { return encoded(job, format, quality); });
            for (qsizetype i = 0; i < chunk.size(); ++i) {
                if (!bytes.at(i)) {
                    ++outcome.failed;
                    continue;
                }
                QString error;
                const QString path = ImageExporter::writeNewFile(*bytes.at(i), folder, chunk.at(i).fileName, &error);
                if (path.isEmpty()) {
                    ++outcome.failed;
                    vlog(QStringLiteral("[Vorna] batch export: could not write ") + chunk.at(i).fileName
                         + QStringLiteral(": ") + error);
                } else {
                    outcome.written.append(path);
                }
            }
        }
        outcome.elapsedMs = clock.elapsed();
        return outcome;
    });
}

bool BatchExport::start(AppState &appState, const QList<HistoryItem> &items)
{
    if (items.isEmpty())
        return false;
    const ImageFormat format = appState.defaultFormat();
    const double quality = appState.jpegQuality();
    OpenPanel::Request request;
    request.chooseDirectories = true;
    request.prompt = localized("Export Here");
    request.name = QStringLiteral("batchExport");
    request.directory = AppPaths::expandTilde(appState.saveDirectory());
    OpenPanel::show(request, [items, format, quality](std::optional<QString> folder) {
        if (!folder || folder->isEmpty())
            return;
        run(items, *folder, format, quality).then(QCoreApplication::instance(), [](const Outcome &outcome) {
            vlog(QStringLiteral("[Vorna] batch export: %1 of %2 written in %3 ms")
                     .arg(outcome.written.size())
                     .arg(outcome.total)
                     .arg(outcome.elapsedMs));
            presentInfoAlert(message(outcome), localized("Batch Export"), 1);
        });
    });
    return true;
}
