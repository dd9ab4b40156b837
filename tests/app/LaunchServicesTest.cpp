// The launch steps that load the crash-reporting settings, start crash
// reporting, check for updates and write the launcher manifest.
#include "app/AppDelegate.h"
#include "model/AppSettings.h"
#include "platform/AppPaths.h"
#include "platform/Log.h"
#include "platform/SentrySDK.h"
#include "platform/UserDefaults.h"
#include "services/UpdateChecker.h"
#include "support/Eventually.h"
#include "support/LocalHttpServer.h"
#include "support/RecordingAlertPresenter.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class LaunchServices : public ::testing::Test
{
protected:
    void SetUp() override { QCoreApplication::setApplicationVersion("1.0"); }
    void TearDown() override
    {
        SentrySDK::close();
        QCoreApplication::setApplicationVersion(QString());
    }

    void launch(AppDelegate &delegate)
    {
        QSignalSpy launched(&delegate, &AppDelegate::launched);
        delegate.applicationDidFinishLaunching({});
        ASSERT_TRUE(launched.wait(30000));
    }

    void serveFeed(const QByteArray &version)
    {
        feed.setResponse({200, "application/json",
                          "{\"version\": \"" + version + "\", \"downloadURL\": \"https://example.org/v\"}"});
        UpdateChecker::shared().setFeedUrl(feed.url("/apps/vorna/appcast.json"));
    }

    void writeSettings(const QString &dsn)
    {
        AppSettings s;
        s.sentry.dsn = dsn;
        ASSERT_TRUE(AppSettings::save(s));
    }

    LocalHttpServer feed;
    RecordingAlertPresenter alerts;
};

} // namespace

TEST_F(LaunchServices, FirstLaunchCreatesTheSettingsTemplateAndLeavesReportingOff)
{
    serveFeed("1.0");
    LogCapture log;
    AppDelegate delegate;
    launch(delegate);
    EXPECT_EQ(QFile(AppSettings::fileURL().toLocalFile()).size(), 206);
    EXPECT_FALSE(SentrySDK::isEnabled());

    const QStringList lines = log.lines();
    const qsizetype sentry = lines.indexOf("[Vorna] sentry: enabled=true dsnConfigured=false");
    ASSERT_GE(sentry, 0);
    EXPECT_TRUE(lines.value(0).startsWith("[Vorna] applicationDidFinishLaunching: pid="));
    EXPECT_GT(lines.indexOf("[Vorna] applicationDidFinishLaunching: done"), sentry);
    EXPECT_TRUE(QFile::exists(AppPaths::dataHome() + "/Dovrelin/providers/" VORNA_APP_ID ".json"));
}

TEST_F(LaunchServices, BlankDsnCountsAsConfiguredButDoesNotStartReporting)
{
    serveFeed("1.0");
    writeSettings("   ");
    LogCapture log;
    AppDelegate delegate;
    launch(delegate);
    EXPECT_TRUE(log.contains("[Vorna] sentry: enabled=true dsnConfigured=true"));
    EXPECT_FALSE(SentrySDK::isEnabled());
}

TEST_F(LaunchServices, ConfiguredDsnStartsReporting)
{
    serveFeed("1.0");
    writeSettings(QStringLiteral("http://key@127.0.0.1:%1/3").arg(LocalHttpServer::unusedPort()));
    AppDelegate delegate;
    launch(delegate);
    EXPECT_TRUE(SentrySDK::isEnabled());
}

TEST_F(LaunchServices, UpdateCheckWaitsTwentyThreeHours)
{
    UserDefaults::standard().setObject("updates.lastChecked", QDateTime::currentDateTimeUtc().addSecs(-82799));
    serveFeed("2.0");
    AppDelegate delegate;
    launch(delegate);
    QTest::qWait(300);
    EXPECT_TRUE(feed.requests.isEmpty());
    EXPECT_TRUE(alerts.alerts.isEmpty());
}

TEST_F(LaunchServices, DueUpdateCheckRunsSilentlyAndOffersTheUpdate)
{
    UserDefaults::standard().setObject("updates.lastChecked", QDateTime::currentDateTimeUtc().addSecs(-82800));
    serveFeed("2.0");
    alerts.answer = 2; // "Later"
    AppDelegate delegate;
    launch(delegate);
    ASSERT_EVENTUALLY_EQ(alerts.alerts.size(), 1, 10000);
    EXPECT_EQ(feed.requests.size(), 1);
    EXPECT_EQ(alerts.alerts[0].title, "Vorna 2.0 is available");
}

TEST_F(LaunchServices, AutomaticChecksSwitchedOffMakeNoRequest)
{
    UserDefaults::standard().setBool("updates.automatic", false);
    serveFeed("2.0");
    AppDelegate delegate;
    launch(delegate);
    QTest::qWait(300);
    EXPECT_TRUE(feed.requests.isEmpty());
}

TEST_F(LaunchServices, CheckForUpdatesFromTheMenuAlwaysEndsWithAnAlert)
{
    UserDefaults::standard().setBool("updates.automatic", false);
    serveFeed("1.0");
    AppDelegate delegate;
    launch(delegate);
    delegate.checkForUpdates();
    ASSERT_EVENTUALLY_EQ(alerts.alerts.size(), 1, 10000);
    EXPECT_EQ(alerts.alerts[0].title, "You're up to date");
}
