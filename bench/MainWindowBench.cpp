// The main window with a full history: 50 captures of 2880 x 1800 pixels in
// the history folder, loaded as at launch (no pixels in memory).
//
//   BM_OpenHistoryPage   in a fresh child process: the time from building
//                        the main window on the History page to its first
//                        picture, the time until every card's picture is in,
//                        and the resident memory that the page added (after
//                        scrolling through the whole grid)
//   BM_BatchExport50Png  exporting the 50 captures as PNG into a new folder,
//                        with the longest pause of the UI thread's event loop
//                        meanwhile (a 5 ms timer measures the gaps)
//
// Run: build/bench/MainWindowBench
#include "model/AppState.h"
#include "output/HistoryService.h"
#include "windows/BatchExport.h"
#include "windows/ContentView.h"
#include "windows/HistoryCard.h"
#include "windows/HistoryView.h"
#include "windows/ThumbnailCache.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFutureWatcher>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
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

// A desktop-like picture that compresses like a real screenshot.
QImage syntheticCapture(int seed)
{
    QImage img(kCaptureSize, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    BenchSupport::paintDesktop(img, rng, {QSize(2000, 1100), QSize(600, 400), QSize(600, 300)}, 0);
    img.setDevicePixelRatio(2.0);
    return img;
}

// Writes the history folder: a few different pictures, copied to 50 entries.
void writeHistory()
{
    auto &history = HistoryService::shared();
    QList<QString> sources;
    for (int i = 0; i < kItems; ++i) {
        HistoryItem item;
        item.id = QUuid::createUuid();
        item.date = QDateTime::currentDateTimeUtc().addSecs(-60 * i);
        item.mode = CaptureMode::fullscreen;
        if (i < 4) {
            item.image = ImageHandle(syntheticCapture(i));
            history.saveImage(item);
            history.waitForPendingWrites();
            sources.append(history.imagePath(item.id));
        } else {
            QFile::copy(sources.at(i % 4), history.imagePath(item.id));
        }
        item.image = ImageHandle::fromFile(history.imagePath(item.id));
        history.items().append(item);
    }
    history.persist();
    HistoryService::resetShared();
}

void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        ThumbnailCache::shared().waitForLoads();
    }
}

// The child: open the History page as the user would and report.
int childMain(int argc, char **argv)
{
    QApplication app(argc, argv);
    AppState state;
    state.setHistory(HistoryService::shared().items());
    // Fonts, styles and icons are loaded once per run; warm them up on a
    // window of their own so the page's own cost is what is measured.
    {
        ContentView warm(state, ContentTab::capture);
        warm.resize(820, 560);
        warm.show();
        warm.grab();
    }
    QCoreApplication::processEvents();
    const qint64 before = statusKb("VmRSS:");

    QElapsedTimer clock;
    clock.start();
    ContentView view(state, ContentTab::capture);
    view.resize(820, 560);
    view.show();
    view.setSelectedTab(ContentTab::history);
    view.grab(); // first picture: cards laid out and painted, pictures asked for
    const qint64 openMs = clock.elapsed();
    settle();
    const qint64 firstPicturesMs = clock.elapsed();
    // Scroll through the whole grid so that every card's picture is in.
    QScrollBar *bar = view.historyView()->gridArea()->verticalScrollBar();
    for (int v = 0; v <= bar->maximum(); v += bar->pageStep()) {
        bar->setValue(v);
        view.grab();
        settle();
    }
    bar->setValue(bar->maximum());
    view.grab();
    settle();
    const qint64 allMs = clock.elapsed();
    const qint64 after = statusKb("VmRSS:");
    int decoded = 0;
    for (const HistoryItem &item : state.history())
        decoded += item.image.isDecoded() ? 1 : 0;
    std::printf("open_ms=%lld visible_pictures_ms=%lld all_pictures_ms=%lld added_kb=%lld cache_kb=%lld decoded=%d\n",
                openMs, firstPicturesMs, allMs, after - before, ThumbnailCache::shared().bytesCached() / 1024,
                decoded);
    return 0;
}

void BM_OpenHistoryPage(benchmark::State &state)
{
    QMap<QByteArray, double> values;
    for (auto _ : state) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList env = QProcess::systemEnvironment();
        env << "QT_QPA_PLATFORM=offscreen";
        child.setEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"--child"});
        child.waitForFinished(120000);
        for (const QByteArray &field : child.readAllStandardOutput().trimmed().split(' ')) {
            const auto kv = field.split('=');
            if (kv.size() == 2)
                values[kv[0]] = kv[1].toDouble();
        }
    }
    if (values.isEmpty()) {
        state.SkipWithError("the measuring process reported nothing");
        return;
    }
    state.counters["open_ms"] = values.value("open_ms");
    state.counters["visible_pictures_ms"] = values.value("visible_pictures_ms");
    state.counters["all_pictures_ms"] = values.value("all_pictures_ms");
    state.counters["added_MB"] = values.value("added_kb") / 1024.0;
    state.counters["cache_MB"] = values.value("cache_kb") / 1024.0;
    state.counters["decoded"] = values.value("decoded");
}

void BM_BatchExport50Png(benchmark::State &state)
{
    const QList<HistoryItem> items = HistoryService::shared().items();
    qint64 longestGapMs = 0;
    BatchExport::Outcome outcome;
    for (auto _ : state) {
        QTemporaryDir folder(QDir::tempPath() + "/vorna-export-XXXXXX");
        QElapsedTimer gap;
        gap.start();
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longestGapMs = std::max(longestGapMs, gap.restart());
        });
        QEventLoop loop;
        QFutureWatcher<BatchExport::Outcome> watcher;
        QObject::connect(&watcher, &QFutureWatcher<BatchExport::Outcome>::finished, &loop, &QEventLoop::quit);
        gap.restart();
        ticker.start();
        watcher.setFuture(BatchExport::run(items, folder.path(), ImageFormat::png, 0.9));
        loop.exec();
        ticker.stop();
        outcome = watcher.result();
    }
    state.counters["export_ms"] = double(outcome.elapsedMs);
    state.counters["written"] = outcome.written.size();
    state.counters["failed"] = outcome.failed;
    state.counters["longest_ui_gap_ms"] = double(longestGapMs);
}

BENCHMARK(BM_OpenHistoryPage)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BatchExport50Png)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && qstrcmp(argv[1], "--child") == 0)
        return childMain(argc, argv);

    g_home = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/vorna-bench-XXXXXX");
    pointXdgAt(g_home->path());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    writeHistory();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    HistoryService::resetShared();
    g_home.reset();
    return 0;
}
