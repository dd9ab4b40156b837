// Memory and time of loading a full capture history: 50 full-screen captures
// of 2880 x 1800 pixels. The resident memory is measured in a fresh child
// process (this executable started again with --child), so nothing the set-up
// allocated is counted:
//
//   baseline     the child with its application object and nothing loaded
//   loaded       the history loaded into the application state, as at launch
//   decoded-all  the same, then every image decoded (what the history would
//                cost if it held decoded images), for comparison
//
// Run: build/bench/HistoryMemoryBench
#include "model/AppState.h"
#include "output/HistoryService.h"
#include "platform/UserDefaults.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <memory>

using BenchSupport::pointXdgAt;
using BenchSupport::statusKb;

namespace {

constexpr int kItems = 50;
constexpr QSize kCaptureSize(2880, 1800);

std::unique_ptr<QTemporaryDir> g_home;

// Something shaped like a desktop: a gradient, windows, rows of "text" and
// some noise, so the PNG compresses like a real screenshot rather than a
// flat fill.
QImage syntheticCapture()
{
    QImage img(kCaptureSize, QImage::Format_ARGB32_Premultiplied);
    QRandomGenerator rng(7);
    BenchSupport::paintDesktop(img, rng, {QSize(2000, 1100), QSize(600, 400), QSize(600, 300)}, 200000);
    img.setDevicePixelRatio(2.0);
    return img;
}

// Writes a history of kItems captures in the folder layout the program uses.
void writeHistory()
{
    auto &history = HistoryService::shared();
    HistoryItem first;
    first.id = QUuid::createUuid();
    first.image = ImageHandle(syntheticCapture());
    first.date = QDateTime::currentDateTimeUtc();
    first.mode = CaptureMode::fullscreen;
    history.saveImage(first);
    history.waitForPendingWrites();
    history.items().append(first);
    const QString png = history.imagePath(first.id);
    for (int i = 1; i < kItems; ++i) {
        HistoryItem item;
        item.id = QUuid::createUuid();
        item.date = first.date.addSecs(-60 * i);
        item.mode = CaptureMode::fullscreen;
        QFile::copy(png, history.imagePath(item.id));
        item.image = ImageHandle::fromFile(history.imagePath(item.id));
        history.items().append(item);
    }
    history.persist();
    HistoryService::resetShared();
}

// The child: load as the launch does and report.
int childMain(int argc, char **argv, const QString &mode)
{
    QGuiApplication app(argc, argv);
    int items = 0;
    int decoded = 0;
    std::unique_ptr<AppState> state;
    if (mode != "baseline") {
        state = std::make_unique<AppState>();
        state->setHistory(HistoryService::shared().items());
        items = state->history().size();
        if (mode == "decoded-all") {
            for (const HistoryItem &item : state->history())
                item.image.image();
        }
        for (const HistoryItem &item : state->history())
            decoded += item.image.isDecoded() ? 1 : 0;
    }
    std::printf("rss_kb=%lld hwm_kb=%lld items=%d decoded=%d\n", statusKb("VmRSS:"), statusKb("VmHWM:"), items,
                decoded);
    return 0;
}

struct ChildResult
{
    double rssMB = -1;
    double peakMB = -1;
    int items = -1;
    int decoded = -1;
};

ChildResult runChild(const QString &mode)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList env = QProcess::systemEnvironment();
    env << "QT_QPA_PLATFORM=offscreen";
    child.setEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--child", mode});
    child.waitForFinished(120000);
    ChildResult r;
    for (const QByteArray &field : child.readAllStandardOutput().trimmed().split(' ')) {
        const auto kv = field.split('=');
        if (kv.size() != 2)
            continue;
        if (kv[0] == "rss_kb")
            r.rssMB = kv[1].toLongLong() / 1024.0;
        else if (kv[0] == "hwm_kb")
            r.peakMB = kv[1].toLongLong() / 1024.0;
        else if (kv[0] == "items")
            r.items = kv[1].toInt();
        else if (kv[0] == "decoded")
            r.decoded = kv[1].toInt();
    }
    return r;
}

void residentMemory(benchmark::State &state, const QString &mode)
{
    ChildResult r;
    for (auto _ : state)
        r = runChild(mode);
    if (r.rssMB < 0)
        state.SkipWithError("the measuring process reported nothing");
    state.counters["rss_MB"] = r.rssMB;
    state.counters["peak_MB"] = r.peakMB;
    state.counters["items"] = r.items;
    state.counters["decoded"] = r.decoded;
}

void BM_ResidentBaseline(benchmark::State &state)
{
    residentMemory(state, "baseline");
}
void BM_ResidentFullHistoryLoaded(benchmark::State &state)
{
    residentMemory(state, "loaded");
}
void BM_ResidentFullHistoryDecodedAll(benchmark::State &state)
{
    residentMemory(state, "decoded-all");
}

// Time of loading the manifest and checking the 50 image headers.
void BM_LoadFullHistory(benchmark::State &state)
{
    for (auto _ : state) {
        HistoryService::resetShared();
        benchmark::DoNotOptimize(HistoryService::shared().items().size());
    }
    state.counters["items"] = HistoryService::shared().items().size();
}

BENCHMARK(BM_ResidentBaseline)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResidentFullHistoryLoaded)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResidentFullHistoryDecodedAll)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFullHistory)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "--child") == 0)
        return childMain(argc, argv, QString::fromLatin1(argv[2]));

    g_home = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/vorna-bench-XXXXXX");
    pointXdgAt(g_home->path());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    writeHistory();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    HistoryService::resetShared();
    g_home.reset();
    return 0;
}
