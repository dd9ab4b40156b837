// Every format decodes back to the right size and colours; HEIC and WebP
// through their own libraries' decoders, TIFF through libtiff.

#include "output/EncodingThreads.h"
#include "output/ImageExporter.h"
#include "output/PngEncoder.h"
#include "support/SyntheticScreenshot.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <libheif/heif.h>
#include <mutex>
#include <sched.h>
#include <sys/resource.h>
#include <vector>
#include <tiffio.h>
#include <webp/decode.h>

namespace {

// An image with flat areas, a gradient, text and (optionally) see-through
// parts; odd sizes exercise the encoders' edge handling.
QImage testImage(int width, int height, bool alpha)
{
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    image.fill(alpha ? Qt::transparent : Qt::white);
    QPainter p(&image);
    QLinearGradient g(0, 0, width, 0);
    g.setColorAt(0, QColor(200, 30, 30));
    g.setColorAt(1, QColor(30, 30, 200));
    p.fillRect(QRect(0, 0, width, height / 2), g);
    p.fillRect(QRect(width / 4, height / 2, width / 2, height / 4), QColor(20, 160, 60));
    p.setPen(Qt::black);
    p.drawText(QRect(0, height / 2, width, height / 2), Qt::AlignCenter, QStringLiteral("Vorna 123"));
    p.end();
    return image;
}

// Mean absolute difference per channel (0...255) between two images of the
// same size, compared as non-premultiplied RGBA.
double meanDifference(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGBA8888);
    const QImage y = b.convertToFormat(QImage::Format_RGBA8888);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar *p = x.constScanLine(row);
        const uchar *q = y.constScanLine(row);
        for (int i = 0; i < x.width() * 4; ++i)
            sum += std::abs(int(p[i]) - int(q[i]));
    }
    return sum / (double(x.width()) * x.height() * 4);
}

QImage decodeHeic(const QByteArray &bytes, bool *hasAlpha = nullptr)
{
    heif_context *ctx = heif_context_alloc();
    QImage result;
    if (heif_context_read_from_memory_without_copy(ctx, bytes.constData(), size_t(bytes.size()), nullptr).code
        == heif_error_Ok) {
        heif_image_handle *handle = nullptr;
        if (heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok) {
            const bool alpha = heif_image_handle_has_alpha_channel(handle);
            if (hasAlpha)
                *hasAlpha = alpha;
            heif_image *img = nullptr;
            if (heif_decode_image(handle, &img, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr).code
                == heif_error_Ok) {
                int stride = 0;
                const uint8_t *plane = heif_image_get_plane_readonly(img, heif_channel_interleaved, &stride);
                const int w = heif_image_get_width(img, heif_channel_interleaved);
                const int h = heif_image_get_height(img, heif_channel_interleaved);
                result = QImage(w, h, QImage::Format_RGBA8888);
                for (int y = 0; y < h; ++y)
                    std::memcpy(result.scanLine(y), plane + size_t(y) * size_t(stride), size_t(w) * 4);
                heif_image_release(img);
            }
            heif_image_handle_release(handle);
        }
    }
    heif_context_free(ctx);
    return result;
}

QImage decodeWebp(const QByteArray &bytes, bool *hasAlpha = nullptr)
{
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()), &features)
        != VP8_STATUS_OK)
        return QImage();
    if (hasAlpha)
        *hasAlpha = features.has_alpha;
    int w = 0, h = 0;
    uint8_t *rgba = WebPDecodeRGBA(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()), &w, &h);
    if (!rgba)
        return QImage();
    QImage result(w, h, QImage::Format_RGBA8888);
    for (int y = 0; y < h; ++y)
        std::memcpy(result.scanLine(y), rgba + size_t(y) * size_t(w) * 4, size_t(w) * 4);
    WebPFree(rgba);
    return result;
}

QImage decodeTiff(const QByteArray &bytes, uint16_t *samplesPerPixel = nullptr)
{
    const QString path = QDir::temp().filePath(QStringLiteral("decode-%1.tiff").arg(QRandomGenerator::global()->generate()));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return QImage();
    }
    QImage result;
    if (TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "r")) {
        uint32_t w = 0, h = 0;
        uint16_t spp = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
        if (samplesPerPixel)
            *samplesPerPixel = spp;
        std::vector<uint32_t> raster(size_t(w) * h);
        if (TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0)) {
            result = QImage(int(w), int(h), QImage::Format_RGBA8888);
            for (uint32_t y = 0; y < h; ++y)
                std::memcpy(result.scanLine(int(y)), raster.data() + size_t(y) * w, size_t(w) * 4);
        }
        TIFFClose(tif);
    }
    QFile::remove(path);
    return result;
}

QImage decodeWithQt(const QByteArray &bytes, const char *format)
{
    QImage image;
    image.loadFromData(bytes, format);
    return image;
}

QString exportFailure(const std::function<void()> &call)
{
    try {
        call();
    } catch (const VornaError &e) {
        return e.errorDescription();
    }
    return QStringLiteral("(no error)");
}

} // namespace

TEST(ImageEncoding, EveryFormatDecodesToTheRightSizeAndColours)
{
    // An odd size, as a region capture often has.
    const QImage image = testImage(301, 203, false);
    struct Case
    {
        ImageFormat format;
        double tolerance; // mean difference per channel
    } cases[] = {{ImageFormat::png, 0}, {ImageFormat::tiff, 0}, {ImageFormat::jpeg, 4},
                 {ImageFormat::heic, 6}, {ImageFormat::webp, 6}};
    for (const Case &c : cases) {
        SCOPED_TRACE(ImageFormats::rawValue(c.format).toStdString());
        const QByteArray bytes = ImageExporter::encode(image, c.format, 0.9);
        QImage decoded;
        switch (c.format) {
        case ImageFormat::png: decoded = decodeWithQt(bytes, "PNG"); break;
        case ImageFormat::jpeg: decoded = decodeWithQt(bytes, "JPEG"); break;
        case ImageFormat::tiff: decoded = decodeTiff(bytes); break;
        case ImageFormat::heic: decoded = decodeHeic(bytes); break;
        case ImageFormat::webp: decoded = decodeWebp(bytes); break;
        }
        ASSERT_FALSE(decoded.isNull());
        EXPECT_EQ(decoded.size(), image.size());
        // Also catches swapped red and blue channels.
        EXPECT_LE(meanDifference(decoded, image), c.tolerance);
    }
}

TEST(ImageEncoding, AlphaIsKeptWhereTheFormatHasIt)
{
    const QImage image = testImage(120, 90, true);

    const QImage png = decodeWithQt(ImageExporter::encode(image, ImageFormat::png, 0.9), "PNG");
    EXPECT_EQ(png.convertToFormat(QImage::Format_ARGB32), image);

    uint16_t samples = 0;
    const QImage tiff = decodeTiff(ImageExporter::encode(image, ImageFormat::tiff, 0.9), &samples);
    EXPECT_EQ(samples, 4);
    EXPECT_EQ(meanDifference(tiff, image), 0.0);

    bool heicAlpha = false;
    const QImage heic = decodeHeic(ImageExporter::encode(image, ImageFormat::heic, 0.9), &heicAlpha);
    EXPECT_TRUE(heicAlpha);
    EXPECT_EQ(qAlpha(heic.pixel(0, image.height() - 1)), 0);

    bool webpAlpha = false;
    const QImage webp = decodeWebp(ImageExporter::encode(image, ImageFormat::webp, 0.9), &webpAlpha);
    EXPECT_TRUE(webpAlpha);
    EXPECT_EQ(qAlpha(webp.pixel(0, image.height() - 1)), 0);

    // JPEG has no alpha; it still encodes.
    EXPECT_EQ(decodeWithQt(ImageExporter::encode(image, ImageFormat::jpeg, 0.9), "JPEG").size(), image.size());
}

TEST(ImageEncoding, QualityOutsideZeroToOneIsClamped)
{
    const QImage image = testImage(160, 100, false);
    for (ImageFormat f : {ImageFormat::jpeg, ImageFormat::webp, ImageFormat::heic}) {
        SCOPED_TRACE(ImageFormats::rawValue(f).toStdString());
        const QByteArray top = ImageExporter::encode(image, f, 1.0);
        const QByteArray bottom = ImageExporter::encode(image, f, 0.0);
        ASSERT_NE(top, bottom);
        EXPECT_EQ(ImageExporter::encode(image, f, 7.5), top);
        EXPECT_EQ(ImageExporter::encode(image, f, std::numeric_limits<double>::infinity()), top);
        EXPECT_EQ(ImageExporter::encode(image, f, -3.0), bottom);
        // Lower quality, fewer bytes: the quality does reach the encoder.
        EXPECT_LT(ImageExporter::encode(image, f, 0.2).size(), ImageExporter::encode(image, f, 0.95).size());
    }
}

TEST(ImageEncoding, ImageWithoutPixelsFailsWithExportError)
{
    for (ImageFormat f : ImageFormats::allCases())
        EXPECT_EQ(exportFailure([&] { ImageExporter::encode(QImage(), f, 0.9); }),
                  QStringLiteral("Export failed: could not read image data"));
}

TEST(ImageEncoding, WebpTooLargeFailsAtTheSource)
{
    // WebP allows at most 16383 pixels a side.
    QImage wide(16400, 2, QImage::Format_RGB32);
    wide.fill(Qt::gray);
    EXPECT_EQ(exportFailure([&] { ImageExporter::encode(wide, ImageFormat::webp, 0.9); }),
              QStringLiteral("Export failed: WebP source"));
}

TEST(ImageEncoding, PngOfAScreenshotDecodesToIdenticalPixels)
{
    const QImage shot = makeSyntheticScreenshot();
    const QByteArray ours = ImageExporter::encode(shot, ImageFormat::png, 0.9);
    const QImage decoded = decodeWithQt(ours, "PNG");
    ASSERT_FALSE(decoded.isNull());
    EXPECT_EQ(decoded.convertToFormat(QImage::Format_RGB32), shot);
    const QImage fast = decodeWithQt(PngEncoder::encode(shot, 1, PngEncoder::Effort::fast), "PNG");
    EXPECT_EQ(fast.convertToFormat(QImage::Format_RGB32), shot);

    // Not much larger than the stock writer's file.
    QByteArray stock;
    QBuffer buffer(&stock);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(shot.save(&buffer, "PNG"));
    EXPECT_LE(double(ours.size()), 1.25 * double(stock.size()));
}

TEST(ImageEncoding, PngIsLosslessForNoiseOddShapesAndOtherPixelFormats)
{
    // Noise defeats compression (stored blocks); one-pixel sizes and heights
    // that leave a short last strip test the edges of the row splitting.
    QRandomGenerator rng(7);
    const QSize sizes[] = {{1, 1}, {1, 700}, {700, 1}, {333, 1000}, {2000, 400}};
    for (const QSize size : sizes) {
        SCOPED_TRACE(QStringLiteral("%1x%2").arg(size.width()).arg(size.height()).toStdString());
        for (bool alpha : {false, true}) {
            QImage noise(size, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
            for (int y = 0; y < size.height(); ++y) {
                auto *row = reinterpret_cast<quint32 *>(noise.scanLine(y));
                for (int x = 0; x < size.width(); ++x)
                    row[x] = alpha ? rng.generate() : (rng.generate() | 0xff000000u);
            }
            const QImage decoded = decodeWithQt(ImageExporter::encode(noise, ImageFormat::png, 0.9), "PNG");
            EXPECT_EQ(decoded.convertToFormat(noise.format()), noise);
            // The history's fast effort weighs fewer filters.
            const QImage fast = decodeWithQt(PngEncoder::encode(noise, 1, PngEncoder::Effort::fast), "PNG");
            EXPECT_EQ(fast.convertToFormat(noise.format()), noise);
            // ... as one stream on the calling thread.
            const QImage oneStream = decodeWithQt(
                PngEncoder::encode(noise, 1, PngEncoder::Effort::fast, PngEncoder::Threads::callingThreadOnly), "PNG");
            EXPECT_EQ(oneStream.convertToFormat(noise.format()), noise);
        }
    }
    // Other pixel formats are written by their colours.
    QImage gray(50, 40, QImage::Format_Grayscale8);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 50; ++x)
            gray.scanLine(y)[x] = uchar(x * 5 + y);
    const QImage decodedGray = decodeWithQt(ImageExporter::encode(gray, ImageFormat::png, 0.9), "PNG");
    EXPECT_EQ(decodedGray.convertToFormat(QImage::Format_RGB32), gray.convertToFormat(QImage::Format_RGB32));
    // Premultiplied pixels are stored straight (not premultiplied).
    QImage pre = testImage(64, 48, true).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage decodedPre = decodeWithQt(ImageExporter::encode(pre, ImageFormat::png, 0.9), "PNG");
    EXPECT_EQ(decodedPre.convertToFormat(QImage::Format_ARGB32), pre.convertToFormat(QImage::Format_ARGB32));
}

TEST(ImageEncoding, APngIsWrittenTheSameWhenTheHelpersGetNoTime)
{
    // Every helper thread held, as on a system whose cores are all busy
    // with work of normal priority: the encoding thread does the strips.
    QThreadPool &helpers = EncodingThreads::helpers();
    QSemaphore release;
    for (int i = 0; i < helpers.maxThreadCount(); ++i)
        helpers.start([&release] { release.acquire(); });
    const QImage shot = makeSyntheticScreenshot(1440, 900);
    const QByteArray alone = PngEncoder::encode(shot, 1);
    release.release(helpers.maxThreadCount());
    helpers.waitForDone();

    EXPECT_EQ(decodeWithQt(alone, "PNG").convertToFormat(QImage::Format_RGB32), shot);
    EXPECT_EQ(alone, PngEncoder::encode(shot, 1));
}

TEST(ImageEncoding, TheUsersPngIsHelpedOnEveryOtherCoreAtNormalPriority)
{
    // A PNG's strips are shared with the helpers; on a machine busy with a
    // build, helpers of a lower priority would get next to no time.
    // Whatever niceness the test itself runs at, the helpers have the same.
    const int ownNice = getpriority(PRIO_PROCESS, 0);
    QThreadPool &helpers = EncodingThreads::helpers();
    const int count = helpers.maxThreadCount();
    EXPECT_EQ(count, std::max(1, QThread::idealThreadCount() - 1));
    std::mutex mutex;
    std::vector<std::pair<int, int>> seen; // policy and nice value of each helper thread
    QSemaphore started, release;
    for (int i = 0; i < count; ++i)
        helpers.start([&] {
            {
                std::lock_guard<std::mutex> lock(mutex);
                seen.emplace_back(sched_getscheduler(0), getpriority(PRIO_PROCESS, 0));
            }
            started.release();
            release.acquire(); // each on a thread of its own
        });
    started.acquire(count);
    release.release(count);
    helpers.waitForDone();
    ASSERT_EQ(int(seen.size()), count);
    for (const auto &[policy, nice] : seen) {
        EXPECT_EQ(policy, SCHED_OTHER);
        EXPECT_EQ(nice, ownNice);
    }
}

TEST(ImageEncoding, EncodersRunInParallelOnPoolThreads)
{
    // The capture pipeline encodes on pool threads while other work (the
    // PNG encoder's own strips) shares the pool.
    const QImage shot = makeSyntheticScreenshot(1440, 900);
    QList<ImageFormat> jobs;
    for (int i = 0; i < 3; ++i)
        jobs << ImageFormat::png << ImageFormat::jpeg << ImageFormat::webp << ImageFormat::tiff;
    const QList<QByteArray> results = QtConcurrent::blockingMapped(
        jobs, [&](ImageFormat f) { return ImageExporter::encodeWithinLimit(shot, f, 0, 0.9); });
    ASSERT_EQ(results.size(), jobs.size());
    for (int i = 0; i < jobs.size(); ++i)
        EXPECT_EQ(results[i], ImageExporter::encode(shot, jobs[i], 0.9)) << i;
}
