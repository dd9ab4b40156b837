#include "app/CapturePipeline.h"
#include "editor/EditorView.h"
#include "model/AppState.h"
#include "output/HistoryService.h"
#include "output/ImageExporter.h"
#include "platform/AppPaths.h"
#include "platform/Log.h"
#include "platform/SystemSound.h"
#include "platform/UserDefaults.h"
#include "settings/GeneralSettingsTab.h"
#include "support/RecordingAlertPresenter.h"
#include "support/TestHome.h"
#include "windows/FloatingPreviewController.h"
#include "windows/FloatingPreviewView.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

class RecordingSound : public SystemSound
{
public:
    RecordingSound() { SystemSound::setCurrent(this); }
    ~RecordingSound() override { SystemSound::setCurrent(nullptr); }
    void play(const QString &eventId) override
    {
        played << eventId;
        if (onPlay)
            onPlay();
    }
    QStringList played;
    std::function<void()> onPlay;
};

// A capture of w x h pixels at two pixels per point, in one colour with a
// dark block, or noise (which compresses badly).
QImage captureImage(int w, int h, QColor color = QColor(30, 120, 220), bool noise = false)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    if (noise) {
        QRandomGenerator rng(7);
        for (int y = 0; y < h; ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < w; ++x)
                line[x] = 0xff000000u | (rng.generate() & 0xffffffu);
        }
    } else {
        QPainter(&image).fillRect(w / 4, h / 4, w / 4, h / 4, Qt::black);
    }
    image.setDevicePixelRatio(2.0);
    return image;
}

class CapturePipelineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TestHome::reset();
        UserDefaults::resetStandard();
        HistoryService::resetShared();
        state = std::make_unique<AppState>();
        state->setSaveDirectory(TestHome::path() + "/Shots");
        preview = std::make_unique<FloatingPreviewController>();
        pipeline = std::make_unique<CapturePipeline>(*state, *preview);
        pipeline->setFlash([this] {
            ++flashes;
            if (onFlash)
                onFlash();
        });
    }
    void TearDown() override
    {
        pipeline.reset();
        preview.reset();
        state.reset();
        HistoryService::resetShared();
        UserDefaults::resetStandard();
    }

    // Runs one capture and waits until its file is written (or failed).
    QString captureAndWait(const QImage &image, CaptureMode mode = CaptureMode::fullscreen)
    {
        QSignalSpy saved(pipeline.get(), &CapturePipeline::saved);
        QSignalSpy failed(pipeline.get(), &CapturePipeline::saveFailed);
        pipeline->handleCapture(image, mode);
        EXPECT_TRUE(QTest::qWaitFor([&] { return saved.count() + failed.count() == 1; }, 10000));
        return saved.isEmpty() ? QString() : saved.at(0).at(1).toString();
    }

    QStringList savedFiles() const
    {
        return QDir(TestHome::path() + "/Shots").entryList(QDir::Files, QDir::Name);
    }

    RecordingSound sound;
    RecordingAlertPresenter alerts;
    std::unique_ptr<AppState> state;
    std::unique_ptr<FloatingPreviewController> preview;
    std::unique_ptr<CapturePipeline> pipeline;
    int flashes = 0;
    std::function<void()> onFlash;
};

} // namespace

TEST_F(CapturePipelineTest, RunsSoundFlashClipboardHistoryPreviewThenTheSaveInThatOrder)
{
    state->setPlaySound(true);
    state->setShowCaptureFlash(true);
    state->setCopyToClipboard(true);
    state->setShowFloatingPreview(true);
    QGuiApplication::clipboard()->setText("before");
    const QImage image = captureImage(640, 400);

    // Each step looks at what the others have done when it runs.
    QStringList steps;
    auto clipboardHasImage = [] { return !QGuiApplication::clipboard()->image().isNull(); };
    sound.onPlay = [&] {
        steps << "sound";
        EXPECT_EQ(flashes, 0);
        EXPECT_FALSE(clipboardHasImage());
        EXPECT_TRUE(HistoryService::shared().items().isEmpty());
    };
    onFlash = [&] {
        steps << "flash";
        EXPECT_FALSE(clipboardHasImage());
        EXPECT_TRUE(state->history().isEmpty());
    };
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, pipeline.get(), [&] {
        steps << "clipboard";
        EXPECT_TRUE(state->history().isEmpty());
    });
    QObject::connect(state.get(), &AppState::changed, pipeline.get(), [&](AppState::Property p) {
        if (p != AppState::Property::history)
            return;
        steps << (state->history().first().filePath ? "history with path" : "history");
        if (!state->history().first().filePath) {
            EXPECT_EQ(preview->panel(), nullptr) << "the preview comes after the history";
        }
    });
    QSignalSpy saved(pipeline.get(), &CapturePipeline::saved);

    pipeline->handleCapture(image, CaptureMode::window);
    ASSERT_NE(preview->panel(), nullptr);
    steps << "preview";
    EXPECT_EQ(state->captureMode(), CaptureMode::window);
    EXPECT_EQ(sound.played, QStringList{"screen-capture"});
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), image.size());

    ASSERT_TRUE(QTest::qWaitFor([&] { return saved.count() == 1; }, 10000));
    EXPECT_EQ(steps, (QStringList{"sound", "flash", "clipboard", "history", "preview", "history with path"}));

    // The file: "Vorna_" + date + ".png" in the save folder, the capture's pixels.
    const QString path = saved.at(0).at(1).toString();
    EXPECT_TRUE(QFileInfo(path).fileName().startsWith("Vorna_"));
    EXPECT_TRUE(path.endsWith(".png"));
    EXPECT_EQ(QFileInfo(path).absolutePath(), TestHome::path() + "/Shots");
    const QImage written(path);
    EXPECT_EQ(written.size(), QSize(640, 400));
    EXPECT_EQ(written.pixelColor(500, 300), QColor(30, 120, 220));
    EXPECT_EQ(written.pixelColor(200, 120), QColor(Qt::black));
    // The history entry records the file.
    ASSERT_EQ(HistoryService::shared().items().size(), 1);
    EXPECT_EQ(HistoryService::shared().items().first().filePath, std::optional<QString>(path));
    EXPECT_EQ(HistoryService::shared().items().first().mode, CaptureMode::window);
    EXPECT_TRUE(alerts.alerts.isEmpty());
    // A program pasting the capture as PNG gets the history's file of it.
    HistoryService::shared().waitForPendingWrites();
    QFile historyFile(HistoryService::shared().imagePath(HistoryService::shared().items().first().id));
    ASSERT_TRUE(historyFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("image/png"), historyFile.readAll());
}

TEST_F(CapturePipelineTest, WithEveryFeedbackOffTheCaptureStillEntersTheHistoryAndIsSaved)
{
    state->setPlaySound(false);
    state->setShowCaptureFlash(false);
    state->setCopyToClipboard(false);
    state->setShowFloatingPreview(false);
    QGuiApplication::clipboard()->setText("before");

    const QString path = captureAndWait(captureImage(320, 200));
    EXPECT_TRUE(sound.played.isEmpty());
    EXPECT_EQ(flashes, 0);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString("before"));
    EXPECT_EQ(preview->panel(), nullptr);
    EXPECT_EQ(state->history().size(), 1);
    EXPECT_EQ(savedFiles().size(), 1);
    EXPECT_TRUE(savedFiles().first().startsWith("Vorna_"));
    EXPECT_EQ(state->history().first().filePath, std::optional<QString>(path));
}

// Qt paints large areas with the help of its global thread pool and waits
// for it; the capture's encoding must neither fill that pool nor depend on
// it, so a busy global pool holds up neither the saved file nor a repaint.
TEST_F(CapturePipelineTest, TheSaveGoesAheadWhileQtsGlobalThreadsAreAllBusy)
{
    state->setShowFloatingPreview(false);
    QThreadPool *global = QThreadPool::globalInstance();
    QSemaphore release;
    QSemaphore started;
    const int busy = global->maxThreadCount();
    for (int i = 0; i < busy; ++i)
        global->start([&] {
            started.release();
            release.acquire();
        });
    const auto unblock = qScopeGuard([&] {
        release.release(busy);
        global->waitForDone();
    });
    ASSERT_TRUE(started.tryAcquire(busy, 5000));

    QSignalSpy saved(pipeline.get(), &CapturePipeline::saved);
    pipeline->handleCapture(captureImage(1600, 1000), CaptureMode::fullscreen);
    EXPECT_TRUE(QTest::qWaitFor([&] { return saved.count() == 1; }, 30000));
    EXPECT_EQ(global->activeThreadCount(), busy);
}

TEST_F(CapturePipelineTest, WithThePreviewOffAPreviewStillOnScreenIsLeftAlone)
{
    state->setShowFloatingPreview(true);
    captureAndWait(captureImage(100, 100));
    QWidget *earlier = preview->panel();
    ASSERT_NE(earlier, nullptr);
    state->setShowFloatingPreview(false);
    captureAndWait(captureImage(100, 100));
    EXPECT_EQ(preview->panel(), earlier);

    // With it on, a new capture replaces the panel.
    state->setShowFloatingPreview(true);
    captureAndWait(captureImage(100, 100));
    EXPECT_NE(preview->panel(), earlier);
    EXPECT_NE(preview->panel(), nullptr);
}

TEST_F(CapturePipelineTest, SavesInTheChosenFormat)
{
    state->setDefaultFormat(ImageFormat::jpeg);
    const QString jpeg = captureAndWait(captureImage(320, 200));
    EXPECT_TRUE(jpeg.endsWith(".jpeg"));
    QImageReader jpegReader(jpeg);
    EXPECT_EQ(jpegReader.format(), QByteArray("jpeg"));
    EXPECT_EQ(jpegReader.size(), QSize(320, 200));

    state->setDefaultFormat(ImageFormat::tiff);
    const QString tiff = captureAndWait(captureImage(320, 200));
    EXPECT_TRUE(tiff.endsWith(".tiff"));
    QFile f(tiff);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray magic = f.read(4);
    EXPECT_TRUE(magic == QByteArray("II*\0", 4) || magic == QByteArray("MM\0*", 4));
}

TEST_F(CapturePipelineTest, TheSizeLimitScalesDownAndZeroOrAnOverflowingLimitMeansNone)
{
    const QImage noisy = captureImage(400, 300, Qt::white, true);

    state->setMaxFileSizeKB(20); // 400x300 noise is ~350 KB as PNG; even 0.3 scale does not fit
    const QString limited = captureAndWait(noisy);
    EXPECT_EQ(QImageReader(limited).size(), QSize(120, 90));

    state->setMaxFileSizeKB(0);
    EXPECT_EQ(QImageReader(captureAndWait(noisy)).size(), QSize(400, 300));

    // 2^54 + 1 KB is more bytes than a 64-bit integer holds; multiplied
    // naively it wraps around to 1024 bytes.
    state->setMaxFileSizeKB((qint64(1) << 54) + 1);
    EXPECT_EQ(QImageReader(captureAndWait(noisy)).size(), QSize(400, 300));
    EXPECT_EQ(ImageExporter::byteLimit((qint64(1) << 54) + 1), 0);
    EXPECT_EQ(ImageExporter::byteLimit(std::numeric_limits<qint64>::max()), 0);
    EXPECT_EQ(ImageExporter::byteLimit(std::numeric_limits<qint64>::max() / 1024),
              std::numeric_limits<qint64>::max() / 1024 * 1024);
    EXPECT_EQ(ImageExporter::byteLimit(5), 5120);
}

TEST_F(CapturePipelineTest, TheFiftyFirstCaptureRemovesTheOldestEntryAndItsImage)
{
    state->setShowFloatingPreview(false);
    state->setCopyToClipboard(false);
    state->setPlaySound(false);
    QList<QUuid> ids;
    for (int i = 0; i < 51; ++i) {
        QSignalSpy saved(pipeline.get(), &CapturePipeline::saved);
        pipeline->handleCapture(captureImage(40, 30, QColor(i * 5, 0, 0)), CaptureMode::region);
        ids << state->history().first().id;
        ASSERT_TRUE(QTest::qWaitFor([&] { return saved.count() == 1; }, 10000));
        if (i == 49) {
            HistoryService::shared().waitForPendingWrites();
            ASSERT_TRUE(QFile::exists(HistoryService::shared().imagePath(ids.first())));
        }
    }
    HistoryService &history = HistoryService::shared();
    history.waitForPendingWrites();
    ASSERT_EQ(history.items().size(), 50);
    EXPECT_EQ(state->history().size(), 50);
    EXPECT_EQ(history.items().first().id, ids.last());
    EXPECT_EQ(history.items().last().id, ids.at(1));
    EXPECT_FALSE(QFile::exists(history.imagePath(ids.first())));
    EXPECT_TRUE(QFile::exists(history.imagePath(ids.at(1))));
    EXPECT_TRUE(QFile::exists(history.imagePath(ids.last())));
    // The saved screenshots themselves are all kept.
    EXPECT_EQ(savedFiles().size(), 51);

    QFile manifest(history.manifestPath());
    ASSERT_TRUE(manifest.open(QIODevice::ReadOnly));
    const QJsonArray records = QJsonDocument::fromJson(manifest.readAll()).array();
    EXPECT_EQ(records.size(), 50);
    EXPECT_FALSE(QString::fromUtf8(QJsonDocument(records).toJson()).contains(
        ids.first().toString(QUuid::WithoutBraces), Qt::CaseInsensitive));
}

TEST_F(CapturePipelineTest, ASaveFolderWithATildeIsExpandedAndCreated)
{
    state->setSaveDirectory("~/a/b");
    const QString path = captureAndWait(captureImage(64, 64));
    EXPECT_EQ(QFileInfo(path).absolutePath(), AppPaths::home() + "/a/b");
    EXPECT_TRUE(QFile::exists(path));
    // Two captures in the same second keep both files.
    state->setSaveDirectory("~/same");
    QSignalSpy saved(pipeline.get(), &CapturePipeline::saved);
    pipeline->handleCapture(captureImage(64, 64), CaptureMode::fullscreen);
    pipeline->handleCapture(captureImage(64, 64), CaptureMode::fullscreen);
    ASSERT_TRUE(QTest::qWaitFor([&] { return saved.count() == 2; }, 10000));
    EXPECT_NE(saved.at(0).at(1), saved.at(1).at(1));
    EXPECT_EQ(QDir(AppPaths::home() + "/same").entryList(QDir::Files).size(), 2);
}

// A failed save used to leave no log line, an alert that did not say where,
// and one more modal alert per capture, each in the next screenshots.
TEST_F(CapturePipelineTest, AFailedSaveIsLoggedAndAlertedWithItsFolderOnceWhileTheAlertIsOpen)
{
    // A file where the save folder's parent should be.
    QFile blocker(TestHome::path() + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString folder = TestHome::path() + "/blocker/Shots";
    state->setSaveDirectory(folder);
    LogCapture log;
    QSignalSpy failed(pipeline.get(), &CapturePipeline::saveFailed);
    // Two more captures fail while the first alert is still open.
    bool first = true;
    alerts.whileOpen = [&] {
        if (!std::exchange(first, false))
            return;
        pipeline->handleCapture(captureImage(64, 64), CaptureMode::region);
        pipeline->handleCapture(captureImage(64, 64), CaptureMode::region);
        EXPECT_TRUE(QTest::qWaitFor([&] { return failed.count() == 2; }, 10000));
    };
    pipeline->handleCapture(captureImage(64, 64), CaptureMode::region);
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed.count() == 3; }, 10000));
    ASSERT_EQ(alerts.alerts.size(), 1);
    EXPECT_EQ(alerts.alerts[0].title, QString("Could not save screenshot"));
    EXPECT_TRUE(alerts.alerts[0].informativeText.contains(folder)) << alerts.alerts[0].informativeText.toStdString();
    EXPECT_EQ(alerts.alerts[0].buttons, QStringList{"OK"});
    const QStringList logged =
        log.lines().filter("[Vorna] handleCapture: could not save the screenshot into " + folder + ": ");
    EXPECT_EQ(logged.size(), 3) << log.lines().join("\n").toStdString();
    ASSERT_EQ(state->history().size(), 3);
    EXPECT_EQ(state->history().first().filePath, std::nullopt);
    HistoryService::shared().waitForPendingWrites();
    EXPECT_TRUE(QFile::exists(HistoryService::shared().imagePath(state->history().first().id)));

    // Once it is closed, the next failure has an alert of its own.
    captureAndWait(captureImage(64, 64));
    EXPECT_EQ(alerts.alerts.size(), 2);
}

// The cloud copy goes into the first sync client's folder in the home
// folder; the settings tab names it, or the folders it looks for.
TEST_F(CapturePipelineTest, CapturesAndEditorSavesAreCopiedIntoTheCloudFolder)
{
    const QString home = TestHome::path();
    ASSERT_TRUE(QDir().mkpath(home + "/Dropbox"));
    ASSERT_TRUE(QDir().mkpath(home + "/Sync"));
    state->setICloudSyncEnabled(true);
    {
        GeneralSettingsTab tab(*state);
        tab.show();
        EXPECT_TRUE(tab.toggle(AppState::Property::iCloudSyncEnabled)->isEnabled());
        EXPECT_TRUE(tab.toggle(AppState::Property::iCloudSyncEnabled)->isChecked());
        EXPECT_TRUE(tab.iCloudCaption()->text().contains("~/Dropbox/Vorna")) << tab.iCloudCaption()->text().toStdString();
    }

    const QString captured = captureAndWait(captureImage(64, 64));
    ASSERT_FALSE(captured.isEmpty());
    const QString cloud = home + "/Dropbox/Vorna";
    QFile capturedCopy(cloud + "/" + QFileInfo(captured).fileName());
    ASSERT_TRUE(capturedCopy.open(QIODevice::ReadOnly));
    QFile capturedFile(captured);
    ASSERT_TRUE(capturedFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(capturedCopy.readAll(), capturedFile.readAll());

    state->openEditor(ImageHandle(captureImage(80, 40, Qt::green)));
    EditorView editor(*state);
    QSignalSpy editorSaved(&editor, &EditorView::saveFinished);
    editor.saveToFolder();
    ASSERT_TRUE(editorSaved.wait(60000));
    const QString edited = editorSaved.first().first().toString();
    ASSERT_FALSE(edited.isEmpty());
    EXPECT_EQ(QImage(cloud + "/" + QFileInfo(edited).fileName()).size(), QSize(80, 40));
    EXPECT_EQ(QDir(cloud).entryList(QDir::Files).size(), 2);
    EXPECT_TRUE(QDir(home + "/Sync").isEmpty());

    // Without a sync client's folder nothing is copied, and the switch,
    // still on, cannot be used.
    ASSERT_TRUE(QDir(home + "/Dropbox").removeRecursively());
    ASSERT_TRUE(QDir(home + "/Sync").removeRecursively());
    ASSERT_FALSE(captureAndWait(captureImage(64, 64)).isEmpty());
    editor.saveToFolder();
    ASSERT_TRUE(editorSaved.wait(60000));
    EXPECT_EQ(savedFiles().size(), 4);
    for (const char *name : {"Nextcloud", "ownCloud", "Dropbox", "Sync"})
        EXPECT_FALSE(QFileInfo::exists(home + "/" + name)) << name;
    GeneralSettingsTab tab(*state);
    tab.show();
    EXPECT_FALSE(tab.toggle(AppState::Property::iCloudSyncEnabled)->isEnabled());
    EXPECT_TRUE(tab.toggle(AppState::Property::iCloudSyncEnabled)->isChecked());
    for (const char *name : {"~/Nextcloud", "~/ownCloud", "~/Dropbox", "~/Sync"})
        EXPECT_TRUE(tab.iCloudCaption()->text().contains(name)) << tab.iCloudCaption()->text().toStdString();
    EXPECT_TRUE(alerts.alerts.isEmpty());
}

// Once the history's PNG is written, the history lets go of the pixels;
// the clipboard, the preview and the save, which hold their own, still have
// the whole capture, and the history decodes it again when asked.
TEST_F(CapturePipelineTest, TheHistoryLetsGoOfWrittenPixelsWithoutTakingThemFromAnyoneElse)
{
    state->setPlaySound(false);
    state->setCopyToClipboard(true);
    state->setShowFloatingPreview(true);
    QImage image = captureImage(900, 700, QColor(), true);
    const QImage expected = image.copy();
    QSignalSpy saved(pipeline.get(), &CapturePipeline::saved);
    pipeline->handleCapture(image, CaptureMode::region);
    image = QImage();
    HistoryService::shared().waitForPendingWrites();
    const ImageHandle history = state->history().first().image;
    EXPECT_FALSE(history.isDecoded());

    ASSERT_TRUE(QTest::qWaitFor([&] { return saved.count() == 1; }, 10000));
    EXPECT_EQ(QImage(saved.at(0).at(1).toString()).convertToFormat(QImage::Format_RGB32), expected);
    EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), expected);
    ASSERT_NE(preview->panel(), nullptr);
    const auto *view = preview->panel()->findChild<FloatingPreviewView *>();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->image().convertToFormat(QImage::Format_RGB32), expected);
    const QImage again = history.image();
    EXPECT_EQ(again.devicePixelRatio(), 2.0);
    EXPECT_EQ(again.convertToFormat(QImage::Format_RGB32), expected);
}

// The history's copy of a PNG capture is the user's file itself (with the
// capture's resolution), not a second encoding; when the size limit scaled
// the user's file down, the history still keeps the whole capture.
TEST_F(CapturePipelineTest, TheHistoryCopyOfAPngCaptureIsTheSavedFileWhenItHoldsTheWholeCapture)
{
    state->setShowFloatingPreview(false);
    state->setCopyToClipboard(false);
    const QImage image = captureImage(400, 300, Qt::white, true);
    auto imageData = [](const QString &path) {
        QFile f(path);
        const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        return bytes.mid(bytes.indexOf("IDAT") - 4);
    };
    const QString saved = captureAndWait(image);
    const QUuid whole = state->history().first().id;
    state->setMaxFileSizeKB(20); // the saved file is scaled down to fit
    const QString scaled = captureAndWait(image);
    ASSERT_EQ(QImageReader(scaled).size(), QSize(120, 90));
    const QUuid fromScaled = state->history().first().id;
    HistoryService::shared().waitForPendingWrites();
    EXPECT_EQ(imageData(HistoryService::shared().imagePath(whole)), imageData(saved));

    HistoryService::resetShared();
    const QList<HistoryItem> reloaded = HistoryService::shared().items();
    ASSERT_EQ(reloaded.size(), 2);
    for (const HistoryItem &item : reloaded) {
        SCOPED_TRACE(item.id == whole ? "whole" : "scaled");
        EXPECT_TRUE(item.id == whole || item.id == fromScaled);
        const QImage back = item.image.image();
        EXPECT_EQ(back.devicePixelRatio(), 2.0);
        EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), image);
    }
}
