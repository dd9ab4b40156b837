#include "model/AppSettings.h"
#include "platform/AppPaths.h"
#include "platform/Log.h"
#include "support/UnansweredPipe.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

QString settingsPath()
{
    return AppPaths::appDataDir() + "/appsettings.json";
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray sentryFile(const QByteArray &sentryMembers)
{
    return "{\n  \"sentry\": {\n" + sentryMembers + "\n  }\n}";
}

const QByteArray kTemplate = "{\n"
                             "  \"_comment\": \"Vorna configuration. Edit and save, then relaunch Vorna.\",\n"
                             "  \"sentry\": {\n"
                             "    \"enabled\": true,\n"
                             "    \"dsn\": \"\",\n"
                             "    \"environment\": \"production\",\n"
                             "    \"debug\": false,\n"
                             "    \"sampleRate\": 1.0\n"
                             "  }\n"
                             "}";

} // namespace

TEST(AppSettings, MissingFileIsCreatedFromTheTemplateAndDefaultsAreReturned)
{
    ASSERT_FALSE(QFileInfo::exists(AppPaths::appDataDir()));
    const AppSettings loaded = AppSettings::load();

    EXPECT_EQ(AppSettings::fileURL().toLocalFile(), settingsPath());
    const QByteArray written = readFile(settingsPath());
    EXPECT_EQ(written.size(), 206);
    EXPECT_EQ(written, kTemplate);
    EXPECT_TRUE(loaded.sentry.enabled);
    EXPECT_EQ(loaded.sentry.dsn, QString());
    EXPECT_EQ(loaded.sentry.environment, "production");
    EXPECT_FALSE(loaded.sentry.debug);
    EXPECT_EQ(loaded.sentry.sampleRate, 1.0);
    EXPECT_EQ(loaded, AppSettings::defaults());
    // The template itself loads to the defaults.
    EXPECT_EQ(AppSettings::load(), AppSettings::defaults());
}

TEST(AppSettings, TemplateThatCannotBeCreatedIsLoggedAndTriedAgainNextTime)
{
    // A plain file where the program's folder should be.
    writeFile(AppPaths::dataHome() + "/placeholder", "x");
    QFile::rename(AppPaths::dataHome() + "/placeholder", AppPaths::appDataDir());
    LogCapture log;
    EXPECT_EQ(AppSettings::load(), AppSettings::defaults());
    EXPECT_TRUE(log.contains("Vorna: could not create appsettings.json template: "));

    QFile::remove(AppPaths::appDataDir());
    AppSettings::load();
    EXPECT_EQ(readFile(settingsPath()), kTemplate);
}

TEST(AppSettings, MalformedFilesGiveDefaultsAndAreLeftUntouched)
{
    const QList<QByteArray> malformed = {
        sentryFile("    \"enabled\": false,\n    \"dsn\": \"x\",\n    \"environment\": \"e\",\n    \"debug\": true"),
        sentryFile("    \"enabled\": \"yes\",\n    \"dsn\": \"x\",\n    \"environment\": \"e\",\n    \"debug\": true,\n"
                   "    \"sampleRate\": 0.5"),
        sentryFile("    \"enabled\": 1,\n    \"dsn\": \"x\",\n    \"environment\": \"e\",\n    \"debug\": true,\n"
                   "    \"sampleRate\": 0.5"),
        sentryFile("    \"enabled\": false,\n    \"dsn\": null,\n    \"environment\": \"e\",\n    \"debug\": true,\n"
                   "    \"sampleRate\": 0.5"),
        sentryFile("    \"enabled\": false,\n    \"dsn\": \"x\",\n    \"environment\": \"e\",\n    \"debug\": true,\n"
                   "    \"sampleRate\": \"0.5\""),
        "{ \"enabled\": false }",
        "[1, 2]",
        "{ \"sentry\": { \"enabled\": false, ",
        "",
    };
    for (const QByteArray &bytes : malformed) {
        writeFile(settingsPath(), bytes);
        LogCapture log;
        EXPECT_EQ(AppSettings::load(), AppSettings::defaults()) << bytes.constData();
        EXPECT_EQ(log.lines().size(), 1);
        EXPECT_TRUE(log.lines().value(0).startsWith("Vorna: appsettings.json is malformed ("));
        EXPECT_TRUE(log.lines().value(0).endsWith("); using defaults."));
        EXPECT_EQ(readFile(settingsPath()), bytes);
    }
}

TEST(AppSettings, UnreadableFileGivesDefaults)
{
    QDir().mkpath(settingsPath()); // a folder where the file should be
    LogCapture log;
    EXPECT_EQ(AppSettings::load(), AppSettings::defaults());
    EXPECT_TRUE(log.contains("Vorna: appsettings.json is malformed ("));
    EXPECT_TRUE(QFileInfo(settingsPath()).isDir());
}

TEST(AppSettings, APipeInTheFilesPlaceGivesDefaultsAtOnceAndStays)
{
    ASSERT_TRUE(QDir().mkpath(AppPaths::appDataDir()));
    UnansweredPipe pipe(settingsPath());
    ASSERT_TRUE(pipe.isValid());
    LogCapture log;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(AppSettings::load(), AppSettings::defaults());
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_FALSE(pipe.heldSomeone()) << "the load waited on the pipe";
    EXPECT_TRUE(log.contains("Vorna: appsettings.json is malformed (not a regular file); using defaults."));
    // Refused as a damaged file is: left where it is, no template over it.
    EXPECT_FALSE(QFileInfo(settingsPath()).isFile());
    EXPECT_TRUE(QFileInfo::exists(settingsPath()));
}

TEST(AppSettings, ExtraKeysAndMissingCommentAreAccepted)
{
    writeFile(settingsPath(), sentryFile("    \"enabled\": false,\n    \"dsn\": \"https://k@h/1\",\n"
                                         "    \"environment\": \"staging\",\n    \"debug\": true,\n"
                                         "    \"sampleRate\": 1,\n    \"extra\": [1, 2]"));
    const AppSettings loaded = AppSettings::load();
    EXPECT_FALSE(loaded.sentry.enabled);
    EXPECT_EQ(loaded.sentry.dsn, "https://k@h/1");
    EXPECT_EQ(loaded.sentry.environment, "staging");
    EXPECT_TRUE(loaded.sentry.debug);
    EXPECT_EQ(loaded.sentry.sampleRate, 1.0);

    ASSERT_TRUE(AppSettings::save(loaded));
    const QByteArray saved = readFile(settingsPath());
    EXPECT_FALSE(saved.contains("extra"));
    EXPECT_TRUE(saved.contains("\"_comment\": \"Vorna configuration. Edit from Settings"));
}

TEST(AppSettings, SavedLayoutIsExact)
{
    ASSERT_TRUE(AppSettings::save(AppSettings::defaults()));
    const QByteArray expected = "{\n"
                                "  \"_comment\": \"Vorna configuration. Edit from Settings \xe2\x86\x92 Privacy, or edit "
                                "this file and relaunch.\",\n"
                                "  \"sentry\": {\n"
                                "    \"enabled\": true,\n"
                                "    \"dsn\": \"\",\n"
                                "    \"environment\": \"production\",\n"
                                "    \"debug\": false,\n"
                                "    \"sampleRate\": 1.0\n"
                                "  }\n"
                                "}";
    const QByteArray saved = readFile(settingsPath());
    EXPECT_EQ(saved, expected);
    EXPECT_EQ(saved.indexOf("\"enabled\": ") + 11, 133);

    AppSettings s;
    s.sentry.enabled = false;
    s.sentry.dsn = "https://key@sentry.example.org/7";
    s.sentry.environment = "beta";
    s.sentry.debug = true;
    s.sentry.sampleRate = 0.25;
    ASSERT_TRUE(AppSettings::save(s));
    EXPECT_EQ(readFile(settingsPath()).mid(133),
              "false,\n"
              "    \"dsn\": \"https://key@sentry.example.org/7\",\n"
              "    \"environment\": \"beta\",\n"
              "    \"debug\": true,\n"
              "    \"sampleRate\": 0.25\n"
              "  }\n"
              "}");
}

TEST(AppSettings, SampleRatesAreWrittenInShortestFormWithAFraction)
{
    const QList<QPair<double, QByteArray>> cases = {
        {1.0, "1.0"}, {0.5, "0.5"}, {0.25, "0.25"}, {0.0, "0.0"}, {0.1, "0.1"}, {2.0, "2.0"}, {1e20, "1e+20"},
    };
    for (const auto &[rate, text] : cases) {
        AppSettings s;
        s.sentry.sampleRate = rate;
        ASSERT_TRUE(AppSettings::save(s));
        EXPECT_TRUE(readFile(settingsPath()).contains("\"sampleRate\": " + text + "\n")) << text.constData();
        EXPECT_EQ(AppSettings::load(), s) << text.constData();
    }
    for (double rate : {1.0 / 3.0, 1e-7, 123456.789, 9007199254740993.0}) {
        AppSettings s;
        s.sentry.sampleRate = rate;
        ASSERT_TRUE(AppSettings::save(s));
        EXPECT_EQ(AppSettings::load().sentry.sampleRate, rate);
    }
}

TEST(AppSettings, TextWithQuotesBackslashesAndControlCharactersReadsBackAsWritten)
{
    const QStringList texts = {
        "say \"hi\"", "C:\\path\\to", "\\\"", "line\nbreak", "tab\there", "bell\x07 and nul-ish \x01\x1f",
        "cr\r\nlf", "caf\u00e9 \u2192 \U0001F600", "https://k@h:9000/a/b/3", "",
    };
    for (const QString &text : texts) {
        AppSettings s;
        s.sentry.dsn = text;
        s.sentry.environment = text + "-env";
        QString error;
        ASSERT_TRUE(AppSettings::save(s, &error)) << error.toStdString();
        LogCapture log;
        const AppSettings loaded = AppSettings::load();
        EXPECT_TRUE(log.lines().isEmpty()) << text.toStdString();
        EXPECT_EQ(loaded.sentry.dsn, text);
        EXPECT_EQ(loaded.sentry.environment, text + "-env");
    }
    AppSettings s;
    s.sentry.dsn = "a\"b";
    ASSERT_TRUE(AppSettings::save(s));
    EXPECT_TRUE(readFile(settingsPath()).contains("\"dsn\": \"a\\\"b\",\n"));
    s.sentry.dsn = "a/b";
    ASSERT_TRUE(AppSettings::save(s));
    EXPECT_TRUE(readFile(settingsPath()).contains("\"dsn\": \"a/b\",\n"));
}

TEST(AppSettings, NonFiniteSampleRateIsNeverWritten)
{
    ASSERT_TRUE(AppSettings::save(AppSettings::defaults()));
    const QByteArray before = readFile(settingsPath());
    for (double rate : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity()}) {
        AppSettings s;
        s.sentry.enabled = false;
        s.sentry.sampleRate = rate;
        QString error;
        EXPECT_FALSE(AppSettings::save(s, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(readFile(settingsPath()), before);
    }
}

TEST(AppSettings, SaveReportsAFolderThatCannotBeCreated)
{
    writeFile(AppPaths::dataHome() + "/placeholder", "x");
    QFile::rename(AppPaths::dataHome() + "/placeholder", AppPaths::appDataDir());
    QString error;
    EXPECT_FALSE(AppSettings::save(AppSettings::defaults(), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readFile(AppPaths::appDataDir()), "x");
}
