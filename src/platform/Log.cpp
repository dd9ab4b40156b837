#include "platform/Log.h"

#include <QMutex>
#include <QStringList>
#include <cstdio>
#include <syslog.h>

namespace {
QMutex g_mutex;
QStringList *g_capture = nullptr;
bool g_syslogOpen = false;
bool g_quiet = false;
} // namespace

void setLogQuiet(bool quiet)
{
    QMutexLocker lock(&g_mutex);
    g_quiet = quiet;
}

void vlog(const QString &line)
{
    const QByteArray utf8 = line.toUtf8();
    QMutexLocker lock(&g_mutex);
    if (g_capture)
        g_capture->append(line);
    if (g_quiet)
        return;
    std::fprintf(stderr, "%s\n", utf8.constData());
    std::fflush(stderr);
    if (!g_syslogOpen) {
        openlog("vorna", LOG_PID, LOG_USER);
        g_syslogOpen = true;
    }
    syslog(LOG_INFO, "%s", utf8.constData());
}

LogCapture::LogCapture()
{
    QMutexLocker lock(&g_mutex);
    delete g_capture;
    g_capture = new QStringList;
}

LogCapture::~LogCapture()
{
    QMutexLocker lock(&g_mutex);
    delete g_capture;
    g_capture = nullptr;
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&g_mutex);
    return g_capture ? *g_capture : QStringList();
}

bool LogCapture::contains(const QString &fragment) const
{
    const QStringList all = lines();
    for (const QString &l : all)
        if (l.contains(fragment))
            return true;
    return false;
}
