#include "HistoryTestSupport.h"

#include "support/FileManagerOnPrivateBus.h"
#include "support/RecordingWorkspace.h"
#include "windows/HistoryCard.h"
#include "windows/HistoryView.h"

#include <QTest>
#include <QToolButton>

namespace {
class RevealTest : public HistoryTestBase
{
};
} // namespace

TEST_F(RevealTest, ShowsTheSavedFileThroughTheFileManagerOnTheBusElseOpensItsFolder)
{
    FileManagerOnPrivateBus bus;
    ASSERT_TRUE(bus.start());
    FakeFileManager &fileManager = bus.fileManager;
    RecordingWorkspace workspace;

    const QString folder = TestHome::path() + "/My Shots";
    QDir().mkpath(folder);
    const QString saved = folder + "/Vorna 1.png";
    ASSERT_TRUE(picture(Qt::blue).save(saved));
    const HistoryItem item = addCapture(Qt::blue, QDateTime::currentDateTime(), CaptureMode::window, saved);
    HistoryView view(*appState);
    view.setHoveredID(item.id);
    QToolButton *reveal = view.card(item.id)->actionButton("folder");
    ASSERT_NE(reveal, nullptr);

    reveal->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fileManager.calls.isEmpty(); }, 10000));
    const QVariantList args = fileManager.calls[0];
    ASSERT_EQ(args.size(), 2);
    EXPECT_EQ(args[0].toStringList(), QStringList({QUrl::fromLocalFile(saved).toString(QUrl::FullyEncoded)}));
    EXPECT_TRUE(args[0].toStringList().value(0).endsWith("/My%20Shots/Vorna%201.png"));
    EXPECT_EQ(args[1].toString(), QString());
    // The file manager answered: the folder is not opened as well.
    QTest::qWait(200);
    EXPECT_TRUE(workspace.opened.isEmpty());

    // No file manager on the bus: the folder opens instead.
    ASSERT_TRUE(bus.leave());
    reveal->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !workspace.opened.isEmpty(); }, 10000));
    EXPECT_EQ(workspace.opened, QList<QUrl>({QUrl::fromLocalFile(folder)}));
    EXPECT_EQ(fileManager.calls.size(), 1);
}
