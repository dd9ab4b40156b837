// On an X11 display the program can read the screen: no alert at launch.
#include "app/AppDelegate.h"
#include "app/ScreenRecordingPermission.h"
#include "support/RecordingAlertPresenter.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

TEST(ScreenRecordingPermissionX11, AccessOnXcbAndNoAlertAtLaunch)
{
    qunsetenv("VornaSuppressPermissionPrompt");
    EXPECT_TRUE(ScreenRecordingPermission::preflight());
    RecordingAlertPresenter alerts;
    AppDelegate delegate;
    QSignalSpy launched(&delegate, &AppDelegate::launched);
    delegate.applicationDidFinishLaunching({"vorna"});
    ASSERT_TRUE(launched.wait(30000));
    QTest::qWait(50);
    EXPECT_TRUE(alerts.alerts.isEmpty());
}
