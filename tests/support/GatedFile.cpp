#include "support/GatedFile.h"

#include "support/UiThreadProbe.h"

#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <unistd.h>

GatedFile::GatedFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return;
    file.close();
    m_fd = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK, O_RDONLY | O_LARGEFILE);
    if (m_fd < 0)
        return;
    if (::fanotify_mark(m_fd, FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD, QFile::encodeName(path).constData()) != 0) {
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_watcher = std::thread([this] { watch(); });
}

GatedFile::~GatedFile()
{
    m_stop = true;
    if (m_watcher.joinable())
        m_watcher.join();
    if (m_fd >= 0)
        ::close(m_fd); // lets any open still waiting through
}

void GatedFile::watch()
{
    alignas(fanotify_event_metadata) char buffer[4096];
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        auto *event = reinterpret_cast<fanotify_event_metadata *>(buffer);
        for (ssize_t left = n; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
            if ((event->mask & FAN_OPEN_PERM) && m_refusing) {
                const fanotify_response answer{event->fd, FAN_DENY};
                (void)!::write(m_fd, &answer, sizeof answer);
            } else if (event->mask & FAN_OPEN_PERM) {
                ++m_openersSeen;
                if (!uiThreadAnswers(30000))
                    m_uiThreadWaited = true;
                const fanotify_response answer{event->fd, FAN_ALLOW};
                (void)!::write(m_fd, &answer, sizeof answer);
                ++m_opens;
            }
            if (event->fd >= 0)
                ::close(event->fd);
        }
    }
}
