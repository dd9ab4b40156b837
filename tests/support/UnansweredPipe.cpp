#include "support/UnansweredPipe.h"

#include <QElapsedTimer>
#include <QFile>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

UnansweredPipe::UnansweredPipe(const QString &path, int patienceMs) : m_path(path)
{
    m_valid = ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    if (m_valid)
        m_watchdog = std::thread([this, patienceMs] { watch(patienceMs); });
}

UnansweredPipe::~UnansweredPipe()
{
    m_stop = true;
    if (m_watchdog.joinable())
        m_watchdog.join();
    struct stat st = {};
    const QByteArray name = QFile::encodeName(m_path);
    if (::lstat(name.constData(), &st) == 0 && S_ISFIFO(st.st_mode))
        ::unlink(name.constData());
}

void UnansweredPipe::watch(int patienceMs)
{
    QElapsedTimer clock;
    clock.start();
    const QByteArray name = QFile::encodeName(m_path);
    while (!m_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (clock.elapsed() < patienceMs)
            continue;
        // Opening the writing end without waiting works only while a reader
        // has the pipe open; closing it again hands that reader an end of file.
        const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st = {};
        if (::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode))
            m_heldSomeone = true;
        ::close(fd);
    }
}
