// From a hot-key press to the saved PNG complete on disk, against scrot
// capturing and writing the same screen, and the longest stall of the UI
// thread while a capture runs; on two pictures (desktop: text, a photo,
// charts and icons; photograph: a photograph-like wallpaper over the whole
// screen, fine grain and smooth colour), on a quiet machine and with one
// process a core kept busy at normal priority beside it (started by the
// bench; our captures and scrot's then alternate under the same load).
//
// Run without DISPLAY and the bench starts its own server,
//   Xvfb -displayfd 3 -screen 0 2880x1800x24 -nolisten tcp
// and runs Qt with QT_SCALE_FACTOR=2 (1440 x 900 points, two pixels per
// point). A full-screen window showing the picture, shown by a child
// process as another program's window would be, covers the screen. The
// whole program runs in this process with a private home folder; the key
// press is sent through XTest. Full screen has no double-press target here,
// so a press captures after the flow's own 0.2 s delay.
//
// BM_UsersPngOfTheScreen encodes a capture of each picture as the user's
// file is encoded: its wall time against the CPU time of all threads, the
// number of cores it keeps busy.
//
// The last benchmark runs the hot-key captures again with a clipboard
// manager, as many desktops have: another process that asks for every new
// clipboard content as PNG and reads it whole.
//
// Of each capture's longest UI-thread stall, the figures give the thread's
// own CPU time and its wait for a core. With VORNA_BENCH_EVENTS set, every
// event that holds the UI thread for over a millisecond during a capture is
// listed on stderr.
//
// Run: build/bench/HotKeyToDiskBench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include "BenchScreen.h"
#include "BenchSupport.h"

#include "app/AppDelegate.h"
#include "app/CapturePipeline.h"
#include "capture/CaptureService.h"
#include "model/ImageFormat.h"
#include "output/EncodingThreads.h"
#include "output/HistoryService.h"
#include "output/ImageExporter.h"
#include "platform/IdleWork.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFutureWatcher>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtConcurrent>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using BenchScreen::Picture;

AppDelegate *g_delegate = nullptr;
BenchScreen::Content g_content;
Picture g_shown = Picture::desktop;
QString g_shots;
// Whether each event that takes the UI thread over a millisecond is listed
// (VORNA_BENCH_EVENTS set), while a capture runs.
bool g_listEvents = false;

// The figures of one picture, quiet or under load.
struct Figures
{
    std::vector<double> hotKeyMs;
    std::vector<double> scrotMs;
    std::vector<double> stallsMs;
    std::vector<double> stallCpuMs;       // of each longest stall: the UI thread's own CPU time
    std::vector<double> stallRunDelayMs;  // and its wait for a core
    std::vector<double> loads;
};
std::map<std::string, Figures> g_figures;
std::vector<double> g_pipelineMs;
std::vector<double> g_readerStallsMs;
std::vector<double> g_readerReadMs;
int g_readerImages = 0;
int g_readerControl = -1; // a byte written here sets the clipboard reader going
int g_readerReport = -1;  // the size of each image it read, as a 64-bit number

Picture pictureOf(const benchmark::State &state)
{
    return state.range(0) ? Picture::photograph : Picture::desktop;
}

// Puts the picture on screen; false when the content process did not.
bool show(Picture picture)
{
    if (picture == g_shown)
        return true;
    if (!g_content.show(picture))
        return false;
    g_shown = picture;
    return true;
}

Figures &figures(Picture picture, bool loaded)
{
    return g_figures[std::string(BenchScreen::pictureName(picture)) + (loaded ? ", every core busy" : ", quiet")];
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
                       double &stallRunDelay, double &readMs)
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
    g_listEvents = std::getenv("VORNA_BENCH_EVENTS") != nullptr;
    clock.start();
    BenchScreen::pressHotKey(c, root);
    loop.exec();
    probe.stop();
    g_listEvents = false;
    QObject::disconnect(connection);
    stall = probe.longestMs();
    stallCpu = probe.longestCpuMs();
    stallRunDelay = probe.longestRunDelayMs();
    if (savedAtNs < 0 || !QFile::exists(path))
        return -1;
    // Let the background history write finish before the next press.
    HistoryService::shared().waitForPendingWrites();
    QFile::remove(path);
    return savedAtNs / 1e6;
}

// scrot capturing the screen and writing its PNG, in ms; negative when it
// failed.
double scrotOnce()
{
    const QByteArray out = (g_shots + "/scrot.png").toLocal8Bit();
    char *argv[] = {const_cast<char *>("scrot"), const_cast<char *>("-o"), const_cast<char *>(out.constData()),
                    nullptr};
    QElapsedTimer clock;
    clock.start();
    pid_t pid = -1;
    if (posix_spawnp(&pid, "scrot", nullptr, nullptr, argv, environ) != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double ms = clock.nsecsElapsed() / 1e6;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return ms;
}

// One hot-key capture into figures; false (the state told) when none was
// saved.
bool hotKeyOnce(benchmark::State &state, xcb_connection_t *c, xcb_window_t root, Figures &figures)
{
    double stall = 0, stallCpu = 0, stallRunDelay = 0, readMs = 0;
    const double ms = captureOnHotKey(c, root, false, stall, stallCpu, stallRunDelay, readMs);
    if (ms < 0) {
        state.SkipWithError("no file was saved");
        return false;
    }
    state.SetIterationTime(ms / 1000.0);
    figures.hotKeyMs.push_back(ms);
    figures.stallsMs.push_back(stall);
    figures.stallCpuMs.push_back(stallCpu);
    figures.stallRunDelayMs.push_back(stallRunDelay);
    return true;
}

void BM_HotKeyToSavedPng(benchmark::State &state)
{
    const Picture picture = pictureOf(state);
    if (!show(picture)) {
        state.SkipWithError("the picture could not be shown");
        return;
    }
    Figures &f = figures(picture, false);
    f.loads.push_back(BenchSupport::loadAverage());
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    for (auto _ : state)
        if (!hotKeyOnce(state, c, root, f))
            break;
    xcb_disconnect(c);
    f.loads.push_back(BenchSupport::loadAverage());
}
BENCHMARK(BM_HotKeyToSavedPng)->ArgName("photograph")->Arg(0)->Arg(1)->UseManualTime()
    ->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(15)->ReportAggregatesOnly(true);

// The same without the hot key and the full-screen flow's fixed 0.2 s wait:
// the capture itself, the pipeline and the save.
void BM_CaptureToSavedPng(benchmark::State &state)
{
    if (!show(Picture::desktop)) {
        state.SkipWithError("the picture could not be shown");
        return;
    }
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
    const Picture picture = pictureOf(state);
    if (!show(picture)) {
        state.SkipWithError("the picture could not be shown");
        return;
    }
    Figures &f = figures(picture, false);
    f.loads.push_back(BenchSupport::loadAverage());
    for (auto _ : state) {
        const double ms = scrotOnce();
        if (ms < 0) {
            state.SkipWithError("scrot could not be started or failed");
            break;
        }
        state.SetIterationTime(ms / 1000.0);
        f.scrotMs.push_back(ms);
    }
    f.loads.push_back(BenchSupport::loadAverage());
}
BENCHMARK(BM_ScrotCaptureAndWrite)->ArgName("photograph")->Arg(0)->Arg(1)->UseManualTime()
    ->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(15)->ReportAggregatesOnly(true);

// With one busy process a core beside it: a hot-key capture, then scrot, in
// turn, so that both see the same load. The time is ours.
void BM_HotKeyAndScrotWithEveryCoreBusy(benchmark::State &state)
{
    const Picture picture = pictureOf(state);
    if (!show(picture)) {
        state.SkipWithError("the picture could not be shown");
        return;
    }
    Figures &f = figures(picture, true);
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    {
        BenchSupport::BusyCores busy;
        BenchScreen::settle(1000);
        f.loads.push_back(BenchSupport::loadAverage());
        for (auto _ : state) {
            if (!hotKeyOnce(state, c, root, f))
                break;
            const double ms = scrotOnce();
            if (ms < 0) {
                state.SkipWithError("scrot could not be started or failed");
                break;
            }
            f.scrotMs.push_back(ms);
        }
        f.loads.push_back(BenchSupport::loadAverage());
    }
    xcb_disconnect(c);
}
BENCHMARK(BM_HotKeyAndScrotWithEveryCoreBusy)->ArgName("photograph")->Arg(0)->Arg(1)->UseManualTime()
    ->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(15)->ReportAggregatesOnly(true);

// The user's file of a capture of the screen as it shows the picture: the
// wall time against the CPU time of the whole process (all threads).
void BM_UsersPngOfTheScreen(benchmark::State &state)
{
    const Picture picture = pictureOf(state);
    const std::optional<QImage> image = show(picture) ? CaptureService::captureFullScreen() : std::nullopt;
    if (!image) {
        state.SkipWithError("the screen could not be captured");
        return;
    }
    double wallMs = 0, cpuMs = 0;
    qint64 bytes = 0;
    for (auto _ : state) {
        // On an encoding thread while this one waits for events, as the
        // capture's own save runs.
        QElapsedTimer clock;
        clock.start();
        const double cpu = BenchSupport::processCpuMs();
        QFutureWatcher<qsizetype> watcher;
        QEventLoop loop;
        QObject::connect(&watcher, &QFutureWatcher<qsizetype>::finished, &loop, &QEventLoop::quit);
        watcher.setFuture(QtConcurrent::run(&EncodingThreads::pool(), [&image] {
            return ImageExporter::encode(*image, ImageFormat::png, 1.0).size();
        }));
        loop.exec();
        cpuMs += BenchSupport::processCpuMs() - cpu;
        wallMs += clock.nsecsElapsed() / 1e6;
        bytes = watcher.result();
    }
    const double n = double(state.iterations());
    state.counters["wall_ms"] = wallMs / n;
    state.counters["cpu_ms"] = cpuMs / n;
    state.counters["cores"] = wallMs > 0 ? cpuMs / wallMs : 0;
    state.counters["file_MB"] = bytes / 1048576.0;
    state.counters["load_1min"] = BenchSupport::loadAverage();
}
BENCHMARK(BM_UsersPngOfTheScreen)->ArgName("photograph")->Arg(0)->Arg(1)->Iterations(10)
    ->Unit(benchmark::kMillisecond);

// The same hot-key captures while a clipboard manager reads each one; the
// time is until the manager has the image.
void BM_HotKeyWhileAClipboardManagerReads(benchmark::State &state)
{
    if (g_readerControl < 0) {
        state.SkipWithError("the clipboard reader could not be started");
        return;
    }
    if (!show(Picture::desktop)) {
        state.SkipWithError("the picture could not be shown");
        return;
    }
    const char go = 1;
    (void)!::write(g_readerControl, &go, 1);
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    for (auto _ : state) {
        double stall = 0, stallCpu = 0, stallRunDelay = 0, readMs = 0;
        const double ms = captureOnHotKey(c, root, true, stall, stallCpu, stallRunDelay, readMs);
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


void printList(const char *what, const std::vector<double> &values)
{
    std::printf("%s", what);
    for (double v : values)
        std::printf(" %.1f", v);
    std::printf("\n");
}

void printFigures()
{
    for (const auto &[name, f] : g_figures) {
        if (f.hotKeyMs.empty() && f.scrotMs.empty())
            continue;
        const double hotKey = median(f.hotKeyMs), scrot = median(f.scrotMs);
        const auto [least, most] = std::minmax_element(f.loads.begin(), f.loads.end());
        std::printf("\n%s (1-minute load %.1f to %.1f):\n", name.c_str(), f.loads.empty() ? -1.0 : *least,
                    f.loads.empty() ? -1.0 : *most);
        std::printf("  median hot key to saved PNG: %.1f ms (of which the full-screen flow's fixed delay is 200 "
                    "ms)\n",
                    hotKey);
        std::printf("  median scrot capture and write: %.1f ms\n", scrot);
        if (scrot > 0 && !f.hotKeyMs.empty())
            std::printf("  ratio, less the fixed 200 ms: %.2f\n", (hotKey - 200.0) / scrot);
        if (!f.stallsMs.empty()) {
            std::printf("  UI-thread stall during a capture (wall clock, includes time the system gave to other "
                        "processes): longest %.1f ms, median of the per-capture longest %.1f ms\n",
                        *std::max_element(f.stallsMs.begin(), f.stallsMs.end()), median(f.stallsMs));
            printList("  longest stall of each capture, in order (ms):", f.stallsMs);
            printList("    of which the UI thread ran (ms):", f.stallCpuMs);
            printList("    and waited for a core (ms):", f.stallRunDelayMs);
        }
    }
    std::printf("\nmedian capture to saved PNG (desktop, no hot key, no fixed delay): %.1f ms\n",
                median(g_pipelineMs));
    if (!g_readerStallsMs.empty()) {
        std::printf("with a clipboard manager reading each capture as PNG (%d of %zu images read): longest "
                    "UI-thread stall %.1f ms, median of the per-capture longest %.1f ms; median hot key to "
                    "the manager's image %.1f ms\n",
                    g_readerImages, g_readerStallsMs.size(),
                    *std::max_element(g_readerStallsMs.begin(), g_readerStallsMs.end()), median(g_readerStallsMs),
                    median(g_readerReadMs));
        printList("longest stall of each capture with the clipboard manager, in order (ms):", g_readerStallsMs);
    }
}

// The application, timing the events it delivers when asked to: wall clock
// and the UI thread's CPU time of each one, to stderr.
class EventTimingApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (!g_listEvents || m_depth > 0)
            return QApplication::notify(receiver, event);
        // Taken now: the receiver may be gone afterwards.
        const QByteArray name = QByteArray(receiver->metaObject()->className()) + ' ' + receiver->objectName().toUtf8();
        const int type = int(event->type());
        QElapsedTimer clock;
        clock.start();
        const double cpu = BenchSupport::threadCpuMs();
        ++m_depth;
        const bool result = QApplication::notify(receiver, event);
        --m_depth;
        const double wallMs = clock.nsecsElapsed() / 1e6, cpuMs = BenchSupport::threadCpuMs() - cpu;
        if (wallMs > 1.0)
            std::fprintf(stderr, "event %6.1f ms (CPU %5.1f ms) %s, type %d\n", wallMs, cpuMs, name.constData(), type);
        return result;
    }

private:
    int m_depth = 0;
};

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

    g_content = BenchScreen::showContentInAnotherProcess(argc, argv);
    if (!g_content) {
        std::fprintf(stderr, "the content window could not be shown\n");
        BenchXServer::stop();
        return 1;
    }
    startClipboardReader();
    int rc = 0;
    {
        EventTimingApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        const QScreen *screen = QGuiApplication::primaryScreen();

        UserDefaults &defaults = UserDefaults::standard();
        defaults.setString("saveDirectory", g_shots);
        defaults.setString("doubleTapTarget.fullscreen", ""); // a press captures without waiting for a second
        AppDelegate delegate;
        g_delegate = &delegate;
        delegate.applicationDidFinishLaunching({"vorna"});
        BenchScreen::settle(500);

        std::printf("screen %dx%d points at %.1f pixels per point\n", screen->geometry().width(),
                    screen->geometry().height(), screen->devicePixelRatio());
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        IdleWork::pool().waitForDone(); // its drawing needs the application
        printFigures();
        std::printf("(limits: ratio at most 0.20 quiet, 0.35 with every core busy; stall at most 16 ms quiet)\n");
        g_delegate = nullptr;
    }
    g_content.stop();
    BenchXServer::stop();
    return rc;
}
