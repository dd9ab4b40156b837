// Huge and deeply nested input for every file parser: each refuses it with
// a log line, changes nothing else, and keeps the file it came from.
#include "model/AppSettings.h"
#include "model/SettingsPersistence.h"
#include "output/HistoryService.h"
#include "platform/CrashReport.h"
#include "platform/DesktopEntry.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "services/AppcastEntry.h"
#include "support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

// A 3 MB line of "[": nesting far beyond what any parser should follow.
const QByteArray kDeep(3 * 1024 * 1024, '[');

// Valid JSON that is only too large: the size alone must refuse it.
QByteArray padded(const QByteArray &json, qint64 size)
{
    return json + QByteArray(size - json.size(), ' ');
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The one file kept aside next to path, with its bytes.
QByteArray keptAside(const QString &path)
{
    const QFileInfo info(path);
    const QStringList aside = info.dir().entryList({info.fileName() + ".unreadable-*"}, QDir::Files);
    EXPECT_EQ(aside.size(), 1) << path.toStdString();
    return aside.isEmpty() ? QByteArray() : readFile(info.dir().filePath(aside.first()));
}

class HostileFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UserDefaults::resetStandard();
        TestHome::reset();
    }
    void TearDown() override
    {
        UserDefaults::resetStandard();
        HistoryService::resetShared();
    }
};

} // namespace

TEST_F(HostileFiles, PreferencesFileIsKeptAsideAndANewOneStartsBesideIt)
{
    const QString path = TestHome::path() + "/prefs/defaults.json";
    for (const QByteArray &bytes : {kDeep, padded("{\"values\": {}}", UserDefaults::maxFileBytes + 1)}) {
        QDir(QFileInfo(path).absolutePath()).removeRecursively();
        writeFile(path, bytes);
        LogCapture log;
        {
            UserDefaults d(path);
            EXPECT_TRUE(d.dictionaryRepresentation().isEmpty());
            d.setBool("later", true);
            ASSERT_TRUE(d.flush());
        }
        EXPECT_TRUE(log.contains("[Vorna] defaults:")) << log.lines().join('\n').toStdString();
        EXPECT_EQ(keptAside(path), bytes);
        EXPECT_TRUE(UserDefaults(path).boolForKey("later"));
    }
}

TEST_F(HostileFiles, SettingsMirrorThatCannotBeRestoredIsKeptAsideNotOverwritten)
{
    const QString path = TestHome::path() + "/mirror/settings.json";
    for (const QByteArray &bytes : {kDeep, padded("{\"values\": {\"playSound\": false}}",
                                                  SettingsPersistence::maxDocumentBytes + 1)}) {
        UserDefaults::resetStandard();
        QFile::remove(UserDefaults::defaultFilePath());
        QDir(QFileInfo(path).absolutePath()).removeRecursively();
        writeFile(path, bytes);
        SettingsPersistence mirror(path);
        LogCapture log;
        mirror.restoreFromFile();
        EXPECT_TRUE(log.contains("[Vorna] settings:")) << log.lines().join('\n').toStdString();
        EXPECT_FALSE(UserDefaults::standard().contains("playSound"));
        ASSERT_TRUE(mirror.writeSettingsFile());
        EXPECT_EQ(keptAside(path), bytes);
        // The same bytes given to Import are refused and change nothing.
        UserDefaults::standard().setBool("playSound", true);
        EXPECT_FALSE(mirror.importSettings(bytes));
        EXPECT_TRUE(UserDefaults::standard().boolForKey("playSound"));
    }
}

TEST_F(HostileFiles, HistoryManifestIsKeptAsideAndTheHistoryStartsEmpty)
{
    for (const QByteArray &bytes : {kDeep, padded("[]", HistoryService::maxManifestBytes + 1)}) {
        HistoryService::resetShared();
        const QString path = HistoryService::shared().manifestPath();
        QDir(QFileInfo(path).absolutePath()).removeRecursively();
        writeFile(path, bytes);
        HistoryService::resetShared();
        LogCapture log;
        EXPECT_TRUE(HistoryService::shared().items().isEmpty());
        EXPECT_TRUE(log.contains("[Vorna] history:")) << log.lines().join('\n').toStdString();
        EXPECT_FALSE(QFileInfo::exists(path));
        EXPECT_EQ(keptAside(path), bytes);
    }
}

TEST_F(HostileFiles, CrashReportingSettingsFallBackToDefaultsAndStayAsTheyAre)
{
    const QString path = AppSettings::fileURL().toLocalFile();
    AppSettings custom;
    custom.sentry.dsn = "https://key@example.org/1";
    const QByteArray tooLarge = padded(AppSettings::savedText(custom), AppSettings::maxFileBytes + 1);
    for (const QByteArray &bytes : {kDeep, tooLarge}) {
        writeFile(path, bytes);
        LogCapture log;
        EXPECT_EQ(AppSettings::load(), AppSettings::defaults());
        EXPECT_TRUE(log.contains("appsettings.json is malformed")) << log.lines().join('\n').toStdString();
        EXPECT_EQ(readFile(path), bytes);
    }
}

TEST_F(HostileFiles, OversizedDesktopEntryIsNotRead)
{
    const QString path = TestHome::path() + "/big.desktop";
    writeFile(path, padded("[Desktop Entry]\nExec=vorna %U\n", DesktopEntry::maxFileBytes + 1));
    LogCapture log;
    EXPECT_FALSE(DesktopEntry::read(path));
    EXPECT_TRUE(log.contains("desktop entry")) << log.lines().join('\n').toStdString();
}

TEST(HostileInput, NetworkAndCrashReportDocumentsRefuseHugeAndDeepInput)
{
    QString error;
    EXPECT_FALSE(AppcastEntry::decode(kDeep, &error));
    EXPECT_FALSE(error.isEmpty());

    const QByteArray head = "vorna-crash 1\nsignal 11\npc 0x10\n";
    EXPECT_FALSE(CrashReport::parse(head + "context\n" + kDeep, &error));
    EXPECT_EQ(error, "the context is not a JSON object");
    EXPECT_FALSE(CrashReport::parse(padded(head + "context\n{}", CrashReport::maxBytes + 1), &error));
    EXPECT_TRUE(error.contains("larger than")) << error.toStdString();
    QByteArray manyFrames = head;
    for (int i = 0; i <= CrashReport::maxFrames; ++i)
        manyFrames += "frame 0x10\n";
    EXPECT_FALSE(CrashReport::parse(manyFrames + "context\n", &error));
    EXPECT_TRUE(error.contains("frames")) << error.toStdString();
}
