#include "app/AppDelegate.h"
#include "app/AppWindow.h"
#include "app/WindowManager.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "settings/SettingsView.h"
#include "support/TestHome.h"

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
        ASSERT_TRUE(launched.wait(2000));
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
        ASSERT_TRUE(launched.wait(2000));
        // The queued openings created the settings window, which consumed it.
        auto *settings = delegate.windows().settingsWindow();
        ASSERT_TRUE(settings);
        EXPECT_EQ(qobject_cast<SettingsView *>(settings->rootView())->selectedTab(), "about");
        EXPECT_FALSE(UserDefaults::standard().contains("vorna.uiTests.preselectedSettingsTab"));
    }
}
