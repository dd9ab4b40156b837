// The capture history over a session of full-screen captures of 3840 x 2160
// pixels, each run through the real capture pipeline (clipboard, history,
// preview, automatic save):
//
//   BM_ResidentAfterCaptures      resident memory of a fresh child process
//                                 after 50 captures, one after the other as a
//                                 user takes them (each capture's background
//                                 work done before the next), and its peak
//   BM_HistoryPngQtWriter/K       CPU time of writing one capture's history
//   BM_HistoryPngOwnEncoder/K/E/T PNG with Qt's stock writer and with the
//                                 program's own encoder at effort E, in
//                                 parallel strips (T 0) or as one stream on
//                                 the calling thread (T 1; the history
//                                 writes at "fast", 1, as one stream); the
//                                 whole process's CPU time, all threads.
//                                 K is the capture: 0 a desktop of windows
//                                 and text, 1 the same over a photograph
//                                 (noisy)
//   BM_HistoryPngFromSavedFile/K  the same write when the user's file is a
//                                 PNG of the whole capture: its bytes with
//                                 the resolution added (the default format)
//
// Run: build/bench/HistoryCaptureBench
#include "app/CapturePipeline.h"
#include "model/AppState.h"
#include "output/HistoryService.h"
#include "output/PngEncoder.h"
#include "platform/IdleWork.h"
#include "windows/FloatingPreviewController.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

using BenchSupport::pointXdgAt;
using BenchSupport::statusKb;

namespace {

constexpr int kCaptures = 50;
constexpr QSize kScreen(3840, 2160);

std::unique_ptr<QTemporaryDir> g_home;

// A desktop: a gradient, windows with rows of "text", and noise, so the
// PNG costs what a real busy screenshot costs. Each seed moves the windows.
QImage screenCapture(quint32 seed)
{
    QImage img(kScreen, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    BenchSupport::paintDesktop(img, rng, {QSize(2800, 1400), QSize(800, 500), QSize(800, 400)}, 300000);
    return img;
}

// The child: 50 captures through the pipeline, then the report.
int childMain(int argc, char **argv)
{
    QApplication app(argc, argv);
    AppState state;
    state.setPlaySound(false);
    state.setShowCaptureFlash(false);
    state.setSaveDirectory(QDir::homePath() + "/Pictures");
    FloatingPreviewController preview;
    CapturePipeline pipeline(state, preview);
    HistoryService &history = HistoryService::shared();
    const QImage base = screenCapture(1);
    for (int i = 0; i < kCaptures; ++i) {
        // A fresh image each time, as the screen gives.
        QImage capture = base.copy();
        QPainter(&capture).fillRect(QRect(40 * i, 30 * i, 400, 300), QColor::fromHsv((i * 37) % 360, 200, 200));
        capture.setDevicePixelRatio(2.0);
        pipeline.handleCapture(capture, CaptureMode::fullscreen);
        capture = QImage();
        while (pipeline.pendingSaves() > 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        history.waitForPendingWrites();
        QCoreApplication::processEvents();
    }
    int decoded = 0;
    for (const HistoryItem &item : state.history())
        decoded += item.image.isDecoded() ? 1 : 0;
    std::printf("rss_kb=%lld hwm_kb=%lld items=%lld decoded=%d\n", statusKb("VmRSS:"), statusKb("VmHWM:"),
                qlonglong(state.history().size()), decoded);
    return 0;
}

void BM_ResidentAfterCaptures(benchmark::State &state)
{
    double rss = -1, peak = -1, items = -1, decoded = -1;
    for (auto _ : state) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList env = QProcess::systemEnvironment();
        env << "QT_QPA_PLATFORM=offscreen";
        child.setEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"--child"});
        child.waitForFinished(600000);
        for (const QByteArray &field : child.readAllStandardOutput().trimmed().split(' ')) {
            const auto kv = field.split('=');
            if (kv.size() != 2)
                continue;
            if (kv[0] == "rss_kb")
                rss = kv[1].toLongLong() / 1024.0;
            else if (kv[0] == "hwm_kb")
                peak = kv[1].toLongLong() / 1024.0;
            else if (kv[0] == "items")
                items = kv[1].toInt();
            else if (kv[0] == "decoded")
                decoded = kv[1].toInt();
        }
    }
    if (rss < 0)
        state.SkipWithError("the measuring process reported nothing");
    state.counters["rss_MB"] = rss;
    state.counters["peak_MB"] = peak;
    state.counters["items"] = items;
    state.counters["decoded"] = decoded;
}

// The two captures the write is timed on: the desktop above, and the same
// over a photograph for wallpaper (a gradient with the fine grain of a
// camera picture), the noisy capture that costs a PNG writer most.
const QImage &benchCapture(int kind)
{
    static const QImage desktop = [] {
        QImage img = screenCapture(2);
        img.setDevicePixelRatio(2.0);
        return img;
    }();
    static const QImage photo = [] {
        QImage img = screenCapture(2);
        QRandomGenerator rng(3);
        const QRgb windowWhite = qRgb(245, 245, 245);
        for (int y = 0; y < img.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(img.scanLine(y));
            for (int x = 0; x < img.width(); ++x) {
                if (row[x] == windowWhite || qRed(row[x]) == 30 || qRed(row[x]) == 220)
                    continue; // the windows stay as they are
                const int grain = int(rng.bounded(13)) - 6;
                auto clamp = [](int v) { return std::clamp(v, 0, 255); };
                row[x] = qRgb(clamp(qRed(row[x]) + grain), clamp(qGreen(row[x]) + grain / 2),
                              clamp(qBlue(row[x]) - grain));
            }
        }
        img.setDevicePixelRatio(2.0);
        return img;
    }();
    return kind == 0 ? desktop : photo;
}

QString pngPath()
{
    return QDir::tempPath() + "/history-bench.png";
}

// Writes the bytes as the history file, as the history does.
void writeHistoryFile(const QByteArray &png)
{
    QSaveFile file(pngPath());
    file.open(QIODevice::WriteOnly);
    file.write(png);
    file.commit();
}

// What the history wrote before: Qt's PNG writer, resolution set.
void BM_HistoryPngQtWriter(benchmark::State &state)
{
    QImage out = benchCapture(int(state.range(0)));
    const int perMetre = qRound(out.devicePixelRatio() * 72.0 * 39.3700787);
    out.setDotsPerMeterX(perMetre);
    out.setDotsPerMeterY(perMetre);
    qint64 bytes = 0;
    for (auto _ : state) {
        QSaveFile file(pngPath());
        file.open(QIODevice::WriteOnly);
        QImageWriter writer(&file, "png");
        writer.write(out);
        bytes = file.size();
        file.commit();
    }
    state.counters["file_MB"] = bytes / 1048576.0;
}

void BM_HistoryPngOwnEncoder(benchmark::State &state)
{
    const QImage &image = benchCapture(int(state.range(0)));
    qint64 bytes = 0;
    const auto effort = PngEncoder::Effort(state.range(1));
    const auto threads = state.range(2) ? PngEncoder::Threads::callingThreadOnly : PngEncoder::Threads::parallel;
    for (auto _ : state) {
        const QByteArray png = PngEncoder::encode(image, image.devicePixelRatio(), effort, threads);
        writeHistoryFile(png);
        bytes = png.size();
    }
    state.counters["file_MB"] = bytes / 1048576.0;
}

void BM_HistoryPngFromSavedFile(benchmark::State &state)
{
    const QImage &image = benchCapture(int(state.range(0)));
    const QByteArray saved = PngEncoder::encode(image);
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray png = PngEncoder::withPixelsPerPoint(saved, image.devicePixelRatio());
        writeHistoryFile(png);
        bytes = png.size();
    }
    state.counters["file_MB"] = bytes / 1048576.0;
}

BENCHMARK(BM_ResidentAfterCaptures)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistoryPngQtWriter)->MeasureProcessCPUTime()->Iterations(3)->Unit(benchmark::kMillisecond)->Arg(0)->Arg(1);
BENCHMARK(BM_HistoryPngOwnEncoder)->MeasureProcessCPUTime()->Iterations(10)->Unit(benchmark::kMillisecond)->ArgsProduct({{0, 1}, {int(PngEncoder::Effort::fast), int(PngEncoder::Effort::balanced)}, {0, 1}});
BENCHMARK(BM_HistoryPngFromSavedFile)->MeasureProcessCPUTime()->Iterations(10)->Unit(benchmark::kMillisecond)->Arg(0)->Arg(1);

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && qstrcmp(argv[1], "--child") == 0)
        return childMain(argc, argv);

    g_home = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/vorna-bench-XXXXXX");
    pointXdgAt(g_home->path(), {"Pictures"});
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    IdleWork::pool().waitForDone(); // its drawing needs the application
    g_home.reset();
    return 0;
}
