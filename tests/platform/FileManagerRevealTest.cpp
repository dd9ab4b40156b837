// The one reveal path on a private session bus: the file manager selects the
// file when it answers; on an error, with no file manager, or with no answer
// in time, the file's folder opens instead, without holding up the caller.

#include "platform/FileManagerReveal.h"
#include "support/FileManagerOnPrivateBus.h"
#include "support/RecordingWorkspace.h"
#include "support/TestHome.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

TEST(FileManagerReveal, OpensTheFolderOnlyWhenTheFileManagerDoesNotTakeTheFile)
{
    FileManagerOnPrivateBus bus;
    ASSERT_TRUE(bus.start());
    FakeFileManager &fileManager = bus.fileManager;
    RecordingWorkspace workspace;
    const QString folder = TestHome::path() + "/Shots";
    const QString file = folder + "/Vorna_2026-03-03_14-05-09.png"; // need not exist
    const QList<QUrl> folderOpened{QUrl::fromLocalFile(folder)};

    // The file manager shows it: nothing else opens.
    FileManagerReveal::reveal(file);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileManager.calls.size() == 1; }, 10000));
    EXPECT_EQ(fileManager.calls[0].value(0).toStringList(), QStringList(QUrl::fromLocalFile(file).toString()));
    QTest::qWait(300);
    EXPECT_TRUE(workspace.opened.isEmpty());

    // It answers with an error.
    fileManager.answer = FakeFileManager::Answer::error;
    FileManagerReveal::reveal(file);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !workspace.opened.isEmpty(); }, 10000));
    EXPECT_EQ(workspace.opened, folderOpened);
    EXPECT_EQ(fileManager.calls.size(), 2);

    // It takes the call and never answers: the caller goes on at once, and
    // the folder opens once the two seconds are up.
    workspace.opened.clear();
    fileManager.answer = FakeFileManager::Answer::silence;
    QElapsedTimer clock;
    clock.start();
    FileManagerReveal::reveal(file);
    EXPECT_TRUE(workspace.opened.isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !workspace.opened.isEmpty(); }, 30000));
    EXPECT_GE(clock.elapsed(), FileManagerReveal::replyTimeoutMs - 100);
    EXPECT_EQ(workspace.opened, folderOpened);
    EXPECT_EQ(fileManager.calls.size(), 3);

    // No file manager on the bus.
    workspace.opened.clear();
    ASSERT_TRUE(bus.leave());
    FileManagerReveal::reveal(file);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !workspace.opened.isEmpty(); }, 10000));
    EXPECT_EQ(workspace.opened, folderOpened);
    EXPECT_EQ(fileManager.calls.size(), 3);
}
