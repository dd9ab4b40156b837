// Export and import of the settings through the file panels.
#include "settings/SettingsBackup.h"

#include "model/SettingsPersistence.h"
#include "platform/OpenPanel.h"
#include "platform/SavePanel.h"
#include "platform/UserDefaults.h"
#include "support/ScriptedFilePanels.h"
#include "support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/resource.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QJsonObject valuesOf(const QByteArray &doc)
{
    return QJsonDocument::fromJson(doc).object().value("values").toObject();
}

// Sets or clears a folder's append-only attribute: new files can be made in
// it, but none removed or renamed over. False when the file system or the
// process may not.
bool setAppendOnly(const QString &folder, bool on)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL;
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

TEST(SettingsBackup, ExportWritesTheMirrorsBytesToTheChosenFile)
{
    ScriptedFilePanels panel;
    SettingsBackup backup;
    UserDefaults::standard().setDouble("jpegQuality", 0.6);
    const QString target = TestHome::path() + "/Vorna-Settings.json";
    writeFile(target, "an older export");

    backup.exportSettings();
    ASSERT_EQ(panel.saveRequests.size(), 1);
    EXPECT_EQ(panel.saveRequests[0].suggestedName, "Vorna-Settings.json");
    EXPECT_EQ(panel.saveRequests[0].mimeTypeFilters, QStringList{"application/json"});
    panel.choose(target);

    EXPECT_EQ(backup.status(), "Exported to " + target);
    const QByteArray exported = readFile(target);
    EXPECT_EQ(exported, readFile(SettingsPersistence::shared().fileURL()));
    EXPECT_EQ(valuesOf(exported).value("jpegQuality").toDouble(), 0.6);
}

TEST(SettingsBackup, CancelledPanelsLeaveTheStatus)
{
    ScriptedFilePanels panel;
    SettingsBackup backup;
    backup.exportSettings();
    panel.choose(TestHome::path() + "/a.json");
    const auto status = backup.status();
    ASSERT_TRUE(status);
    backup.exportSettings();
    panel.choose(std::nullopt);
    backup.importSettings();
    panel.choose(std::nullopt);
    EXPECT_EQ(backup.status(), status);
}

TEST(SettingsBackup, ExportToAPlaceThatCannotBeWrittenSaysSo)
{
    ScriptedFilePanels panel;
    SettingsBackup backup;
    writeFile(TestHome::path() + "/file", "x");
    backup.exportSettings();
    panel.choose(TestHome::path() + "/file/Vorna-Settings.json");
    ASSERT_TRUE(backup.status());
    EXPECT_TRUE(backup.status()->startsWith("Export failed: ")) << backup.status()->toStdString();
    EXPECT_GT(backup.status()->size(), QString("Export failed: ").size());
}

// The export's document written in full can still fail to take the file's
// place: here the folder lets no file be replaced. That is no export.
TEST(SettingsBackup, ExportThatCannotTakeTheFilesPlaceSaysSo)
{
    ScriptedFilePanels panel;
    SettingsBackup backup;
    const QString folder = TestHome::path() + "/Exports";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString target = folder + "/Vorna-Settings.json";
    writeFile(target, "an older export");
    if (!setAppendOnly(folder, true))
        GTEST_SKIP() << "cannot make a folder append-only here";
    backup.exportSettings();
    panel.choose(target);
    setAppendOnly(folder, false);
    ASSERT_TRUE(backup.status());
    EXPECT_TRUE(backup.status()->startsWith("Export failed: ")) << backup.status()->toStdString();
    EXPECT_EQ(readFile(target), "an older export");
}

// The export used to be a copy of the mirror file: when the mirror could not
// be rewritten, the user got the previous settings and a success message.
TEST(SettingsBackup, ExportIsCurrentEvenWhenTheMirrorCannotBeWritten)
{
    ScriptedFilePanels panel;
    SettingsBackup backup;
    UserDefaults &d = UserDefaults::standard();
    d.setDouble("jpegQuality", 0.5);
    const QString mirror = SettingsPersistence::shared().fileURL();
    ASSERT_TRUE(SettingsPersistence::shared().writeSettingsFile());
    const QByteArray stale = readFile(mirror);

    d.setDouble("jpegQuality", 0.9);
    d.setString("saveDirectory", QString(400, 'x'));
    // Writes beyond a few bytes now fail (as on a full disk); the mirror stays stale.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved = {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit tiny = saved;
    tiny.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    backup.exportSettings();
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
    ASSERT_EQ(readFile(mirror), stale);

    const QString target = TestHome::path() + "/out.json";
    panel.choose(target);
    EXPECT_EQ(backup.status(), "Exported to " + target);
    const QJsonObject values = valuesOf(readFile(target));
    EXPECT_EQ(values.value("jpegQuality").toDouble(), 0.9);
    EXPECT_EQ(values.value("saveDirectory").toString(), QString(400, 'x'));
}

// A file that could not be read used to leave the previous "Imported N"
// in place, which read as this import's success.
TEST(SettingsBackup, ImportOfAnUnreadableFileSaysSoAndChangesNothing)
{
    ScriptedFilePanels panel;
    SettingsBackup backup;
    const QString good = TestHome::path() + "/good.json";
    writeFile(good, R"({"values":{"countdownSeconds":4}})");
    backup.importSettings();
    panel.choose(good);
    ASSERT_TRUE(backup.status() && backup.status()->startsWith("Imported 1"));

    UserDefaults::standard().setInteger("countdownSeconds", 9);
    const QString folder = TestHome::path() + "/a-folder.json";
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const QString &path : {TestHome::path() + "/missing.json", folder}) {
        backup.importSettings();
        panel.choose(path);
        ASSERT_TRUE(backup.status());
        EXPECT_TRUE(backup.status()->startsWith("Could not read the file: ")) << backup.status()->toStdString();
        EXPECT_EQ(UserDefaults::standard().integerForKey("countdownSeconds"), 9);
    }
}

// A named pipe chosen as the import file held the window in open() until
// someone wrote to it. Here a writer comes after two seconds, only to free a
// stuck import: the import must have answered long before.
TEST(SettingsBackup, ImportOfANamedPipeAnswersAtOnceAndChangesNothing)
{
    ScriptedFilePanels panel;
    SettingsBackup backup;
    UserDefaults::standard().setInteger("countdownSeconds", 9);
    const QString fifo = TestHome::path() + "/pipe.json";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    std::mutex mutex;
    std::condition_variable cv;
    bool answered = false;
    bool hadToFreeIt = false;
    std::thread writer([&] {
        std::unique_lock lock(mutex);
        if (cv.wait_for(lock, std::chrono::seconds(2), [&] { return answered; }))
            return;
        hadToFreeIt = true;
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
        if (fd >= 0)
            ::close(fd);
    });
    backup.importSettings();
    panel.choose(fifo);
    {
        std::lock_guard lock(mutex);
        answered = true;
    }
    cv.notify_one();
    writer.join();

    EXPECT_FALSE(hadToFreeIt) << "the import waited for a writer";
    ASSERT_TRUE(backup.status());
    EXPECT_TRUE(backup.status()->startsWith("Could not read the file: ")) << backup.status()->toStdString();
    EXPECT_EQ(UserDefaults::standard().integerForKey("countdownSeconds"), 9);
}

TEST(SettingsBackup, ImportReportsCountOrRefusal)
{
    ScriptedFilePanels panel;
    SettingsBackup backup;
    const QString good = TestHome::path() + "/good.json";
    writeFile(good, R"({"values":{"playSound":false,"countdownSeconds":4,"AppleLanguages":["de"]}})");
    backup.importSettings();
    ASSERT_EQ(panel.openRequests.size(), 1);
    EXPECT_EQ(panel.openRequests[0].mimeTypeFilters, QStringList{"application/json"});
    panel.choose(good);
    EXPECT_EQ(backup.status(), "Imported 2 setting(s). Relaunch Vorna so language and shortcuts fully apply.");
    EXPECT_EQ(UserDefaults::standard().integerForKey("countdownSeconds"), 4);

    for (const QByteArray &bytes : {QByteArray("[]"), QByteArray("{\"version\":1}"), QByteArray("plain text")}) {
        writeFile(good, bytes);
        backup.importSettings();
        panel.choose(good);
        EXPECT_EQ(backup.status(), "Not a valid Vorna settings file.") << bytes.toStdString();
    }

    writeFile(good, R"({"version":7,"values":{"hotkeys":1}})");
    backup.importSettings();
    panel.choose(good);
    EXPECT_EQ(backup.status(), "Imported 0 setting(s). Relaunch Vorna so language and shortcuts fully apply.");
}

} // namespace
