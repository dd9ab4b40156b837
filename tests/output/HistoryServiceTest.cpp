#include "output/HistoryService.h"

#include "model/AppState.h"
#include "platform/AppPaths.h"
#include "platform/Log.h"
#include "output/PngEncoder.h"
#include "support/GatedFile.h"
#include "support/NoFreeDescriptors.h"
#include "support/OwnMalloc.h"
#include "support/SmallDisk.h"

#include <QRandomGenerator>
#include <QTest>
#include <QtConcurrent>
#include <atomic>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPromise>
#include <QScopeGuard>
#include <QThread>
#include <fcntl.h>
#include <cstring>
#include <sys/mman.h>
#include <sys/resource.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString historyDir()
{
    return AppPaths::appDataDir() + "/history";
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// A small capture at two pixels per point with a recognisable pixel.
QImage capture(QRgb corner)
{
    QImage img(40, 30, QImage::Format_ARGB32);
    img.fill(qRgb(10, 20, 30));
    img.setPixel(0, 0, corner);
    img.setDevicePixelRatio(2.0);
    return img;
}

HistoryItem makeItem(const QString &id, const QString &date, CaptureMode mode,
                     std::optional<QString> filePath = std::nullopt, QRgb corner = qRgb(200, 0, 0))
{
    HistoryItem item;
    item.id = QUuid::fromString(id);
    item.image = ImageHandle(capture(corner));
    item.date = QDateTime::fromString(date, Qt::ISODate);
    item.mode = mode;
    item.filePath = filePath;
    return item;
}

// Writes a PNG into the history folder as a previous run would have.
void writeHistoryPng(const QString &id)
{
    QDir().mkpath(historyDir());
    ASSERT_TRUE(capture(qRgb(1, 2, 3)).save(historyDir() + "/" + id + ".png"));
}

const QString kIdA = "6F1C2B3A-0000-4000-8000-00000000000A";
const QString kIdB = "6F1C2B3A-0000-4000-8000-00000000000B";
const QString kIdC = "6F1C2B3A-0000-4000-8000-00000000000C";

} // namespace

TEST(HistoryService, ManifestBytesListRecordsInOrderAndLeaveOutMissingFilePath)
{
    auto &history = HistoryService::shared();
    ASSERT_TRUE(history.items().isEmpty());
    history.items().prepend(makeItem(kIdB, "2024-05-01T09:30:00Z", CaptureMode::fullscreen));
    history.items().prepend(
        makeItem(kIdA, "2024-05-02T10:00:05.678Z", CaptureMode::region, QString("/home/u/Desktop/Vorna_1.png")));
    history.persist();
    history.waitForPendingWrites();

    const QByteArray expected = "[\n"
                                "  {\n"
                                "    \"date\" : \"2024-05-02T10:00:05Z\",\n"
                                "    \"filePath\" : \"\\/home\\/u\\/Desktop\\/Vorna_1.png\",\n"
                                "    \"id\" : \"6F1C2B3A-0000-4000-8000-00000000000A\",\n"
                                "    \"mode\" : \"region\"\n"
                                "  },\n"
                                "  {\n"
                                "    \"date\" : \"2024-05-01T09:30:00Z\",\n"
                                "    \"id\" : \"6F1C2B3A-0000-4000-8000-00000000000B\",\n"
                                "    \"mode\" : \"fullscreen\"\n"
                                "  }\n"
                                "]";
    EXPECT_EQ(readAll(historyDir() + "/manifest.json"), expected);
}

TEST(HistoryService, SavedItemsComeBackAfterRelaunchWithLazyImages)
{
    auto &history = HistoryService::shared();
    const HistoryItem a = makeItem(kIdA, "2024-05-02T10:00:05Z", CaptureMode::window, QString("/tmp/a.png"),
                                   qRgb(255, 0, 0));
    const HistoryItem b = makeItem(kIdB, "2024-05-01T09:30:00Z", CaptureMode::timed, std::nullopt, qRgb(0, 255, 0));
    history.items() = {a, b};
    // Queued in one turn: the images land before the manifest that names them.
    history.saveImage(a);
    history.saveImage(b);
    history.persist();

    HistoryService::resetShared(); // waits for the queue, next use loads from disk
    const auto &items = HistoryService::shared().items();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].id, a.id);
    EXPECT_EQ(items[0].date, a.date);
    EXPECT_EQ(items[0].mode, CaptureMode::window);
    EXPECT_EQ(items[0].filePath, std::optional<QString>("/tmp/a.png"));
    EXPECT_EQ(items[1].id, b.id);
    EXPECT_EQ(items[1].mode, CaptureMode::timed);
    EXPECT_FALSE(items[1].filePath.has_value());

    // Nothing is decoded by loading; size comes from the header and keeps
    // the point size of the capture.
    EXPECT_FALSE(items[0].image.isDecoded());
    EXPECT_EQ(items[0].image.pointSize(), QSizeF(20, 15));
    EXPECT_FALSE(items[0].image.isDecoded());

    const QImage pixels = items[0].image.image();
    EXPECT_TRUE(items[0].image.isDecoded());
    EXPECT_EQ(pixels.size(), QSize(40, 30));
    EXPECT_EQ(pixels.devicePixelRatio(), 2.0);
    EXPECT_EQ(pixels.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(items[1].image.image().pixel(0, 0), qRgb(0, 255, 0));
}

TEST(HistoryService, TrimToFiftyRemovesTheOldestEntryAndItsPng)
{
    auto &history = HistoryService::shared();
    QList<QUuid> ids;
    for (int i = 0; i < 51; ++i) {
        HistoryItem item = makeItem(QUuid::createUuid().toString(), "2024-01-01T00:00:00Z", CaptureMode::region);
        item.date = item.date.addSecs(i);
        ids.prepend(item.id);
        history.items().prepend(item);
        history.saveImage(item);
        history.persist();
        history.waitForPendingWrites();
    }
    const QUuid oldest = ids.last();
    ASSERT_TRUE(QFile::exists(history.imagePath(oldest)));

    const QList<HistoryItem> removed = history.trimToMaxItems();
    history.persist();
    history.waitForPendingWrites();

    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed.first().id, oldest);
    EXPECT_EQ(history.items().size(), HistoryService::maxItems);
    EXPECT_EQ(history.items().first().id, ids.first());
    EXPECT_FALSE(QFile::exists(history.imagePath(oldest)));
    EXPECT_TRUE(QFile::exists(history.imagePath(ids[49])));
    EXPECT_FALSE(readAll(history.manifestPath()).contains(oldest.toString(QUuid::WithoutBraces).toUpper().toUtf8()));

    // Under the cap nothing happens.
    EXPECT_TRUE(history.trimToMaxItems().isEmpty());
}

TEST(HistoryService, DamagedRecordsAreSkippedAndTheManifestIsKeptAside)
{
    writeHistoryPng(kIdA);
    writeHistoryPng(kIdB);
    writeHistoryPng(kIdC);
    writeHistoryPng("6F1C2B3A-0000-4000-8000-00000000000D");
    writeHistoryPng("6F1C2B3A-0000-4000-8000-00000000000E");
    const QByteArray manifest = R"([
  {"date" : "2024-05-03T08:00:00Z", "id" : "6F1C2B3A-0000-4000-8000-00000000000A", "mode" : "region", "filePath" : null},
  {"date" : "2024-05-02T08:00:00Z", "id" : "6F1C2B3A-0000-4000-8000-00000000000B"},
  {"date" : "2024-05-02", "id" : "6F1C2B3A-0000-4000-8000-00000000000D", "mode" : "region"},
  {"date" : "2024-05-01T08:00:00Z", "id" : "6F1C2B3A-0000-4000-8000-00000000000E", "mode" : "video"},
  {"date" : "2024-05-01T07:00:00+02:00", "id" : "6F1C2B3A-0000-4000-8000-00000000000C", "mode" : "scrolling", "extra" : 1},
  {"date" : "2024-05-01T06:00:00Z", "id" : "6F1C2B3A-0000-4000-8000-00000000000F", "mode" : "window"}
])";
    writeFile(historyDir() + "/manifest.json", manifest);

    LogCapture log;
    const auto &items = HistoryService::shared().items();
    // The record without a mode and the one with a date-only date are
    // damaged; "video" is no mode; F has no PNG. A and C load.
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].id, QUuid::fromString(kIdA));
    EXPECT_FALSE(items[0].filePath.has_value());
    EXPECT_EQ(items[1].id, QUuid::fromString(kIdC));
    EXPECT_EQ(items[1].date, QDateTime::fromString("2024-05-01T05:00:00Z", Qt::ISODate));
    EXPECT_EQ(items[1].mode, CaptureMode::scrolling);

    // Loading writes nothing back, and a copy of the original is kept aside.
    EXPECT_EQ(readAll(historyDir() + "/manifest.json"), manifest);
    const QStringList aside = QDir(historyDir()).entryList({"manifest.json.unreadable-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readAll(historyDir() + "/" + aside.first()), manifest);
    EXPECT_TRUE(log.contains("[Vorna] history: skipped 2 unreadable manifest record(s)"));
}

TEST(HistoryService, UnreadableManifestIsSetAsideBeforeTheNextWrite)
{
    writeHistoryPng(kIdA);
    const QByteArray garbage = "[{\"date\" : \"2024-05-03T08:00:00Z\", \"id\" : \"" + kIdA.toUtf8() + "\", \"mo";
    writeFile(historyDir() + "/manifest.json", garbage);

    auto &history = HistoryService::shared();
    EXPECT_TRUE(history.items().isEmpty());
    const QStringList aside = QDir(historyDir()).entryList({"manifest.json.unreadable-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readAll(historyDir() + "/" + aside.first()), garbage);

    // The next capture writes a fresh manifest; the old one stays aside.
    const HistoryItem item = makeItem(kIdB, "2024-06-01T00:00:00Z", CaptureMode::region);
    history.items().prepend(item);
    history.saveImage(item);
    history.persist();
    history.waitForPendingWrites();
    EXPECT_TRUE(readAll(history.manifestPath()).contains(kIdB.toUtf8()));
    EXPECT_EQ(readAll(historyDir() + "/" + aside.first()), garbage);
}

TEST(HistoryService, ManifestThatIsNotAListIsSetAsideToo)
{
    writeFile(historyDir() + "/manifest.json", "{\"items\" : []}");
    EXPECT_TRUE(HistoryService::shared().items().isEmpty());
    EXPECT_FALSE(QFile::exists(historyDir() + "/manifest.json"));
    EXPECT_EQ(QDir(historyDir()).entryList({"manifest.json.unreadable-*"}, QDir::Files).size(), 1);
}

TEST(HistoryService, SetFilePathPersistsOnlyForAKnownId)
{
    auto &history = HistoryService::shared();
    history.items().prepend(makeItem(kIdA, "2024-06-01T00:00:00Z", CaptureMode::region));

    history.setFilePath(QUuid::fromString(kIdB), QString("/x.png"));
    history.waitForPendingWrites();
    EXPECT_FALSE(QFile::exists(history.manifestPath()));

    history.setFilePath(QUuid::fromString(kIdA), QString("/x.png"));
    history.waitForPendingWrites();
    EXPECT_EQ(history.items().first().filePath, std::optional<QString>("/x.png"));
    EXPECT_TRUE(readAll(history.manifestPath()).contains("\"filePath\" : \"\\/x.png\""));
}

TEST(HistoryService, ClearEmptiesTheListAtOnceAndTheFolderInTheBackground)
{
    auto &history = HistoryService::shared();
    const HistoryItem item = makeItem(kIdA, "2024-06-01T00:00:00Z", CaptureMode::region);
    history.items().prepend(item);
    history.saveImage(item);
    history.persist();
    history.waitForPendingWrites();
    ASSERT_EQ(QDir(historyDir()).entryList(QDir::Files).size(), 2);

    history.clear();
    EXPECT_TRUE(history.items().isEmpty());
    history.waitForPendingWrites();
    EXPECT_TRUE(QDir(historyDir()).exists());
    EXPECT_TRUE(QDir(historyDir()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));

    HistoryService::resetShared();
    EXPECT_TRUE(HistoryService::shared().items().isEmpty());
}

TEST(HistoryService, DeleteImageFileRemovesOnlyThatPng)
{
    auto &history = HistoryService::shared();
    const HistoryItem a = makeItem(kIdA, "2024-06-01T00:00:00Z", CaptureMode::region);
    const HistoryItem b = makeItem(kIdB, "2024-06-01T00:00:00Z", CaptureMode::region);
    history.saveImage(a);
    history.saveImage(b);
    history.deleteImageFile(a.id);
    history.deleteImageFile(QUuid::fromString(kIdC)); // no such file: ignored
    history.waitForPendingWrites();
    EXPECT_FALSE(QFile::exists(history.imagePath(a.id)));
    EXPECT_TRUE(QFile::exists(history.imagePath(b.id)));
}

namespace {

// A fresh history folder and instance, whatever an earlier case left.
HistoryService &freshHistory()
{
    HistoryService::resetShared();
    QDir(historyDir()).removeRecursively();
    return HistoryService::shared();
}

QImage noise(int width, int height, quint32 seed)
{
    QImage img(width, height, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<quint32 *>(img.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = 0xff000000u | (rng.generate() & 0xffffffu);
    }
    img.setDevicePixelRatio(2.0);
    return img;
}

bool samePixels(const QImage &a, const QImage &b)
{
    return a.size() == b.size()
        && a.convertToFormat(QImage::Format_ARGB32) == b.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

// Once its PNG is written, a capture's pixels leave the history's memory;
// whoever still holds them (clipboard, preview, a save) keeps them, and the
// history decodes them again, at the same point size, when asked.
TEST(HistoryService, WrittenImagesLeaveMemoryAndComeBackOnDemand)
{
    auto &history = freshHistory();
    HistoryItem item = makeItem(kIdA, "2024-05-02T10:00:05Z", CaptureMode::region);
    const QImage original = noise(120, 90, 1);
    item.image = ImageHandle(original);
    const QImage held = item.image.image();
    history.items().prepend(item);
    history.saveImage(item);
    history.persist();
    history.waitForPendingWrites();

    EXPECT_FALSE(item.image.isDecoded());
    EXPECT_TRUE(samePixels(held, original));
    const QImage again = item.image.image();
    EXPECT_TRUE(samePixels(again, original));
    EXPECT_EQ(again.devicePixelRatio(), 2.0);
    EXPECT_EQ(item.image.pointSize(), QSizeF(60, 45));

    // An editor still holds a written image when its entry is trimmed and
    // when the history is cleared: it keeps the pixels though the file goes.
    for (const bool clearAll : {false, true}) {
        HistoryItem other = makeItem(kIdB, "2024-05-02T10:00:06Z", CaptureMode::region);
        const QImage pixels = noise(64, 48, clearAll ? 3 : 2);
        other.image = ImageHandle(pixels);
        const ImageHandle editor = other.image;
        history.items().append(other);
        history.saveImage(other);
        history.waitForPendingWrites();
        ASSERT_FALSE(editor.isDecoded());
        if (clearAll) {
            history.clear();
        } else {
            while (history.items().size() <= HistoryService::maxItems)
                history.items().insert(0, makeItem(QUuid::createUuid().toString(), "2024-05-03T10:00:00Z",
                                                   CaptureMode::region));
            history.trimToMaxItems();
        }
        other = HistoryItem();
        history.waitForPendingWrites();
        EXPECT_FALSE(QFile::exists(history.imagePath(QUuid::fromString(kIdB))));
        EXPECT_TRUE(samePixels(editor.image(), pixels)) << (clearAll ? "clear" : "trim");
    }
}

// A capture's image is written only once the user's own file of it is
// done. When that file is a PNG of the whole image, its bytes are written
// with the capture's resolution in place of their own; otherwise (a
// smaller PNG, another format, a failed save) the image is encoded. Either
// way the bytes written are handed out too.
TEST(HistoryService, TheImageWriteWaitsForTheUsersFileAndTakesItsBytesWhenTheyFit)
{
    for (const bool wholeImage : {true, false}) {
        SCOPED_TRACE(wholeImage ? "whole image" : "smaller PNG");
        auto &history = freshHistory();
        HistoryItem item = makeItem(kIdA, "2024-05-02T10:00:05Z", CaptureMode::region);
        const QImage original = noise(120, 90, 4);
        item.image = ImageHandle(original);
        // Qt's writer, which records its own resolution (96 dpi).
        QByteArray userPng;
        QBuffer buffer(&userPng);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE((wholeImage ? original : original.scaled(60, 45)).save(&buffer, "PNG"));

        QPromise<QByteArray> userFile;
        userFile.start();
        history.items().prepend(item);
        const QFuture<QByteArray> handedOut = history.saveImage(item, userFile.future());
        history.persist();
        const QString path = history.imagePath(item.id);
        QTest::qWait(200);
        EXPECT_FALSE(QFile::exists(path)) << "written before the user's file";
        EXPECT_FALSE(handedOut.isFinished());
        userFile.addResult(userPng);
        userFile.finish();
        history.waitForPendingWrites();

        const QByteArray written = readAll(path);
        ASSERT_TRUE(handedOut.isFinished());
        ASSERT_EQ(handedOut.resultCount(), 1);
        EXPECT_EQ(handedOut.result(), written);
        const QByteArray imageData = written.mid(written.indexOf("IDAT") - 4);
        EXPECT_EQ(imageData == userPng.mid(userPng.indexOf("IDAT") - 4), wholeImage);
        HistoryService::resetShared();
        ASSERT_EQ(HistoryService::shared().items().size(), 1);
        const QImage back = HistoryService::shared().items().first().image.image();
        EXPECT_TRUE(samePixels(back, original));
        EXPECT_EQ(back.devicePixelRatio(), 2.0);
    }
}

// A reader asking for the pixels while the write completes always gets
// them, from memory or from the file.
TEST(HistoryService, ReadersDuringTheWriteAlwaysGetThePixels)
{
    auto &history = freshHistory();
    for (int round = 0; round < 8; ++round) {
        HistoryItem item = makeItem(QUuid::createUuid().toString(), "2024-05-02T10:00:05Z", CaptureMode::region);
        const QImage original = noise(400, 300, 10 + round);
        item.image = ImageHandle(original);
        std::atomic<bool> done{false};
        std::atomic<int> reads{0}, wrong{0};
        QFuture<void> reader = QtConcurrent::run([&, handle = item.image] {
            while (!done || reads < 3) {
                if (!samePixels(handle.image(), original))
                    ++wrong;
                ++reads;
            }
        });
        history.saveImage(item);
        history.waitForPendingWrites();
        done = true;
        reader.waitForFinished();
        EXPECT_EQ(wrong, 0) << "round " << round;
    }
}

// A PNG whose header reads but whose data is damaged: its entry leaves the
// history, the application state and the manifest the first time its image
// fails to decode; the file is kept aside.
TEST(HistoryService, EntryWhoseImageFailsToDecodeIsDropped)
{
    auto &history = freshHistory();
    const HistoryItem a = makeItem(kIdA, "2024-05-02T10:00:05Z", CaptureMode::window);
    const HistoryItem b = makeItem(kIdB, "2024-05-01T09:30:00Z", CaptureMode::region);
    history.items() = {a, b};
    history.saveImage(a);
    history.saveImage(b);
    history.persist();
    HistoryService::resetShared();

    const QString damagedPath = historyDir() + "/" + kIdB + ".png";
    QByteArray png = readAll(damagedPath);
    const qsizetype idat = png.indexOf("IDAT");
    ASSERT_GT(idat, 0);
    for (qsizetype i = idat + 4; i < png.size() - 16; ++i)
        png[i] = char(0x5a ^ png[i]);
    writeFile(damagedPath, png);

    AppState state;
    const QList<HistoryItem> loaded = HistoryService::shared().items();
    ASSERT_EQ(loaded.size(), 2); // the header alone reads fine
    state.setHistory(loaded);

    LogCapture log;
    EXPECT_TRUE(loaded[1].image.image().isNull());
    ASSERT_TRUE(QTest::qWaitFor([&] { return HistoryService::shared().items().size() == 1; }, 30000));
    EXPECT_EQ(HistoryService::shared().items().first().id, a.id);
    ASSERT_EQ(state.history().size(), 1);
    EXPECT_EQ(state.history().first().id, a.id);
    EXPECT_TRUE(log.contains("cannot decode " + damagedPath));

    HistoryService::shared().waitForPendingWrites();
    const QByteArray manifest = readAll(historyDir() + "/manifest.json");
    EXPECT_TRUE(manifest.contains(kIdA.toLatin1()));
    EXPECT_FALSE(manifest.contains(kIdB.toLatin1()));
    EXPECT_FALSE(QFile::exists(damagedPath));
    EXPECT_EQ(QDir(historyDir()).entryList({kIdB + ".png.unreadable-*"}, QDir::Files).size(), 1);

    // The intact entry still decodes, and a relaunch loads only it.
    EXPECT_FALSE(HistoryService::shared().items().first().image.image().isNull());
    HistoryService::resetShared();
    ASSERT_EQ(HistoryService::shared().items().size(), 1);
    EXPECT_EQ(HistoryService::shared().items().first().id, a.id);
}

namespace {

// The ids the manifest on disk lists, in its order.
QStringList manifestIds()
{
    QStringList ids;
    const QJsonArray records = QJsonDocument::fromJson(readAll(historyDir() + "/manifest.json")).array();
    for (const QJsonValue &record : records)
        ids.append(record.toObject().value("id").toString());
    return ids;
}

HistoryItem noisyItem(const QString &id, quint32 seed)
{
    HistoryItem item = makeItem(id, "2024-05-02T10:00:05Z", CaptureMode::region);
    item.image = ImageHandle(noise(240, 180, seed));
    return item;
}

} // namespace

// With the data disk (nearly) full, the pictures of new captures cannot be
// written: they stay in memory and out of the manifest, each failure logged
// once.
// Once there is space again they are written, the manifest names them, and
// a relaunch has every capture.
TEST(HistoryService, PicturesThatFindTheDiskFullAreWrittenOnceThereIsSpace)
{
    HistoryService::resetShared();
    SmallDisk disk(AppPaths::appDataDir(), 1 << 20);
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error().toStdString();
    auto &history = HistoryService::shared();
    const HistoryItem a = noisyItem(kIdA, 31);
    history.addNewest(a);
    history.waitForPendingWrites();
    ASSERT_TRUE(QFile::exists(history.imagePath(a.id)));

    // Room for a manifest, not for a picture.
    ASSERT_TRUE(disk.fill(8 * 1024));
    LogCapture log;
    const HistoryItem b = noisyItem(kIdB, 32);
    const HistoryItem c = noisyItem(kIdC, 33);
    const QImage bPixels = b.image.image(), cPixels = c.image.image();
    history.addNewest(b);
    history.addNewest(c);
    history.waitForPendingWrites();
    history.waitForPendingWrites(); // another try, still without space
    EXPECT_FALSE(QFile::exists(history.imagePath(b.id)));
    EXPECT_TRUE(b.image.isDecoded());
    // The manifest lists only what has a picture on disk.
    EXPECT_EQ(manifestIds(), QStringList{kIdA});
    const QStringList lines = log.lines();
    for (const QUuid &id : {b.id, c.id}) {
        const QString line = "[Vorna] history: cannot write " + history.imagePath(id) + ": No space left on device";
        EXPECT_EQ(std::count_if(lines.cbegin(), lines.cend(), [&](const QString &l) { return l.startsWith(line); }), 1);
    }

    disk.free();
    const HistoryItem d = noisyItem("6F1C2B3A-0000-4000-8000-00000000000D", 34);
    history.addNewest(d);
    history.waitForPendingWrites();
    EXPECT_EQ(manifestIds(), QStringList({"6F1C2B3A-0000-4000-8000-00000000000D", kIdC, kIdB, kIdA}));
    EXPECT_FALSE(b.image.isDecoded()); // on disk now: memory let go

    HistoryService::resetShared();
    const QList<HistoryItem> back = HistoryService::shared().items();
    ASSERT_EQ(back.size(), 4);
    EXPECT_EQ(back[1].id, c.id);
    EXPECT_EQ(back[2].id, b.id);
    EXPECT_TRUE(samePixels(back[1].image.image(), cPixels));
    EXPECT_TRUE(samePixels(back[2].image.image(), bPixels));
}

// A named pipe where a picture should be: reading the history at launch
// neither waits for a writer nor loads it; it is kept aside, and the
// history's writes go on.
TEST(HistoryService, APipeInPlaceOfAPictureIsKeptAsideWithoutWaitingForIt)
{
    auto &before = freshHistory();
    before.addNewest(noisyItem(kIdB, 41));
    before.addNewest(noisyItem(kIdA, 42));
    HistoryService::resetShared();
    const QString pipe = historyDir() + "/" + kIdB + ".png";
    ASSERT_TRUE(QFile::remove(pipe));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    // Should a reader hang in the pipe's open, it gets an empty pipe at the end.
    const auto release = qScopeGuard([&] {
        const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    });

    LogCapture log;
    bool loaded = false;
    HistoryService::loadShared([&] { loaded = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded; }, 10000));
    auto &history = HistoryService::shared();
    ASSERT_EQ(history.items().size(), 1);
    EXPECT_EQ(history.items().first().id, QUuid::fromString(kIdA));
    EXPECT_FALSE(QFileInfo::exists(pipe));
    const QStringList aside = QDir(historyDir()).entryList({kIdB + ".png.unreadable-*"}, QDir::System);
    ASSERT_EQ(aside.size(), 1);
    struct stat st = {};
    ASSERT_EQ(::lstat(QFile::encodeName(historyDir() + "/" + aside.first()).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_TRUE(log.contains(pipe + " is not a regular file; kept it aside as "));

    history.addNewest(noisyItem(kIdC, 43));
    history.waitForPendingWrites();
    EXPECT_TRUE(QFile::exists(history.imagePath(QUuid::fromString(kIdC))));
    EXPECT_EQ(manifestIds(), QStringList({kIdC, kIdA}));
}

// A capture taken while the history is still being read at launch goes in
// front of the loaded entries, and the manifest keeps both.
TEST(HistoryService, ACaptureDuringTheLaunchReadKeepsTheLoadedHistory)
{
    auto &before = freshHistory();
    before.addNewest(noisyItem(kIdA, 51));
    HistoryService::resetShared();

    bool loaded = false;
    HistoryService::loadShared([&] { loaded = true; });
    // In the same turn of the event loop: before the loaded items are in.
    HistoryService::shared().addNewest(noisyItem(kIdB, 52));
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded; }, 10000));
    const QList<HistoryItem> items = HistoryService::shared().items();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].id, QUuid::fromString(kIdB));
    EXPECT_EQ(items[1].id, QUuid::fromString(kIdA));

    HistoryService::shared().waitForPendingWrites();
    EXPECT_EQ(manifestIds(), QStringList({kIdB, kIdA}));
    HistoryService::resetShared();
    EXPECT_EQ(HistoryService::shared().items().size(), 2);
}

// A scrolling capture far taller than Qt decodes by default (3840 x 75000,
// 1,098 MiB of pixels): the history writes it, lets its pixels go, and
// decodes it again when asked, after a relaunch too; its entry stays.
TEST(HistoryService, ATallCaptureTheHistoryWroteDecodesAgainAndKeepsItsEntry)
{
    auto &history = freshHistory();
    HistoryItem item = makeItem(kIdA, "2024-05-02T10:00:05Z", CaptureMode::scrolling);
    {
        QImage tall(3840, 75000, QImage::Format_RGB32);
        ASSERT_FALSE(tall.isNull());
        tall.fill(qRgb(40, 90, 160));
        tall.setDevicePixelRatio(1.0);
        item.image = ImageHandle(tall);
    }
    history.addNewest(item);
    history.waitForPendingWrites();
    ASSERT_TRUE(QFile::exists(history.imagePath(item.id)));
    ASSERT_FALSE(item.image.isDecoded());

    for (const bool relaunched : {false, true}) {
        if (relaunched) {
            item = HistoryItem();
            HistoryService::resetShared();
            ASSERT_EQ(HistoryService::shared().items().size(), 1);
            item = HistoryService::shared().items().first();
        }
        LogCapture log;
        QImage pixels = item.image.image();
        ASSERT_EQ(pixels.size(), QSize(3840, 75000)) << (relaunched ? "relaunched" : "written");
        EXPECT_EQ(pixels.pixel(3839, 74999), qRgb(40, 90, 160));
        EXPECT_EQ(pixels.devicePixelRatio(), 1.0);
        pixels = QImage();
        QTest::qWait(50); // a drop would come through the event loop
        EXPECT_FALSE(item.image.decodeFailed());
        ASSERT_EQ(HistoryService::shared().items().size(), 1);
        EXPECT_FALSE(log.contains("cannot decode"));
        HistoryService::shared().waitForPendingWrites();
        EXPECT_EQ(manifestIds(), QStringList{kIdA});
        EXPECT_TRUE(QDir(historyDir()).entryList({"*.unreadable-*"}, QDir::AllEntries | QDir::System).isEmpty());
        // Let go again, so that the relaunch decodes from the file.
        HistoryService::shared().items().first().image.releaseToFile(HistoryService::shared().imagePath(item.id));
    }
}

// A picture on disk that cannot be opened for a passing reason (the program
// has no descriptor left) is not taken for damaged: its entry and file stay,
// and the next request decodes it.
TEST(HistoryService, APictureThatCannotBeOpenedForNowKeepsItsEntryAndComesBackLater)
{
    auto &history = freshHistory();
    const HistoryItem item = noisyItem(kIdA, 61);
    const QImage original = item.image.image();
    history.addNewest(item);
    history.waitForPendingWrites();
    ASSERT_FALSE(item.image.isDecoded());

    LogCapture log;
    QImage during;
    {
        NoFreeDescriptors exhausted;
        ASSERT_TRUE(exhausted.isSet());
        during = item.image.image();
    }
    EXPECT_TRUE(during.isNull());
    EXPECT_TRUE(log.contains("[Vorna] image: cannot read " + history.imagePath(item.id) + " now (Too many open files)"));
    QTest::qWait(50); // a drop would come through the event loop
    EXPECT_FALSE(item.image.decodeFailed());
    ASSERT_EQ(history.items().size(), 1);
    history.waitForPendingWrites();
    EXPECT_EQ(manifestIds(), QStringList{kIdA});
    EXPECT_TRUE(QFile::exists(history.imagePath(item.id)));

    EXPECT_TRUE(samePixels(item.image.image(), original));
    EXPECT_EQ(history.items().size(), 1);
}

// The same at launch: a picture the launch's read cannot open for now
// keeps its entry, in the list and in every manifest written after, and
// decodes once it can be opened again.
TEST(HistoryService, APictureTheLaunchCannotOpenForNowKeepsItsEntry)
{
    auto &before = freshHistory();
    const HistoryItem a = noisyItem(kIdA, 81);
    const HistoryItem b = noisyItem(kIdB, 82);
    const QImage original = b.image.image();
    before.addNewest(b);
    before.addNewest(a);
    before.waitForPendingWrites();
    HistoryService::resetShared();

    const QString path = historyDir() + "/" + kIdB + ".png";
    auto refused = std::make_unique<GatedFile>(path, readAll(path));
    if (!refused->isValid())
        GTEST_SKIP() << "a fanotify mark needs root";
    refused->setRefusing(true);
    LogCapture log;
    auto &history = HistoryService::shared();
    ASSERT_EQ(history.items().size(), 2);
    EXPECT_EQ(history.items().at(1).id.toString(QUuid::WithoutBraces).toUpper(), kIdB);
    EXPECT_TRUE(log.contains("[Vorna] history: cannot read " + path + " now ("));
    // A new capture writes the manifest again: the entry is still named.
    history.addNewest(noisyItem(kIdC, 83));
    history.waitForPendingWrites();
    EXPECT_EQ(manifestIds(), (QStringList{kIdC, kIdA, kIdB}));

    refused.reset();
    EXPECT_TRUE(samePixels(history.items().at(2).image.image(), original));
    EXPECT_EQ(history.items().at(2).image.pointSize(), QSizeF(120, 90));
    QTest::qWait(50);
    EXPECT_EQ(history.items().size(), 3);
}

namespace {

// Lets any reader stuck in the open of the pipe at path through (it then
// reads an empty pipe), so that a test that fails does not hang.
void releasePipeReaders(const QString &path)
{
    for (int i = 0; i < 20; ++i) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        QThread::msleep(5);
    }
}

void replaceWithPipe(const QString &path)
{
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
}

} // namespace

// A named pipe put in place of a picture after launch: asking for the
// pixels gives up at once and handles the entry as damaged (dropped, the
// pipe kept aside); clearing the history while something else holds an
// entry whose picture is a pipe empties the folder without waiting on it.
TEST(HistoryService, APipeInPlaceOfALoadedPictureIsHandledAsDamagedWithoutWaiting)
{
    auto &before = freshHistory();
    before.addNewest(noisyItem(kIdC, 71));
    before.addNewest(noisyItem(kIdB, 72));
    before.addNewest(noisyItem(kIdA, 73));
    HistoryService::resetShared();
    auto &history = HistoryService::shared();
    ASSERT_EQ(history.items().size(), 3);
    const HistoryItem b = history.items()[1];
    const HistoryItem c = history.items()[2];
    const QString pipeB = history.imagePath(b.id);
    const QString pipeC = history.imagePath(c.id);
    replaceWithPipe(pipeB);
    replaceWithPipe(pipeC);
    const auto release = qScopeGuard([&] {
        releasePipeReaders(pipeB);
        releasePipeReaders(pipeC);
    });

    LogCapture log;
    QFuture<bool> decoded = QtConcurrent::run([image = b.image] { return !image.image().isNull(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return decoded.isFinished(); }, 30000)) << "the read waits on the pipe";
    EXPECT_FALSE(decoded.result());
    ASSERT_TRUE(QTest::qWaitFor([&] { return history.items().size() == 2; }, 30000));
    EXPECT_EQ(history.items()[1].id, c.id);
    EXPECT_TRUE(log.contains("cannot decode " + pipeB));
    history.waitForPendingWrites();
    EXPECT_EQ(manifestIds(), QStringList({kIdA, kIdC}));
    const QStringList aside = QDir(historyDir()).entryList({kIdB + ".png.unreadable-*"}, QDir::System);
    ASSERT_EQ(aside.size(), 1);
    struct stat st = {};
    ASSERT_EQ(::lstat(QFile::encodeName(historyDir() + "/" + aside.first()).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // An editor holds c's image, whose file is a pipe, when all is cleared.
    const ImageHandle held = c.image;
    history.clear();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return QDir(historyDir()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System); },
        30000))
        << "clearing waits on the pipe";
    EXPECT_TRUE(held.image().isNull());
    history.addNewest(noisyItem(kIdA, 74));
    history.waitForPendingWrites();
    EXPECT_EQ(manifestIds(), QStringList{kIdA});
}

// An empty picture, and one of 2 GiB with no picture in it (a hole that
// costs no disk), found at launch: each entry leaves the history, the file
// is kept aside as a damaged one is, and the log says so.
TEST(HistoryService, AnEmptyOrHugePictureWithoutAHeaderIsKeptAsideAtLaunch)
{
    auto &before = freshHistory();
    before.addNewest(noisyItem(kIdC, 91));
    before.addNewest(noisyItem(kIdB, 92));
    before.addNewest(noisyItem(kIdA, 93));
    HistoryService::resetShared();
    const QString empty = historyDir() + "/" + kIdB + ".png";
    const QString huge = historyDir() + "/" + kIdC + ".png";
    {
        QFile f(empty);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    }
    {
        QFile f(huge);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_TRUE(f.resize(qint64(2048) << 20));
    }

    LogCapture log;
    bool loaded = false;
    HistoryService::loadShared([&] { loaded = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded; }, 30000));
    auto &history = HistoryService::shared();
    ASSERT_EQ(history.items().size(), 1);
    EXPECT_EQ(history.items().first().id, QUuid::fromString(kIdA));
    for (const auto &[id, path, bytes] : {std::tuple{kIdB, empty, qint64(0)}, std::tuple{kIdC, huge, qint64(2048) << 20}}) {
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
        const QStringList aside = QDir(historyDir()).entryList({id + ".png.unreadable-*"}, QDir::Files);
        ASSERT_EQ(aside.size(), 1) << path.toStdString();
        EXPECT_EQ(QFileInfo(historyDir() + "/" + aside.first()).size(), bytes);
        EXPECT_TRUE(log.contains("[Vorna] history: " + path + " holds no picture; dropped its entry and kept it aside as "
                                 + historyDir() + "/" + aside.first()))
            << path.toStdString();
    }
    history.addNewest(noisyItem(kIdC, 94));
    history.waitForPendingWrites();
    EXPECT_EQ(manifestIds(), QStringList({kIdC, kIdA}));
}

// A picture deleted after launch, and one whose file was overwritten with
// something that is no picture: each entry leaves the history and the
// manifest the first time its pixels are asked for, rather than staying as
// a blank card; what took the damaged picture's place is kept aside.
TEST(HistoryService, APictureDeletedOrDamagedAfterLaunchLeavesTheHistory)
{
    auto &before = freshHistory();
    before.addNewest(noisyItem(kIdC, 101));
    before.addNewest(noisyItem(kIdB, 102));
    before.addNewest(noisyItem(kIdA, 103));
    HistoryService::resetShared();
    auto &history = HistoryService::shared();
    ASSERT_EQ(history.items().size(), 3);
    const HistoryItem a = history.items()[0], b = history.items()[1], c = history.items()[2];
    ASSERT_TRUE(QFile::remove(history.imagePath(b.id)));
    writeFile(history.imagePath(c.id), "not a picture at all\n");

    LogCapture log;
    EXPECT_TRUE(b.image.image().isNull());
    EXPECT_TRUE(c.image.image().isNull());
    EXPECT_TRUE(b.image.decodeFailed());
    EXPECT_TRUE(c.image.decodeFailed());
    ASSERT_TRUE(QTest::qWaitFor([&] { return history.items().size() == 1; }, 30000));
    EXPECT_EQ(history.items().first().id, a.id);
    EXPECT_FALSE(log.contains("now ("));
    history.waitForPendingWrites();
    EXPECT_EQ(manifestIds(), QStringList{kIdA});
    const QStringList aside = QDir(historyDir()).entryList({kIdC + ".png.unreadable-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readAll(historyDir() + "/" + aside.first()), "not a picture at all\n");
    EXPECT_FALSE(a.image.image().isNull());
}

namespace {

// While alive, the process can map no more than its current address space
// and room, so that a larger allocation fails as when memory is short.
class ShortOfMemory
{
public:
    explicit ShortOfMemory(qint64 room)
    {
        QFile status("/proc/self/status");
        qint64 mappedKiB = -1;
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : status.readAll().split('\n'))
                if (line.startsWith("VmSize:"))
                    mappedKiB = line.mid(7).trimmed().split(' ').first().toLongLong();
        }
        ::getrlimit(RLIMIT_AS, &m_old);
        if (mappedKiB <= 0)
            return;
        rlimit tight = m_old;
        tight.rlim_cur = rlim_t(mappedKiB * 1024 + room);
        m_set = ::setrlimit(RLIMIT_AS, &tight) == 0;
    }
    ~ShortOfMemory() { ::setrlimit(RLIMIT_AS, &m_old); }
    bool isSet() const { return m_set; }

private:
    rlimit m_old = {};
    bool m_set = false;
};

} // namespace

// A good picture whose pixels find no memory when first asked for is not
// taken for damaged: its entry and file stay, and it decodes once there is
// memory again.
TEST(HistoryService, APictureThatFindsNoMemoryForItsPixelsKeepsItsEntry)
{
#if !VORNA_OWN_MALLOC
    GTEST_SKIP() << "the sanitizer's allocator cannot be left short of memory";
#endif
    auto &history = freshHistory();
    HistoryItem item = makeItem(kIdA, "2024-05-02T10:00:05Z", CaptureMode::fullscreen);
    {
        QImage big(8192, 4096, QImage::Format_RGB32);
        ASSERT_FALSE(big.isNull());
        big.fill(qRgb(30, 120, 200));
        big.setPixel(8191, 4095, qRgb(250, 10, 10));
        big.setDevicePixelRatio(2.0);
        item.image = ImageHandle(big);
    }
    history.addNewest(item);
    history.waitForPendingWrites();
    ASSERT_TRUE(QFile::exists(history.imagePath(item.id)));
    ASSERT_FALSE(item.image.isDecoded());

    LogCapture log;
    QImage during;
    {
        // Far less than the picture's 128 MiB of pixels.
        ShortOfMemory shortOfMemory(qint64(32) << 20);
        ASSERT_TRUE(shortOfMemory.isSet());
        during = item.image.image();
    }
    EXPECT_TRUE(during.isNull());
    EXPECT_TRUE(log.contains("[Vorna] image: cannot read " + history.imagePath(item.id)
                             + " now (no memory for 8192 x 4096 pixels)"));
    QCoreApplication::sendPostedEvents(); // where a drop would come from
    EXPECT_FALSE(item.image.decodeFailed());
    ASSERT_EQ(history.items().size(), 1);
    history.waitForPendingWrites();
    EXPECT_EQ(manifestIds(), QStringList{kIdA});
    EXPECT_TRUE(QFile::exists(history.imagePath(item.id)));

    const QImage after = item.image.image();
    ASSERT_EQ(after.size(), QSize(8192, 4096));
    EXPECT_EQ(after.pixel(8191, 4095), qRgb(250, 10, 10));
    EXPECT_EQ(after.pixel(0, 0), qRgb(30, 120, 200));
}

// An entry deleted after the launch's read was taken in stays out of every
// manifest written after, and out of the next launch.
TEST(HistoryService, AnEntryDeletedAfterTheLaunchStaysDeleted)
{
    auto &before = freshHistory();
    before.addNewest(noisyItem(kIdB, 111));
    before.addNewest(noisyItem(kIdA, 112));
    HistoryService::resetShared();

    bool loaded = false;
    HistoryService::loadShared([&] { loaded = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded; }, 30000));
    auto &history = HistoryService::shared();
    ASSERT_EQ(history.items().size(), 2);
    // As the history grid deletes an entry.
    const QUuid b = QUuid::fromString(kIdB);
    history.items().removeIf([&](const HistoryItem &item) { return item.id == b; });
    history.deleteImageFile(b);
    history.persist();
    history.waitForPendingWrites();
    EXPECT_EQ(manifestIds(), QStringList{kIdA});
    history.addNewest(noisyItem(kIdC, 113));
    history.waitForPendingWrites();
    EXPECT_EQ(manifestIds(), QStringList({kIdC, kIdA}));

    HistoryService::resetShared();
    const QList<HistoryItem> back = HistoryService::shared().items();
    ASSERT_EQ(back.size(), 2);
    EXPECT_EQ(back[0].id, QUuid::fromString(kIdC));
    EXPECT_EQ(back[1].id, QUuid::fromString(kIdA));
}

namespace {

// Bytes that end where an unreadable page begins: reading past them faults.
class GuardedBytes
{
public:
    explicit GuardedBytes(const QByteArray &bytes)
    {
        const long page = ::sysconf(_SC_PAGESIZE);
        const size_t pages = size_t((bytes.size() + page - 1) / page) + 1;
        m_length = pages * size_t(page);
        void *base = ::mmap(nullptr, m_length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED)
            return;
        m_base = static_cast<char *>(base);
        char *guard = m_base + m_length - size_t(page);
        if (::mprotect(guard, size_t(page), PROT_NONE) != 0)
            return;
        std::memcpy(guard - bytes.size(), bytes.constData(), size_t(bytes.size()));
        m_bytes = QByteArray::fromRawData(guard - bytes.size(), bytes.size());
    }
    ~GuardedBytes()
    {
        if (m_base)
            ::munmap(m_base, m_length);
    }
    const QByteArray &bytes() const { return m_bytes; }

private:
    char *m_base = nullptr;
    size_t m_length = 0;
    QByteArray m_bytes;
};

} // namespace

// The user's own PNG of a capture, cut short inside a chunk before its image
// data: the history's picture is made from the pixels instead, and nothing
// reads past the bytes handed over.
TEST(HistoryService, AUsersPngCutShortGivesWayToThePixels)
{
    auto &history = freshHistory();
    const HistoryItem item = noisyItem(kIdA, 121);
    const QImage pixels = item.image.image();
    const QByteArray whole = PngEncoder::encode(pixels);
    ASSERT_EQ(PngEncoder::imageSize(whole), pixels.size());
    // Signature and IHDR, then a text chunk that claims 4000 bytes and
    // stops after 20.
    QByteArray cut = whole.left(33);
    cut.append(QByteArray("\0\0\x0f\xa0tEXt", 8));
    cut.append(QByteArray(20, 'x'));
    GuardedBytes guarded(cut);
    ASSERT_EQ(guarded.bytes(), cut);

    QPromise<QByteArray> usersFile;
    usersFile.start();
    usersFile.addResult(guarded.bytes());
    usersFile.finish();
    history.addNewest(item, usersFile.future());
    history.waitForPendingWrites();

    EXPECT_EQ(manifestIds(), QStringList{kIdA});
    HistoryService::resetShared();
    ASSERT_EQ(HistoryService::shared().items().size(), 1);
    const ImageHandle back = HistoryService::shared().items().first().image;
    EXPECT_TRUE(samePixels(back.image(), pixels));
    EXPECT_EQ(back.pointSize(), QSizeF(120, 90));
}
