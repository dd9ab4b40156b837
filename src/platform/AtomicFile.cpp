#include "platform/AtomicFile.h"

#include "platform/FileOps.h"
#include "platform/FileSystemCall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxAttempts = 10000;

// ".vorna-" + 16 lower-case hexadecimal digits + ".tmp".
QString temporaryName(quint64 random)
{
    return QStringLiteral(".vorna-%1.tmp").arg(random, 16, 16, QLatin1Char('0'));
}

bool isTemporaryName(const QString &name)
{
    // The whole name: "$" alone would also match before a final newline.
    static const QRegularExpression form(
        QRegularExpression::anchoredPattern(QStringLiteral("\\.vorna-[0-9a-f]{16}\\.tmp")));
    return form.match(name).hasMatch();
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Creates a new, uniquely named file in folder with the default permissions
// (0666 less the umask, like any other new file). Returns its descriptor.
int createTemporary(const QString &folder, QByteArray *path)
{
    for (int i = 0; i < 100; ++i) {
        const QString name = temporaryName(QRandomGenerator::global()->generate64());
        *path = QFile::encodeName(QDir(folder).filePath(name));
        const int fd = FileSystemCall::run(
            [&] { return ::open(path->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Written in parts, so that a slow disk that takes them one after another
// is seen to make progress.
constexpr qsizetype kWriteChunk = qsizetype(4) << 20;

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = FileSystemCall::run([&] { return ::write(fd, p, size_t(std::min(left, kWriteChunk))); });
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// Gives the temporary file the name target unless a file has that name.
// 0 on success, otherwise the errno (EEXIST: the name is taken).
int linkNoReplace(const QByteArray &temporary, const QByteArray &target)
{
    const FileSystemCall mark;
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
#endif
    // File systems without renameat2: a hard link fails on a taken name too.
    if (::link(temporary.constData(), target.constData()) != 0)
        return errno;
    ::unlink(temporary.constData());
    return 0;
}

} // namespace

QString AtomicFile::writeNew(const QString &folder, const QByteArray &bytes,
                             const std::function<QString(int)> &nameForAttempt, QString *errorText)
{
    QByteArray temporary;
    const int fd = createTemporary(folder, &temporary);
    if (fd < 0) {
        *errorText = systemError(errno);
        return QString();
    }
    bool ok = writeAll(fd, bytes) && FileSystemCall::run([fd] { return ::fsync(fd); }) == 0;
    int error = ok ? 0 : errno;
    if (FileSystemCall::run([fd] { return ::close(fd); }) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        FileSystemCall::run([&] { return ::unlink(temporary.constData()); });
        *errorText = systemError(error);
        return QString();
    }
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
        const QString path = QDir(folder).filePath(nameForAttempt(attempt));
        const int result = linkNoReplace(temporary, QFile::encodeName(path));
        if (result == 0)
            return path;
        if (result != EEXIST) {
            FileSystemCall::run([&] { return ::unlink(temporary.constData()); });
            *errorText = systemError(result);
            return QString();
        }
    }
    FileSystemCall::run([&] { return ::unlink(temporary.constData()); });
    *errorText = systemError(EEXIST);
    return QString();
}

bool AtomicFile::copyReplacing(const QString &source, const QString &destination, QString *errorText)
{
    QFile in(source);
    if (!FileSystemCall::run([&] { return in.open(QIODevice::ReadOnly); })) {
        *errorText = in.errorString();
        return false;
    }
    constexpr qint64 kChunk = qint64(1) << 20;
    return FileOps::writeAtomicallyFrom(
        destination,
        [&in](QIODevice &out, QString *reason) {
            while (!in.atEnd()) {
                const FileSystemCall mark; // a copy is file system work throughout
                const QByteArray buffer = in.read(kChunk);
                if (buffer.isEmpty() && in.error() != QFileDevice::NoError) {
                    *reason = in.errorString();
                    return false;
                }
                if (out.write(buffer) != buffer.size())
                    return false;
            }
            return true;
        },
        errorText);
}

int AtomicFile::removeStaleTemporaries(const QString &folder, const QDateTime &olderThan)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return 0;
    }
    const qint64 cutoff = olderThan.toSecsSinceEpoch();
    int removed = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (!isTemporaryName(QFile::decodeName(entry->d_name)))
            continue;
        struct stat st = {};
        // The entry itself, never what a link points to.
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_mtime >= cutoff)
            continue;
        if (::unlinkat(fd, entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir); // closes fd too
    return removed;
}
