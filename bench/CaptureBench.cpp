// Full-screen capture of a 2880 x 1800 screen at two pixels per point.
//
// Run without DISPLAY and the bench starts its own server,
//   Xvfb -displayfd 3 -screen 0 2880x1800x24 -nolisten tcp
// and runs Qt with QT_SCALE_FACTOR=2, so the screen is 1440 x 900 points and
// the capture needs no scaling. With DISPLAY set it uses that server as it is.
#include <benchmark/benchmark.h>

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

pid_t g_xvfb = -1;

void stopServer()
{
    if (g_xvfb > 0) {
        ::kill(g_xvfb, SIGTERM);
        ::waitpid(g_xvfb, nullptr, 0);
        g_xvfb = -1;
    }
}

// Starts Xvfb on a free display and points DISPLAY at it.
bool startServer()
{
    int fds[2];
    if (::pipe(fds) != 0)
        return false;
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        // The server goes with the bench, however the bench ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::close(fds[0]);
        ::dup2(fds[1], 3);
        if (fds[1] != 3)
            ::close(fds[1]);
        std::freopen("/dev/null", "w", stderr);
        ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "2880x1800x24", "-nolisten", "tcp",
                 static_cast<char *>(nullptr));
        _exit(127);
    }
    ::close(fds[1]);
    g_xvfb = pid;
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    if (number.empty()) {
        stopServer();
        return false;
    }
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    return true;
}

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
    if (!std::getenv("DISPLAY") && !startServer()) {
        std::fprintf(stderr, "could not start Xvfb\n");
        return 1;
    }
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    if (!std::getenv("QT_SCALE_FACTOR"))
        ::setenv("QT_SCALE_FACTOR", "2", 1);
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
    stopServer();
    return rc;
}
