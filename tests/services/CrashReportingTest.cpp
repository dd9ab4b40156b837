#include "model/AppSettings.h"
#include "platform/CrashHandler.h"
#include "platform/CrashReport.h"
#include "platform/Log.h"
#include "platform/SentrySDK.h"
#include "services/CrashReporting.h"
#include "support/LocalHttpServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>
#include <QtEndian>
#include <csignal>
#include <gtest/gtest.h>

namespace {

AppSettings::SentrySettings settingsWith(bool enabled, const QString &dsn)
{
    AppSettings::SentrySettings s;
    s.enabled = enabled;
    s.dsn = dsn;
    return s;
}

const QString kDsn = QStringLiteral("http://key@127.0.0.1:9/1");

class CrashReportingStart : public ::testing::Test
{
protected:
    void TearDown() override { SentrySDK::close(); }
};

} // namespace

TEST_F(CrashReportingStart, StartsOnlyWhenEnabledWithADsn)
{
    CrashReporting::startCrashReporting(settingsWith(true, ""));
    EXPECT_FALSE(SentrySDK::isEnabled());
    CrashReporting::startCrashReporting(settingsWith(true, " \t  \t"));
    EXPECT_FALSE(SentrySDK::isEnabled());
    CrashReporting::startCrashReporting(settingsWith(false, kDsn));
    EXPECT_FALSE(SentrySDK::isEnabled());
    EXPECT_FALSE(CrashHandler::isInstalled());

    CrashReporting::startCrashReporting(settingsWith(true, kDsn));
    EXPECT_TRUE(SentrySDK::isEnabled());
    EXPECT_TRUE(CrashHandler::isInstalled());
}

TEST_F(CrashReportingStart, NeverClosesARunningClient)
{
    CrashReporting::startCrashReporting(settingsWith(true, kDsn));
    ASSERT_TRUE(SentrySDK::isEnabled());
    CrashReporting::startCrashReporting(settingsWith(false, "http://other@127.0.0.1:9/2"));
    CrashReporting::startCrashReporting(settingsWith(true, "   "));
    ASSERT_TRUE(SentrySDK::isEnabled());
    EXPECT_EQ(SentrySDK::options()->dsn, kDsn);

    // Started again with new settings, it runs with those.
    CrashReporting::startCrashReporting(settingsWith(true, "http://other@127.0.0.1:9/2"));
    EXPECT_EQ(SentrySDK::options()->dsn, "http://other@127.0.0.1:9/2");

    SentrySDK::close();
    EXPECT_FALSE(SentrySDK::isEnabled());
    EXPECT_FALSE(CrashHandler::isInstalled());
}

TEST_F(CrashReportingStart, DsnIsTrimmedAndAnUnusableOneIsLogged)
{
    CrashReporting::startCrashReporting(settingsWith(true, " \t" + kDsn + "\n"));
    ASSERT_TRUE(SentrySDK::isEnabled());
    EXPECT_EQ(SentrySDK::options()->dsn, kDsn);
    SentrySDK::close();

    // A lone line break passes the blank test but is no address.
    LogCapture log;
    CrashReporting::startCrashReporting(settingsWith(true, "\n"));
    EXPECT_FALSE(SentrySDK::isEnabled());
    EXPECT_TRUE(log.contains("[Vorna] sentry: the DSN could not be parsed ("));

    LogCapture log2;
    CrashReporting::startCrashReporting(settingsWith(true, "sentry please"));
    EXPECT_FALSE(SentrySDK::isEnabled());
    EXPECT_TRUE(log2.contains("crash reporting stays off"));
}

TEST_F(CrashReportingStart, OptionsCarryTheSettingsAndKeepPersonalDataOut)
{
    AppSettings::SentrySettings s = settingsWith(true, kDsn);
    s.environment = "staging";
    s.debug = true;
    s.sampleRate = 0.25;
    CrashReporting::startCrashReporting(s);
    const std::optional<SentryOptions> o = SentrySDK::options();
    ASSERT_TRUE(o);
    EXPECT_EQ(o->environment, "staging");
    EXPECT_TRUE(o->debug);
    EXPECT_EQ(o->sampleRate, 0.25);
    EXPECT_FALSE(o->sendDefaultPii);
    EXPECT_EQ(o->maxBreadcrumbs, 0);
    ASSERT_TRUE(o->beforeSend);
    ASSERT_TRUE(o->beforeBreadcrumb);

    SentryBreadcrumb crumb;
    crumb.message = "clicked";
    EXPECT_FALSE(o->beforeBreadcrumb(crumb));
    SentrySDK::addBreadcrumb(crumb);
    EXPECT_TRUE(SentrySDK::breadcrumbs().isEmpty());
}

TEST(CrashReportingHook, BeforeSendClearsUserRequestAndServerNameOnly)
{
    SentryEvent event = SentryEvent::fromJson(QJsonObject{
        {"event_id", "0123456789abcdef0123456789abcdef"},
        {"user", QJsonObject{{"id", "42"}, {"email", "a@b.c"}}},
        {"request", QJsonObject{{"url", "https://example.org"}}},
        {"server_name", "workstation"},
        {"level", "fatal"},
        {"tags", QJsonObject{{"k", "v"}}},
    });
    ASSERT_TRUE(event.user && event.request && event.serverName);
    const std::optional<SentryEvent> out = CrashReporting::beforeSend(event);
    ASSERT_TRUE(out);
    EXPECT_FALSE(out->user);
    EXPECT_FALSE(out->request);
    EXPECT_FALSE(out->serverName);
    EXPECT_EQ(out->eventId, event.eventId);
    EXPECT_EQ(out->payload, event.payload);
    EXPECT_EQ(out->toJson(), (QJsonObject{{"event_id", "0123456789abcdef0123456789abcdef"},
                                          {"level", "fatal"},
                                          {"tags", QJsonObject{{"k", "v"}}}}));
}

// ---- a real crash in a child process, reported at the next start ----

namespace {

class CrashChild : public ::testing::Test
{
protected:
    void TearDown() override { SentrySDK::close(); }

    void writeSettings(bool enabled, double sampleRate = 1.0)
    {
        AppSettings s;
        s.sentry.enabled = enabled;
        s.sentry.dsn = QStringLiteral("http://publickey@127.0.0.1:%1/42").arg(ingest.port());
        s.sentry.sampleRate = sampleRate;
        QString error;
        ASSERT_TRUE(AppSettings::save(s, &error)) << error.toStdString();
    }

    // Runs the helper and returns the signal that ended it (0 when it did
    // not crash).
    int runChild(const QStringList &args)
    {
        QProcess child;
        child.setProgram(QCoreApplication::applicationDirPath() + "/vorna_crash_helper");
        child.setArguments(args);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start();
        EXPECT_TRUE(child.waitForFinished(30000));
        if (child.exitStatus() != QProcess::CrashExit)
            return 0;
        return child.exitCode();
    }

    static QStringList waitingReports()
    {
        return QDir(SentrySDK::reportsFolder()).entryList({"*.crash"}, QDir::Files);
    }

    // The next start of the program: settings from the file, as at launch.
    static void nextStart() { CrashReporting::startCrashReporting(AppSettings::load().sentry); }

    LocalHttpServer ingest;
};

QJsonObject eventOf(const LocalHttpServer::Request &request)
{
    return QJsonDocument::fromJson(request.body.split('\n').value(2)).object();
}

} // namespace

TEST_F(CrashChild, EveryFatalSignalIsWrittenToDiskAndStillEndsTheProcess)
{
    writeSettings(true);
    const QList<QPair<QString, int>> kinds = {
        {"segv", SIGSEGV}, {"bus", SIGBUS}, {"ill", SIGILL}, {"fpe", SIGFPE}, {"abort", SIGABRT}};
    for (const auto &[kind, signal] : kinds) {
        QDir(SentrySDK::reportsFolder()).removeRecursively();
        EXPECT_EQ(runChild({kind}), signal) << kind.toStdString();
        const QStringList reports = waitingReports();
        ASSERT_EQ(reports.size(), 1) << kind.toStdString();
        QFile f(SentrySDK::reportsFolder() + "/" + reports.first());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const std::optional<CrashReport> report = CrashReport::parse(f.readAll());
        ASSERT_TRUE(report) << kind.toStdString();
        EXPECT_EQ(report->signal, signal);
        EXPECT_FALSE(report->frames.isEmpty());
        EXPECT_EQ(report->context["release"].toString(), "Vorna@9.8.7");
    }
    EXPECT_TRUE(ingest.requests.isEmpty()); // nothing is sent from the crashing process
}

TEST_F(CrashChild, CrashIsSentOnceAtTheNextStartWithoutPersonalData)
{
    writeSettings(true);
    ASSERT_EQ(runChild({"segv"}), SIGSEGV);
    ASSERT_EQ(waitingReports().size(), 1);

    nextStart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ingest.requests.size() == 1; }, 10000))
        << ingest.requests.size() << " requests";
    ASSERT_TRUE(QTest::qWaitFor([&] { return waitingReports().isEmpty(); }, 30000));
    const LocalHttpServer::Request &request = ingest.requests.first();
    EXPECT_EQ(request.path, "/api/42/envelope/");
    EXPECT_TRUE(request.headers.value("x-sentry-auth").contains("sentry_key=publickey"));

    const QJsonObject event = eventOf(request);
    EXPECT_EQ(event["level"].toString(), "fatal");
    EXPECT_EQ(event["environment"].toString(), "production");
    EXPECT_EQ(event["release"].toString(), "Vorna@9.8.7");
    EXPECT_EQ(event["exception"]["values"][0]["type"].toString(), "SIGSEGV");
    EXPECT_FALSE(event.contains("user"));
    EXPECT_FALSE(event.contains("request"));
    EXPECT_FALSE(event.contains("server_name"));
    EXPECT_FALSE(event.contains("breadcrumbs"));

    // A further start has nothing left to send.
    SentrySDK::close();
    nextStart();
    QTest::qWait(500);
    EXPECT_EQ(ingest.requests.size(), 1);
}

// The GNU build id in an ELF file's notes, as lower-case hex, of whatever
// length the linker wrote (20 bytes of SHA-1 from GNU ld, 8 of a fast hash
// from lld, 16 of a UUID...).
static QString buildIdOfFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = f.readAll();
    // A note is namesz, descsz, type, then the name: 4, n, NT_GNU_BUILD_ID, "GNU\0".
    static const QByteArray typeAndName("\x03\0\0\0GNU\0", 8);
    for (qsizetype at = bytes.indexOf(typeAndName); at >= 0; at = bytes.indexOf(typeAndName, at + 1)) {
        if (at < 8)
            continue;
        const quint32 nameSize = qFromLittleEndian<quint32>(bytes.constData() + at - 8);
        const quint32 idSize = qFromLittleEndian<quint32>(bytes.constData() + at - 4);
        if (nameSize == 4 && idSize > 0 && idSize <= 64 && at + 8 + qsizetype(idSize) <= bytes.size())
            return QString::fromLatin1(bytes.mid(at + 8, idSize).toHex());
    }
    return QString();
}

TEST_F(CrashChild, CrashCarriesTheLoadedModulesSoTheStackCanBeSymbolicated)
{
    writeSettings(true);
    ASSERT_EQ(runChild({"segv"}), SIGSEGV);
    nextStart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ingest.requests.size() == 1; }, 10000))
        << ingest.requests.size() << " requests";
    const QJsonObject event = eventOf(ingest.requests.first());
    const QJsonArray images = event["debug_meta"]["images"].toArray();
    ASSERT_GT(images.size(), 2);

    const QString helper = QFileInfo(QCoreApplication::applicationDirPath() + "/vorna_crash_helper").canonicalFilePath();
    const QString helperBuildId = buildIdOfFile(helper);
    ASSERT_FALSE(helperBuildId.isEmpty()) << "the helper has no build id";
    // The crashing frame lies in the helper's image, whose ids are the file's.
    const QJsonArray frames = event["exception"]["values"][0]["stacktrace"]["frames"].toArray();
    const quint64 crashAt = frames.last()["instruction_addr"].toString().toULongLong(nullptr, 16);
    int helperImages = 0;
    for (const QJsonValue &v : images) {
        const QJsonObject image = v.toObject();
        EXPECT_EQ(image["type"].toString(), "elf");
        EXPECT_TRUE(image["code_file"].toString().startsWith('/')) << image["code_file"].toString().toStdString();
        if (image["code_file"].toString() != helper)
            continue;
        ++helperImages;
        EXPECT_EQ(image["code_id"].toString(), helperBuildId);
        EXPECT_EQ(image["debug_id"].toString(), CrashReport::debugIdFromBuildId(helperBuildId.toLatin1()));
        const quint64 start = image["image_addr"].toString().toULongLong(nullptr, 16);
        EXPECT_GE(crashAt, start);
        EXPECT_LT(crashAt, start + quint64(image["image_size"].toInteger()));
    }
    EXPECT_EQ(helperImages, 1);
    // The libraries are there too, each with the build id of its file.
    bool sawLibc = false;
    for (const QJsonValue &v : images) {
        const QString file = v["code_file"].toString();
        if (QFileInfo(file).fileName().startsWith("libc.so")) {
            sawLibc = true;
            EXPECT_EQ(v["code_id"].toString(), buildIdOfFile(file));
        }
    }
    EXPECT_TRUE(sawLibc);
}

TEST_F(CrashChild, WithoutOurOptionsTheSameCrashWouldCarryHostAndBreadcrumbs)
{
    // The client's own defaults, to show what the program's options remove.
    writeSettings(true);
    ASSERT_EQ(runChild({"segv", "--plain"}), SIGSEGV);
    const QString dsn = AppSettings::load().sentry.dsn;
    SentrySDK::start([&](SentryOptions &o) { o.dsn = dsn; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ingest.requests.size() == 1; }, 10000))
        << ingest.requests.size() << " requests";
    const QJsonObject event = eventOf(ingest.requests.first());
    EXPECT_TRUE(event.contains("server_name"));
    EXPECT_EQ(event["breadcrumbs"]["values"][0]["message"].toString(), "about to crash");
}

TEST_F(CrashChild, NothingIsWrittenOrSentWithReportingOff)
{
    writeSettings(false);
    ASSERT_EQ(runChild({"segv"}), SIGSEGV);
    EXPECT_TRUE(waitingReports().isEmpty());
    nextStart();
    EXPECT_FALSE(SentrySDK::isEnabled());

    // Switched on afterwards: the crash from while it was off is not there to send.
    writeSettings(true);
    nextStart();
    ASSERT_TRUE(SentrySDK::isEnabled());
    QTest::qWait(500);
    EXPECT_TRUE(ingest.requests.isEmpty());
}

TEST_F(CrashChild, ReportWaitsWhileReportingIsOff)
{
    writeSettings(true);
    ASSERT_EQ(runChild({"abort"}), SIGABRT);
    writeSettings(false);
    nextStart();
    QTest::qWait(500);
    EXPECT_TRUE(ingest.requests.isEmpty());
    EXPECT_EQ(waitingReports().size(), 1);
}

TEST_F(CrashChild, SampleRateZeroSendsNothing)
{
    writeSettings(true, 0.0);
    ASSERT_EQ(runChild({"segv"}), SIGSEGV);
    ASSERT_EQ(waitingReports().size(), 1);
    nextStart();
    ASSERT_TRUE(SentrySDK::isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return waitingReports().isEmpty(); }, 10000)); // dropped
    QTest::qWait(300);
    EXPECT_TRUE(ingest.requests.isEmpty());
}
