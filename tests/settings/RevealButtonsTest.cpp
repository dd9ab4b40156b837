// The settings window's "Reveal" buttons use the same reveal as the rest of
// the program: a file manager that takes the file selects it; one that
// refuses it leaves the folder to open instead.
#include "SettingsFixture.h"

#include "model/AppSettings.h"
#include "model/SettingsPersistence.h"
#include "settings/CrashReportingPanel.h"
#include "settings/SettingsBackupPanel.h"
#include "support/FileManagerOnPrivateBus.h"
#include "support/RecordingWorkspace.h"

#include <QPushButton>
#include <QTest>
#include <QUrl>

namespace {

class RevealButtonsTest : public SettingsFixture
{
protected:
    void SetUp() override
    {
        SettingsFixture::SetUp();
        SettingsPanels::setRevealer({}); // the real reveal
    }
};

QPushButton *buttonLabelled(const QWidget &widget, const QString &text)
{
    for (QPushButton *button : widget.findChildren<QPushButton *>())
        if (button->text() == text)
            return button;
    return nullptr;
}

} // namespace

TEST_F(RevealButtonsTest, BackupAndCrashSettingsAreShownByTheFileManagerElseTheirFolderOpens)
{
    FileManagerOnPrivateBus bus;
    ASSERT_TRUE(bus.start());
    FakeFileManager &fileManager = bus.fileManager;
    RecordingWorkspace workspace;

    SettingsBackupPanel backup;
    CrashReportingPanel crash(AppSettings::load());
    QPushButton *revealCrash = buttonLabelled(crash, "Reveal");
    ASSERT_NE(revealCrash, nullptr);
    const QString mirror = SettingsPersistence::shared().fileURL();
    const QString crashFile = AppSettings::fileURL().toLocalFile();

    backup.revealButton()->click();
    revealCrash->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileManager.calls.size() == 2; }, 10000));
    EXPECT_EQ(fileManager.calls[0].value(0).toStringList(), QStringList(QUrl::fromLocalFile(mirror).toString()));
    EXPECT_EQ(fileManager.calls[1].value(0).toStringList(), QStringList(QUrl::fromLocalFile(crashFile).toString()));
    QTest::qWait(300);
    EXPECT_TRUE(workspace.opened.isEmpty());

    // The file manager is on the bus but cannot show them.
    fileManager.answer = FakeFileManager::Answer::error;
    backup.revealButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return workspace.opened.size() == 1; }, 10000));
    revealCrash->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return workspace.opened.size() == 2; }, 10000));
    EXPECT_EQ(workspace.opened, QList<QUrl>({QUrl::fromLocalFile(QFileInfo(mirror).absolutePath()),
                                             QUrl::fromLocalFile(QFileInfo(crashFile).absolutePath())}));
    EXPECT_EQ(fileManager.calls.size(), 4);
}
