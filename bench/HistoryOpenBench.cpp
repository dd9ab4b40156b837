// Opening a history entry whose pixels were let go (as every entry is once
// its PNG is written, and every entry after a restart): from the click on
// its card's "Edit" button to the editor window painting the capture, and
// the longest block of the UI thread in between. A 1 ms timer probes the
// UI thread; a late tick is a block. The wall-clock gap also counts time the
// system gave to other processes, so the thread's own CPU time in the
// worst gap is reported beside it. The load average is recorded with each
// figure. Captures: 2880x1800 and a 2880x20000 scrolling capture, at two
// pixels per point, on a 1440x900 screen; the editor window is closed
// between clicks, as a user closes it.
// Run: build/bench/HistoryOpenBench [--benchmark_filter=...]

#include "BenchSupport.h"
#include "app/AppWindow.h"
#include "app/WindowManager.h"
#include "editor/AnnotationCanvasNSView.h"
#include "editor/ImageDiff.h"
#include "model/AppState.h"
#include "model/NotificationNames.h"
#include "output/HistoryService.h"
#include "platform/HeapMemory.h"
#include "platform/NotificationCenter.h"
#include "windows/HistoryCard.h"
#include "windows/HistoryView.h"
#include "windows/ThumbnailCache.h"
#include "../tests/support/SyntheticScreenshot.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QUuid>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

QImage capture(int height)
{
    const QImage screen = makeSyntheticScreenshot(2880, 1800);
    QImage image(2880, height, QImage::Format_RGB32);
    QPainter p(&image);
    for (int y = 0; y < height; y += 1800)
        p.drawImage(0, y, screen);
    p.end();
    image.setDevicePixelRatio(2.0);
    return image;
}


double loadAverage()
{
    double load[1] = {0};
    return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

// Notes when the editor's canvas paints.
class PaintWatch : public QObject
{
public:
    bool painted = false;
    QEventLoop *loop = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && qobject_cast<AnnotationCanvasNSView *>(watched)) {
            painted = true;
            if (loop)
                loop->quit();
        }
        return false;
    }
};

void BM_HistoryCardToEditor(benchmark::State &state)
{
    const int height = int(state.range(0));
    AppState app;
    WindowManager windows(app);
    QObject observer;
    NotificationCenter::instance().addObserver(NotificationNames::openEditor, &observer,
                                               [&](const auto &) { windows.openEditor(); });

    // The capture enters the history; its PNG is written and the pixels go.
    HistoryItem item;
    item.id = QUuid::createUuid();
    item.image = ImageHandle(capture(height));
    item.date = QDateTime::currentDateTime();
    item.mode = height > 1800 ? CaptureMode::scrolling : CaptureMode::fullscreen;
    HistoryService &history = HistoryService::shared();
    history.addNewest(item);
    history.waitForPendingWrites();
    app.setHistory(history.items());
    const QString png = history.imagePath(item.id);

    // The history page on screen, its thumbnails in.
    HistoryView page(app);
    page.resize(820, 560);
    page.show();
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        ThumbnailCache::shared().waitForLoads();
    }
    // The editor window exists from an earlier open, as it is kept for reuse.
    app.openEditor(ImageHandle(makeSyntheticScreenshot(400, 300)));
    QCoreApplication::processEvents();

    PaintWatch watch;
    qApp->installEventFilter(&watch);
    std::vector<double> openMs, blockMs, blockCpuMs;
    for (auto _ : state) {
        // Closed editor, pixels let go.
        if (AppWindow *editor = windows.editorWindow())
            editor->close();
        app.openEditor(ImageHandle());
        QCoreApplication::processEvents();
        item.image.releaseToFile(png);
        if (item.image.isDecoded()) {
            state.SkipWithError("the pixels are still in memory");
            break;
        }

        QEventLoop loop;
        watch.loop = &loop;
        watch.painted = false;
        QElapsedTimer clock;
        BenchSupport::UiStallProbe probe(1);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        probe.start();
        clock.start();
        page.setHoveredID(item.id);
        page.card(item.id)->actionButton(QStringLiteral("pencil"))->click();
        if (!watch.painted)
            loop.exec();
        const double ms = clock.nsecsElapsed() / 1e6;
        probe.stop();
        watch.loop = nullptr;
        if (!watch.painted || app.capturedImage() != item.image) {
            state.SkipWithError("the editor did not show the capture");
            break;
        }
        state.SetIterationTime(ms / 1000.0);
        openMs.push_back(ms);
        blockMs.push_back(probe.longestMs());
        blockCpuMs.push_back(probe.longestCpuMs());
    }
    qApp->removeEventFilter(&watch);
    if (openMs.empty())
        return;
    std::sort(openMs.begin(), openMs.end());
    state.counters["click_to_editor_p50_ms"] = BenchSupport::percentile(openMs, 0.5);
    state.counters["max_ui_block_ms"] = *std::max_element(blockMs.begin(), blockMs.end());
    state.counters["max_ui_block_cpu_ms"] = *std::max_element(blockCpuMs.begin(), blockCpuMs.end());
    state.counters["load_1min"] = loadAverage();
    HistoryService::resetShared();
}
BENCHMARK(BM_HistoryCardToEditor)
    ->ArgName("height")
    ->Arg(1800)
    ->Arg(20000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

} // namespace

int main(int argc, char **argv)
{
    static QTemporaryDir home;
    BenchSupport::pointXdgAt(home.path());
    // As the program does at start: long captures decode, and large blocks
    // go back to the system when freed.
    ImageDiff::raiseAllocationLimit();
    HeapMemory::giveLargeBlocksBack();
    return BenchSupport::runOnOffscreenScreen<QApplication>(argc, argv, "bench", 1440, 900);
}
