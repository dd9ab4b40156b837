#include "support/SmallDisk.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

QString fillerPath(const QString &folder)
{
    return folder + QStringLiteral("/.filler");
}

} // namespace

SmallDisk::SmallDisk(const QString &folder, qint64 bytes) : m_folder(folder)
{
    QDir().mkpath(folder);
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
    if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) == 0)
        m_mounted = true;
    else
        m_error = QString::fromLocal8Bit(std::strerror(errno));
}

SmallDisk::~SmallDisk()
{
    if (m_mounted)
        ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
}

bool SmallDisk::fill(qint64 roomLeft)
{
    const int fd = ::open(QFile::encodeName(fillerPath(m_folder)).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    // Large pieces first, then smaller ones, down to single bytes.
    const QByteArray block(1 << 16, 'x');
    for (qsizetype piece = block.size(); piece > 0; piece /= 2) {
        while (::write(fd, block.constData(), size_t(piece)) == piece) {
        }
    }
    bool full = ::write(fd, "x", 1) < 0 && errno == ENOSPC;
    if (full && roomLeft > 0) {
        const off_t size = ::lseek(fd, 0, SEEK_END);
        full = size >= 0 && ::ftruncate(fd, std::max<off_t>(0, size - roomLeft)) == 0;
    }
    ::close(fd);
    return full;
}

void SmallDisk::free()
{
    QFile::remove(fillerPath(m_folder));
}
