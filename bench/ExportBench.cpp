// Encoding speed of a 2880x1800 screenshot-like image:
// - PNG: our encoder against Qt's stock PNG writer (QImage::save, default
//   settings), in the same run, with file sizes and a pixel check;
// - one encoding per format at quality 0.9;
// - the size limit's worst case (a limit nothing meets: 16 encodings for
//   JPEG, WebP and HEIC).
// Run: build/bench/ExportBench [--benchmark_filter=...]

#include "output/ImageExporter.h"
#include "../tests/support/SyntheticScreenshot.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

const QImage &screenshot()
{
    static const QImage image = [] {
        QImage i = makeSyntheticScreenshot(2880, 1800);
        i.setDevicePixelRatio(2.0);
        return i;
    }();
    return image;
}

QByteArray qtPng(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void BM_PngQtStock(benchmark::State &state)
{
    QByteArray bytes;
    for (auto _ : state) {
        bytes = qtPng(screenshot());
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["bytes"] = double(bytes.size());
}
BENCHMARK(BM_PngQtStock)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_PngVorna(benchmark::State &state)
{
    QByteArray bytes;
    for (auto _ : state) {
        bytes = ImageExporter::encode(screenshot(), ImageFormat::png, 0.9);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["bytes"] = double(bytes.size());
}
BENCHMARK(BM_PngVorna)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_EncodeOnce(benchmark::State &state)
{
    const auto format = ImageFormat(state.range(0));
    state.SetLabel(ImageFormats::rawValue(format).toStdString());
    QByteArray bytes;
    for (auto _ : state) {
        bytes = ImageExporter::encode(screenshot(), format, 0.9);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["bytes"] = double(bytes.size());
}
BENCHMARK(BM_EncodeOnce)
    ->Arg(int(ImageFormat::png))
    ->Arg(int(ImageFormat::jpeg))
    ->Arg(int(ImageFormat::tiff))
    ->Arg(int(ImageFormat::heic))
    ->Arg(int(ImageFormat::webp))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_LadderWorstCase(benchmark::State &state)
{
    const auto format = ImageFormat(state.range(0));
    state.SetLabel(ImageFormats::rawValue(format).toStdString());
    int encodings = 0;
    const ImageExporter::Encoder counting = [&](const QImage &image, ImageFormat f, double q) {
        ++encodings;
        return ImageExporter::encode(image, f, q);
    };
    QByteArray bytes;
    for (auto _ : state) {
        encodings = 0;
        // One byte: no attempt fits, so every quality and scale step runs.
        bytes = ImageExporter::encodeWithinLimit(screenshot(), format, 1, 0.9, counting);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["encodings"] = encodings;
    state.counters["bytes"] = double(bytes.size());
}
BENCHMARK(BM_LadderWorstCase)
    ->Arg(int(ImageFormat::jpeg))
    ->Arg(int(ImageFormat::webp))
    ->Arg(int(ImageFormat::heic))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Prints the console report and keeps each run's time and bytes for the
// PNG comparison at the end.
class Reporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            Result &r = results[run.benchmark_name()];
            r.ms = run.GetAdjustedRealTime();
            const auto it = run.counters.find("bytes");
            if (it != run.counters.end())
                r.bytes = it->second.value;
        }
    }
    struct Result
    {
        double ms = 0;
        double bytes = 0;
    };
    std::map<std::string, Result> results;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    screenshot();

    // The two PNG writers must agree on every pixel.
    QImage ours, stock;
    ours.loadFromData(ImageExporter::encode(screenshot(), ImageFormat::png, 0.9), "PNG");
    stock.loadFromData(qtPng(screenshot()), "PNG");
    const bool identical = ours.convertToFormat(QImage::Format_RGB32) == screenshot().convertToFormat(QImage::Format_RGB32)
                           && stock.convertToFormat(QImage::Format_RGB32) == ours.convertToFormat(QImage::Format_RGB32);

    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto qt = reporter.results.find("BM_PngQtStock/min_time:2.000/real_time");
    const auto vorna = reporter.results.find("BM_PngVorna/min_time:2.000/real_time");
    std::printf("PNG pixels identical to the input: %s\n", identical ? "yes" : "NO");
    if (qt != reporter.results.end() && vorna != reporter.results.end()) {
        std::printf("PNG time: ours %.1f ms, Qt %.1f ms, ratio %.3f (at most 0.2)\n", vorna->second.ms, qt->second.ms,
                    vorna->second.ms / qt->second.ms);
        std::printf("PNG size: ours %.0f B, Qt %.0f B, ratio %.3f (at most 1.25)\n", vorna->second.bytes,
                    qt->second.bytes, vorna->second.bytes / qt->second.bytes);
    }
    return identical ? 0 : 1;
}
