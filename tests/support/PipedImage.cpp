#include "support/PipedImage.h"

#include "support/UiThreadProbe.h"

#include <QFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

PipedImage::PipedImage(const QString &path, const QByteArray &bytes) : m_path(path), m_bytes(bytes)
{
    QFile::remove(path);
    m_valid = ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 && bytes.size() <= 65536;
    if (m_valid)
        m_server = std::thread([this] { serve(); });
}

PipedImage::~PipedImage()
{
    m_stop = true;
    if (m_server.joinable())
        m_server.join();
    QFile::remove(m_path);
}

void PipedImage::serve()
{
    // A reader that goes away early makes the write fail, not the process end.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    const QByteArray name = QFile::encodeName(m_path);
    while (!m_stop) {
        // Succeeds only while a reader is waiting in its open.
        const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) {
            QThread::msleep(1);
            continue;
        }
        ++*m_readersSeen;
        if (!uiThreadAnswers(30000))
            m_uiThreadWaited->store(true);
        // The bytes fit the pipe's buffer: one write, and the reader sees
        // the end once it has read them.
        qsizetype done = 0;
        while (done < m_bytes.size()) {
            const ssize_t n = ::write(fd, m_bytes.constData() + done, size_t(m_bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        ::close(fd);
        ++*m_served;
        QThread::msleep(1);
    }
}
