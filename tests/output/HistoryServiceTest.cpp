#include "output/HistoryService.h"

#include "platform/AppPaths.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

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
