#pragma once

// Helpers the benchmarks share: a private home folder, resident memory of this
// process, a desktop-like picture to capture, percentiles of timing samples,
// an offscreen screen of a given size, a real X screen, and a probe of the UI
// thread's stalls.

#include "BenchXServer.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <csignal>
#include <initializer_list>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace BenchSupport {

// The 1-minute load average of the machine; -1 when unknown.
inline double loadAverage()
{
    double load[1] = {0};
    return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

// CPU time this process has used, all its threads, in milliseconds.
inline double processCpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Processes that keep every core busy at normal priority, as a build or a
// video does, for as long as this object lives: one a core (or count). They
// are programs of their own (a shell's loop), not forks of this
// process, which would share its memory copy-on-write and make each of its
// first writes to a page cost every core it runs on a flush.
class BusyCores
{
public:
    explicit BusyCores(int count = int(::sysconf(_SC_NPROCESSORS_ONLN)))
    {
        // The loop ends with this process, however it ends.
        const std::string loop = "while kill -0 " + std::to_string(::getpid()) + " 2>/dev/null; do :; done";
        char *argv[] = {const_cast<char *>("sh"), const_cast<char *>("-c"), const_cast<char *>(loop.c_str()),
                        nullptr};
        for (int i = 0; i < count; ++i) {
            pid_t pid = -1;
            if (::posix_spawnp(&pid, "sh", nullptr, nullptr, argv, environ) == 0)
                m_pids.push_back(pid);
        }
    }
    ~BusyCores()
    {
        for (pid_t pid : m_pids)
            ::kill(pid, SIGKILL);
        for (pid_t pid : m_pids)
            ::waitpid(pid, nullptr, 0);
    }
    BusyCores(const BusyCores &) = delete;
    BusyCores &operator=(const BusyCores &) = delete;
    int count() const { return int(m_pids.size()); }

private:
    std::vector<pid_t> m_pids;
};

// CPU time this thread has used, in milliseconds.
inline double threadCpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// The time the thread that first calls this has waited on a run queue for a
// core, in milliseconds (the scheduler's run delay); -1 where the system
// keeps none. The file stays open: the probe reads it every few ms.
inline double threadRunDelayMs()
{
    static const int fd = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    char text[128];
    const ssize_t n = fd < 0 ? -1 : ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return -1;
    text[n] = 0;
    char *end = nullptr;
    std::strtoull(text, &end, 10); // time on a core
    const unsigned long long waiting = std::strtoull(end, nullptr, 10);
    return waiting / 1e6;
}

// The UI thread's longest stall: a precise timer fires every periodMs, and
// the longest wait between firings beyond the period is a stall. The wall
// clock also counts time the system gave to other processes. Of the longest
// stall, the probe keeps the thread's own CPU time (the work that held it)
// and the time it waited for a core; the rest it slept (for the X server, a
// lock, another thread).
class UiStallProbe
{
public:
    explicit UiStallProbe(int periodMs) : m_periodMs(periodMs)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { tick(); });
    }
    void start()
    {
        m_longestMs = m_longestCpuMs = m_longestRunDelayMs = 0;
        m_lastNs = 0;
        m_lastCpuMs = threadCpuMs();
        m_lastRunDelayMs = threadRunDelayMs();
        m_clock.start();
        m_timer.start(m_periodMs);
    }
    // Stops, counting the time since the last firing as well.
    void stop()
    {
        tick();
        m_timer.stop();
    }
    double longestMs() const { return m_longestMs; }
    // Of the longest stall: CPU time, and time waiting for a core.
    double longestCpuMs() const { return m_longestCpuMs; }
    double longestRunDelayMs() const { return m_longestRunDelayMs; }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const double cpu = threadCpuMs();
        const double delay = threadRunDelayMs();
        const double stall = (now - m_lastNs) / 1e6 - m_periodMs;
        if (stall > m_longestMs) {
            m_longestMs = stall;
            m_longestCpuMs = cpu - m_lastCpuMs;
            m_longestRunDelayMs = delay - m_lastRunDelayMs;
        }
        m_lastNs = now;
        m_lastCpuMs = cpu;
        m_lastRunDelayMs = delay;
    }

    int m_periodMs;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastNs = 0;
    double m_lastCpuMs = 0;
    double m_lastRunDelayMs = 0;
    double m_longestMs = 0;
    double m_longestCpuMs = 0;
    double m_longestRunDelayMs = 0;
};

// Points HOME and the XDG folders (config, data, cache, runtime) and TMPDIR
// into root, creating them; extra names further folders to create there.
inline void pointXdgAt(const QString &root, std::initializer_list<const char *> extra = {})
{
    const QByteArray r = root.toUtf8();
    for (const char *sub : {"config", "data", "cache", "tmp", "runtime"})
        QDir(root).mkpath(QString::fromLatin1(sub));
    for (const char *sub : extra)
        QDir(root).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(root + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setenv("HOME", r.constData(), 1);
    setenv("XDG_CONFIG_HOME", (r + "/config").constData(), 1);
    setenv("XDG_DATA_HOME", (r + "/data").constData(), 1);
    setenv("XDG_CACHE_HOME", (r + "/cache").constData(), 1);
    setenv("TMPDIR", (r + "/tmp").constData(), 1);
    setenv("XDG_RUNTIME_DIR", (r + "/runtime").constData(), 1);
}

// A field of /proc/self/status in kB, for example "VmRSS:" or "VmHWM:"; -1
// when it cannot be read.
inline qint64 statusKb(const char *field)
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    return -1;
}

// Where paintDesktop puts its windows: each window's top-left corner within
// [0, origin) and its size minSize plus up to sizeSpread.
struct DesktopWindows
{
    QSize origin;
    QSize minSize;
    QSize sizeSpread;
};

// Paints img like a desktop: a gradient, six windows with rows of "text", then
// noisePixels pixels of random colour, so the PNG compresses like a real
// screenshot rather than a flat fill. rng decides the layout and the noise.
inline void paintDesktop(QImage &img, QRandomGenerator &rng, const DesktopWindows &windows, int noisePixels)
{
    QPainter p(&img);
    QLinearGradient g(0, 0, img.width(), img.height());
    g.setColorAt(0, QColor(40, 70, 120));
    g.setColorAt(1, QColor(140, 60, 90));
    p.fillRect(img.rect(), g);
    for (int w = 0; w < 6; ++w) {
        const QRect r(rng.bounded(windows.origin.width()), rng.bounded(windows.origin.height()),
                      windows.minSize.width() + rng.bounded(windows.sizeSpread.width()),
                      windows.minSize.height() + rng.bounded(windows.sizeSpread.height()));
        p.fillRect(r, QColor(245, 245, 245));
        p.fillRect(QRect(r.topLeft(), QSize(r.width(), 40)), QColor(220, 220, 225));
        for (int y = r.top() + 60; y < r.bottom() - 20; y += 28)
            for (int x = r.left() + 20; x < r.right() - 60; x += 14 + rng.bounded(30))
                p.fillRect(QRect(x, y, 8 + rng.bounded(40), 14), QColor(30, 30, 30));
    }
    p.end();
    for (int i = 0; i < noisePixels; ++i)
        img.setPixel(rng.bounded(img.width()), rng.bounded(img.height()),
                     qRgb(rng.bounded(256), rng.bounded(256), rng.bounded(256)));
}

// The p-th fraction (0..1) of samples that are sorted ascending; not empty.
inline double percentile(const std::vector<double> &sorted, double p)
{
    return sorted[std::min(sorted.size() - 1, size_t(p * sorted.size()))];
}

// Sorts samples (milliseconds) and reports p50_ms, p99_ms and max_ms.
inline void reportPercentiles(benchmark::State &state, std::vector<double> &samples)
{
    std::sort(samples.begin(), samples.end());
    state.counters["p50_ms"] = percentile(samples, 0.50);
    state.counters["p99_ms"] = percentile(samples, 0.99);
    state.counters["max_ms"] = samples.back();
}

// Runs the registered benchmarks on Qt's offscreen platform with one screen
// of width x height logical pixels named screenName. App is the application
// class (QApplication, QGuiApplication).
template <typename App>
int runOnOffscreenScreen(int argc, char **argv, const char *screenName, int width, int height)
{
    const QString config = QDir::tempPath() + QStringLiteral("/vorna-bench-screen-%1.json").arg(qint64(::getpid()));
    QFile file(config);
    if (file.open(QIODevice::WriteOnly))
        file.write(QStringLiteral(R"({"screens":[{"name":"%1","x":0,"y":0,"width":%2,"height":%3,"logicalDpi":96}]})")
                       .arg(QString::fromLatin1(screenName))
                       .arg(width)
                       .arg(height)
                       .toUtf8());
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config));
    App app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    QFile::remove(config);
    return 0;
}

// Makes Qt use a real X screen: the one DISPLAY names, or else a private Xvfb
// of 2880 x 1800 pixels; at a scale factor of 2 unless QT_SCALE_FACTOR says
// otherwise. False (with a message) when no X server could be started.
inline bool useXScreen()
{
    if (!std::getenv("DISPLAY") && !BenchXServer::start("2880x1800x24")) {
        std::fprintf(stderr, "could not start Xvfb\n");
        return false;
    }
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    if (!std::getenv("QT_SCALE_FACTOR"))
        ::setenv("QT_SCALE_FACTOR", "2", 1);
    return true;
}

} // namespace BenchSupport
