// Full-screen capture of a 2880 x 1800 screen at two pixels per point.
//
// Run without DISPLAY and the bench starts its own server,
//   Xvfb -displayfd 3 -screen 0 2880x1800x24 -nolisten tcp
// and runs Qt with QT_SCALE_FACTOR=2, so the screen is 1440 x 900 points and
// the capture needs no scaling. With DISPLAY set it uses that server as it is.
#include <benchmark/benchmark.h>

#include "BenchSupport.h"

#include <QGuiApplication>
#include <QScreen>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "capture/CaptureService.h"
#include "platform/X11ScreenCapture.h"

namespace {

void BM_CaptureFullScreen(benchmark::State &state)
{
    for (auto _ : state) {
        std::optional<QImage> image = CaptureService::captureFullScreen();
        if (!image || image->size() != QSize(2880, 1800)) {
            state.SkipWithError("the capture did not give a 2880 x 1800 image");
            break;
        }
        benchmark::DoNotOptimize(image->constBits());
    }
}
BENCHMARK(BM_CaptureFullScreen)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(50)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char **argv)
{
    if (!BenchSupport::useXScreen())
        return 1;
    int rc = 0;
    {
        QGuiApplication app(argc, argv);
        const QScreen *screen = QGuiApplication::primaryScreen();
        X11ScreenCapture backend;
        std::printf("screen %dx%d points at %.1f pixels per point, shared memory %s\n", screen->geometry().width(),
                    screen->geometry().height(), screen->devicePixelRatio(),
                    backend.usesSharedMemory() ? "yes" : "no");
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    BenchXServer::stop();
    return rc;
}
