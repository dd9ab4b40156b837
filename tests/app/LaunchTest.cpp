#include "app/AppDelegate.h"
#include "app/AppWindow.h"
#include "app/WindowManager.h"
#include "model/AppState.h"
#include "model/SettingsPersistence.h"
#include "platform/AppPaths.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "settings/SettingsView.h"
#include "support/FakeGlobalHotKeys.h"
#include "support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class LaunchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UserDefaults::resetStandard();
        TestHome::reset();
    }
    void TearDown() override { UserDefaults::resetStandard(); }

    void launch(AppDelegate &delegate, const QStringList &args)
    {
        QSignalSpy launched(&delegate, &AppDelegate::launched);
        delegate.applicationDidFinishLaunching(QStringList{"vorna"} + args);
        ASSERT_TRUE(launched.wait(30000));
    }
};

} // namespace

TEST_F(LaunchTest, LogsTheLaunchLinesInOrder)
{
    LogCapture log;
    AppDelegate delegate;
    launch(delegate, {});
    const QStringList lines = log.lines();
    const auto first = std::find_if(lines.begin(), lines.end(), [](const QString &l) {
        return l.startsWith("[Vorna] applicationDidFinishLaunching: pid=");
    });
    const auto sentry = std::find_if(lines.begin(), lines.end(),
                                     [](const QString &l) { return l.startsWith("[Vorna] sentry: enabled="); });
    const auto done = std::find(lines.begin(), lines.end(), "[Vorna] applicationDidFinishLaunching: done");
    ASSERT_NE(first, lines.end());
    ASSERT_NE(sentry, lines.end());
    ASSERT_NE(done, lines.end());
    EXPECT_LT(first, sentry);
    EXPECT_LT(sentry, done);
    EXPECT_TRUE(first->contains(QString(" pid=%1 ").arg(QCoreApplication::applicationPid())));
    EXPECT_FALSE(delegate.applicationShouldTerminateAfterLastWindowClosed());
}

namespace {
// Notes how much had been logged when the first shortcut was grabbed.
class GrabWatcher : public FakeGlobalHotKeys
{
public:
    explicit GrabWatcher(const LogCapture &log) : m_log(log) {}
    bool grab(quint32 id, const QList<quint32> &keycodes, Modifiers modifiers) override
    {
        if (linesAtFirstGrab < 0)
            linesAtFirstGrab = m_log.lines().size();
        return FakeGlobalHotKeys::grab(id, keycodes, modifiers);
    }
    qsizetype linesAtFirstGrab = -1;

private:
    const LogCapture &m_log;
};
} // namespace

// The launch runs its steps in a fixed order, and the order matters: the
// settings mirror fills in the preferences a reinstall lost before the hot
// keys are read, so a shortcut the user moved is registered where the user
// put it, not at its default.
TEST_F(LaunchTest, TheStepsRunInOrderAndTheHotKeysSeeTheRestoredSettings)
{
    // The mirror knows window's shortcut as Ctrl+Shift+9; the store lost it.
    AppState::setHotKeyBinding(HotKeyBinding(25, 0x1200), CaptureShortcut::window);
    ASSERT_TRUE(SettingsPersistence::shared().writeSettingsFile());
    UserDefaults::resetStandard();
    QFile::remove(UserDefaults::defaultFilePath());
    ASSERT_FALSE(UserDefaults::standard().contains("hotkey.window"));

    LogCapture log;
    GrabWatcher keys(log);
    AppDelegate delegate;
    launch(delegate, {});
    EXPECT_EQ(keys.held.size(), 5);
    EXPECT_TRUE(keys.press(18, GlobalHotKeys::Control | GlobalHotKeys::Shift)) << "Ctrl+Shift+9 is held";
    EXPECT_FALSE(keys.press(11, GlobalHotKeys::Control | GlobalHotKeys::Shift)) << "Ctrl+Shift+2 is not";

    const QStringList lines = log.lines();
    auto at = [&](const QString &start) {
        return std::find_if(lines.begin(), lines.end(), [&](const QString &l) { return l.startsWith(start); })
               - lines.begin();
    };
    const qsizetype sentry = at("[Vorna] sentry: enabled=");
    const qsizetype tray = at("[Vorna] setupStatusItem: creating");
    const qsizetype done = at("[Vorna] applicationDidFinishLaunching: done");
    ASSERT_LT(done, lines.size());
    EXPECT_LT(at("[Vorna] applicationDidFinishLaunching: pid="), sentry);
    EXPECT_LT(sentry, tray);
    EXPECT_GT(keys.linesAtFirstGrab, tray) << "the hot keys come after the tray";
    EXPECT_LE(keys.linesAtFirstGrab, done) << "and before the launch is done";
}

TEST_F(LaunchTest, SettingsTabArgumentsSetTheOneShotKeyAndPrefixesDoNothing)
{
    {
        AppDelegate delegate;
        launch(delegate, {"--ui-tests-show-settings-about=1", "--ui-tests-show-settings-shortcutsX"});
        EXPECT_FALSE(UserDefaults::standard().contains("vorna.uiTests.preselectedSettingsTab"));
    }
    {
        AppDelegate delegate;
        QSignalSpy launched(&delegate, &AppDelegate::launched);
        delegate.applicationDidFinishLaunching({"vorna", "--ui-tests-show-settings-shortcuts",
                                                "--ui-tests-show-settings-about"});
        // Both set the key at once, in order; the later one wins.
        EXPECT_EQ(UserDefaults::standard().stringForKey("vorna.uiTests.preselectedSettingsTab"), QString("about"));
        ASSERT_TRUE(launched.wait(30000));
        // The queued openings created the settings window, which consumed it.
        auto *settings = delegate.windows().settingsWindow();
        ASSERT_TRUE(settings);
        EXPECT_EQ(qobject_cast<SettingsView *>(settings->rootView())->selectedTab(), "about");
        EXPECT_FALSE(UserDefaults::standard().contains("vorna.uiTests.preselectedSettingsTab"));
    }
}

// A launch removes the temporary files that an earlier run, ended in the
// middle of a write, left in each folder the program writes into, and
// nothing from a folder it does not.
TEST_F(LaunchTest, RemovesTheTemporaryFilesAnInterruptedRunLeftInItsFolders)
{
    const QString home = TestHome::path();
    const QStringList folders = {home + "/Shots",     home + "/Saved",           home + "/Nextcloud/Vorna",
                                 AppPaths::appDataDir() + "/history", AppPaths::appDataDir(),
                                 AppPaths::appConfigDir()};
    const QString name = "/.vorna-00000000000000ff.tmp";
    const QDateTime hourAgo = QDateTime::currentDateTimeUtc().addSecs(-3600);
    for (const QString &folder : folders + QStringList{home}) {
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile file(folder + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.setFileTime(hourAgo, QFileDevice::FileModificationTime));
    }
    // A save that is being written right now.
    const QString running = home + "/Shots/.vorna-0000000000000abc.tmp";
    {
        QFile file(running);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    AppDelegate delegate;
    delegate.appState().setSaveDirectory(home + "/Shots");
    delegate.appState().setSavedPaths({home + "/Shots", "~/Saved"});
    launch(delegate, {});
    for (const QString &folder : folders)
        EXPECT_TRUE(QTest::qWaitFor([&] { return !QFileInfo::exists(folder + name); }, 10000)) << folder.toStdString();
    EXPECT_TRUE(QFileInfo::exists(home + name));
    EXPECT_TRUE(QFileInfo::exists(running));
}
