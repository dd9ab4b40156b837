#include "app/CapturePipeline.h"

#include "model/AppState.h"
#include "model/HistoryItem.h"
#include "model/ImageHandle.h"
#include "model/PixelRelease.h"
#include "model/VornaError.h"
#include "output/ClipboardImage.h"
#include "output/EncodingThreads.h"
#include "output/HistoryService.h"
#include "output/ICloudDrive.h"
#include "output/ImageExporter.h"
#include "platform/AppPaths.h"
#include "platform/FileSystemCall.h"
#include "platform/Localized.h"
#include "platform/Log.h"
#include "platform/SystemSound.h"
#include "windows/FloatingPreviewController.h"

#include <QClipboard>
#include <QWidget>
#include <QDateTime>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QPointer>
#include <QPromise>
#include <QScopeGuard>
#include <QThread>
#include <QtConcurrent>

#include <memory>
#include <optional>

struct CapturePipeline::SaveResult
{
    QString path;                       // the file written, empty on failure
    std::optional<VornaError> encodingError;
    QString writeError;                 // the system's description
};

CapturePipeline::CapturePipeline(AppState &appState, FloatingPreviewController &floatingPreview, QObject *parent)
    : QObject(parent), m_appState(appState), m_floatingPreview(floatingPreview)
{
}

CapturePipeline::~CapturePipeline() = default;

void CapturePipeline::handleCapture(const QImage &image, CaptureMode mode)
{
    // The user's file is what they wait for: its encoding and write start
    // at once in the background, while the steps below run here. The
    // history's copy of the image waits for that file and, when it is a
    // PNG of the whole capture, is written from its bytes.
    const QUuid id = QUuid::createUuid();
    auto userFile = std::make_shared<QPromise<QByteArray>>();
    userFile->start();
    startSave(image, id, userFile);

    // 1. The mode (observers hear only of a change).
    m_appState.setCaptureMode(mode);

    // 2.-4. Feedback and the clipboard.
    if (m_appState.playSound())
        SystemSound::current().play(QStringLiteral("screen-capture"));
    if (m_appState.showCaptureFlash() && m_flash)
        m_flash();
    QPointer<ClipboardImage> clipboardImage;
    if (m_appState.copyToClipboard()) {
        // The clipboard lets go of the previous capture here; this thread
        // should not be the one to free it.
        QImage previous = std::exchange(m_clipboardImage, image);
        clipboardImage = new ClipboardImage(image);
        QGuiApplication::clipboard()->setMimeData(clipboardImage);
        PixelRelease::later(previous);
    }

    // 5.-8. The history: newest first, at most 50, written in the background.
    HistoryItem item;
    item.id = id;
    item.image = ImageHandle(image);
    item.date = QDateTime::currentDateTime();
    item.mode = mode;
    HistoryService &history = HistoryService::shared();
    const QFuture<QByteArray> historyPng = history.addNewest(item, userFile->future());
    m_appState.setHistory(history.items());
    // Those bytes are also what a program pasting the capture gets.
    if (clipboardImage)
        clipboardImage->setPng(historyPng);

    // 9. The preview.
    if (m_appState.showFloatingPreview()) {
        QPointer<CapturePipeline> weak(this);
        const qint64 seconds = PreferenceRanges::floatingPreviewDurationSec.clamp(m_appState.floatingPreviewDurationSec());
        m_floatingPreview.show(image, seconds, [weak](const QImage &img) {
            if (weak && weak->m_editorAction)
                weak->m_editorAction(img);
        });
    }
}

void CapturePipeline::startSave(const QImage &image, const QUuid &id,
                                const std::shared_ptr<QPromise<QByteArray>> &userFile)
{
    // 10.-11. The save. The preferences are read now; encoding, the file
    // name's date, the write and the cloud copy happen in the background,
    // and the result is handled here (after the steps above).
    const QString saveDirectory = m_appState.saveDirectory();
    const ImageFormat format = m_appState.defaultFormat();
    const double quality = m_appState.jpegQuality();
    const bool cloudCopy = m_appState.iCloudSyncEnabled();
    const qint64 maxBytes = ImageExporter::byteLimit(m_appState.maxFileSizeKB());

    auto *watcher = new QFutureWatcher<SaveResult>(this);
    auto worker = std::make_shared<std::atomic<std::thread::id>>();
    m_saves.push_back({id, saveDirectory, watcher, worker});
    connect(watcher, &QFutureWatcher<SaveResult>::finished, this, [this, watcher, id, saveDirectory] {
        std::erase_if(m_saves, [watcher](const PendingSave &save) { return save.watcher == watcher; });
        const SaveResult result = watcher->result();
        watcher->deleteLater();
        finishSave(id, saveDirectory, result, false);
    });
    watcher->setFuture(QtConcurrent::run(&EncodingThreads::pool(), [image, format, quality, maxBytes, saveDirectory, cloudCopy, userFile, worker] {
        worker->store(std::this_thread::get_id());
        SaveResult result;
        // However this ends, the history's write goes ahead.
        const auto releaseHistory = qScopeGuard([&userFile] { userFile->finish(); });
        QByteArray bytes;
        try {
            bytes = ImageExporter::encodeWithinLimit(image, format, maxBytes, quality);
        } catch (const VornaError &error) {
            result.encodingError = error;
            return result;
        }
        const QString name = ImageExporter::fileName(format, QDateTime::currentDateTime());
        result.path = ImageExporter::writeNewFile(bytes, saveDirectory, name, &result.writeError);
        if (format == ImageFormat::png)
            userFile->addResult(bytes);
        userFile->finish();
        if (!result.path.isEmpty() && cloudCopy)
            copyToICloudDrive(result.path); // its result is not used
        return result;
    }));
}

bool CapturePipeline::finishSavesAtQuit(std::chrono::milliseconds stuckAfter)
{
    bool whole = true;
    // The event loop that would hand over their results has ended: they
    // are taken here, in the order the captures came.
    const std::vector<PendingSave> saves = std::exchange(m_saves, {});
    for (const PendingSave &save : saves) {
        save.watcher->disconnect(this);
        const QFuture<SaveResult> future = save.watcher->future();
        // Polled: a thread waiting on a file system that stopped answering
        // may never finish it.
        bool stuck = false;
        while (!future.isFinished()) {
            const std::thread::id worker = save.worker->load();
            // One that has not started waits for a thread of the pool,
            // which never comes when all of them are stuck.
            stuck = worker == std::thread::id()
                        ? FileSystemCall::countUnreturnedFor(stuckAfter) >= EncodingThreads::pool().maxThreadCount()
                        : FileSystemCall::unreturnedFor(worker) >= stuckAfter;
            if (stuck)
                break;
            QThread::msleep(10);
        }
        if (stuck) {
            vlog(QStringLiteral("[Vorna] quit: a save into %1 has waited on the file system for %2 ms; not waiting for it")
                     .arg(AppPaths::expandTilde(save.saveDirectory))
                     .arg(stuckAfter.count()));
            whole = false;
            continue;
        }
        finishSave(save.historyId, save.saveDirectory, future.result(), true);
    }
    return whole;
}

void CapturePipeline::finishSave(const QUuid &historyId, const QString &saveDirectory, const SaveResult &result,
                                 bool atQuit)
{
    if (result.encodingError || result.path.isEmpty()) {
        const QString folder = AppPaths::expandTilde(saveDirectory);
        const QString reason = result.encodingError ? result.encodingError->errorDescription() : result.writeError;
        vlog(QStringLiteral("[Vorna] handleCapture: could not save the screenshot into ") + folder + QStringLiteral(": ")
             + reason);
        // One alert at a time: while it is open, further failures are
        // only logged (a stack of alerts would also be in every capture).
        // At quit there is no one to read one.
        if (!m_saveAlertOpen && !atQuit) {
            m_saveAlertOpen = true;
            QPointer<CapturePipeline> self(this);
            const QString title = localized("Could not save screenshot");
            if (result.encodingError)
                presentErrorAlert(*result.encodingError, title);
            else
                presentErrorAlert(localized("Vorna could not write into the folder %1: %2").arg(folder, reason), title);
            if (!self)
                return;
            m_saveAlertOpen = false;
        }
        emit saveFailed(historyId, reason);
        return;
    }
    HistoryService &history = HistoryService::shared();
    history.setFilePath(historyId, result.path);
    // At quit no window shows the list any more (and none should start
    // work for it).
    if (!atQuit)
        m_appState.setHistory(history.items());
    emit saved(historyId, result.path);
}
