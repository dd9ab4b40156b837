// The size-limited encoder: the order of its quality and scale steps, seen
// through a recording encoder, and one run with the real encoders.

#include "output/ImageExporter.h"

#include <QImage>
#include <QRandomGenerator>
#include <QThread>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

namespace {

struct Attempt
{
    QSize size;
    qreal devicePixelRatio;
    ImageFormat format;
    double quality;
};

// Records each attempt and answers with as many bytes as size(attempt)
// says.
struct RecordingEncoder
{
    std::function<qsizetype(const Attempt &)> size;
    QList<Attempt> attempts;

    ImageExporter::Encoder encoder()
    {
        return [this](const QImage &image, ImageFormat format, double quality) {
            const Attempt a{image.size(), image.devicePixelRatio(), format, quality};
            attempts.append(a);
            return QByteArray(size(a), char(attempts.size()));
        };
    }
    QList<double> qualities() const
    {
        QList<double> q;
        for (const Attempt &a : attempts)
            q << a.quality;
        return q;
    }
    QList<int> widths() const
    {
        QList<int> w;
        for (const Attempt &a : attempts)
            w << a.size.width();
        return w;
    }
};

QImage capture(int width = 1000, int height = 600)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    image.setDevicePixelRatio(2.0);
    return image;
}

void expectQualities(const QList<double> &actual, const QList<double> &expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (int i = 0; i < actual.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-9) << "attempt " << i;
}

} // namespace

TEST(EncodeWithinLimit, NoLimitOrFirstFitReturnsTheFirstEncoding)
{
    for (qint64 limit : {qint64(0), qint64(-5), qint64(10000), qint64(999999)}) {
        RecordingEncoder rec;
        rec.size = [](const Attempt &) { return qsizetype(10000); };
        const QByteArray bytes =
            ImageExporter::encodeWithinLimit(capture(), ImageFormat::jpeg, limit, 0.9, rec.encoder());
        EXPECT_EQ(bytes.size(), 10000);
        EXPECT_EQ(rec.attempts.size(), 1) << limit;
    }
    // 0 KB means no limit, however large the bytes are.
    RecordingEncoder huge;
    huge.size = [](const Attempt &) { return qsizetype(50'000'000); };
    EXPECT_EQ(ImageExporter::encodeWithinLimit(capture(), ImageFormat::png, 0, 0.9, huge.encoder()).size(), 50'000'000);
    EXPECT_EQ(huge.attempts.size(), 1);
}

TEST(EncodeWithinLimit, LossyFormatsLowerTheQualityFirstAtFullSize)
{
    // Fits only at the floor quality: nine encodings, 0.9 down to 0.15.
    for (ImageFormat f : {ImageFormat::jpeg, ImageFormat::heic, ImageFormat::webp}) {
        RecordingEncoder rec;
        rec.size = [](const Attempt &a) { return qsizetype(a.quality < 0.151 ? 900 : 5000); };
        const QByteArray bytes = ImageExporter::encodeWithinLimit(capture(), f, 1000, 0.9, rec.encoder());
        expectQualities(rec.qualities(), {0.9, 0.8, 0.7, 0.6, 0.5, 0.4, 0.3, 0.2, 0.15});
        for (const Attempt &a : rec.attempts) {
            EXPECT_EQ(a.size, QSize(1000, 600));
            EXPECT_EQ(a.format, f);
        }
        EXPECT_EQ(bytes.size(), 900);
    }
    // Stops at the first quality that fits.
    RecordingEncoder early;
    early.size = [](const Attempt &a) { return qsizetype(a.quality < 0.65 ? 900 : 5000); };
    ImageExporter::encodeWithinLimit(capture(), ImageFormat::jpeg, 1000, 0.9, early.encoder());
    expectQualities(early.qualities(), {0.9, 0.8, 0.7, 0.6});
}

TEST(EncodeWithinLimit, QualityStepsFollowDoubleArithmetic)
{
    // From 0.85: 0.75 ... 0.25, a hair above 0.15, then 0.15 itself.
    RecordingEncoder rec;
    rec.size = [](const Attempt &a) { return qsizetype(a.quality <= 0.15 && a.size.width() < 500 ? 10 : 5000); };
    ImageExporter::encodeWithinLimit(capture(), ImageFormat::webp, 1000, 0.85, rec.encoder());
    const QList<double> q = rec.qualities();
    ASSERT_GE(q.size(), 10);
    expectQualities(q.mid(0, 8), {0.85, 0.75, 0.65, 0.55, 0.45, 0.35, 0.25, 0.15});
    EXPECT_GT(q[7], 0.15);
    EXPECT_EQ(q[8], 0.15);
    // A start at the floor or below lowers nothing.
    for (double start : {0.15, 0.1}) {
        RecordingEncoder low;
        low.size = [](const Attempt &) { return qsizetype(5000); };
        ImageExporter::encodeWithinLimit(capture(), ImageFormat::jpeg, 1000, start, low.encoder());
        ASSERT_EQ(low.attempts.size(), 8);
        for (const Attempt &a : low.attempts)
            EXPECT_EQ(a.quality, start);
    }
}

TEST(EncodeWithinLimit, LosslessFormatsGoStraightToTheScaleSteps)
{
    // Fits at no scale: full size and seven scales, all relative to the
    // input, at the caller's quality; the 0.3 bytes come back.
    for (ImageFormat f : {ImageFormat::png, ImageFormat::tiff}) {
        RecordingEncoder rec;
        rec.size = [](const Attempt &a) { return qsizetype(a.size.width()) * 10; };
        const QByteArray bytes = ImageExporter::encodeWithinLimit(capture(), f, 100, 0.9, rec.encoder());
        EXPECT_EQ(rec.widths(), QList<int>({1000, 900, 800, 700, 600, 500, 400, 300}));
        for (const Attempt &a : rec.attempts) {
            EXPECT_EQ(a.quality, 0.9);
            EXPECT_EQ(a.devicePixelRatio, 2.0);
            EXPECT_EQ(a.size.height(), qRound(a.size.width() * 0.6));
        }
        EXPECT_EQ(bytes.size(), 3000);
    }
}

TEST(EncodeWithinLimit, WorstCaseIsSixteenEncodingsEndingAtTheSmallestScale)
{
    RecordingEncoder rec;
    rec.size = [](const Attempt &) { return qsizetype(5000); };
    const QByteArray bytes = ImageExporter::encodeWithinLimit(capture(), ImageFormat::heic, 1, 0.9, rec.encoder());
    ASSERT_EQ(rec.attempts.size(), 16);
    expectQualities(rec.qualities().mid(0, 9), {0.9, 0.8, 0.7, 0.6, 0.5, 0.4, 0.3, 0.2, 0.15});
    for (int i = 9; i < 16; ++i)
        EXPECT_EQ(rec.attempts[i].quality, 0.15);
    EXPECT_EQ(rec.widths().mid(8), QList<int>({1000, 900, 800, 700, 600, 500, 400, 300}));
    EXPECT_EQ(bytes, QByteArray(5000, char(16))); // the last attempt's bytes
    // The scale steps stop at the first scale that fits.
    RecordingEncoder fits;
    fits.size = [](const Attempt &a) { return qsizetype(a.size.width() <= 700 ? 10 : 5000); };
    ImageExporter::encodeWithinLimit(capture(), ImageFormat::jpeg, 1000, 0.9, fits.encoder());
    EXPECT_EQ(fits.widths().mid(9), QList<int>({900, 800, 700}));
}

TEST(EncodeWithinLimit, QualityOutOfRangeStartsFromTheClampedValue)
{
    // A settings file can hold any number; a huge one must not make the
    // steps run (nearly) forever.
    RecordingEncoder high;
    high.size = [](const Attempt &) { return qsizetype(5000); };
    ImageExporter::encodeWithinLimit(capture(), ImageFormat::jpeg, 1000, 1e300, high.encoder());
    ASSERT_EQ(high.attempts.size(), 17);
    expectQualities(high.qualities().mid(0, 10), {1.0, 0.9, 0.8, 0.7, 0.6, 0.5, 0.4, 0.3, 0.2, 0.15});

    RecordingEncoder negative;
    negative.size = [](const Attempt &) { return qsizetype(5000); };
    ImageExporter::encodeWithinLimit(capture(), ImageFormat::webp, 1000, -2.0, negative.encoder());
    ASSERT_EQ(negative.attempts.size(), 8);
    EXPECT_EQ(negative.attempts.first().quality, 0.0);
}

TEST(EncodeWithinLimit, AnEncodingErrorEndsTheSteps)
{
    int calls = 0;
    const ImageExporter::Encoder failing = [&](const QImage &, ImageFormat, double q) -> QByteArray {
        ++calls;
        if (q < 0.75)
            throw VornaError::exportFailed(QStringLiteral("JPEG encode"));
        return QByteArray(5000, 'x');
    };
    try {
        ImageExporter::encodeWithinLimit(capture(), ImageFormat::jpeg, 1000, 0.9, failing);
        FAIL() << "no error";
    } catch (const VornaError &e) {
        EXPECT_EQ(e.errorDescription(), QStringLiteral("Export failed: JPEG encode"));
    }
    EXPECT_EQ(calls, 3);
}

TEST(EncodeWithinLimit, RealEncodersMeetALimitOffTheMainThread)
{
    // Noise: its bytes shrink with the quality and with the area.
    QImage image(800, 500, QImage::Format_RGB32);
    QRandomGenerator rng(3);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, rng.generate() | 0xff000000u);
    image.setDevicePixelRatio(2.0);
    for (ImageFormat f : {ImageFormat::jpeg, ImageFormat::png}) {
        SCOPED_TRACE(ImageFormats::rawValue(f).toStdString());
        const qint64 limit = ImageExporter::encode(image, f, 0.9).size() / 3;
        QByteArray bytes;
        std::unique_ptr<QThread> worker(
            QThread::create([&] { bytes = ImageExporter::encodeWithinLimit(image, f, limit, 0.9); }));
        worker->start();
        ASSERT_TRUE(worker->wait(60000));
        EXPECT_LE(bytes.size(), limit);
        QImage decoded;
        ASSERT_TRUE(decoded.loadFromData(bytes));
        EXPECT_LE(decoded.width(), image.width());
    }
}
