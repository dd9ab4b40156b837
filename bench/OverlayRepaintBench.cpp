// One repaint of the region overlay after a mouse move, on a 3840 x 2160
// screen (offscreen platform), with a 7680 x 4320 picture of the screen.
// Each iteration sends one mouse event and lets the overlay repaint; the
// counters give the 50th and 99th percentile and the worst time.
#include "capture/RegionSelectionNSView.h"
#include "capture/RegionSelectionWindow.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRandomGenerator>
#include <QScreen>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <vector>

namespace {

QImage makeScreenPicture(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator rng(3);
    QPainter p(&image);
    for (int y = 0; y < size.height(); y += 40)
        for (int x = 0; x < size.width(); x += 160)
            p.fillRect(x, y, 160, 40, QColor::fromRgb(rng.bounded(256), rng.bounded(256), rng.bounded(256)));
    p.end();
    image.setDevicePixelRatio(2);
    return image;
}

struct PaintCounter : QObject
{
    int paints = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

void runMoves(benchmark::State &state, bool dragging)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    RegionSelectionWindow window(screen, makeScreenPicture(screen->geometry().size() * 2), [](std::optional<QRectF>) {});
    window.show();
    QCoreApplication::processEvents();
    RegionSelectionNSView *view = window.contentView();
    PaintCounter counter;
    view->installEventFilter(&counter);

    auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, view->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &event);
    };
    if (dragging)
        send(QEvent::MouseButtonPress, QPointF(600, 400), Qt::LeftButton);
    QCoreApplication::processEvents();

    std::vector<double> samples;
    QPointF at(700, 500);
    qreal step = 3;
    int expectedPaints = counter.paints;
    for (auto _ : state) {
        // Sweep across the screen in small steps, as a hand moves a mouse.
        at += QPointF(step, step * 0.6);
        if (at.x() > 3700 || at.x() < 200)
            step = -step;
        QElapsedTimer timer;
        timer.start();
        send(QEvent::MouseMove, at, dragging ? Qt::LeftButton : Qt::NoButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        const double seconds = timer.nsecsElapsed() / 1e9;
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1e3);
        ++expectedPaints;
    }
    view->removeEventFilter(&counter);
    if (counter.paints != expectedPaints)
        state.SkipWithError("not every move was repainted");
    BenchSupport::reportPercentiles(state, samples);
}

void BM_OverlayRepaintAfterMove(benchmark::State &state)
{
    runMoves(state, false);
}

void BM_OverlayRepaintWhileDragging(benchmark::State &state)
{
    runMoves(state, true);
}

} // namespace

BENCHMARK(BM_OverlayRepaintAfterMove)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1000);
BENCHMARK(BM_OverlayRepaintWhileDragging)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1000);

int main(int argc, char **argv)
{
    // One 3840 x 2160 screen.
    return BenchSupport::runOnOffscreenScreen<QApplication>(argc, argv, "uhd", 3840, 2160);
}
