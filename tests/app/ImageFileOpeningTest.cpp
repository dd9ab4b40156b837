// Image files opened with the program enter the history and an editor.
#include "app/AppDelegate.h"
#include "app/ImageFileOpener.h"
#include "app/WindowManager.h"
#include "model/AppState.h"
#include "model/NotificationNames.h"
#include "output/HistoryService.h"
#include "platform/NotificationCenter.h"
#include "support/Eventually.h"
#include "support/RecordingAlertPresenter.h"
#include "support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QString makeImage(const QString &name, QSize size, QColor color)
{
    const QString path = TestHome::path() + "/" + name;
    QImage img(size, QImage::Format_RGB32);
    img.fill(color);
    EXPECT_TRUE(img.save(path));
    return path;
}

void openAndWait(AppDelegate &delegate, const QList<QUrl> &urls)
{
    delegate.openURLs(urls);
    if (!delegate.imageFileOpener().isIdle()) {
        QSignalSpy idle(&delegate.imageFileOpener(), &ImageFileOpener::idle);
        ASSERT_TRUE(idle.wait(30000));
    }
    QTest::qWait(10); // alerts are shown from a queued task
}

QJsonArray manifest()
{
    HistoryService::shared().waitForPendingWrites();
    QFile f(HistoryService::shared().manifestPath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).array();
}

TEST(ImageFileOpening, FileEntersTheHistoryAndTheEditor)
{
    RecordingAlertPresenter alerts;
    AppDelegate delegate;
    int editorRequests = 0;
    NotificationCenter::instance().addObserver(NotificationNames::openEditor, &delegate,
                                               [&](const auto &) { ++editorRequests; });
    const QString path = makeImage("shot one.png", {64, 32}, Qt::blue);

    openAndWait(delegate, {QUrl::fromLocalFile(path)});

    EXPECT_TRUE(alerts.alerts.isEmpty());
    const auto &items = HistoryService::shared().items();
    ASSERT_EQ(items.size(), 1);
    const HistoryItem &item = items.first();
    EXPECT_EQ(item.filePath, path);
    EXPECT_EQ(item.mode, CaptureMode::region);
    EXPECT_EQ(item.image.image().pixelColor(3, 3), QColor(Qt::blue));
    EXPECT_LT(qAbs(item.date.secsTo(QDateTime::currentDateTime())), 10);
    ASSERT_EQ(delegate.appState().history().size(), 1);
    EXPECT_EQ(delegate.appState().history().first().id, item.id);

    // No external editor is set: the built-in editor opens on the image.
    EXPECT_EQ(editorRequests, 1);
    EXPECT_TRUE(delegate.appState().isEditorOpen());
    EXPECT_EQ(delegate.appState().capturedImage(), item.image);

    const QJsonArray records = manifest();
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].toObject().value("filePath").toString(), path);
    EXPECT_EQ(records[0].toObject().value("mode").toString(), "region");
    EXPECT_TRUE(QFileInfo::exists(HistoryService::shared().imagePath(item.id)));
}

TEST(ImageFileOpening, SeveralFilesEnterInTheOrderGiven)
{
    AppDelegate delegate;
    // A large first file decodes longer than a small second one.
    const QString big = makeImage("big.png", {3000, 2000}, Qt::red);
    const QString small = makeImage("small.png", {8, 8}, Qt::green);
    openAndWait(delegate, {QUrl::fromLocalFile(big), QUrl::fromLocalFile(small)});
    const auto &items = HistoryService::shared().items();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].filePath, small);
    EXPECT_EQ(items[1].filePath, big);
    const QJsonArray records = manifest();
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[0].toObject().value("filePath").toString(), small);
}

TEST(ImageFileOpening, FileThatIsNoImageGetsTheAlertAndChangesNothing)
{
    RecordingAlertPresenter alerts;
    AppDelegate delegate;
    const QString notes = TestHome::path() + "/notes.png";
    QFile f(notes);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("plain text\n");
    f.close();

    openAndWait(delegate, {QUrl::fromLocalFile(notes), QUrl::fromLocalFile(TestHome::path() + "/gone.jpg"),
                           QUrl::fromLocalFile(TestHome::path())});

    ASSERT_EQ(alerts.alerts.size(), 3);
    EXPECT_EQ(alerts.alerts[0].title, "Could not open this image");
    EXPECT_EQ(alerts.alerts[0].informativeText, "notes.png");
    EXPECT_EQ(alerts.alerts[0].style, AlertPresenter::Style::warning);
    EXPECT_EQ(alerts.alerts[0].buttons, QStringList{"OK"});
    EXPECT_EQ(alerts.alerts[1].informativeText, "gone.jpg");
    EXPECT_TRUE(HistoryService::shared().items().isEmpty());
    EXPECT_TRUE(delegate.appState().history().isEmpty());
    EXPECT_FALSE(delegate.appState().isEditorOpen());
    EXPECT_EQ(delegate.windows().editorWindow(), nullptr);
}

TEST(ImageFileOpening, FullHistoryDropsItsOldestEntryAndImage)
{
    AppDelegate delegate;
    HistoryService &history = HistoryService::shared();
    QImage tiny(4, 4, QImage::Format_RGB32);
    tiny.fill(Qt::gray);
    for (int i = 0; i < HistoryService::maxItems; ++i) {
        HistoryItem item{QUuid::createUuid(), ImageHandle(tiny), QDateTime::currentDateTime().addSecs(-i),
                         CaptureMode::fullscreen, std::nullopt};
        history.items().append(item);
        history.saveImage(item);
    }
    history.persist();
    history.waitForPendingWrites();
    const QUuid oldest = history.items().last().id;
    const QUuid secondOldest = history.items()[HistoryService::maxItems - 2].id;
    ASSERT_TRUE(QFileInfo::exists(history.imagePath(oldest)));

    openAndWait(delegate, {QUrl::fromLocalFile(makeImage("new.png", {10, 10}, Qt::yellow))});

    ASSERT_EQ(history.items().size(), HistoryService::maxItems);
    EXPECT_EQ(history.items().last().id, secondOldest);
    EXPECT_EQ(delegate.appState().history().size(), HistoryService::maxItems);
    EXPECT_EQ(manifest().size(), HistoryService::maxItems);
    EXPECT_FALSE(QFileInfo::exists(history.imagePath(oldest)));
    EXPECT_TRUE(QFileInfo::exists(history.imagePath(secondOldest)));
}

TEST(ImageFileOpening, ExternalEditorGetsTheOpenedFileItself)
{
    const QString record = TestHome::path() + "/editor-args";
    const QString script = TestHome::path() + "/editor.sh";
    QFile s(script);
    ASSERT_TRUE(s.open(QIODevice::WriteOnly));
    s.write(("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record + ".tmp' && mv '" + record + ".tmp' '" + record + "'\n")
                .toUtf8());
    s.close();
    s.setPermissions(s.permissions() | QFile::ExeOwner);

    AppDelegate delegate;
    delegate.appState().setExternalEditorPath(script);
    const QString path = makeImage("for editor.png", {12, 12}, Qt::cyan);
    openAndWait(delegate, {QUrl::fromLocalFile(path)});

    ASSERT_EVENTUALLY(QFileInfo::exists(record), 30000);
    QFile r(record);
    ASSERT_TRUE(r.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(r.readAll()).trimmed(), path);
    EXPECT_FALSE(delegate.appState().isEditorOpen());
    EXPECT_EQ(HistoryService::shared().items().size(), 1);
}

} // namespace

// A file whose open never returns is given up after the stall time: the
// files after it come through in order, and the opener goes away without
// waiting for the stuck read.
TEST(ImageFileOpening, AStalledFileIsGivenUpAndHoldsNothingBack)
{
    auto release = std::make_shared<QSemaphore>(0);
    auto opener = std::make_unique<ImageFileOpener>();
    opener->setStallTimeoutMs(300);
    opener->setReader([release](const QString &path, const std::function<void()> &opened) {
        if (path == "stalled")
            release->acquire(); // like open() on a mount that never answers
        opened();
        if (path == "slow")
            QThread::msleep(600); // opened, but long to decode: waited for
        QImage img(4, 4, QImage::Format_RGB32);
        img.fill(Qt::red);
        return img;
    });
    QStringList delivered;
    QList<bool> loaded;
    for (const char *path : {"before", "stalled", "slow", "after"})
        opener->open(path, [&](const QString &p, const QImage &image) {
            delivered << p;
            loaded << !image.isNull();
        });
    for (int i = 0; i < ImageFileOpener::maxReading + 1; ++i)
        opener->open("more", [&](const QString &p, const QImage &) { delivered << p; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return opener->isIdle(); }, 30000)) << delivered.join(',').toStdString();
    EXPECT_EQ(delivered.mid(0, 4), (QStringList{"before", "stalled", "slow", "after"}));
    EXPECT_EQ(loaded, (QList<bool>{true, false, true, true}));
    EXPECT_EQ(delivered.size(), 4 + ImageFileOpener::maxReading + 1);

    // Another stalled read still running: going away waits for nothing.
    opener->open("stalled", [](const QString &, const QImage &) {});
    QElapsedTimer clock;
    clock.start();
    opener.reset();
    EXPECT_LT(clock.elapsed(), 200);
    release->release(2); // lets the test's threads end
    QTest::qWait(50);
}
