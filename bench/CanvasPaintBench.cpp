// Painting the annotation canvas over a 2880 x 1800 capture with 500 mixed
// annotations (50 freehand strokes of 500 points, 10 blurs, the rest
// arrows, lines, shapes, highlights, texts and numbered steps):
//  - a full frame, everything drawn again (what a change of the list costs);
//  - a frame while one annotation is dragged with the select tool (the
//    finished layer is cached; one mouse move and the repaint of what it
//    changed per iteration; a frame that repaints the whole canvas is also
//    timed);
//  - the blur filter alone on a 1000 x 1000 region of a 5120 x 2880 image,
//    cells of 10 and 100 pixels;
//  - redraws with 20 unchanged blurs (the counter tells how many patches
//    each redraw had to pixellate: none).
#include "editor/AnnotationCanvasNSView.h"
#include "editor/AnnotationRenderer.h"
#include "editor/Pixellate.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QRandomGenerator>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <vector>

namespace {

QImage makeCapture(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator rng(7);
    QPainter p(&image);
    for (int y = 0; y < size.height(); y += 30)
        for (int x = 0; x < size.width(); x += 120)
            p.fillRect(x, y, 120, 30, QColor::fromRgb(rng.bounded(256), rng.bounded(256), rng.bounded(256)));
    p.setPen(Qt::black);
    for (int y = 20; y < size.height(); y += 30)
        p.drawText(10, y, QStringLiteral("The quick brown fox jumps over the lazy dog 0123456789"));
    p.end();
    return image;
}

QList<Annotation> makeAnnotations(QSizeF bounds)
{
    QRandomGenerator rng(11);
    auto point = [&] { return QPointF(rng.bounded(bounds.width()), rng.bounded(bounds.height())); };
    QList<Annotation> list;
    const QList<AnnotationTool> others = {AnnotationTool::arrow,   AnnotationTool::line,
                                          AnnotationTool::rectangle, AnnotationTool::ellipse,
                                          AnnotationTool::highlight, AnnotationTool::text,
                                          AnnotationTool::numbering};
    for (int i = 0; i < 500; ++i) {
        Annotation a;
        a.color = QColor::fromHsv(rng.bounded(360), 220, 230);
        a.lineWidth = 2 + rng.bounded(6);
        a.isFinished = true;
        if (i % 10 == 0) { // 50 freehand strokes of 500 points
            a.tool = AnnotationTool::freehand;
            QPointF at = point();
            for (int k = 0; k < 500; ++k) {
                at += QPointF(rng.bounded(9.0) - 4, rng.bounded(9.0) - 4);
                a.points.append(at);
            }
        } else if (i % 50 == 5) { // 10 blurs
            a.tool = AnnotationTool::blur;
            const QPointF at = point();
            a.points = {at, at + QPointF(80 + rng.bounded(200), 40 + rng.bounded(100))};
        } else {
            a.tool = others[i % others.size()];
            const QPointF at = point();
            a.points = {at, at + QPointF(rng.bounded(300.0) - 150, rng.bounded(200.0) - 100)};
            if (a.tool == AnnotationTool::text) {
                a.text = QStringLiteral("Note %1").arg(i);
                a.points = {at};
            }
            if (a.tool == AnnotationTool::numbering) {
                a.number = i;
                a.points = {at};
                a.fontSize = 16;
            }
        }
        list.append(a);
    }
    // The topmost one, the one the drag benchmarks move: a rectangle mid-canvas.
    list.last().tool = AnnotationTool::rectangle;
    list.last().points = {QPointF(1300, 800), QPointF(1500, 950)};
    return list;
}

struct Fixture
{
    Fixture()
    {
        image = makeCapture(QSize(2880, 1800));
        view.setImage(ImageHandle(image));
        view.setAnnotations(makeAnnotations(QSizeF(2880, 1800)));
        view.show();
        QCoreApplication::processEvents();
    }
    void send(QEvent::Type type, QPointF at, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, at, view.mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &event);
    }
    QImage image;
    AnnotationCanvasNSView view;
};

struct PaintCounter : QObject
{
    int paints = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

void BM_CanvasFullFrame(benchmark::State &state)
{
    Fixture f;
    std::vector<double> samples;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        f.view.redraw();
        f.view.repaint();
        const double seconds = timer.nsecsElapsed() / 1e9;
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1e3);
    }
    BenchSupport::reportPercentiles(state, samples);
}

void BM_CanvasFrameWhileDragging(benchmark::State &state)
{
    Fixture f;
    f.view.setCurrentTool(AnnotationTool::select);
    // Grab the topmost annotation by its first point.
    const QPointF start = f.view.annotations().last().boundingRect().center();
    f.send(QEvent::MouseButtonPress, start, Qt::LeftButton);
    if (!f.view.selectedAnnotationID()) {
        state.SkipWithError("nothing selected");
        return;
    }
    f.send(QEvent::MouseMove, start + QPointF(1, 1), Qt::LeftButton);
    f.view.repaint();
    PaintCounter counter;
    f.view.installEventFilter(&counter);
    std::vector<double> samples;
    QPointF at = start;
    double step = 3;
    for (auto _ : state) {
        at += QPointF(step, step * 0.5);
        if (std::abs(at.x() - start.x()) > 600)
            step = -step;
        QElapsedTimer timer;
        timer.start();
        f.send(QEvent::MouseMove, at, Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        const double seconds = timer.nsecsElapsed() / 1e9;
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1e3);
    }
    f.view.removeEventFilter(&counter);
    f.send(QEvent::MouseButtonRelease, at, Qt::NoButton);
    if (counter.paints != int(samples.size()))
        state.SkipWithError(("not every move was repainted: " + std::to_string(counter.paints)).c_str());
    BenchSupport::reportPercentiles(state, samples);
}

void BM_CanvasWholeFrameWhileDragging(benchmark::State &state)
{
    Fixture f;
    f.view.setCurrentTool(AnnotationTool::select);
    const QPointF start = f.view.annotations().last().boundingRect().center();
    f.send(QEvent::MouseButtonPress, start, Qt::LeftButton);
    f.send(QEvent::MouseMove, start + QPointF(1, 1), Qt::LeftButton);
    f.view.repaint();
    std::vector<double> samples;
    QPointF at = start;
    double step = 3;
    for (auto _ : state) {
        at += QPointF(step, step * 0.5);
        if (std::abs(at.x() - start.x()) > 600)
            step = -step;
        QElapsedTimer timer;
        timer.start();
        f.send(QEvent::MouseMove, at, Qt::LeftButton);
        f.view.repaint();
        const double seconds = timer.nsecsElapsed() / 1e9;
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1e3);
    }
    f.send(QEvent::MouseButtonRelease, at, Qt::NoButton);
    BenchSupport::reportPercentiles(state, samples);
}

void BM_PixellateRegion(benchmark::State &state)
{
    const QImage image = makeCapture(QSize(5120, 2880));
    const int cell = int(state.range(0));
    const QRect region(2000, 1000, 1000, 1000);
    for (auto _ : state) {
        QImage patch = Pixellate::pixellate(image, region, cell);
        benchmark::DoNotOptimize(patch);
    }
}

void BM_RedrawWithUnchangedBlurs(benchmark::State &state)
{
    AnnotationCanvasNSView view;
    view.setImage(ImageHandle(makeCapture(QSize(2880, 1800))));
    QList<Annotation> blurs;
    for (int i = 0; i < 20; ++i) {
        Annotation a;
        a.tool = AnnotationTool::blur;
        a.points = {QPointF(40 + (i % 5) * 500, 40 + (i / 5) * 400), QPointF(400 + (i % 5) * 500, 360 + (i / 5) * 400)};
        blurs.append(a);
    }
    view.setAnnotations(blurs);
    view.show();
    QCoreApplication::processEvents();
    view.repaint();
    const int before = view.pixellateCache().pixellationCount();
    qint64 redraws = 0;
    for (auto _ : state) {
        view.redraw();
        view.repaint();
        ++redraws;
    }
    state.counters["pixellations_per_redraw"] =
        double(view.pixellateCache().pixellationCount() - before) / double(std::max<qint64>(1, redraws));
}

} // namespace

BENCHMARK(BM_CanvasFullFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(100);
BENCHMARK(BM_CanvasFrameWhileDragging)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(500);
BENCHMARK(BM_CanvasWholeFrameWhileDragging)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(300);
BENCHMARK(BM_PixellateRegion)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawWithUnchangedBlurs)->Unit(benchmark::kMillisecond)->Iterations(50);

int main(int argc, char **argv)
{
    // One screen large enough to show the whole 2880 x 1800 canvas.
    return BenchSupport::runOnOffscreenScreen<QApplication>(argc, argv, "big", 3840, 2160);
}
