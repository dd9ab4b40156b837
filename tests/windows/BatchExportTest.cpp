#include "HistoryTestSupport.h"

#include "output/ImageExporter.h"
#include "support/RecordingAlertPresenter.h"
#include "windows/BatchExport.h"
#include "windows/HistoryCard.h"
#include "windows/HistoryView.h"

#include <QDir>
#include <QTest>
#include <QToolButton>

namespace {

class BatchExportTest : public HistoryTestBase
{
protected:
    QByteArray contents(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The colour in the middle band of an exported capture.
    QRgb bandColor(const QString &path) { return QImage(path).convertToFormat(QImage::Format_RGB32).pixel(10, 100); }

    RecordingAlertPresenter alerts;
    ScriptedFolderPanel panel;
};

} // namespace

TEST_F(BatchExportTest, CapturesOfTheSameSecondAndATakenNameAreAllKeptUnderNumberedNames)
{
    const QDateTime second(QDate(2026, 3, 3), QTime(14, 5, 9));
    const HistoryItem oldest = addCapture(Qt::red, second);
    const HistoryItem sameSecond = addCapture(Qt::blue, second);
    const HistoryItem newest = addCapture(Qt::green, second.addSecs(10));
    const QString folder = TestHome::path() + "/export";
    QDir().mkpath(folder);
    const QString taken = folder + "/Vorna_2026-03-03_14-05-09.png";
    {
        QFile f(taken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("an earlier export");
    }

    HistoryView view(*appState);
    appState->setDefaultFormat(ImageFormat::png);
    panel.answer = folder;
    panel.answerAtOnce = false;
    ASSERT_TRUE(view.exportAll());
    ASSERT_EQ(panel.requests.size(), 1);
    EXPECT_TRUE(panel.requests[0].chooseDirectories);
    EXPECT_EQ(panel.requests[0].prompt, "Export Here");
    // The format is the one set when the button was pressed.
    appState->setDefaultFormat(ImageFormat::jpeg);
    panel.finish();

    ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.alerts.isEmpty(); }, 20000));
    ASSERT_EQ(alerts.alerts.size(), 1);
    EXPECT_EQ(alerts.alerts[0].title, "Batch Export");
    EXPECT_EQ(alerts.alerts[0].informativeText, "Exported 3 screenshots.");
    EXPECT_EQ(alerts.alerts[0].style, AlertPresenter::Style::informational);

    EXPECT_EQ(contents(taken), "an earlier export");
    EXPECT_EQ(QDir(folder).entryList(QDir::Files, QDir::Name),
              QStringList({"Vorna_2026-03-03_14-05-09.png", "Vorna_2026-03-03_14-05-09_2.png",
                           "Vorna_2026-03-03_14-05-09_3.png", "Vorna_2026-03-03_14-05-19.png"}));
    // History order: the newer of the two same-second captures comes first.
    EXPECT_EQ(bandColor(folder + "/Vorna_2026-03-03_14-05-09_2.png"), QColor(Qt::blue).rgb());
    EXPECT_EQ(bandColor(folder + "/Vorna_2026-03-03_14-05-09_3.png"), QColor(Qt::red).rgb());
    EXPECT_EQ(bandColor(folder + "/Vorna_2026-03-03_14-05-19.png"), QColor(Qt::green).rgb());
    // Full size: 320 x 200 pixels.
    EXPECT_EQ(QImage(folder + "/Vorna_2026-03-03_14-05-19.png").size(), QSize(320, 200));
    // The history is unchanged: no saved path recorded.
    for (const HistoryItem &item : appState->history())
        EXPECT_FALSE(item.filePath.has_value());
    Q_UNUSED(oldest);
    Q_UNUSED(sameSecond);
    Q_UNUSED(newest);

    // A cancelled panel does nothing.
    panel.answer.reset();
    panel.answerAtOnce = true;
    ASSERT_TRUE(view.exportAll());
    QTest::qWait(50);
    EXPECT_EQ(alerts.alerts.size(), 1);
}

TEST_F(BatchExportTest, AFolderThatCannotBeWrittenAndADamagedCaptureAreCountedAsFailed)
{
    const QDateTime now = QDateTime::currentDateTime();
    addCapture(Qt::red, now.addSecs(-3));
    const HistoryItem damaged = addCapture(Qt::blue, now.addSecs(-2));
    addCapture(Qt::green, now.addSecs(-1));
    // As after a relaunch: pixels are read from the history files.
    reloadHistoryFromDisk();
    ASSERT_EQ(appState->history().size(), 3);
    HistoryView view(*appState);

    // A file stands where the folder should be.
    const QString blocked = TestHome::path() + "/not-a-folder";
    {
        QFile f(blocked);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("precious");
    }
    panel.answer = blocked + "/export";
    ASSERT_TRUE(view.exportAll());
    ASSERT_TRUE(QTest::qWaitFor([&] { return alerts.alerts.size() == 1; }, 20000));
    EXPECT_EQ(alerts.alerts[0].informativeText, "Exported 0 screenshots (3 failed).");
    EXPECT_EQ(contents(blocked), "precious");

    // One capture whose history file is damaged cannot be encoded.
    QFile damage(pngOf(damaged.id));
    ASSERT_TRUE(damage.open(QIODevice::ReadWrite));
    damage.resize(80);
    damage.close();
    const QString folder = TestHome::path() + "/export";
    panel.answer = folder;
    ASSERT_TRUE(view.exportAll());
    ASSERT_TRUE(QTest::qWaitFor([&] { return alerts.alerts.size() == 2; }, 20000));
    EXPECT_EQ(alerts.alerts[1].informativeText, "Exported 2 screenshots (1 failed).");
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 2);
    // Exporting read the files without keeping the pixels in the entries.
    for (const HistoryItem &item : appState->history())
        EXPECT_FALSE(item.image.isDecoded());
}

// The export list is fixed when the button is pressed; deleting one of its
// captures while the folder panel is open used to drop the file under it
// ("Exported 2 screenshots (1 failed).").
TEST_F(BatchExportTest, ACaptureDeletedWhileTheFolderPanelIsOpenIsStillExported)
{
    const QDateTime now = QDateTime::currentDateTime();
    addCapture(Qt::red, now.addSecs(-3));
    const HistoryItem deleted = addCapture(Qt::blue, now.addSecs(-2));
    addCapture(Qt::green, now.addSecs(-1));
    // Pixels on disk only, as after a relaunch.
    reloadHistoryFromDisk();
    HistoryView view(*appState);
    const QString folder = TestHome::path() + "/export";
    panel.answer = folder;
    panel.answerAtOnce = false;
    ASSERT_TRUE(view.exportAll());

    view.setHoveredID(deleted.id);
    ASSERT_NE(view.card(deleted.id), nullptr);
    view.card(deleted.id)->actionButton("trash")->click();
    HistoryService::shared().waitForPendingWrites();
    ASSERT_FALSE(QFile::exists(pngOf(deleted.id)));
    ASSERT_EQ(appState->history().size(), 2);

    panel.finish();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.alerts.isEmpty(); }, 20000));
    EXPECT_EQ(alerts.alerts[0].informativeText, "Exported 3 screenshots.");
    const QString name = ImageExporter::fileName(ImageFormat::png, deleted.date.toLocalTime());
    EXPECT_EQ(bandColor(folder + "/" + name), QColor(Qt::blue).rgb());
}
