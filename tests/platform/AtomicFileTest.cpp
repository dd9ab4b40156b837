#include "platform/AtomicFile.h"

#include "support/SmallDisk.h"
#include "support/TestHome.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Sets when the entry itself (a link, not what it points to) last changed.
bool setChanged(const QString &path, const QDateTime &when)
{
    const timespec times[2] = {{when.toSecsSinceEpoch(), 0}, {when.toSecsSinceEpoch(), 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool writeFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write("left over") == 9;
}

} // namespace

// What a run ended in the middle of a write left in a folder goes; a write
// going on now, and everything else in the folder, stays.
TEST(AtomicFile, RemovesOnlyItsOwnTemporaryFilesThatHaveStoodForAWhile)
{
    const QString folder = TestHome::path() + "/Shots";
    ASSERT_TRUE(QDir().mkpath(folder + "/inner"));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime hourAgo = now.addSecs(-3600);
    const QString stale = ".vorna-0123456789abcdef.tmp";
    const QStringList keptFiles = {
        ".vorna-fedcba9876543210.tmp",     // a write going on now
        ".vorna-0123456789ABCDEF.tmp",     // not a name it makes
        ".vorna-0123456789abcde.tmp",      // 15 digits
        ".vorna-0123456789abcdef.tmp.png", // a longer name
        ".vorna-0123456789abcdef.tmp\n",   // a newline after the name
        "x.vorna-0123456789abcdef.tmp",
        "Vorna_2024-05-01_10-00-00.png",
        "inner/.vorna-1111111111111111.tmp", // in a subfolder
        "target.png",
    };
    ASSERT_TRUE(writeFile(folder + "/" + stale));
    ASSERT_TRUE(setChanged(folder + "/" + stale, hourAgo));
    for (const QString &name : keptFiles) {
        ASSERT_TRUE(writeFile(folder + "/" + name)) << name.toStdString();
        if (name != keptFiles.first())
            ASSERT_TRUE(setChanged(folder + "/" + name, hourAgo));
    }
    // Things of the right name that are no regular file of its own.
    const QString link = folder + "/.vorna-2222222222222222.tmp";
    const QString pipe = folder + "/.vorna-3333333333333333.tmp";
    const QString dir = folder + "/.vorna-4444444444444444.tmp";
    const QString foreign = folder + "/.vorna-5555555555555555.tmp";
    ASSERT_TRUE(QFile::link(folder + "/target.png", link));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    ASSERT_TRUE(QDir().mkdir(dir));
    ASSERT_TRUE(writeFile(foreign));
    const bool otherOwner = ::chown(QFile::encodeName(foreign).constData(), ::geteuid() + 4242, ::getegid()) == 0;
    for (const QString &path : {link, pipe, dir, foreign})
        ASSERT_TRUE(setChanged(path, hourAgo));

    EXPECT_EQ(AtomicFile::removeStaleTemporaries(folder, now.addSecs(-600)), otherOwner ? 1 : 2);
    EXPECT_FALSE(QFileInfo::exists(folder + "/" + stale));
    for (const QString &name : keptFiles)
        EXPECT_TRUE(QFileInfo::exists(folder + "/" + name)) << name.toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(pipe));
    EXPECT_TRUE(QFileInfo(dir).isDir());
    EXPECT_EQ(QFileInfo::exists(foreign), otherOwner);

    // A folder that is not there is no error.
    EXPECT_EQ(AtomicFile::removeStaleTemporaries(folder + "/missing", now), 0);
}

// A copy into a cloud folder on a disk that fills up part way used to
// replace the older copy with the start of the file, and report success.
TEST(AtomicFile, ACopyCutShortByAFullDiskFailsAndLeavesTheOlderCopy)
{
    const QString drive = TestHome::path() + "/Nextcloud/Vorna";
    SmallDisk disk(drive, 64 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error().toStdString();
    const QString copy = drive + "/Vorna_2026-03-03_14-05-09.png";
    {
        QFile older(copy);
        ASSERT_TRUE(older.open(QIODevice::WriteOnly));
        ASSERT_EQ(older.write("older copy"), 10);
    }
    // Larger than the disk, but read in one piece: the write is cut short
    // rather than refused.
    QByteArray picture(256 * 1024, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(picture.data()), picture.size() / 4);
    const QString source = TestHome::path() + "/Desktop/Vorna_2026-03-03_14-05-09.png";
    ASSERT_TRUE(QDir().mkpath(QFileInfo(source).absolutePath()));
    {
        QFile saved(source);
        ASSERT_TRUE(saved.open(QIODevice::WriteOnly));
        ASSERT_EQ(saved.write(picture), picture.size());
    }

    QString error;
    EXPECT_FALSE(AtomicFile::copyReplacing(source, copy, &error));
    EXPECT_TRUE(error.contains("No space left on device")) << error.toStdString();
    QFile kept(copy);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("older copy"));
    EXPECT_EQ(QDir(drive).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"Vorna_2026-03-03_14-05-09.png"});

    // A picture that fits is copied whole.
    {
        QFile saved(source);
        ASSERT_TRUE(saved.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(saved.write(picture.left(16 * 1024)), 16 * 1024);
    }
    EXPECT_TRUE(AtomicFile::copyReplacing(source, copy, &error)) << error.toStdString();
    kept.close();
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), picture.left(16 * 1024));
}
