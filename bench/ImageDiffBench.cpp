// Speed of the diff window's pixel difference:
// - the per-row loop alone on one thread (the output already allocated),
// - the whole computation on one thread and spread over all cores,
// for a 5120x2880 pair that is equal, a 5120x2880 pair with noise on every
// pixel, and a 2880x20000 scrolling capture against a copy of itself with a
// changed stripe. The ns_per_px counter is the time per canvas pixel.
// Run: build/bench/ImageDiffBench [--benchmark_filter=...]

#include "editor/ImageDiff.h"

#include <QImage>
#include <QRandomGenerator>
#include <QThread>

#include <benchmark/benchmark.h>

namespace {

struct Pair
{
    QImage a;
    QImage b;
};

QImage gradient(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = qRgb((x * 7) & 0xFF, (y * 3) & 0xFF, (x + y) & 0xFF);
    }
    return image;
}

// 0: 5120x2880 equal, 1: 5120x2880 noisy, 2: 2880x20000 with a changed stripe.
const Pair &pair(int which)
{
    static Pair pairs[3];
    Pair &p = pairs[which];
    if (!p.a.isNull())
        return p;
    const QSize size = which == 2 ? QSize(2880, 20000) : QSize(5120, 2880);
    p.a = gradient(size.width(), size.height());
    p.b = p.a.copy(); // its own pixels, as two loaded files would be
    QRandomGenerator rng(which);
    for (int y = 0; y < p.b.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(p.b.scanLine(y));
        for (int x = 0; x < p.b.width(); ++x) {
            if (which == 1)
                row[x] ^= rng.generate() & 0x003F3F3Fu; // up to 63 off in each colour
            else if (which == 2 && y >= 9000 && y < 11000)
                row[x] = qRgb(255, 255, 255);
        }
    }
    return p;
}

const char *kNames[] = {"5120x2880_equal", "5120x2880_noisy", "2880x20000_stripe"};

void setCounters(benchmark::State &state, const QImage &image, int which)
{
    const double pixels = double(image.width()) * image.height();
    state.counters["ns_per_px"] =
        benchmark::Counter(pixels * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(int64_t(state.iterations() * pixels));
    state.SetLabel(kNames[which]);
}

void BM_DiffLoopOneThread(benchmark::State &state)
{
    const int which = int(state.range(0));
    const Pair &p = pair(which);
    QImage out(p.a.size(), QImage::Format_ARGB32_Premultiplied);
    const int t = ImageDiff::thresholdByte(0.1);
    for (auto _ : state) {
        for (int y = 0; y < out.height(); ++y)
            ImageDiff::diffRow(reinterpret_cast<const uint32_t *>(p.a.constScanLine(y)),
                               reinterpret_cast<const uint32_t *>(p.b.constScanLine(y)),
                               reinterpret_cast<uint32_t *>(out.scanLine(y)), out.width(), t);
        benchmark::DoNotOptimize(out.constBits());
    }
    setCounters(state, out, which);
}
BENCHMARK(BM_DiffLoopOneThread)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DiffComputeOneThread(benchmark::State &state)
{
    const int which = int(state.range(0));
    const Pair &p = pair(which);
    QImage out;
    for (auto _ : state) {
        out = ImageDiff::compute(p.a, p.b, 0.1, 1);
        benchmark::DoNotOptimize(out.constBits());
    }
    setCounters(state, out, which);
}
BENCHMARK(BM_DiffComputeOneThread)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DiffComputeAllCores(benchmark::State &state)
{
    const int which = int(state.range(0));
    const Pair &p = pair(which);
    QImage out;
    for (auto _ : state) {
        out = ImageDiff::compute(p.a, p.b, 0.1, 0);
        benchmark::DoNotOptimize(out.constBits());
    }
    setCounters(state, out, which);
    state.counters["threads"] = QThread::idealThreadCount();
}
BENCHMARK(BM_DiffComputeAllCores)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The scalar loop, for comparison with the vector one.
void BM_DiffLoopScalarOneThread(benchmark::State &state)
{
    const Pair &p = pair(0);
    QImage out(p.a.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        for (int y = 0; y < out.height(); ++y)
            ImageDiff::diffRowScalar(reinterpret_cast<const uint32_t *>(p.a.constScanLine(y)),
                                     reinterpret_cast<const uint32_t *>(p.b.constScanLine(y)),
                                     reinterpret_cast<uint32_t *>(out.scanLine(y)), out.width(), 25);
        benchmark::DoNotOptimize(out.constBits());
    }
    setCounters(state, out, 0);
}
BENCHMARK(BM_DiffLoopScalarOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
