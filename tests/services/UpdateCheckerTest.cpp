#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "services/UpdateChecker.h"
#include "support/LocalHttpServer.h"
#include "support/RecordingAlertPresenter.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

QByteArray feed(const QByteArray &version, const QByteArray &extra = {})
{
    return "{\"version\": \"" + version + "\", \"build\": \"100\", \"downloadURL\": \"https://example.org/Vorna-"
           + version + ".tar.gz\", \"publishedAt\": \"2024-05-01T00:00:00Z\"" + extra + "}";
}

class UpdateCheckerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QCoreApplication::setApplicationVersion("1.0");
        checker.setFeedUrl(server.url("/apps/vorna/appcast.json"));
        UpdateChecker::setUrlOpener([this](const QUrl &url) {
            opened.append(url);
            return true;
        });
    }
    void TearDown() override
    {
        UpdateChecker::setUrlOpener(nullptr);
        QCoreApplication::setApplicationVersion(QString());
    }

    // Runs one check to its end; a failure when it does not end.
    [[nodiscard]] ::testing::AssertionResult check(bool silent)
    {
        const auto done = std::make_shared<bool>(false);
        checker.checkForUpdates(silent, [done] { *done = true; });
        if (QTest::qWaitFor([&] { return *done; }, 20000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the check did not end within 20 s";
    }

    void serve(const QByteArray &body, int status = 200, const QByteArray &type = "application/json")
    {
        server.setResponse({status, type, body});
    }

    LocalHttpServer server;
    UpdateChecker checker;
    RecordingAlertPresenter alerts;
    QList<QUrl> opened;
};

} // namespace

TEST(UpdateCheckerVersions, ComparesComponentByComponent)
{
    struct Case
    {
        const char *a, *b;
        int expected;
    };
    const Case cases[] = {
        {"1.10", "1.9", 1},     {"1.9", "1.10", -1},   {"1.2", "1.2.0", 0},   {"1.2.0.0", "1.2", 0},
        {"2.0b1", "2.0", 1},    {"1.10a", "1.9a", -1}, {"1..2", "1.2", 0},    {".1.2.", "1.2", 0},
        {"1", "0", 1},          {"0.0.1", "0", 1},     {"+2", "2", 0},        {"-1", "0", -1},
        {"1.a", "1.B", 1},      {"10", "9", 1},        {"", "", 0},           {"", "0.0", 0},
        {"10000000000000000000", "9", -1}, // too big for a number: compared as text
        {"1.2.3", "1.2.4", -1}, {"3", "2.99.99", 1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(UpdateChecker::compareVersions(c.a, c.b), c.expected) << c.a << " vs " << c.b;
}

TEST(UpdateCheckerVersions, RunningVersionFallsBackToZero)
{
    QCoreApplication::setApplicationVersion(QString());
    EXPECT_EQ(UpdateChecker::currentAppVersion(), "0");
    QCoreApplication::setApplicationVersion("3.1");
    EXPECT_EQ(UpdateChecker::currentAppVersion(), "3.1");
}

TEST(UpdateCheckerSchedule, AutomaticChecksAndTheDailyRule)
{
    UpdateChecker checker;
    auto &defaults = UserDefaults::standard();
    EXPECT_TRUE(checker.automaticChecksEnabled());
    defaults.setBool("updates.automatic", false);
    EXPECT_FALSE(checker.automaticChecksEnabled());
    defaults.setString("updates.automatic", "no"); // not a bool: counts as on
    EXPECT_TRUE(checker.automaticChecksEnabled());

    const QDateTime now = QDateTime::currentDateTimeUtc();
    EXPECT_TRUE(UpdateChecker::isCheckDue(std::nullopt, now));
    EXPECT_FALSE(UpdateChecker::isCheckDue(now.addSecs(-82799), now));
    EXPECT_TRUE(UpdateChecker::isCheckDue(now.addSecs(-82800), now));
    EXPECT_FALSE(UpdateChecker::isCheckDue(now.addSecs(3600), now));
}

TEST(UpdateCheckerSchedule, LastCheckedIsReadFromPreferences)
{
    EXPECT_FALSE(UpdateChecker().lastCheckedAt());
    UserDefaults::standard().setString("updates.lastChecked", "yesterday");
    EXPECT_FALSE(UpdateChecker().lastCheckedAt());
    const QDateTime when = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    UserDefaults::standard().setObject("updates.lastChecked", when);
    EXPECT_EQ(UpdateChecker().lastCheckedAt(), when);
}

TEST_F(UpdateCheckerTest, NewerVersionIsOfferedAndRecorded)
{
    serve(feed("1.1", ", \"notes\": \"Faster captures.\""));
    QSignalSpy changes(&checker, &UpdateChecker::changed);
    ASSERT_TRUE(check(true));
    ASSERT_EQ(server.requests.size(), 1);
    EXPECT_EQ(server.requests[0].method, "GET");
    EXPECT_EQ(server.requests[0].path, "/apps/vorna/appcast.json");
    EXPECT_FALSE(checker.isChecking());
    ASSERT_TRUE(checker.latest());
    EXPECT_EQ(checker.latest()->version, "1.1");
    EXPECT_EQ(checker.latest()->build, QString("100"));
    EXPECT_GT(changes.size(), 0);
    ASSERT_TRUE(checker.lastCheckedAt());
    EXPECT_LT(checker.lastCheckedAt()->secsTo(QDateTime::currentDateTimeUtc()), 5);
    EXPECT_EQ(UserDefaults::standard().object("updates.lastChecked").toDateTime(), *checker.lastCheckedAt());
    EXPECT_TRUE(checker.isUpdateAvailable());

    checker.showUpdateResult(true);
    ASSERT_EQ(alerts.alerts.size(), 1);
    const auto &alert = alerts.alerts[0];
    EXPECT_EQ(alert.style, AlertPresenter::Style::informational);
    EXPECT_EQ(alert.title, "Vorna 1.1 is available");
    EXPECT_EQ(alert.informativeText, "You're running version 1.0.\n\nFaster captures.");
    EXPECT_EQ(alert.buttons, (QStringList{"Download", "Skip This Version", "Later"}));
    ASSERT_EQ(opened.size(), 1); // "Download" is the first button
    EXPECT_EQ(opened[0], QUrl("https://example.org/Vorna-1.1.tar.gz"));
}

TEST_F(UpdateCheckerTest, EmptyNotesAddNothingAndLaterDoesNothing)
{
    serve(feed("2.0", ", \"notes\": \"\""));
    ASSERT_TRUE(check(false));
    alerts.answer = 2;
    checker.showUpdateResult(false);
    ASSERT_EQ(alerts.alerts.size(), 1);
    EXPECT_EQ(alerts.alerts[0].informativeText, "You're running version 1.0.");
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_FALSE(UserDefaults::standard().contains("updates.skippedVersion"));
}

TEST_F(UpdateCheckerTest, SameVersionIsUpToDate)
{
    serve(feed("1.0.0"));
    ASSERT_TRUE(check(true));
    EXPECT_FALSE(checker.isUpdateAvailable());
    checker.showUpdateResult(true);
    EXPECT_TRUE(alerts.alerts.isEmpty());

    ASSERT_TRUE(check(false));
    checker.showUpdateResult(false);
    ASSERT_EQ(alerts.alerts.size(), 1);
    EXPECT_EQ(alerts.alerts[0].style, AlertPresenter::Style::informational);
    EXPECT_EQ(alerts.alerts[0].title, "You're up to date");
    EXPECT_EQ(alerts.alerts[0].informativeText, "Vorna 1.0 is the latest version.");
    EXPECT_EQ(alerts.alerts[0].buttons, QStringList{"OK"});
}

TEST_F(UpdateCheckerTest, SkippedVersionIsNotOfferedAgainButANewerOneIs)
{
    serve(feed("1.5"));
    ASSERT_TRUE(check(false));
    QSignalSpy changes(&checker, &UpdateChecker::changed);
    alerts.answer = 1; // "Skip This Version"
    checker.showUpdateResult(false);
    EXPECT_EQ(UserDefaults::standard().stringForKey("updates.skippedVersion"), QString("1.5"));
    EXPECT_EQ(changes.size(), 1);
    EXPECT_FALSE(checker.isUpdateAvailable());

    ASSERT_TRUE(check(false));
    checker.showUpdateResult(false);
    ASSERT_EQ(alerts.alerts.size(), 2);
    EXPECT_EQ(alerts.alerts[1].title, "You're up to date");

    serve(feed("1.6"));
    ASSERT_TRUE(check(true));
    EXPECT_TRUE(checker.isUpdateAvailable());
}

TEST_F(UpdateCheckerTest, UnusableFeedsAreReportedOnlyWhenRequested)
{
    const QList<QByteArray> bodies = {
        "{\"version\": \"2.0\"",                                  // cut off
        "[{\"version\": \"2.0\", \"downloadURL\": \"https://x\"}]", // a list
        "{\"downloadURL\": \"https://example.org\"}",              // no version
        "{\"version\": 2, \"downloadURL\": \"https://example.org\"}",
        "{\"version\": \"2.0\", \"downloadURL\": \"https://example.org\", \"notes\": 5}",
    };
    serve(feed("1.1"));
    ASSERT_TRUE(check(true));
    const QDateTime firstCheck = *checker.lastCheckedAt();
    for (const QByteArray &body : bodies) {
        serve(body);
        alerts.alerts.clear();
        ASSERT_TRUE(check(false));
        ASSERT_TRUE(checker.lastError()) << body.constData();
        EXPECT_EQ(checker.latest()->version, "1.1");
        EXPECT_EQ(*checker.lastCheckedAt(), firstCheck);
        // An update found earlier is still offered: the failure alert comes
        // only when there is nothing to offer.
        checker.showUpdateResult(false);
        ASSERT_EQ(alerts.alerts.size(), 1);
        EXPECT_EQ(alerts.alerts[0].title, "Vorna 1.1 is available");

        ASSERT_TRUE(check(true));
        EXPECT_FALSE(checker.lastError()) << "a silent check clears the error";
    }
}

TEST_F(UpdateCheckerTest, OversizedOrDeeplyNestedFeedIsRefused)
{
    // A valid feed that is only too large, then a line of "[" just within the limit.
    const QByteArray large = feed("9.0") + QByteArray(UpdateChecker::maxFeedBytes, ' ');
    for (const QByteArray &body : {large, QByteArray(UpdateChecker::maxFeedBytes, '[')}) {
        serve(body);
        LogCapture log;
        ASSERT_TRUE(check(false));
        ASSERT_TRUE(checker.lastError());
        EXPECT_FALSE(checker.latest());
        EXPECT_FALSE(checker.lastCheckedAt());
        if (body.size() > UpdateChecker::maxFeedBytes) {
            EXPECT_TRUE(checker.lastError()->contains("too large")) << checker.lastError()->toStdString();
            EXPECT_TRUE(log.contains("[Vorna] update: the feed is larger than"));
        }
    }
}

TEST_F(UpdateCheckerTest, MalformedFeedRequestedShowsTheFailure)
{
    serve("this is not json");
    ASSERT_TRUE(check(false));
    ASSERT_TRUE(checker.lastError());
    EXPECT_FALSE(checker.latest());
    EXPECT_FALSE(checker.lastCheckedAt());
    checker.showUpdateResult(false);
    ASSERT_EQ(alerts.alerts.size(), 1);
    EXPECT_EQ(alerts.alerts[0].style, AlertPresenter::Style::warning);
    EXPECT_EQ(alerts.alerts[0].title, "Couldn't check for updates");
    EXPECT_EQ(alerts.alerts[0].informativeText, *checker.lastError());
    EXPECT_TRUE(alerts.alerts[0].informativeText.contains("not valid JSON"));
    EXPECT_EQ(alerts.alerts[0].buttons, QStringList{"OK"});

    ASSERT_TRUE(check(true));
    EXPECT_FALSE(checker.lastError());
    checker.showUpdateResult(true);
    EXPECT_EQ(alerts.alerts.size(), 1);
}

TEST_F(UpdateCheckerTest, NotFoundPageIsADecodingFailure)
{
    serve("<html><body>404 Not Found</body></html>", 404, "text/html");
    ASSERT_TRUE(check(false));
    ASSERT_TRUE(checker.lastError());
    EXPECT_TRUE(checker.lastError()->startsWith("The update information could not be read"));
    checker.showUpdateResult(false);
    ASSERT_EQ(alerts.alerts.size(), 1);
    EXPECT_EQ(alerts.alerts[0].title, "Couldn't check for updates");
}

TEST_F(UpdateCheckerTest, UnreachableServerIsAFailureOnlyWhenRequested)
{
    checker.setFeedUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/apps/vorna/appcast.json")
                                .arg(LocalHttpServer::unusedPort())));
    ASSERT_TRUE(check(true));
    EXPECT_FALSE(checker.lastError());
    checker.showUpdateResult(true);
    EXPECT_TRUE(alerts.alerts.isEmpty());

    ASSERT_TRUE(check(false));
    ASSERT_TRUE(checker.lastError());
    EXPECT_FALSE(checker.lastError()->isEmpty());
    EXPECT_FALSE(checker.lastCheckedAt());
    checker.showUpdateResult(false);
    ASSERT_EQ(alerts.alerts.size(), 1);
    EXPECT_EQ(alerts.alerts[0].title, "Couldn't check for updates");
    EXPECT_EQ(alerts.alerts[0].informativeText, *checker.lastError());
}

TEST_F(UpdateCheckerTest, MissingFeedUrlIsReportedWithoutANetworkRequest)
{
    checker.setFeedUrl(QUrl());
    ASSERT_TRUE(check(true));
    EXPECT_FALSE(checker.lastError());
    ASSERT_TRUE(check(false));
    EXPECT_EQ(checker.lastError(), QString("Update feed URL not configured."));
    EXPECT_FALSE(checker.isChecking());
    EXPECT_TRUE(server.requests.isEmpty());
}

TEST_F(UpdateCheckerTest, OnlyWebDownloadLinksAreOpened)
{
    const QList<QPair<QByteArray, bool>> links = {
        {"https://example.org/v.tar.gz", true},
        {"HTTP://example.org/v.tar.gz", true},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"/usr/bin/xterm", false},
        {"smb://server/share/v", false},
        {"not a url at all", false},
        {"", false},
    };
    for (const auto &[link, allowed] : links) {
        serve("{\"version\": \"9.0\", \"downloadURL\": \"" + link + "\"}");
        ASSERT_TRUE(check(false));
        ASSERT_TRUE(checker.latest()) << link.constData();
        opened.clear();
        checker.openDownload();
        EXPECT_EQ(opened.size(), allowed ? 1 : 0) << link.constData();
    }
}
