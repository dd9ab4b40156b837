#include "app/CapturePipeline.h"

#include "model/AppState.h"
#include "model/HistoryItem.h"
#include "model/ImageHandle.h"
#include "model/VornaError.h"
#include "output/HistoryService.h"
#include "output/ICloudDrive.h"
#include "output/ImageExporter.h"
#include "platform/Localized.h"
#include "platform/SystemSound.h"
#include "windows/FloatingPreviewController.h"

#include <QClipboard>
#include <QWidget>
#include <QDateTime>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QPointer>
#include <QtConcurrent>

#include <limits>
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

qint64 CapturePipeline::byteLimit(qint64 maxFileSizeKB)
{
    if (maxFileSizeKB <= 0 || maxFileSizeKB > std::numeric_limits<qint64>::max() / 1024)
        return 0;
    return maxFileSizeKB * 1024;
}

void CapturePipeline::handleCapture(const QImage &image, CaptureMode mode)
{
    // 1. The mode (observers hear only of a change).
    m_appState.setCaptureMode(mode);

    // 2.-4. Feedback and the clipboard.
    if (m_appState.playSound())
        SystemSound::current().play(QStringLiteral("screen-capture"));
    if (m_appState.showCaptureFlash() && m_flash)
        m_flash();
    if (m_appState.copyToClipboard())
        QGuiApplication::clipboard()->setImage(image);

    // 5.-8. The history: newest first, at most 50, written in the background.
    HistoryItem item;
    item.id = QUuid::createUuid();
    item.image = ImageHandle(image);
    item.date = QDateTime::currentDateTime();
    item.mode = mode;
    HistoryService &history = HistoryService::shared();
    history.addNewest(item);
    m_appState.setHistory(history.items());

    // 9. The preview.
    if (m_appState.showFloatingPreview()) {
        QPointer<CapturePipeline> weak(this);
        const qint64 seconds = PreferenceRanges::floatingPreviewDurationSec.clamp(m_appState.floatingPreviewDurationSec());
        m_floatingPreview.show(image, seconds, [weak](const QImage &img) {
            if (weak && weak->m_editorAction)
                weak->m_editorAction(img);
        });
    }

    // 10.-11. The save. The preferences are read now; encoding, the file
    // name's date, the write and the cloud copy happen in the background.
    const QString saveDirectory = m_appState.saveDirectory();
    const ImageFormat format = m_appState.defaultFormat();
    const double quality = m_appState.jpegQuality();
    const bool cloudCopy = m_appState.iCloudSyncEnabled();
    const qint64 maxBytes = byteLimit(m_appState.maxFileSizeKB());
    const QUuid id = item.id;

    ++m_pendingSaves;
    auto *watcher = new QFutureWatcher<SaveResult>(this);
    connect(watcher, &QFutureWatcher<SaveResult>::finished, this, [this, watcher, id] {
        --m_pendingSaves;
        const SaveResult result = watcher->result();
        watcher->deleteLater();
        finishSave(id, result);
    });
    watcher->setFuture(QtConcurrent::run([image, format, quality, maxBytes, saveDirectory, cloudCopy] {
        SaveResult result;
        QByteArray bytes;
        try {
            bytes = ImageExporter::encodeWithinLimit(image, format, maxBytes, quality);
        } catch (const VornaError &error) {
            result.encodingError = error;
            return result;
        }
        const QString name = ImageExporter::fileName(format, QDateTime::currentDateTime());
        result.path = ImageExporter::writeNewFile(bytes, saveDirectory, name, &result.writeError);
        if (!result.path.isEmpty() && cloudCopy)
            copyToICloudDrive(result.path); // its result is not used
        return result;
    }));
}

void CapturePipeline::finishSave(const QUuid &historyId, const SaveResult &result)
{
    const QString title = localized("Could not save screenshot");
    if (result.encodingError) {
        presentErrorAlert(*result.encodingError, title);
        emit saveFailed(historyId, result.encodingError->errorDescription());
        return;
    }
    if (result.path.isEmpty()) {
        presentErrorAlert(result.writeError, title);
        emit saveFailed(historyId, result.writeError);
        return;
    }
    HistoryService &history = HistoryService::shared();
    history.setFilePath(historyId, result.path);
    m_appState.setHistory(history.items());
    emit saved(historyId, result.path);
}
