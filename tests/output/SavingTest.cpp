// Dated file names, writing new files without replacing any, and the save
// panel's flow with a panel that records instead of showing, down to a
// full disk under the file it replaces.

#include "output/ImageExporter.h"
#include "platform/SavePanel.h"
#include "support/Eventually.h"
#include "support/SmallDisk.h"
#include "support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QtConcurrent/QtConcurrentMap>

#include <gtest/gtest.h>

namespace {

class RecordingSavePanel : public SavePanel
{
public:
    RecordingSavePanel() { SavePanel::setCurrent(this); }
    ~RecordingSavePanel() override { SavePanel::setCurrent(nullptr); }
    void begin(const Request &request, Completion completion) override
    {
        requests.append(request);
        completions.append(completion);
    }
    QList<Request> requests;
    QList<Completion> completions;
};

QImage capture()
{
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(QColor(10, 120, 200));
    image.setDevicePixelRatio(2.0);
    return image;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

TEST(FileNames, DatedNameWithTheFormatsExtension)
{
    const QDateTime at(QDate(2026, 3, 3), QTime(14, 5, 9));
    EXPECT_EQ(ImageExporter::fileName(ImageFormat::png, at), QStringLiteral("Vorna_2026-03-03_14-05-09.png"));
    EXPECT_EQ(ImageExporter::fileName(ImageFormat::jpeg, at), QStringLiteral("Vorna_2026-03-03_14-05-09.jpeg"));
    EXPECT_EQ(ImageExporter::fileName(ImageFormat::tiff, at), QStringLiteral("Vorna_2026-03-03_14-05-09.tiff"));
    EXPECT_EQ(ImageExporter::fileName(ImageFormat::heic, at), QStringLiteral("Vorna_2026-03-03_14-05-09.heic"));
    EXPECT_EQ(ImageExporter::fileName(ImageFormat::webp, at), QStringLiteral("Vorna_2026-03-03_14-05-09.webp"));
    // Twenty-four hour clock, padded fields.
    EXPECT_EQ(ImageExporter::fileNameDateString(QDateTime(QDate(2025, 12, 31), QTime(23, 59, 1))),
              QStringLiteral("2025-12-31_23-59-01"));
}

TEST(WriteNewFile, ATakenNameGetsANumberedSuffixAndNothingIsReplaced)
{
    const QString folder = TestHome::path() + "/Shots";
    QString error;
    const QString name = QStringLiteral("Vorna_2026-03-03_14-05-09.png");
    const QString first = ImageExporter::writeNewFile("first", folder, name, &error);
    const QString second = ImageExporter::writeNewFile("second", folder, name, &error);
    const QString third = ImageExporter::writeNewFile("third", folder, name, &error);
    EXPECT_EQ(first, folder + "/Vorna_2026-03-03_14-05-09.png");
    EXPECT_EQ(second, folder + "/Vorna_2026-03-03_14-05-09_2.png");
    EXPECT_EQ(third, folder + "/Vorna_2026-03-03_14-05-09_3.png");
    EXPECT_EQ(readAll(first), "first");
    EXPECT_EQ(readAll(second), "second");
    EXPECT_EQ(readAll(third), "third");
    // No temporary files are left behind.
    EXPECT_EQ(entries(folder).size(), 3);
    // The file gets the permissions any new file gets, not a temporary
    // file's private ones.
    QFile reference(folder + "/reference");
    ASSERT_TRUE(reference.open(QIODevice::WriteOnly));
    reference.close();
    EXPECT_EQ(QFileInfo(first).permissions(), QFileInfo(reference).permissions());
}

TEST(WriteNewFile, SavesInTheSameSecondFromManyThreadsAllSurvive)
{
    const QString folder = TestHome::path() + "/Parallel";
    QList<int> ids(24);
    std::iota(ids.begin(), ids.end(), 0);
    const QList<QString> paths = QtConcurrent::blockingMapped(ids, [&](int i) {
        QString error;
        return ImageExporter::writeNewFile(QByteArray::number(i), folder, QStringLiteral("Vorna_same.png"), &error);
    });
    QSet<QString> distinct;
    for (int i = 0; i < ids.size(); ++i) {
        ASSERT_FALSE(paths[i].isEmpty());
        EXPECT_EQ(readAll(paths[i]), QByteArray::number(i));
        distinct.insert(paths[i]);
    }
    EXPECT_EQ(distinct.size(), ids.size());
    EXPECT_EQ(entries(folder).size(), ids.size());
}

TEST(WriteNewFile, ExpandsTildeCreatesFoldersAndReportsFailures)
{
    QString error;
    const QString path = ImageExporter::writeNewFile("x", "~/Pictures/Vorna/2026", "a.png", &error);
    EXPECT_EQ(path, TestHome::path() + "/Pictures/Vorna/2026/a.png");
    EXPECT_EQ(readAll(path), "x");

    // A file where the folder should be.
    QFile blocker(TestHome::path() + "/Blocked");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.write("keep");
    blocker.close();
    error.clear();
    EXPECT_TRUE(ImageExporter::writeNewFile("x", TestHome::path() + "/Blocked/Shots", "a.png", &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readAll(TestHome::path() + "/Blocked"), "keep");
}

TEST(SavePanel, SuggestsTheDatedNameAndTypeThenWritesTheChosenPath)
{
    RecordingSavePanel panel;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    ImageExporter::presentSavePanel(capture(), ImageFormat::tiff, 0.9, TestHome::path());
    ImageExporter::presentSavePanel(capture(), ImageFormat::jpeg, 0.9, TestHome::path());
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    ASSERT_EQ(panel.requests.size(), 2);

    const SavePanel::Request &tiff = panel.requests[0];
    EXPECT_TRUE(tiff.suggestedName.startsWith("Vorna_"));
    EXPECT_TRUE(tiff.suggestedName.endsWith(".tiff"));
    const QDateTime stamp = QDateTime::fromString(tiff.suggestedName.mid(6, 19), "yyyy-MM-dd_HH-mm-ss");
    EXPECT_GE(stamp, before.addSecs(-1)) << tiff.suggestedName.toStdString();
    EXPECT_LE(stamp, after) << tiff.suggestedName.toStdString();
    EXPECT_EQ(tiff.mimeTypeFilters, QStringList("image/tiff"));
    EXPECT_EQ(tiff.defaultSuffix, "tiff");
    EXPECT_TRUE(tiff.canCreateDirectories);
    EXPECT_TRUE(panel.requests[1].suggestedName.endsWith(".jpeg"));
    EXPECT_EQ(panel.requests[1].mimeTypeFilters, QStringList("image/jpeg"));

    // The user picks a path: the image is encoded and written there.
    const QString path = TestHome::path() + "/chosen.jpeg";
    panel.completions[1](path);
    ASSERT_EVENTUALLY(QFile::exists(path), 10000);
    QImage written;
    ASSERT_TRUE(written.load(path, "JPEG"));
    EXPECT_EQ(written.size(), QSize(400, 300));
}

TEST(SavePanel, CancelDoesNothingAndFailuresReachTheHandler)
{
    RecordingSavePanel panel;
    QList<QString> errors;
    auto handler = [&](const ErrorReport &e) { errors.append(e.description()); };

    // Cancelled: no file, no handler call.
    ImageExporter::presentSavePanel(capture(), ImageFormat::png, 0.9, TestHome::path(), handler);
    panel.completions.last()(std::nullopt);
    QTest::qWait(200);
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_TRUE(entries(TestHome::path()).isEmpty());

    // A path inside a file: the system's error.
    QFile blocker(TestHome::path() + "/NotAFolder");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ImageExporter::presentSavePanel(capture(), ImageFormat::png, 0.9, TestHome::path(), handler);
    panel.completions.last()(TestHome::path() + "/NotAFolder/shot.png");
    ASSERT_EVENTUALLY_EQ(errors.size(), 1, 10000);
    EXPECT_FALSE(errors[0].isEmpty());

    // An image without pixels: the encoder's error.
    ImageExporter::presentSavePanel(QImage(), ImageFormat::png, 0.9, TestHome::path(), handler);
    panel.completions.last()(TestHome::path() + "/empty.png");
    ASSERT_EVENTUALLY_EQ(errors.size(), 2, 10000);
    EXPECT_EQ(errors[1], QStringLiteral("Export failed: could not read image data"));
    EXPECT_FALSE(QFile::exists(TestHome::path() + "/empty.png"));

    // Without a handler the error is dropped.
    ImageExporter::presentSavePanel(QImage(), ImageFormat::png, 0.9, TestHome::path());
    panel.completions.last()(TestHome::path() + "/empty.png");
    QTest::qWait(200);
    EXPECT_EQ(errors.size(), 2);
}

// Qt holds back writes of up to 16 KiB; on a full disk such a write fails
// only when it is flushed. The file being replaced keeps its bytes and the
// handler hears why.
TEST(SavePanel, AFullDiskKeepsTheReplacedFileWholeAndReportsTheFailure)
{
    const QString folder = TestHome::path() + "/Full";
    SmallDisk disk(folder, 64 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error().toStdString();
    const QString target = folder + "/existing.png";
    const QByteArray old(5000, 'o');
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(old), old.size());
    }
    QImage image(160, 100, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 40));
    const qsizetype encoded = ImageExporter::encode(image, ImageFormat::png, 0.9).size();
    ASSERT_GT(encoded, 0);
    ASSERT_LT(encoded, 16 * 1024);
    ASSERT_TRUE(disk.fill());

    RecordingSavePanel panel;
    QList<QString> errors;
    const auto handler = [&](const ErrorReport &e) { errors.append(e.description()); };
    ImageExporter::presentSavePanel(image, ImageFormat::png, 0.9, folder, handler);
    panel.completions.last()(target);
    ASSERT_EVENTUALLY_EQ(errors.size(), 1, 10000);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("No space left on device"))) << errors[0].toStdString();
    EXPECT_EQ(readAll(target), old);
    // Nothing half-written is left beside it.
    EXPECT_EQ(entries(folder), QStringList({".filler", "existing.png"}));

    // With room again the same choice replaces it.
    disk.free();
    ImageExporter::presentSavePanel(image, ImageFormat::png, 0.9, folder, handler);
    panel.completions.last()(target);
    ASSERT_EVENTUALLY(QImage(target).size() == QSize(160, 100), 10000);
    EXPECT_EQ(errors.size(), 1);
}
