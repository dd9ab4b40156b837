#include "platform/FileOps.h"

#include "platform/FileSystemCall.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool FileOps::makeFolder(const QString &path, QString *error)
{
    const FileSystemCall mark;
    if (QFileInfo(path).isDir())
        return true;
    if (QDir().mkpath(path) && QFileInfo(path).isDir())
        return true;
    // mkpath gives no reason; one more mkdir tells it (ENOTDIR when a file
    // stands where a folder should be, EACCES, ...).
    const int rc = ::mkdir(QFile::encodeName(path).constData(), 0777);
    const int err = errno;
    if (rc == 0)
        return true;
    if (error) {
        if (err == EEXIST)
            *error = QStringLiteral("%1: File exists and is not a folder").arg(path);
        else
            *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(err)));
    }
    return false;
}

bool FileOps::writeAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    return writeAtomicallyFrom(
        path,
        [&bytes](QIODevice &out, QString *) {
            // In parts, so that a slow disk taking them one after another
            // is seen to make progress.
            constexpr qsizetype kChunk = qsizetype(4) << 20;
            for (qsizetype at = 0; at < bytes.size(); at += kChunk) {
                const qsizetype size = std::min(kChunk, bytes.size() - at);
                if (FileSystemCall::run([&] { return out.write(bytes.constData() + at, size); }) != size)
                    return false;
            }
            return true;
        },
        error);
}

bool FileOps::writeAtomicallyFrom(const QString &path, const ContentWriter &writeContent, QString *error)
{
    QSaveFile file(path);
    if (!FileSystemCall::run([&] { return file.open(QIODevice::WriteOnly); })) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    // Qt gives no reason for a write that stopped part way; the system
    // does (a full disk, a quota).
    const auto systemReason = [&file](int cause) {
        return cause != 0 ? QString::fromLocal8Bit(std::strerror(cause)) : file.errorString();
    };
    QString reason;
    bool failed = true;
    errno = 0;
    if (!writeContent(file, &reason)) {
        if (reason.isEmpty())
            reason = systemReason(errno);
    } else if (errno = 0; !FileSystemCall::run([&] { return file.flush(); })) {
        // Qt holds small writes back: one cut short (a full disk) only
        // shows here. commit() would put the short file in place and, on
        // some Qt versions, report success.
        reason = systemReason(errno);
    } else if (FileSystemCall::run([&] { return ::fsync(file.handle()); }) != 0) {
        // commit() syncs too, but does not say when that fails.
        reason = systemReason(errno);
    } else {
        failed = false;
    }
    if (failed) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, reason);
        FileSystemCall::run([&] { file.cancelWriting(); });
        return false;
    }
    if (!FileSystemCall::run([&] { return file.commit(); })) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool FileOps::openRegularFile(const QString &path, QFile &file, QString *error)
{
    const FileSystemCall mark;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (error)
            *error = QStringLiteral("not a regular file");
        return false;
    }
    // Reads of a regular file block as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool FileOps::readAtMost(const QString &path, qint64 maxBytes, QByteArray *out, QString *error)
{
    QFile file;
    if (!openRegularFile(path, file, error))
        return false;
    // The size is checked on what is read, not only on what the file system
    // says: a growing file has no size to trust.
    if (file.size() > maxBytes) {
        if (error)
            *error = QStringLiteral("the file is larger than %1 bytes").arg(maxBytes);
        return false;
    }
    QByteArray bytes;
    for (;;) {
        const QByteArray chunk = FileSystemCall::run([&] { return file.read(64 * 1024); });
        if (file.error() != QFileDevice::NoError) {
            if (error)
                *error = file.errorString();
            return false;
        }
        if (chunk.isEmpty())
            break;
        if (bytes.size() + chunk.size() > maxBytes) {
            if (error)
                *error = QStringLiteral("the file is larger than %1 bytes").arg(maxBytes);
            return false;
        }
        bytes.append(chunk);
    }
    *out = bytes;
    return true;
}

QString FileOps::asideName(const QString &path)
{
    const QString base = path + QStringLiteral(".unreadable-")
                         + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    // Numbered past the highest number taken in the same second, never into
    // a gap that removing older ones left, so the names keep the order in
    // which the files were kept aside.
    const QFileInfo info(base);
    const QString prefix = info.fileName();
    int highest = 0;
    const QStringList names = QDir(info.absolutePath())
                                  .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        if (name == prefix) {
            highest = std::max(highest, 1);
        } else if (name.startsWith(prefix + QLatin1Char('-'))) {
            bool ok = false;
            const int n = name.mid(prefix.size() + 1).toInt(&ok);
            if (ok && n > 0)
                highest = std::max(highest, n);
        }
    }
    QString candidate = highest == 0 ? base : base + QStringLiteral("-%1").arg(highest + 1);
    for (int n = highest + 2; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++n)
        candidate = base + QStringLiteral("-%1").arg(n);
    return candidate;
}

void FileOps::pruneAside(const QString &path, int keep, const QString &justKept)
{
    const QFileInfo info(path);
    // The whole name must match (no "$", which would let a trailing line feed through).
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(info.fileName()) + QStringLiteral("\\.unreadable-(\\d{8}-\\d{6})(?:-(\\d+))?")));
    struct Aside
    {
        QString name;
        QString stamp;
        int number;
    };
    const QString justKeptName = justKept.isEmpty() ? QString() : QFileInfo(justKept).fileName();
    bool justKeptFound = false;
    QList<Aside> found;
    const QStringList names = QDir(info.absolutePath())
                                  .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const QRegularExpressionMatch m = pattern.match(name);
        if (!m.hasMatch())
            continue;
        if (name == justKeptName)
            justKeptFound = true; // stays, and takes one of the places
        else
            found.append({name, m.captured(1), m.captured(2).isEmpty() ? 1 : m.captured(2).toInt()});
    }
    const qsizetype others = std::max(keep - (justKeptFound ? 1 : 0), 0);
    if (found.size() <= others)
        return;
    // The last set aside first: by the time in the name, then by its number
    // ("-10" came after "-9", though it sorts before it as text). A time
    // still to come cannot be when a copy was set aside: such copies count
    // as set aside before any other.
    const QString now = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    std::sort(found.begin(), found.end(), [&now](const Aside &a, const Aside &b) {
        const bool aBelievable = a.stamp <= now;
        const bool bBelievable = b.stamp <= now;
        if (aBelievable != bBelievable)
            return aBelievable;
        return a.stamp != b.stamp ? a.stamp > b.stamp : a.number > b.number;
    });
    for (qsizetype i = others; i < found.size(); ++i) {
        const QString old = info.absolutePath() + QLatin1Char('/') + found.at(i).name;
        if (!QFileInfo(old).isDir() || QFileInfo(old).isSymLink())
            ::unlink(QFile::encodeName(old).constData());
    }
}
