#include "platform/AppPaths.h"
#include "platform/Log.h"
#include "services/LauncherManifest.h"
#include "support/UnansweredPipe.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

QString providersDir()
{
    return AppPaths::dataHome() + "/Dovrelin/providers";
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray expectedManifest(const QByteArray &id)
{
    auto action = [](const char *mode, const char *subtitle, const char *image, const char *title) {
        return QByteArray("    {\n      \"id\" : \"") + mode + "\",\n      \"subtitle\" : \"" + subtitle
               + "\",\n      \"systemImage\" : \"" + image + "\",\n      \"title\" : \"" + title
               + "\",\n      \"url\" : \"vorna:\\/\\/capture?mode=" + mode + "\"\n    }";
    };
    return "{\n  \"actions\" : [\n"
           + action("fullscreen", "Capture the entire screen", "rectangle.dashed", "Full Screen Capture") + ",\n"
           + action("window", "Pick a window to capture", "macwindow", "Window Capture") + ",\n"
           + action("region", "Drag a rectangle to capture", "rectangle.dashed.badge.record", "Region Capture")
           + ",\n" + action("scrolling", "Capture a long, scrolling page", "scroll", "Scrolling Capture") + ",\n"
           + action("timed", "Capture after a short countdown", "timer", "Timed Capture")
           + "\n  ],\n  \"bundleIdentifier\" : \"" + id + "\",\n  \"displayName\" : \"Vorna\",\n"
             "  \"schemaVersion\" : 1\n}";
}

struct stat statOf(const QString &path)
{
    struct stat st = {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

} // namespace

TEST(LauncherManifest, WritesTheExactBytesUnderTheFallbackIdentifier)
{
    ASSERT_TRUE(QGuiApplication::desktopFileName().isEmpty());
    EXPECT_EQ(LauncherManifest::launcherProvidersDirectory(), providersDir());
    LauncherManifest::writeLauncherManifest();
    const QString path = providersDir() + "/" VORNA_APP_ID ".json";
    EXPECT_EQ(readFile(path), expectedManifest(VORNA_APP_ID));
    EXPECT_EQ(QDir(providersDir()).entryList(QDir::Files), QStringList{VORNA_APP_ID ".json"});
}

TEST(LauncherManifest, UsesTheApplicationIdentifierForContentAndName)
{
    QGuiApplication::setDesktopFileName("org.example.Shots");
    LauncherManifest::writeLauncherManifest();
    QGuiApplication::setDesktopFileName(QString());
    EXPECT_EQ(readFile(providersDir() + "/org.example.Shots.json"), expectedManifest("org.example.Shots"));
}

TEST(LauncherManifest, UnchangedFileIsNotRewrittenAndAChangedOneIsReplaced)
{
    LauncherManifest::writeLauncherManifest();
    const QString path = providersDir() + "/" VORNA_APP_ID ".json";
    QFile file(path);
    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-3);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
    file.close();
    const struct stat before = statOf(path);

    LauncherManifest::writeLauncherManifest();
    const struct stat after = statOf(path);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(QFileInfo(path).lastModified().toUTC().toSecsSinceEpoch(), old.toSecsSinceEpoch());

    // One byte edited by hand.
    QByteArray edited = readFile(path);
    edited[edited.indexOf("Vorna")] = 'W';
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(edited);
    file.close();
    LauncherManifest::writeLauncherManifest();
    EXPECT_EQ(readFile(path), expectedManifest(VORNA_APP_ID));
}

TEST(LauncherManifest, BlockedProvidersFolderIsLogged)
{
    QDir().mkpath(AppPaths::dataHome());
    QFile blocker(AppPaths::dataHome() + "/Dovrelin");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    LogCapture log;
    LauncherManifest::writeLauncherManifest();
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines()[0].startsWith("[Vorna] launcher: could not create providers dir: "));
    EXPECT_TRUE(QFileInfo(AppPaths::dataHome() + "/Dovrelin").isFile());
}

// A pipe in the manifest's place used to hold the UI thread at launch.
TEST(LauncherManifest, APipeInTheFilesPlaceIsReplacedWithoutWaiting)
{
    ASSERT_TRUE(QDir().mkpath(providersDir()));
    const QString path = providersDir() + "/" VORNA_APP_ID ".json";
    UnansweredPipe pipe(path);
    ASSERT_TRUE(pipe.isValid());
    LogCapture log;
    QElapsedTimer clock;
    clock.start();
    LauncherManifest::writeLauncherManifest();
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_FALSE(pipe.heldSomeone()) << "the manifest write waited on the pipe";
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();
    EXPECT_TRUE(QFileInfo(path).isFile());
    EXPECT_EQ(readFile(path), expectedManifest(VORNA_APP_ID));
}
