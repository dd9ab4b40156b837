// Resident memory of the program over a session of full-screen captures of
// a 2880 x 1800 screen, taken on the hot key with the default preferences
// (preview, clipboard, sound) and the capture flash on: after 30 captures
// and after 150 (and after 75, once the history has long been full), each
// measured 8 s after the last capture, when the program is at rest again. What holds the memory is reported beside it:
//
//   rss_30_MB, rss_150_MB   resident memory (VmRSS)
//   anon_MB, shmem_MB       of which private memory, and shared memory (the
//                           windows' pixels shared with the X server)
//   heap_used_MB            what the allocator has handed out and not got
//                           back (all arenas, and blocks of their own
//                           mapping)
//   heap_free_MB            memory the allocator holds free (in its arenas)
//   arenas                  the allocator's arenas
//
// Each run is a fresh process (this executable started again with --child)
// with its own empty home folder, on the bench's own X server (see
// BenchScreen.h: a child process shows the picture full screen). K is the
// picture: 0 the desktop, 1 the photograph-like wallpaper (larger files).
//
// With VORNA_BENCH_SMAPS=<prefix> each report also copies the process's
// /proc/self/smaps to <prefix><captures>, to see which mappings hold it.
//
// BM_ResidentAfterLargeCopies: four tall scrolling captures (3840 x 20000)
// put on the clipboard one after another, each once its PNG for the
// clipboard is encoded; then the user copies a line of text, and resident
// memory is taken 10 s later, beside that before the first copy:
//
//   rss_before_MB, rss_after_MB   resident memory (VmRSS) before the copies
//                                 and 10 s after the text replaced the last
//   kept_MB                       the difference: what the copies left behind
//
// Run: build/bench/CaptureMemoryBench [--benchmark_filter=...]
#include "BenchScreen.h"
#include "BenchSupport.h"

#include "app/AppDelegate.h"
#include "app/CapturePipeline.h"
#include "output/ClipboardImage.h"
#include "output/HistoryService.h"
#include "platform/IdleWork.h"
#include "platform/UserDefaults.h"
#include "windows/ThumbnailCache.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

using BenchSupport::statusKb;

namespace {

constexpr int kFirst = 30;
constexpr int kHistoryFull = 75; // well past the history's 50 entries
constexpr int kLast = 150;
constexpr int kRestMs = 8000;
constexpr int kLargeCopies = 4;
constexpr QSize kLargeCapture(3840, 20000);
constexpr int kAfterCopiesMs = 10000;

BenchScreen::Content g_content;

// The allocator's arenas, counted from its own report.
int arenaCount()
{
    char *text = nullptr;
    size_t size = 0;
    FILE *report = ::open_memstream(&text, &size);
    if (!report)
        return -1;
    ::malloc_info(0, report);
    std::fclose(report);
    int count = 0;
    for (const char *at = text; (at = std::strstr(at, "<heap nr=")); ++at)
        ++count;
    std::free(text);
    return count;
}

// One line of figures, each "name=value".
void report(const char *when, int captures)
{
    const struct mallinfo2 heap = ::mallinfo2();
    std::printf("%s captures=%d rss_kb=%lld anon_kb=%lld shmem_kb=%lld heap_used_kb=%zu heap_free_kb=%zu "
                "arenas=%d thumbnails_kb=%lld\n",
                when, captures, statusKb("VmRSS:"), statusKb("RssAnon:"), statusKb("RssShmem:"),
                (heap.uordblks + heap.hblkhd) / 1024, heap.fordblks / 1024, arenaCount(),
                ThumbnailCache::shared().bytesCached() / 1024);
    if (const char *dump = std::getenv("VORNA_BENCH_SMAPS")) {
        QFile in("/proc/self/smaps"), out(QString::fromLocal8Bit(dump) + QString::number(captures));
        if (in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly))
            out.write(in.readAll());
    }
    std::fflush(stdout);
}

// The child: the program, kLast captures on the hot key, and the report.
int childMain(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + "/vorna-bench-XXXXXX");
    BenchSupport::pointXdgAt(home.path(), {"Shots"});
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    UserDefaults &defaults = UserDefaults::standard();
    defaults.setString("saveDirectory", home.path() + "/Shots");
    defaults.setString("doubleTapTarget.fullscreen", ""); // a press captures without waiting for a second
    defaults.setBool("showCaptureFlash", true);
    int failed = 0;
    {
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching({"vorna"});
        BenchScreen::settle(1000);
        report("start", 0);

        xcb_connection_t *c = xcb_connect(nullptr, nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        CapturePipeline &pipeline = delegate.capturePipeline();
        for (int i = 1; i <= kLast; ++i) {
            QEventLoop loop;
            auto saved = QObject::connect(&pipeline, &CapturePipeline::saved, &loop, [&](const QUuid &,
                                                                                          const QString &path) {
                QFile::remove(path); // the folder stays small; the program keeps nothing of the file
                loop.quit();
            });
            QTimer::singleShot(10000, &loop, [&] {
                ++failed;
                loop.quit();
            });
            BenchScreen::pressHotKey(c, root);
            loop.exec();
            QObject::disconnect(saved);
            HistoryService::shared().waitForPendingWrites();
            // A user's pause before the next press.
            BenchScreen::settle(500);
            if (i == kFirst || i == kHistoryFull || i == kLast) {
                BenchScreen::settle(kRestMs);
                report("after", i);
            }
        }
        xcb_disconnect(c);
        IdleWork::pool().waitForDone();
    }
    std::printf("end failed=%d\n", failed);
    return 0;
}

// The child for the large copies: the program, the copies, the report.
int childCopiesMain(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + "/vorna-bench-XXXXXX");
    BenchSupport::pointXdgAt(home.path(), {"Shots"});
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    UserDefaults::standard().setString("saveDirectory", home.path() + "/Shots");
    int failed = 0;
    {
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching({"vorna"});
        BenchScreen::settle(1000);
        report("before", 0);
        QRandomGenerator rng(7);
        for (int i = 1; i <= kLargeCopies; ++i) {
            {
                // A long page: windows of text down its length, and noise.
                QImage capture(kLargeCapture, QImage::Format_RGB32);
                BenchSupport::paintDesktop(capture, rng,
                                           {QSize(kLargeCapture.width() - 1200, kLargeCapture.height() - 3000),
                                            QSize(900, 1500), QSize(300, 1500)},
                                           200000);
                ClipboardImage::copy(capture);
            }
            QElapsedTimer wait;
            wait.start();
            auto *clip = qobject_cast<const ClipboardImage *>(QGuiApplication::clipboard()->mimeData());
            while (clip && clip->pngPending() && wait.elapsed() < 60000)
                BenchScreen::settle(20);
            if (!clip || clip->pngPending())
                ++failed;
            BenchScreen::settle(500);
        }
        QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
        BenchScreen::settle(kAfterCopiesMs);
        report("after", kLargeCopies);
        IdleWork::pool().waitForDone();
    }
    std::printf("end failed=%d\n", failed);
    return 0;
}

// The figures of the child's report: for each line, its first word and
// "captures" and the figures by name.
using Report = std::map<std::string, std::map<std::string, double>>;

Report runChild(const QString &mode = QStringLiteral("--child"))
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {mode});
    child.waitForFinished(15 * 60 * 1000);
    Report figures;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        std::string key = fields.first().toStdString();
        std::map<std::string, double> values;
        for (const QByteArray &field : fields) {
            const QList<QByteArray> kv = field.split('=');
            if (kv.size() == 2)
                values[kv[0].toStdString()] = kv[1].toDouble();
        }
        if (values.count("captures"))
            key += std::to_string(int(values["captures"]));
        figures[key] = values;
    }
    return figures;
}

void BM_ResidentAfterCaptures(benchmark::State &state)
{
    const auto picture = state.range(0) ? BenchScreen::Picture::photograph : BenchScreen::Picture::desktop;
    if (!g_content.show(picture)) {
        state.SkipWithError("the picture could not be shown");
        return;
    }
    Report figures;
    for (auto _ : state)
        figures = runChild();
    const auto &first = figures["after" + std::to_string(kFirst)];
    const auto &last = figures["after" + std::to_string(kLast)];
    if (last.empty() || figures["end"].empty()) {
        state.SkipWithError("the measuring process did not finish");
        return;
    }
    if (figures["end"].at("failed") > 0)
        state.SkipWithError("a capture was not saved");
    auto mb = [](const std::map<std::string, double> &at, const char *name) {
        return at.count(name) ? at.at(name) / 1024.0 : -1.0;
    };
    state.counters["start_MB"] = mb(figures["start0"], "rss_kb");
    state.counters["rss_30_MB"] = mb(first, "rss_kb");
    state.counters["rss_75_MB"] = mb(figures["after" + std::to_string(kHistoryFull)], "rss_kb");
    state.counters["rss_150_MB"] = mb(last, "rss_kb");
    for (const auto &[suffix, at] : {std::pair("30", &first), std::pair("150", &last)}) {
        state.counters["anon_" + std::string(suffix) + "_MB"] = mb(*at, "anon_kb");
        state.counters["shmem_" + std::string(suffix) + "_MB"] = mb(*at, "shmem_kb");
        state.counters["heap_used_" + std::string(suffix) + "_MB"] = mb(*at, "heap_used_kb");
        state.counters["heap_free_" + std::string(suffix) + "_MB"] = mb(*at, "heap_free_kb");
        state.counters["arenas_" + std::string(suffix)] = at->count("arenas") ? at->at("arenas") : -1;
        state.counters["thumbnails_" + std::string(suffix) + "_MB"] = mb(*at, "thumbnails_kb");
    }
    state.counters["load_1min"] = BenchSupport::loadAverage();
}
BENCHMARK(BM_ResidentAfterCaptures)->ArgName("photograph")->Arg(0)->Arg(1)->Iterations(1)
    ->Unit(benchmark::kSecond);

void BM_ResidentAfterLargeCopies(benchmark::State &state)
{
    Report figures;
    for (auto _ : state)
        figures = runChild(QStringLiteral("--child-copies"));
    const auto &before = figures["before0"];
    const auto &after = figures["after" + std::to_string(kLargeCopies)];
    if (before.empty() || after.empty() || figures["end"].empty()) {
        state.SkipWithError("the measuring process did not finish");
        return;
    }
    if (figures["end"].at("failed") > 0)
        state.SkipWithError("a copy's PNG was not encoded");
    state.counters["rss_before_MB"] = before.at("rss_kb") / 1024.0;
    state.counters["rss_after_MB"] = after.at("rss_kb") / 1024.0;
    state.counters["kept_MB"] = (after.at("rss_kb") - before.at("rss_kb")) / 1024.0;
    state.counters["heap_used_after_MB"] = after.at("heap_used_kb") / 1024.0;
    state.counters["heap_free_after_MB"] = after.at("heap_free_kb") / 1024.0;
    state.counters["load_1min"] = BenchSupport::loadAverage();
}
BENCHMARK(BM_ResidentAfterLargeCopies)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && qstrcmp(argv[1], "--child") == 0)
        return childMain(argc, argv);
    if (argc >= 2 && qstrcmp(argv[1], "--child-copies") == 0)
        return childCopiesMain(argc, argv);
    if (!BenchSupport::useXScreen())
        return 1;
    g_content = BenchScreen::showContentInAnotherProcess(argc, argv);
    if (!g_content) {
        std::fprintf(stderr, "the content window could not be shown\n");
        BenchXServer::stop();
        return 1;
    }
    {
        QCoreApplication app(argc, argv);
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    g_content.stop();
    BenchXServer::stop();
    return 0;
}
