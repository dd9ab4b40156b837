// The editor's heavy work:
// - the shadow and gradient cards (and the window frame) of a 2880x1800
//   capture and of a 2880x20000 scrolling capture, at two pixels per point;
// - flattening 100 annotations into a 2880x1800 capture;
// - text recognition of a 1440x900 page of known text: time, and accuracy
//   as 1 - (edit distance / length of the known text);
// - the longest stall of the main thread's event loop while "Save",
//   "Beautify" and "Extract Text" run (a 1 ms timer measures the gaps).
// Run: build/bench/EditorBench [--benchmark_filter=...]

#include "editor/AnnotationRenderer.h"
#include "editor/BeautifyRenderer.h"
#include "editor/EditorView.h"
#include "editor/TextRecognition.h"
#include "model/AppState.h"
#include "output/HistoryService.h"
#include "platform/AlertPresenter.h"
#include "../tests/support/SyntheticScreenshot.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace {

const QImage &screen()
{
    static const QImage image = [] {
        QImage i = makeSyntheticScreenshot(2880, 1800);
        i.setDevicePixelRatio(2.0);
        return i;
    }();
    return image;
}

// A long page: the screenshot stacked down to 20000 pixels.
const QImage &longPage()
{
    static const QImage image = [] {
        QImage i(2880, 20000, QImage::Format_RGB32);
        QPainter p(&i);
        for (int y = 0; y < 20000; y += 1800)
            p.drawImage(0, y, screen());
        p.end();
        i.setDevicePixelRatio(2.0);
        return i;
    }();
    return image;
}

QList<Annotation> hundredAnnotations()
{
    const AnnotationTool tools[] = {AnnotationTool::arrow, AnnotationTool::rectangle, AnnotationTool::ellipse,
                                    AnnotationTool::line, AnnotationTool::highlight, AnnotationTool::text,
                                    AnnotationTool::numbering, AnnotationTool::freehand, AnnotationTool::blur,
                                    AnnotationTool::arrow};
    QList<Annotation> list;
    for (int i = 0; i < 100; ++i) {
        Annotation a;
        a.tool = tools[i % 10];
        a.color = QColor::fromHsv((i * 37) % 360, 220, 240);
        a.lineWidth = 2 + i % 6;
        const double x = 40 + (i * 131) % 1300, y = 40 + (i * 71) % 800;
        a.points = {QPointF(x, y), QPointF(x + 60 + i % 90, y + 40 + i % 50)};
        if (a.tool == AnnotationTool::freehand)
            for (int k = 0; k < 30; ++k)
                a.points.append(QPointF(x + k * 3, y + (k % 5) * 4));
        a.text = QStringLiteral("Note %1").arg(i);
        a.number = i;
        a.isFinished = true;
        list.append(a);
    }
    return list;
}

void BM_ShadowCard(benchmark::State &state)
{
    const QImage &source = state.range(0) == 0 ? screen() : longPage();
    for (auto _ : state) {
        auto out = BeautifyRenderer::renderShadow(source);
        benchmark::DoNotOptimize(out);
        state.PauseTiming(); // returning a quarter gigabyte to the system is not rendering
        out.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ShadowCard)->Arg(0)->Arg(1)->ArgName("long")->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GradientCard(benchmark::State &state)
{
    const QImage &source = state.range(0) == 0 ? screen() : longPage();
    for (auto _ : state) {
        auto out = BeautifyRenderer::renderGradient(source);
        benchmark::DoNotOptimize(out);
        state.PauseTiming(); // returning a quarter gigabyte to the system is not rendering
        out.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_GradientCard)->Arg(0)->Arg(1)->ArgName("long")->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WindowFrame(benchmark::State &state)
{
    const QImage &source = state.range(0) == 0 ? screen() : longPage();
    for (auto _ : state) {
        auto out = BeautifyRenderer::renderDeviceFrame(source);
        benchmark::DoNotOptimize(out);
        state.PauseTiming(); // returning a quarter gigabyte to the system is not rendering
        out.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WindowFrame)->Arg(0)->Arg(1)->ArgName("long")->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Flatten100(benchmark::State &state)
{
    const QList<Annotation> annotations = hundredAnnotations();
    for (auto _ : state)
        benchmark::DoNotOptimize(AnnotationRenderer::flatten(screen(), annotations));
}
BENCHMARK(BM_Flatten100)->Unit(benchmark::kMillisecond)->UseRealTime();

const QStringList &knownText()
{
    static const QStringList lines{
        QStringLiteral("Quarterly report for the northern region"),
        QStringLiteral("Revenue grew by 12 percent compared with last year."),
        QStringLiteral("The new warehouse opened in March and ships daily."),
        QStringLiteral("Customer satisfaction reached 4.6 out of 5 points."),
        QStringLiteral("Please send your comments to the finance team by Friday."),
        QStringLiteral("Next meeting: Tuesday at 10:30 in room B-204."),
        QStringLiteral("Open issues: late deliveries, invoice errors, staffing."),
        QStringLiteral("Each team lead prepares a short summary of their goals."),
        QStringLiteral("The budget for travel stays the same as in the spring."),
        QStringLiteral("Thank you all for the hard work this quarter."),
    };
    return lines;
}

QImage textScreenshot()
{
    QImage image(1440, 900, QImage::Format_RGB32);
    image.fill(QColor(250, 250, 250));
    QPainter p(&image);
    p.fillRect(0, 0, 1440, 28, QColor(232, 232, 236));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(15);
    p.setFont(font);
    p.setPen(QColor(30, 30, 34));
    for (int i = 0; i < knownText().size(); ++i)
        p.drawText(QPointF(120, 110 + 34 * i), knownText()[i]);
    p.end();
    image.setDevicePixelRatio(1.0);
    return image;
}

int editDistance(const QString &a, const QString &b)
{
    std::vector<int> prev(size_t(b.size()) + 1), cur(size_t(b.size()) + 1);
    for (int j = 0; j <= b.size(); ++j)
        prev[size_t(j)] = j;
    for (int i = 1; i <= a.size(); ++i) {
        cur[0] = i;
        for (int j = 1; j <= b.size(); ++j)
            cur[size_t(j)] = std::min({prev[size_t(j)] + 1, cur[size_t(j - 1)] + 1,
                                       prev[size_t(j - 1)] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        std::swap(prev, cur);
    }
    return prev[size_t(b.size())];
}

void BM_TextRecognition1440x900(benchmark::State &state)
{
    const ImageHandle page(textScreenshot());
    const QString expected = knownText().join(QLatin1Char('\n'));
    QString text;
    for (auto _ : state) {
        auto future = recognizeText(page);
        future.waitForFinished();
        text = future.result().text;
    }
    state.counters["accuracy"] = 1.0 - double(editDistance(text, expected)) / double(expected.size());
    state.counters["lines"] = double(text.split(QLatin1Char('\n')).size());
}
BENCHMARK(BM_TextRecognition1440x900)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

class SilentAlerts : public AlertPresenter
{
public:
    int present(const Alert &) override { return 0; }
};

// The longest gap between ticks of a 1 ms timer on the main thread from
// the moment `start` is called until `finished` is emitted.
template <typename Signal>
double longestStallMs(EditorView &view, Signal finished, const std::function<void()> &start)
{
    QEventLoop loop;
    QObject::connect(&view, finished, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    qint64 last = 0, worst = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, now - last);
        last = now;
    });
    tick.start();
    clock.start();
    start();
    loop.exec();
    worst = std::max(worst, clock.nsecsElapsed() - last);
    return double(worst) / 1e6;
}

void BM_MainThreadStall(benchmark::State &state)
{
    static QTemporaryDir folder;
    SilentAlerts alerts;
    AlertPresenter::setCurrent(&alerts);
    AppState app;
    app.setSaveDirectory(folder.path());
    app.setDefaultFormat(ImageFormat::png);
    app.setMaxFileSizeKB(0);
    const int what = int(state.range(0));
    const ImageHandle image(what == 2 ? textScreenshot() : (state.range(1) ? longPage() : screen()));
    EditorView view(app);
    double worst = 0;
    for (auto _ : state) {
        app.openEditor(image);
        app.setAnnotations(what == 2 ? QList<Annotation>{} : hundredAnnotations());
        // Settle what the previous round left (its watchers and, with them,
        // the last references to its quarter-gigabyte images), so that only
        // this command is measured.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        double stall = 0;
        if (what == 0)
            stall = longestStallMs(view, &EditorView::saveFinished, [&] { view.saveToFolder(); });
        else if (what == 1)
            stall = longestStallMs(view, &EditorView::beautifyFinished,
                                   [&] { view.applyBeautify(BeautifyStyle::shadowAndRoundedCorners); });
        else
            stall = longestStallMs(view, &EditorView::textExtractionFinished, [&] { view.extractText(); });
        worst = std::max(worst, stall);
    }
    HistoryService::shared().waitForPendingWrites();
    AlertPresenter::setCurrent(nullptr);
    state.counters["max_stall_ms"] = worst;
}
BENCHMARK(BM_MainThreadStall)
    ->ArgNames({"save0_beautify1_text2", "long"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({2, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Opening the editor on a new capture while the undo steps hold a long
// capture and its beautified copy (about half a gigabyte, pages touched):
// the time the UI thread spends in openEditor, dropping them.
void BM_OpenEditorDroppingLongSteps(benchmark::State &state)
{
    AppState app;
    for (auto _ : state) {
        state.PauseTiming();
        QImage copy = longPage().copy(); // its own pixels, as a fresh capture has
        app.openEditor(ImageHandle(copy));
        copy = QImage();
        app.replaceImage(ImageHandle(*BeautifyRenderer::renderShadow(app.capturedImage().image())));
        app.replaceImage(ImageHandle(screen()));
        QThreadPool::globalInstance()->waitForDone();
        state.ResumeTiming();
        app.openEditor(ImageHandle(screen()));
    }
    QThreadPool::globalInstance()->waitForDone();
}
BENCHMARK(BM_OpenEditorDroppingLongSteps)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // History writes and preferences go to a private home.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toLocal8Bit());
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    screen();
    longPage();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
