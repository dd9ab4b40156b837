// The launch-time check of screen access. This process runs on the
// offscreen platform, where the program cannot read the screen.
#include "app/AppDelegate.h"
#include "app/ScreenRecordingPermission.h"
#include "platform/Workspace.h"
#include "support/Eventually.h"
#include "support/RecordingAlertPresenter.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class RecordingWorkspace : public Workspace
{
public:
    RecordingWorkspace() { Workspace::setCurrent(this); }
    ~RecordingWorkspace() override { Workspace::setCurrent(nullptr); }
    bool openUrl(const QUrl &) override { return false; }
    bool launch(const QString &program, const QStringList &arguments) override
    {
        launches.append(QStringList{program} + arguments);
        return launches.size() > failFirst;
    }
    QList<QStringList> launches;
    int failFirst = 0;
};

QProcessEnvironment env(std::initializer_list<std::pair<const char *, const char *>> vars)
{
    QProcessEnvironment e;
    for (const auto &[k, v] : vars)
        e.insert(k, v);
    return e;
}

int alertsFor(const QProcessEnvironment &environment, bool hasAccess)
{
    RecordingAlertPresenter alerts;
    QObject context;
    ScreenRecordingPermission::checkAtLaunch(&context, environment, hasAccess, [] {});
    EXPECT_TRUE(alerts.alerts.isEmpty()) << "shown before the check returned";
    QTest::qWait(20);
    return static_cast<int>(alerts.alerts.size());
}

TEST(ScreenRecordingPermission, AlertUnlessAccessOrSuppressed)
{
    EXPECT_FALSE(ScreenRecordingPermission::preflight());
    EXPECT_EQ(alertsFor(env({}), false), 1);
    EXPECT_EQ(alertsFor(env({}), true), 0);
    EXPECT_EQ(alertsFor(env({{"VornaSuppressPermissionPrompt", "1"}}), false), 0);
    EXPECT_EQ(alertsFor(env({{"VornaSuppressPermissionPrompt", "true"}}), false), 1);
    EXPECT_EQ(alertsFor(env({{"VornaSuppressPermissionPrompt", "0"}}), false), 1);
    EXPECT_EQ(alertsFor(env({{"XCTestConfigurationFilePath", ""}}), false), 0);
}

TEST(ScreenRecordingPermission, LaunchShowsTheAlertAndItsFirstButtonOpensSettings)
{
    qunsetenv("VornaSuppressPermissionPrompt");
    qunsetenv("XCTestConfigurationFilePath");
    RecordingAlertPresenter alerts;
    RecordingWorkspace workspace;
    workspace.failFirst = 1; // no privacy page: the settings program alone
    AppDelegate delegate;
    QSignalSpy launched(&delegate, &AppDelegate::launched);
    delegate.applicationDidFinishLaunching({"vorna"});
    ASSERT_TRUE(launched.wait(30000));
    ASSERT_EVENTUALLY_EQ(alerts.alerts.size(), 1, 30000);
    const auto &alert = alerts.alerts.first();
    EXPECT_EQ(alert.title, "Screen Recording Permission Needed");
    EXPECT_EQ(alert.informativeText,
              "Vorna needs Screen Recording to capture your display. Enable Vorna under System Settings \u2192 "
              "Privacy & Security \u2192 Screen Recording, then relaunch the app.");
    EXPECT_EQ(alert.buttons, (QStringList{"Open System Settings", "Later"}));
    ASSERT_EVENTUALLY_EQ(workspace.launches.size(), 2, 30000);
    EXPECT_EQ(workspace.launches[0], (QStringList{"gnome-control-center", "privacy"}));
    EXPECT_EQ(workspace.launches[1], (QStringList{"gnome-control-center"}));
}

} // namespace
