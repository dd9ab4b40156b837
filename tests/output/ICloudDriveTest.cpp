// The cloud folder copy in the test's private home folder.

#include "output/ICloudDrive.h"
#include "support/TestHome.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

const char *const kDrive = "/Nextcloud";

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString driveFolder()
{
    return TestHome::path() + kDrive + "/Vorna";
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

TEST(ICloudDrive, WithoutTheDriveFolderThereIsNoCopy)
{
    const QString saved = TestHome::path() + "/Desktop/Vorna_2026-03-03_14-05-09.png";
    writeFile(saved, "png bytes");
    EXPECT_FALSE(iCloudDriveFolderURL().has_value());
    EXPECT_FALSE(copyToICloudDrive(saved).has_value());
    for (const QString &name : cloudFolderNames())
        EXPECT_FALSE(QFileInfo::exists(TestHome::path() + "/" + name)) << name.toStdString();

    // A file in place of the folder is not a cloud folder either.
    writeFile(TestHome::path() + kDrive, "not a folder");
    EXPECT_FALSE(iCloudDriveFolderURL().has_value());
    EXPECT_FALSE(copyToICloudDrive(saved).has_value());
}

TEST(ICloudDrive, TheFirstSyncFolderThatIsAFolderWins)
{
    const QString home = TestHome::path();
    ASSERT_TRUE(QDir().mkpath(home + "/Sync"));
    EXPECT_EQ(iCloudDriveFolderURL(), QUrl::fromLocalFile(home + "/Sync/Vorna"));
    ASSERT_TRUE(QDir().mkpath(home + "/Dropbox"));
    EXPECT_EQ(iCloudDriveFolderURL(), QUrl::fromLocalFile(home + "/Dropbox/Vorna"));
    // A link to a folder is the folder; a dangling link is nothing.
    ASSERT_TRUE(QFile::link(home + "/nowhere", home + "/Nextcloud"));
    EXPECT_EQ(iCloudDriveFolderURL(), QUrl::fromLocalFile(home + "/Dropbox/Vorna"));
    ASSERT_TRUE(QDir().mkpath(home + "/elsewhere/ownCloud"));
    ASSERT_TRUE(QFile::link(home + "/elsewhere/ownCloud", home + "/ownCloud"));
    EXPECT_EQ(iCloudDriveFolderURL(), QUrl::fromLocalFile(home + "/ownCloud/Vorna"));
}

TEST(ICloudDrive, CopiesIntoTheVornaFolderAndReplacesAnOlderCopy)
{
    ASSERT_TRUE(QDir().mkpath(TestHome::path() + kDrive));
    ASSERT_TRUE(iCloudDriveFolderURL().has_value());
    EXPECT_EQ(*iCloudDriveFolderURL(), QUrl::fromLocalFile(driveFolder()));
    // The folder is not created by asking for it.
    EXPECT_FALSE(QFileInfo::exists(driveFolder()));

    const QString saved = TestHome::path() + "/Desktop/Vorna_2026-03-03_14-05-09.png";
    writeFile(saved, "new screenshot");
    writeFile(driveFolder() + "/Vorna_2026-03-03_14-05-09.png", "older copy");
    const std::optional<QString> copy = copyToICloudDrive(saved);
    ASSERT_TRUE(copy.has_value());
    EXPECT_EQ(*copy, driveFolder() + "/Vorna_2026-03-03_14-05-09.png");
    EXPECT_EQ(readAll(*copy), "new screenshot");
    EXPECT_EQ(readAll(saved), "new screenshot");
    EXPECT_EQ(entries(driveFolder()), QStringList("Vorna_2026-03-03_14-05-09.png"));
}

TEST(ICloudDrive, AFailedCopyLosesNeitherTheOldCopyNorTheSavedFile)
{
    ASSERT_TRUE(QDir().mkpath(TestHome::path() + kDrive));
    const QString name = "Vorna_2026-03-03_14-05-09.png";
    writeFile(driveFolder() + "/" + name, "older copy");

    // The source cannot be read.
    EXPECT_FALSE(copyToICloudDrive(TestHome::path() + "/Desktop/" + name).has_value());
    EXPECT_EQ(readAll(driveFolder() + "/" + name), "older copy");
    EXPECT_EQ(entries(driveFolder()), QStringList(name));

    // The destination cannot be replaced (a folder has the name).
    const QString saved = TestHome::path() + "/Desktop/Vorna_2026-03-03_14-05-10.png";
    writeFile(saved, "new screenshot");
    ASSERT_TRUE(QDir().mkpath(driveFolder() + "/Vorna_2026-03-03_14-05-10.png"));
    EXPECT_FALSE(copyToICloudDrive(saved).has_value());
    EXPECT_EQ(readAll(saved), "new screenshot");
    EXPECT_TRUE(QFileInfo(driveFolder() + "/Vorna_2026-03-03_14-05-10.png").isDir());
    EXPECT_EQ(entries(driveFolder()).size(), 2);

    // The Vorna folder cannot be made (a file is in its place).
    QDir(driveFolder()).removeRecursively();
    writeFile(driveFolder(), "in the way");
    EXPECT_FALSE(copyToICloudDrive(saved).has_value());
    EXPECT_EQ(readAll(saved), "new screenshot");
}

TEST(ICloudDrive, AFileSavedIntoTheDriveFolderIsKept)
{
    // With the save folder set to the cloud folder itself, source and copy
    // are one file; it must not be removed or truncated.
    ASSERT_TRUE(QDir().mkpath(driveFolder()));
    const QString saved = driveFolder() + "/Vorna_2026-03-03_14-05-09.png";
    writeFile(saved, "the only copy");
    const std::optional<QString> copy = copyToICloudDrive(saved);
    ASSERT_TRUE(copy.has_value());
    EXPECT_EQ(*copy, saved);
    EXPECT_EQ(readAll(saved), "the only copy");
}
