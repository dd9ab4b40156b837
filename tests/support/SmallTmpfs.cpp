#include "support/SmallTmpfs.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {
const char *const fillerName = "/.filler";
}

SmallTmpfs::SmallTmpfs(const QString &folder, int kilobytes) : m_folder(folder)
{
    QDir().mkpath(folder);
    const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k,mode=0700";
    if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) == 0)
        m_mounted = true;
    else
        m_error = QString::fromLocal8Bit(std::strerror(errno));
}

SmallTmpfs::~SmallTmpfs()
{
    if (m_mounted)
        ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
}

bool SmallTmpfs::fill()
{
    const int fd = ::open(QFile::encodeName(m_folder + fillerName).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                          0600);
    if (fd < 0)
        return false;
    // Large pieces first, then smaller ones into what is left of the last page.
    const QByteArray chunk(64 * 1024, 'x');
    bool full = true;
    for (qsizetype piece = chunk.size(); piece >= 1 && full; piece /= 16) {
        for (;;) {
            const ssize_t n = ::write(fd, chunk.constData(), size_t(piece));
            if (n > 0)
                continue; // a short write: the next one tells whether it is full
            full = n < 0 && errno == ENOSPC;
            break;
        }
    }
    ::close(fd);
    return full;
}

void SmallTmpfs::freeSpace()
{
    QFile::remove(m_folder + fillerName);
}
