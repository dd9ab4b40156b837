// From a hot-key press to the saved PNG complete on disk, against scrot
// capturing and writing the same screen, and the longest stall of the UI
// thread while a capture runs.
//
// Run without DISPLAY and the bench starts its own server,
//   Xvfb -displayfd 3 -screen 0 2880x1800x24 -nolisten tcp
// and runs Qt with QT_SCALE_FACTOR=2 (1440 x 900 points, two pixels per
// point). A full-screen window of text and pictures, shown by a child
// process as another program's window would be, covers the screen. The
// whole program runs in this process with a private home folder; the key
// press is sent through XTest. Full screen has no double-press target here,
// so a press captures after the flow's own 0.2 s delay.
//
// The last benchmark runs the hot-key captures again with a clipboard
// manager, as many desktops have: another process that asks for every new
// clipboard content as PNG and reads it whole.
#include <benchmark/benchmark.h>

#include "BenchSupport.h"

#include "app/AppDelegate.h"
#include "app/CapturePipeline.h"
#include "capture/CaptureService.h"
#include "output/HistoryService.h"
#include "platform/IdleWork.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QRandomGenerator>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <ctime>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

AppDelegate *g_delegate = nullptr;
QString g_shots;
std::vector<double> g_hotKeyMs;
std::vector<double> g_scrotMs;
double g_maxStallMs = 0;
double g_maxStallCpuMs = 0;
std::vector<double> g_stallsMs;
std::vector<double> g_pipelineMs;
std::vector<double> g_readerStallsMs;
std::vector<double> g_readerReadMs;
int g_readerImages = 0;
int g_readerControl = -1; // a byte written here sets the clipboard reader going
int g_readerReport = -1;  // the size of each image it read, as a 64-bit number



// A desktop's worth of content: columns of text, a photo-like picture,
// gradients, charts and icons.
class ContentWindow : public QWidget
{
public:
    ContentWindow()
    {
        setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    // Drawn once; afterwards only the part the server asks for is copied.
    void paintEvent(QPaintEvent *event) override
    {
        const qreal ratio = devicePixelRatioF();
        if (m_content.isNull() || m_content.size() != size() * ratio) {
            m_content = QImage(size() * ratio, QImage::Format_RGB32);
            m_content.setDevicePixelRatio(ratio);
            QPainter p(&m_content);
            paintContent(p);
        }
        QPainter p(this);
        p.drawImage(event->rect(), m_content, QRectF(QRectF(event->rect()).topLeft() * ratio, QSizeF(event->rect().size()) * ratio));
    }

private:
    void paintContent(QPainter &p)
    {
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.fillRect(rect(), QColor(246, 246, 248));
        QRandomGenerator rng(42);
        static const char *words[] = {"capture", "screen", "window", "region", "history", "the", "of", "and",
                                      "preview", "editor", "save", "folder", "image", "format", "quality",
                                      "pixel", "point", "scroll", "timer", "menu", "shortcut", "press"};
        // Three columns of text.
        for (int col = 0; col < 3; ++col) {
            const int x0 = 20 + col * 300;
            p.fillRect(x0 - 8, 14, 290, height() - 28, Qt::white);
            int y = 36;
            for (int line = 0; y < height() - 30; ++line) {
                QFont f(QStringLiteral("DejaVu Sans"), line % 9 == 0 ? 15 : 10);
                f.setBold(line % 9 == 0);
                p.setFont(f);
                p.setPen(line % 9 == 0 ? QColor(20, 20, 30) : QColor(60, 60, 70));
                QString text;
                const int n = 5 + int(rng.bounded(6));
                for (int w = 0; w < n; ++w)
                    text += QString::fromLatin1(words[rng.bounded(int(std::size(words)))]) + QLatin1Char(' ');
                p.drawText(x0, y, text);
                y += line % 9 == 0 ? 24 : 15;
            }
        }
        // A photo: smooth colour noise.
        const QRect photo(930, 20, 490, 330);
        QImage img(photo.size() * devicePixelRatioF(), QImage::Format_RGB32);
        for (int yy = 0; yy < img.height(); ++yy) {
            auto *line = reinterpret_cast<QRgb *>(img.scanLine(yy));
            for (int xx = 0; xx < img.width(); ++xx) {
                const double u = xx / 37.0, v = yy / 29.0;
                const int r = int(128 + 90 * std::sin(u) * std::cos(v * 0.7) + rng.bounded(24));
                const int g = int(120 + 80 * std::sin(u * 0.5 + v) + rng.bounded(24));
                const int b = int(110 + 100 * std::cos(u * 0.3 - v * 0.6) + rng.bounded(24));
                line[xx] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
            }
        }
        img.setDevicePixelRatio(devicePixelRatioF());
        p.drawImage(photo.topLeft(), img);
        // Gradients and a bar chart.
        QLinearGradient grad(930, 370, 1420, 520);
        grad.setColorAt(0, QColor(40, 110, 240));
        grad.setColorAt(1, QColor(240, 80, 140));
        p.fillRect(QRect(930, 370, 490, 150), grad);
        for (int i = 0; i < 16; ++i) {
            const int h = 30 + int(rng.bounded(300));
            p.fillRect(QRect(940 + i * 30, 880 - h, 22, h), QColor::fromHsv(i * 22, 160, 220));
        }
        // Icons.
        for (int i = 0; i < 12; ++i) {
            p.setBrush(QColor::fromHsv(i * 30, 200, 230));
            p.setPen(QPen(Qt::black, 1.5));
            p.drawRoundedRect(QRectF(940 + i * 40, 540, 32, 32), 7, 7);
        }
    }

    QImage m_content;
};

void fakeKey(xcb_connection_t *c, xcb_window_t root, quint8 type, quint8 keycode)
{
    xcb_test_fake_input(c, type, keycode, XCB_CURRENT_TIME, root, 0, 0, 0);
}

// Ctrl+Shift+1 through XTest, as a keyboard would send it.
void pressHotKey(xcb_connection_t *c, xcb_window_t root)
{
    constexpr quint8 control = 37, shift = 50, one = 10;
    fakeKey(c, root, XCB_KEY_PRESS, control);
    fakeKey(c, root, XCB_KEY_PRESS, shift);
    fakeKey(c, root, XCB_KEY_PRESS, one);
    fakeKey(c, root, XCB_KEY_RELEASE, one);
    fakeKey(c, root, XCB_KEY_RELEASE, shift);
    fakeKey(c, root, XCB_KEY_RELEASE, control);
    xcb_flush(c);
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The size of the next image the clipboard reader has read, once it has.
std::optional<uint64_t> clipboardRead()
{
    uint64_t size = 0;
    if (g_readerReport < 0 || ::read(g_readerReport, &size, sizeof size) != sizeof size)
        return std::nullopt;
    return size;
}

// Presses the hot key and runs the event loop until the capture is saved and,
// with the clipboard reader going, until it has read the capture. Returns the
// time to the saved file in ms (negative when none was saved); stall gets the
// UI thread's longest stall, readMs the time to the reader's image.
double captureOnHotKey(xcb_connection_t *c, xcb_window_t root, bool waitForReader, double &stall, double &stallCpu,
                       double &readMs)
{
    CapturePipeline &pipeline = g_delegate->capturePipeline();
    QEventLoop loop;
    QString path;
    QElapsedTimer clock;
    qint64 savedAtNs = -1;
    readMs = -1;
    auto done = [&] { return savedAtNs >= 0 && (!waitForReader || readMs >= 0); };
    auto connection = QObject::connect(&pipeline, &CapturePipeline::saved, &loop,
                                       [&](const QUuid &, const QString &p) {
                                           savedAtNs = clock.nsecsElapsed();
                                           path = p;
                                           if (done())
                                               loop.quit();
                                       });
    QTimer poll;
    if (waitForReader) {
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (const auto size = clipboardRead()) {
                readMs = clock.nsecsElapsed() / 1e6;
                if (*size > 0)
                    ++g_readerImages;
                if (done())
                    loop.quit();
            }
        });
        poll.start(1);
    }
    // A late firing of a 2 ms timer is a stalled UI thread.
    BenchSupport::UiStallProbe probe(2);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);

    probe.start();
    clock.start();
    pressHotKey(c, root);
    loop.exec();
    probe.stop();
    QObject::disconnect(connection);
    stall = probe.longestMs();
    stallCpu = probe.longestCpuMs();
    if (savedAtNs < 0 || !QFile::exists(path))
        return -1;
    // Let the background history write finish before the next press.
    HistoryService::shared().waitForPendingWrites();
    QFile::remove(path);
    return savedAtNs / 1e6;
}

void BM_HotKeyToSavedPng(benchmark::State &state)
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    for (auto _ : state) {
        double stall = 0, stallCpu = 0, readMs = 0;
        const double ms = captureOnHotKey(c, root, false, stall, stallCpu, readMs);
        if (ms < 0) {
            state.SkipWithError("no file was saved");
            break;
        }
        state.SetIterationTime(ms / 1000.0);
        g_hotKeyMs.push_back(ms);
        g_maxStallMs = std::max(g_maxStallMs, stall);
        g_maxStallCpuMs = std::max(g_maxStallCpuMs, stallCpu);
        g_stallsMs.push_back(stall);
    }
    xcb_disconnect(c);
}
BENCHMARK(BM_HotKeyToSavedPng)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(15)
    ->ReportAggregatesOnly(true);

// The same without the hot key and the full-screen flow's fixed 0.2 s wait:
// the capture itself, the pipeline and the save.
void BM_CaptureToSavedPng(benchmark::State &state)
{
    CapturePipeline &pipeline = g_delegate->capturePipeline();
    for (auto _ : state) {
        QEventLoop loop;
        QString path;
        QElapsedTimer clock;
        qint64 savedAtNs = -1;
        auto connection = QObject::connect(&pipeline, &CapturePipeline::saved, &loop,
                                           [&](const QUuid &, const QString &p) {
                                               savedAtNs = clock.nsecsElapsed();
                                               path = p;
                                               loop.quit();
                                           });
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        clock.start();
        QTimer::singleShot(0, &loop, [&] {
            if (std::optional<QImage> image = CaptureService::captureFullScreen())
                pipeline.handleCapture(*image, CaptureMode::fullscreen);
        });
        loop.exec();
        QObject::disconnect(connection);
        if (savedAtNs < 0 || !QFile::exists(path)) {
            state.SkipWithError("no file was saved");
            break;
        }
        const double ms = savedAtNs / 1e6;
        state.SetIterationTime(ms / 1000.0);
        g_pipelineMs.push_back(ms);
        HistoryService::shared().waitForPendingWrites();
        QFile::remove(path);
    }
}
BENCHMARK(BM_CaptureToSavedPng)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(15)
    ->ReportAggregatesOnly(true);

void BM_ScrotCaptureAndWrite(benchmark::State &state)
{
    const QByteArray out = (g_shots + "/scrot.png").toLocal8Bit();
    for (auto _ : state) {
        char *argv[] = {const_cast<char *>("scrot"), const_cast<char *>("-o"), const_cast<char *>(out.constData()),
                        nullptr};
        QElapsedTimer clock;
        clock.start();
        pid_t pid = -1;
        if (posix_spawnp(&pid, "scrot", nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("scrot could not be started");
            break;
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        const double ms = clock.nsecsElapsed() / 1e6;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("scrot failed");
            break;
        }
        state.SetIterationTime(ms / 1000.0);
        g_scrotMs.push_back(ms);
    }
}
BENCHMARK(BM_ScrotCaptureAndWrite)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(15)
    ->ReportAggregatesOnly(true);

// The same hot-key captures while a clipboard manager reads each one; the
// time is until the manager has the image.
void BM_HotKeyWhileAClipboardManagerReads(benchmark::State &state)
{
    if (g_readerControl < 0) {
        state.SkipWithError("the clipboard reader could not be started");
        return;
    }
    const char go = 1;
    (void)!::write(g_readerControl, &go, 1);
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    for (auto _ : state) {
        double stall = 0, stallCpu = 0, readMs = 0;
        const double ms = captureOnHotKey(c, root, true, stall, stallCpu, readMs);
        if (ms < 0 || readMs < 0) {
            state.SkipWithError(ms < 0 ? "no file was saved" : "the clipboard reader read nothing");
            break;
        }
        state.SetIterationTime(readMs / 1000.0);
        g_readerStallsMs.push_back(stall);
        g_readerReadMs.push_back(readMs);
    }
    xcb_disconnect(c);
}
BENCHMARK(BM_HotKeyWhileAClipboardManagerReads)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)
    ->Repetitions(15)->ReportAggregatesOnly(true);

xcb_atom_t internAtom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// What a clipboard manager does, in plain XCB: whenever the clipboard gets a
// new owner, ask for its contents as PNG and read them whole (in parts when
// the owner sends them incrementally). Waits for a byte on control first;
// writes the size of each image read (0 for a refusal) to report.
void readClipboardForever(int control, int report)
{
    char go = 0;
    if (::read(control, &go, 1) != 1)
        return;
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return;
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    const xcb_atom_t clipboard = internAtom(c, "CLIPBOARD"), png = internAtom(c, "image/png"),
                     incr = internAtom(c, "INCR"), property = internAtom(c, "VORNA_BENCH_PASTE");
    std::free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present)
        return;
    xcb_xfixes_select_selection_input(c, window, clipboard, XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
    xcb_flush(c);

    auto takeProperty = [&](uint64_t &length, bool &isIncr) {
        xcb_get_property_reply_t *reply = xcb_get_property_reply(
            c, xcb_get_property(c, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0x3fffffff), nullptr);
        length = reply ? uint64_t(xcb_get_property_value_length(reply)) : 0;
        isIncr = reply && reply->type == incr;
        std::free(reply);
        xcb_flush(c);
    };
    auto tell = [&](uint64_t size) { (void)!::write(report, &size, sizeof size); };
    bool incoming = false;
    uint64_t received = 0;
    while (xcb_generic_event_t *event = xcb_wait_for_event(c)) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY) {
            const auto *notice = reinterpret_cast<xcb_xfixes_selection_notify_event_t *>(event);
            if (notice->owner != XCB_NONE) {
                xcb_convert_selection(c, window, clipboard, png, property, notice->selection_timestamp);
                xcb_flush(c);
            }
        } else if (type == XCB_SELECTION_NOTIFY) {
            const auto *answer = reinterpret_cast<xcb_selection_notify_event_t *>(event);
            if (answer->property == XCB_NONE) {
                tell(0);
            } else {
                uint64_t length = 0;
                bool isIncr = false;
                takeProperty(length, isIncr); // deleting an INCR property asks for the parts
                incoming = isIncr;
                received = 0;
                if (!isIncr)
                    tell(length);
            }
        } else if (type == XCB_PROPERTY_NOTIFY && incoming) {
            const auto *change = reinterpret_cast<xcb_property_notify_event_t *>(event);
            if (change->atom == property && change->state == XCB_PROPERTY_NEW_VALUE) {
                uint64_t length = 0;
                bool isIncr = false;
                takeProperty(length, isIncr);
                received += length;
                if (length == 0) {
                    incoming = false;
                    tell(received);
                }
            }
        }
        std::free(event);
    }
}

// Starts the clipboard reader in a child process, paused; it ends with this
// process.
void startClipboardReader()
{
    int control[2], report[2];
    if (::pipe(control) != 0 || ::pipe(report) != 0)
        return;
    const pid_t pid = ::fork();
    if (pid < 0)
        return;
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::close(control[1]);
        ::close(report[0]);
        readClipboardForever(control[0], report[1]);
        _exit(0);
    }
    ::close(control[0]);
    ::close(report[1]);
    ::fcntl(report[0], F_SETFL, O_NONBLOCK);
    g_readerControl = control[1];
    g_readerReport = report[0];
}

// Shows the content window from a child process, as other programs' windows
// are, so that what our preview panel uncovers is repainted there and not on
// the UI thread under test. Returns once the window is on screen; the child
// ends with this process.
pid_t showContentInAnotherProcess(int argc, char **argv)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::close(fds[0]);
        QApplication app(argc, argv);
        ContentWindow content;
        content.setGeometry(QGuiApplication::primaryScreen()->geometry());
        content.show();
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        const char ready = 1;
        (void)!::write(fds[1], &ready, 1);
        ::close(fds[1]);
        app.exec();
        _exit(0);
    }
    ::close(fds[1]);
    char ready = 0;
    (void)!::read(fds[0], &ready, 1);
    ::close(fds[0]);
    return ready ? pid : -1;
}

} // namespace

int main(int argc, char **argv)
{
    if (!BenchSupport::useXScreen())
        return 1;
    QTemporaryDir home(QDir::tempPath() + "/vorna-bench-XXXXXX");
    const QByteArray root = home.path().toLocal8Bit();
    ::setenv("HOME", root.constData(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
    ::setenv("XDG_CACHE_HOME", (root + "/cache").constData(), 1);
    g_shots = home.path() + "/Shots";
    QDir().mkpath(g_shots);

    const pid_t content = showContentInAnotherProcess(argc, argv);
    if (content < 0) {
        std::fprintf(stderr, "the content window could not be shown\n");
        BenchXServer::stop();
        return 1;
    }
    startClipboardReader();
    int rc = 0;
    {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        const QScreen *screen = QGuiApplication::primaryScreen();
        QElapsedTimer wait;

        UserDefaults &defaults = UserDefaults::standard();
        defaults.setString("saveDirectory", g_shots);
        defaults.setString("doubleTapTarget.fullscreen", ""); // a press captures without waiting for a second
        AppDelegate delegate;
        g_delegate = &delegate;
        delegate.applicationDidFinishLaunching({"vorna"});
        wait.start();
        while (wait.elapsed() < 500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

        std::printf("screen %dx%d points at %.1f pixels per point\n", screen->geometry().width(),
                    screen->geometry().height(), screen->devicePixelRatio());
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        IdleWork::pool().waitForDone(); // its drawing needs the application

        const double hotKey = median(g_hotKeyMs), scrot = median(g_scrotMs);
        std::printf("median hot key to saved PNG: %.1f ms (of which the full-screen flow's fixed delay is 200 ms)\n",
                    hotKey);
        std::printf("median scrot capture and write: %.1f ms\n", scrot);
        if (scrot > 0)
            std::printf("ratio, less the fixed 200 ms: %.2f (at most 0.20 required)\n", (hotKey - 200.0) / scrot);
        std::printf("median capture to saved PNG (no hot key, no fixed delay): %.1f ms, ratio to scrot %.2f\n",
                    median(g_pipelineMs), scrot > 0 ? median(g_pipelineMs) / scrot : 0.0);
        std::printf("UI-thread stall during a capture (wall clock, includes time the system gave to other "
                    "processes): longest %.1f ms, median of the per-capture longest %.1f ms (at most 16 ms required)\n",
                    g_maxStallMs, median(g_stallsMs));
        std::printf("longest stall of each capture, in order (ms):");
        for (double ms : g_stallsMs)
            std::printf(" %.1f", ms);
        std::printf("\n");
        std::printf("UI-thread CPU time within one stall: longest %.1f ms\n", g_maxStallCpuMs);
        if (!g_readerStallsMs.empty()) {
            std::printf("with a clipboard manager reading each capture as PNG (%d of %zu images read): longest "
                        "UI-thread stall %.1f ms, median of the per-capture longest %.1f ms; median hot key to "
                        "the manager's image %.1f ms\n",
                        g_readerImages, g_readerStallsMs.size(),
                        *std::max_element(g_readerStallsMs.begin(), g_readerStallsMs.end()),
                        median(g_readerStallsMs), median(g_readerReadMs));
            std::printf("longest stall of each capture with the clipboard manager, in order (ms):");
            for (double ms : g_readerStallsMs)
                std::printf(" %.1f", ms);
            std::printf("\n");
        }
        g_delegate = nullptr;
    }
    ::kill(content, SIGTERM);
    ::waitpid(content, nullptr, 0);
    BenchXServer::stop();
    return rc;
}
