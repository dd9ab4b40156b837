// Stitching a scrolling capture of 51 frames of 2400 x 1600 pixels, cut from a
// generated page at known shifts, against a plain scalar version of the same
// overlap search (kept here only, as the yardstick).
#include "capture/ScrollCaptureService.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>

namespace {

constexpr int frameWidth = 2400;
constexpr int frameHeight = 1600;
constexpr int frameCount = 51;

// A page that looks like a document: lines of "words" (random dark marks on
// white), coloured headings now and then, and photographs (noise blocks).
QImage makeDocument(int width, int height)
{
    QImage page(width, height, QImage::Format_RGB32);
    page.fill(Qt::white);
    QRandomGenerator rng(2024);
    int y = 16;
    while (y < height) {
        const int kind = rng.bounded(10);
        if (kind == 0) { // a photograph
            const int h = 120 + rng.bounded(200);
            for (int yy = y; yy < std::min(y + h, height); ++yy) {
                auto *row = reinterpret_cast<QRgb *>(page.scanLine(yy));
                for (int x = 80; x < width - 80; ++x)
                    row[x] = qRgb(rng.bounded(256), rng.bounded(256), rng.bounded(256));
            }
            y += h + 16;
            continue;
        }
        const QRgb ink = kind == 1 ? qRgb(rng.bounded(200), rng.bounded(200), 255) : qRgb(20, 20, 20);
        const int lineHeight = kind == 1 ? 36 : 22;
        int x = 80;
        while (x < width - 200) {
            const int word = 30 + rng.bounded(160);
            for (int yy = y; yy < std::min(y + lineHeight, height); ++yy) {
                auto *row = reinterpret_cast<QRgb *>(page.scanLine(yy));
                for (int xx = x; xx < x + word; ++xx)
                    if (rng.bounded(3) == 0)
                        row[xx] = ink;
            }
            x += word + 14;
        }
        y += lineHeight + 10 + rng.bounded(8);
    }
    return page;
}

struct Capture
{
    QImage page;
    QList<QImage> frames;
    QList<int> overlaps; // the true overlap of each neighbouring pair
};

const Capture &capture()
{
    static const Capture c = [] {
        Capture c;
        QRandomGenerator rng(7);
        QList<int> shifts;
        int total = 0;
        for (int i = 1; i < frameCount; ++i) {
            shifts.append(40 + rng.bounded(260)); // one notch: 40 to 300 rows
            total += shifts.last();
        }
        c.page = makeDocument(frameWidth, frameHeight + total);
        int top = 0;
        c.frames.append(c.page.copy(0, 0, frameWidth, frameHeight));
        for (int shift : shifts) {
            top += shift;
            c.frames.append(c.page.copy(0, top, frameWidth, frameHeight));
            c.overlaps.append(frameHeight - shift);
        }
        return c;
    }();
    return c;
}

// The search as plainly written: both frames as RGBA bytes, every candidate
// scored in full, byte by byte.
int scalarFindScrollOverlap(const QImage &previous, const QImage &next)
{
    const int w = std::min(previous.width(), next.width());
    const QImage a = previous.scaled(w, previous.height()).convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const QImage b = next.scaled(w, next.height()).convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const int ha = a.height(), hb = b.height();
    int n;
    if (ha >= 160 && hb >= 160)
        n = 40;
    else if (ha >= 160)
        n = hb / 4;
    else
        n = std::min(hb / 4, ha / 4);
    const int last = std::min(ha, hb);
    long long bestScore = -1;
    int bestK = 0;
    for (int k = n; k <= last; ++k) {
        long long score = 0;
        for (int j = 0; j < n; ++j) {
            const uchar *pa = a.constScanLine(ha - k + j);
            const uchar *pb = b.constScanLine(j);
            for (int o = 0; o < 4 * w; o += 8)
                score += std::abs(int(pa[o]) - int(pb[o]));
        }
        if (bestScore < 0 || score < bestScore) {
            bestScore = score;
            bestK = k;
        }
    }
    return bestScore >= 0 && bestScore < (long long)n * w / 2 ? bestK : 0;
}

QImage scalarStitch(const QList<QImage> &frames)
{
    QList<int> overlaps;
    int height = frames.first().height();
    for (qsizetype i = 0; i + 1 < frames.size(); ++i) {
        overlaps.append(scalarFindScrollOverlap(frames[i], frames[i + 1]));
        height += frames[i + 1].height() - overlaps.last();
    }
    QImage canvas(frames.first().width(), height, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter p(&canvas);
    int top = 0;
    for (qsizetype i = 0; i < frames.size(); ++i) {
        p.drawImage(0, top, frames[i]);
        if (i + 1 < frames.size())
            top += frames[i].height() - overlaps[i];
    }
    return canvas;
}

bool sameRows(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return false;
    const QImage ca = a.convertToFormat(QImage::Format_RGB32);
    const QImage cb = b.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < ca.height(); ++y)
        if (std::memcmp(ca.constScanLine(y), cb.constScanLine(y), size_t(ca.width()) * 4) != 0)
            return false;
    return true;
}

double g_fastSeconds = 0;
double g_scalarSeconds = 0;

void BM_StitchScrollFrames(benchmark::State &state)
{
    const Capture &c = capture();
    int found = 0;
    for (qsizetype i = 0; i < c.overlaps.size(); ++i)
        found += ScrollCaptureService::findScrollOverlap(c.frames[i], c.frames[i + 1]) == c.overlaps[i];
    std::optional<QImage> result;
    for (auto _ : state) {
        result = ScrollCaptureService::stitchScrollFrames(c.frames);
        benchmark::DoNotOptimize(result);
    }
    state.counters["overlapsFound"] = found;
    state.counters["overlaps"] = double(c.overlaps.size());
    state.counters["pageMatches"] = result && sameRows(*result, c.page) ? 1 : 0;
    if (found != c.overlaps.size() || !state.counters["pageMatches"])
        state.SkipWithError("wrong overlaps or stitched page");
}

void BM_ScalarStitch(benchmark::State &state)
{
    const Capture &c = capture();
    QImage result;
    for (auto _ : state) {
        result = scalarStitch(c.frames);
        benchmark::DoNotOptimize(result);
    }
    state.counters["pageMatches"] = sameRows(result, c.page) ? 1 : 0;
}

// Keeps the mean wall time of each benchmark for the ratio printed at the end.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            const double seconds = run.real_accumulated_time / double(std::max<int64_t>(1, run.iterations));
            if (run.benchmark_name().find("BM_StitchScrollFrames") == 0)
                g_fastSeconds = seconds;
            else if (run.benchmark_name().find("BM_ScalarStitch") == 0)
                g_scalarSeconds = seconds;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

BENCHMARK(BM_StitchScrollFrames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_ScalarStitch)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (g_fastSeconds > 0 && g_scalarSeconds > 0)
        std::printf("stitch 51 frames %dx%d: %.1f ms; scalar search: %.1f ms; %.1fx faster\n", frameWidth,
                    frameHeight, g_fastSeconds * 1e3, g_scalarSeconds * 1e3, g_scalarSeconds / g_fastSeconds);
    benchmark::Shutdown();
    return 0;
}
