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

    ++m_pendingSaves;
    auto *watcher = new QFutureWatcher<SaveResult>(this);
    connect(watcher, &QFutureWatcher<SaveResult>::finished, this, [this, watcher, id, saveDirectory] {
        --m_pendingSaves;
        const SaveResult result = watcher->result();
        watcher->deleteLater();
        finishSave(id, saveDirectory, result);
    });
    watcher->setFuture(QtConcurrent::run(&EncodingThreads::pool(), [image, format, quality, maxBytes, saveDirectory, cloudCopy, userFile] {
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

void CapturePipeline::finishSave(const QUuid &historyId, const QString &saveDirectory, const SaveResult &result)
{
    if (result.encodingError || result.path.isEmpty()) {
        const QString folder = AppPaths::expandTilde(saveDirectory);
        const QString reason = result.encodingError ? result.encodingError->errorDescription() : result.writeError;
        vlog(QStringLiteral("[Vorna] handleCapture: could not save the screenshot into ") + folder + QStringLiteral(": ")
             + reason);
        // One alert at a time: while it is open, further failures are
        // only logged (a stack of alerts would also be in every capture).
        if (!m_saveAlertOpen) {
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
    m_appState.setHistory(history.items());
    emit saved(historyId, result.path);
}
