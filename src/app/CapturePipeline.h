#pragma once

#include "model/CaptureMode.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QUuid>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

template<typename T>
class QFutureWatcher;
template<typename T>
class QPromise;

class AppState;
class FloatingPreviewController;

// What happens to every captured image, in this order: the capture sound,
// the screen flash, the clipboard, a new entry at the front of the history
// (trimmed to 50, its PNG and the manifest written in the background), the
// floating preview, and the automatic save: encoded in the default format
// within the size limit and written into the save folder, both in the
// background, then the cloud copy, and last the saved path in the history
// entry. The save's background work starts before the other steps, since
// its file is what the user waits for; the history's PNG is written after
// it. Each step but the history and the save can be switched off in the
// preferences, which are read at each capture. Main thread only.
class CapturePipeline : public QObject
{
    Q_OBJECT
public:
    CapturePipeline(AppState &appState, FloatingPreviewController &floatingPreview, QObject *parent = nullptr);
    ~CapturePipeline() override;

    // The screen flash (the delegate's flash controller).
    void setFlash(std::function<void()> flash) { m_flash = std::move(flash); }
    // "Open in Editor" of the preview: the external editor, else the built-in one.
    void setEditorAction(std::function<void(const QImage &)> action) { m_editorAction = std::move(action); }

    // Runs the pipeline for one capture.
    void handleCapture(const QImage &image, CaptureMode mode);

    // How many saves are still running in the background.
    int pendingSaves() const { return int(m_saves.size()); }

    // At quit, with the event loop ended: waits for every save still
    // running, however long its encoding takes, and records each saved
    // path in the history (a failure is logged, without an alert). A save
    // whose thread has been inside one file system call for stuckAfter (a
    // folder that stopped answering) is not waited for: false then.
    bool finishSavesAtQuit(std::chrono::milliseconds stuckAfter);

signals:
    // The capture's file is complete on disk (after the cloud copy and the
    // history update).
    void saved(const QUuid &historyId, const QString &path);
    // Encoding or writing failed and was logged; the alert has been shown,
    // unless one was still open from an earlier failure.
    void saveFailed(const QUuid &historyId, const QString &description);

private:
    struct SaveResult;
    struct PendingSave
    {
        QUuid historyId;
        QString saveDirectory;
        QFutureWatcher<SaveResult> *watcher = nullptr;
        // The thread the save runs on, once it has started.
        std::shared_ptr<std::atomic<std::thread::id>> worker;
    };
    // Starts encoding and writing the user's file in the background; the
    // history's write waits on userFile.
    void startSave(const QImage &image, const QUuid &id, const std::shared_ptr<QPromise<QByteArray>> &userFile);
    void finishSave(const QUuid &historyId, const QString &saveDirectory, const SaveResult &result, bool atQuit);

    AppState &m_appState;
    FloatingPreviewController &m_floatingPreview;
    std::function<void()> m_flash;
    std::function<void(const QImage &)> m_editorAction;
    std::vector<PendingSave> m_saves;
    // A failed save's alert is on screen.
    bool m_saveAlertOpen = false;
    // The capture last put on the clipboard, so that when the clipboard
    // lets go of it its memory is freed off this thread.
    QImage m_clipboardImage;
};
