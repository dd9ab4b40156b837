// What the history keeps on disk while the launch's read is under way, at
// quit, and after writes that failed: each case guards entries a user would
// otherwise lose.
#include "output/HistoryService.h"

#include "platform/AppPaths.h"
#include "platform/Log.h"
#include "support/GatedFile.h"
#include "support/SmallDisk.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPromise>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

namespace {

const QString kIdA = "7A2D3C4B-0000-4000-8000-00000000000A";
const QString kIdB = "7A2D3C4B-0000-4000-8000-00000000000B";
const QString kIdC = "7A2D3C4B-0000-4000-8000-00000000000C";
const QString kIdD = "7A2D3C4B-0000-4000-8000-00000000000D";

QString historyDir()
{
    return AppPaths::appDataDir() + "/history";
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList manifestIds()
{
    QStringList ids;
    const QJsonArray records = QJsonDocument::fromJson(readAll(historyDir() + "/manifest.json")).array();
    for (const QJsonValue &record : records)
        ids.append(record.toObject().value("id").toString());
    return ids;
}

QStringList itemIds(const QList<HistoryItem> &items)
{
    QStringList ids;
    for (const HistoryItem &item : items)
        ids.append(item.id.toString(QUuid::WithoutBraces).toUpper());
    return ids;
}

QImage noise(quint32 seed, const QSize &size = QSize(160, 120))
{
    QImage img(size, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < img.height(); ++y) {
        auto *row = reinterpret_cast<quint32 *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            row[x] = 0xff000000u | (rng.generate() & 0xffffffu);
    }
    img.setDevicePixelRatio(2.0);
    return img;
}

HistoryItem item(const QString &id, quint32 seed)
{
    HistoryItem i;
    i.id = QUuid::fromString(id);
    i.image = ImageHandle(noise(seed));
    i.date = QDateTime::fromString("2024-05-02T10:00:05Z", Qt::ISODate);
    i.mode = CaptureMode::region;
    return i;
}

// A history on disk holding A and B (B newest), as a previous run left it,
// and no instance.
void previousRun()
{
    HistoryService::resetShared();
    QDir(historyDir()).removeRecursively();
    HistoryService::shared().addNewest(item(kIdA, 1));
    HistoryService::shared().addNewest(item(kIdB, 2));
    HistoryService::resetShared();
    ASSERT_EQ(manifestIds(), QStringList({kIdB, kIdA}));
}

} // namespace

// Clear All while the launch is still reading the history: the entries read
// do not come back, and a capture after the clear is all the history holds,
// now and after a relaunch.
TEST(HistoryWrites, AClearDuringTheLaunchReadLeavesOnlyWhatCameAfterIt)
{
    previousRun();
    const QString manifest = historyDir() + "/manifest.json";
    GatedFile gate(manifest, readAll(manifest));
    if (!gate.isValid())
        GTEST_SKIP() << "cannot hold a file's open here";

    bool loaded = false;
    HistoryService::loadShared([&] { loaded = true; });
    QThread::msleep(200); // the read now waits in the manifest's open
    auto &history = HistoryService::shared();
    history.clear();
    history.addNewest(item(kIdC, 3));
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded; }, 10000));
    EXPECT_EQ(gate.opens(), 1);
    EXPECT_FALSE(gate.uiThreadWaited());

    EXPECT_EQ(itemIds(history.items()), QStringList{kIdC});
    history.waitForPendingWrites();
    QTest::qWait(100);
    EXPECT_EQ(itemIds(history.items()), QStringList{kIdC});
    EXPECT_EQ(manifestIds(), QStringList{kIdC});
    EXPECT_EQ(QDir(historyDir()).entryList(QDir::Files | QDir::Hidden | QDir::System),
              QStringList({kIdC + ".png", "manifest.json"}));

    HistoryService::resetShared();
    EXPECT_EQ(itemIds(HistoryService::shared().items()), QStringList{kIdC});
}

// A capture while the launch is still reading the history: the manifest
// written for it already names the entries being read, so a program that
// ends before they reach the list (a crash, a logout) loses none of them.
TEST(HistoryWrites, ACaptureDuringTheLaunchReadNeverWritesAShorterManifest)
{
    previousRun();
    const QString manifest = historyDir() + "/manifest.json";
    {
        GatedFile gate(manifest, readAll(manifest));
        if (!gate.isValid())
            GTEST_SKIP() << "cannot hold a file's open here";
        HistoryService::loadShared({});
        QThread::msleep(200); // the read now waits in the manifest's open
        HistoryService::shared().addNewest(item(kIdC, 3));
        // The program ends with the read, the capture's picture and its
        // manifest written, before the UI thread takes in what was read.
        HistoryService::resetShared();
        EXPECT_EQ(gate.opens(), 1);
    }
    EXPECT_EQ(manifestIds(), QStringList({kIdC, kIdB, kIdA}));
    EXPECT_EQ(itemIds(HistoryService::shared().items()), QStringList({kIdC, kIdB, kIdA}));
}

// Quitting while the user's own save of a capture never returns (a save
// folder on a network mount that stopped answering): the history writes
// the capture's picture itself and ends within its bound; a history write
// that is itself stuck in the file system is left behind after the bound,
// and the manifest still names everything that was written.
TEST(HistoryWrites, QuitEndsWithinItsBoundAndKeepsWhatIsWritten)
{
    HistoryService::resetShared();
    QDir(historyDir()).removeRecursively();
    auto &history = HistoryService::shared();
    history.addNewest(item(kIdA, 1));
    history.waitForPendingWrites();

    QPromise<QByteArray> stuckSave;
    stuckSave.start();
    const HistoryItem b = item(kIdB, 2);
    const QImage bPixels = b.image.image();
    history.addNewest(b, stuckSave.future());
    QTest::qWait(100);

    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(history.finishWritesAtQuit());
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(manifestIds(), QStringList({kIdB, kIdA}));
    QImage back(history.imagePath(b.id));
    EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), bPixels.convertToFormat(QImage::Format_RGB32));

    // A picture whose pixels are read from a file that does not open (the
    // UI thread, waiting here, never answers the gate before it gives up).
    const QString held = AppPaths::appDataDir() + "/held.png";
    QByteArray png;
    {
        QFile f(history.imagePath(b.id));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        png = f.readAll();
    }
    GatedFile gate(held, png);
    if (!gate.isValid())
        GTEST_SKIP() << "cannot hold a file's open here";
    HistoryItem d = item(kIdD, 4);
    d.image = ImageHandle::fromFile(held, 2.0, QSize(160, 120));
    history.addNewest(d);
    LogCapture log;
    clock.restart();
    EXPECT_FALSE(history.finishWritesAtQuit(std::chrono::milliseconds(500)));
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_TRUE(log.contains("[Vorna] history: a write has waited on the file system for 500 ms at quit"));
    EXPECT_EQ(manifestIds(), QStringList({kIdB, kIdA}));
    EXPECT_TRUE(QFile::exists(history.imagePath(b.id)));
    stuckSave.finish();
    history.waitForPendingWrites();
}

// Quitting with many large pictures still to write: each write makes
// progress (none waits on a device: the history is on a RAM disk), so
// quitting waits for all of them, however long they take together, and the
// next launch has every entry.
TEST(HistoryWrites, QuitWaitsForWritesThatTakeLongButMakeProgress)
{
    HistoryService::resetShared();
    SmallDisk disk(AppPaths::appDataDir(), 640 << 20);
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error().toStdString();
    // The instance's writes end before the disk goes.
    const auto relaunch = qScopeGuard([] { HistoryService::resetShared(); });
    auto &history = HistoryService::shared();
    // Each is encoded anew: the same pixels take no more memory.
    const QImage pixels = noise(100, QSize(1600, 1600));
    QStringList ids;
    for (int i = 0; i < 30; ++i) {
        HistoryItem capture;
        capture.id = QUuid::createUuid();
        capture.image = ImageHandle(pixels);
        capture.date = QDateTime::fromString("2024-05-02T10:00:05Z", Qt::ISODate);
        capture.mode = CaptureMode::fullscreen;
        history.addNewest(capture);
        ids.prepend(capture.id.toString(QUuid::WithoutBraces).toUpper());
    }
    // Far less than the writes take together, far more than any one of
    // their calls into the file system.
    EXPECT_TRUE(history.finishWritesAtQuit(std::chrono::milliseconds(500)));
    EXPECT_EQ(manifestIds(), ids);
    HistoryService::resetShared();
    EXPECT_EQ(itemIds(HistoryService::shared().items()), ids);
}

namespace {

// A history on a small disk: A is written, then the disk fills so that B's
// picture cannot be (the manifest, naming only A, still can).
struct FullDiskHistory
{
    // The instance of an earlier case goes before the disk is mounted; the
    // one start() makes writes onto it.
    FullDiskHistory() : disk((HistoryService::resetShared(), AppPaths::appDataDir()), 1 << 20) {}
    // The instance's writes end before the disk goes.
    ~FullDiskHistory() { HistoryService::resetShared(); }

    // False (and the case skips) where no tmpfs can be mounted.
    bool start()
    {
        if (!disk.isMounted())
            return false;
        auto &history = HistoryService::shared();
        history.addNewest(item(kIdA, 1));
        history.waitForPendingWrites();
        EXPECT_TRUE(disk.fill(8 * 1024));
        history.addNewest(b);
        history.waitForPendingWrites();
        EXPECT_FALSE(QFile::exists(history.imagePath(b.id)));
        EXPECT_EQ(manifestIds(), QStringList{kIdA});
        return true;
    }

    SmallDisk disk;
    HistoryItem b = item(kIdB, 2);
};

} // namespace

// Once the disk has room again, a picture that found it full is written a
// while later on its own, and the manifest then names it, without another
// capture to set that off.
TEST(HistoryWrites, APictureThatFoundTheDiskFullIsWrittenLaterOnItsOwn)
{
    FullDiskHistory full;
    if (!full.start())
        GTEST_SKIP() << "cannot mount a tmpfs: " << full.disk.error().toStdString();
    full.disk.free();
    EXPECT_TRUE(QTest::qWaitFor([] { return manifestIds() == QStringList({kIdB, kIdA}); }, 25000));
    EXPECT_TRUE(QFile::exists(HistoryService::shared().imagePath(full.b.id)));
}

// At quit, a picture that found the disk full is tried once more, and the
// manifest names it when it is written: the next launch has it.
TEST(HistoryWrites, QuitWritesAPictureThatFoundTheDiskFullOnceThereIsRoom)
{
    FullDiskHistory full;
    if (!full.start())
        GTEST_SKIP() << "cannot mount a tmpfs: " << full.disk.error().toStdString();
    full.disk.free();
    const QImage pixels = full.b.image.image();
    EXPECT_TRUE(HistoryService::shared().finishWritesAtQuit());
    EXPECT_EQ(manifestIds(), QStringList({kIdB, kIdA}));
    HistoryService::resetShared();
    const QList<HistoryItem> back = HistoryService::shared().items();
    ASSERT_EQ(itemIds(back), QStringList({kIdB, kIdA}));
    EXPECT_EQ(back.first().image.image().convertToFormat(QImage::Format_RGB32),
              pixels.convertToFormat(QImage::Format_RGB32));
}

// A picture still waiting for room when its entry is deleted, or when the
// whole history is cleared, is never written once there is room: what the
// user removed stays removed, on disk and after a relaunch.
TEST(HistoryWrites, APictureWaitingForRoomIsNotWrittenAfterItsEntryIsGone)
{
    for (const bool clearAll : {false, true}) {
        SCOPED_TRACE(clearAll ? "clear" : "delete");
        FullDiskHistory full;
        if (!full.start())
            GTEST_SKIP() << "cannot mount a tmpfs: " << full.disk.error().toStdString();
        auto &history = HistoryService::shared();
        if (clearAll) {
            history.clear();
        } else {
            history.items().removeFirst();
            history.deleteImageFile(full.b.id, full.b.image);
            history.persist();
        }
        history.waitForPendingWrites();
        full.disk.free();
        EXPECT_TRUE(history.finishWritesAtQuit());
        EXPECT_FALSE(QFile::exists(history.imagePath(full.b.id)));
        EXPECT_EQ(manifestIds(), clearAll ? QStringList() : QStringList{kIdA});
        HistoryService::resetShared();
        EXPECT_EQ(itemIds(HistoryService::shared().items()), clearAll ? QStringList() : QStringList{kIdA});
        HistoryService::resetShared();
    }
}
