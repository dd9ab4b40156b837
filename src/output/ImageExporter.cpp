#include "output/ImageExporter.h"

#include "output/EncodingThreads.h"

#include "output/EncoderQuality.h"
#include "output/HeicEncoder.h"
#include "output/JpegEncoder.h"
#include "output/PngEncoder.h"
#include "output/TiffEncoder.h"
#include "output/WebpEncoder.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/FileOps.h"
#include "platform/FileSystemCall.h"
#include "platform/Localized.h"
#include "platform/SavePanel.h"

#include <QCoreApplication>
#include <QFile>
#include <QFuture>
#include <QMimeDatabase>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>

namespace {

constexpr double kQualityStep = 0.1;
constexpr double kQualityFloor = 0.15;
constexpr double kFirstScale = 0.9;
constexpr double kScaleStep = 0.1;
constexpr double kSmallestScale = 0.25;

bool isLossy(ImageFormat format)
{
    return format == ImageFormat::jpeg || format == ImageFormat::heic || format == ImageFormat::webp;
}

QString failureText(const char *label, int failure)
{
    // Failure values: 1 source, 2 destination, 3 finalize.
    static const char *const steps[] = {"", " source", " destination", " finalize"};
    return QString::fromLatin1(label) + QString::fromLatin1(steps[failure]);
}

// Encodes the image and writes it to path (atomically); the error, if any.
std::optional<ErrorReport> encodeAndWrite(const QImage &image, ImageFormat format, double quality,
                                          const QString &path)
{
    QByteArray bytes;
    try {
        bytes = ImageExporter::encode(image, format, quality);
    } catch (const VornaError &error) {
        return ErrorReport(error);
    }
    QString error;
    if (!FileOps::writeAtomically(path, bytes, &error))
        return ErrorReport(error);
    return std::nullopt;
}

} // namespace

QByteArray ImageExporter::encode(const QImage &image, ImageFormat format, double quality)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        throw VornaError::exportFailed(localized("could not read image data"));

    QByteArray bytes;
    switch (format) {
    case ImageFormat::png:
        bytes = PngEncoder::encode(image);
        if (bytes.isEmpty())
            throw VornaError::exportFailed(QStringLiteral("PNG encode"));
        return bytes;
    case ImageFormat::jpeg:
        bytes = JpegEncoder::encode(image, quality);
        if (bytes.isEmpty())
            throw VornaError::exportFailed(QStringLiteral("JPEG encode"));
        return bytes;
    case ImageFormat::tiff:
        bytes = TiffEncoder::encode(image);
        if (bytes.isEmpty())
            throw VornaError::exportFailed(QStringLiteral("TIFF encode"));
        return bytes;
    case ImageFormat::heic:
        if (const auto failure = HeicEncoder::encode(image, quality, &bytes); failure != HeicEncoder::Failure::none)
            throw VornaError::exportFailed(failureText("HEIC", int(failure)));
        return bytes;
    case ImageFormat::webp:
        if (const auto failure = WebpEncoder::encode(image, quality, &bytes); failure != WebpEncoder::Failure::none)
            throw VornaError::exportFailed(failureText("WebP", int(failure)));
        return bytes;
    }
    throw VornaError::exportFailed(localized("could not read image data"));
}

qint64 ImageExporter::byteLimit(qint64 maxFileSizeKB)
{
    if (maxFileSizeKB <= 0 || maxFileSizeKB > std::numeric_limits<qint64>::max() / 1024)
        return 0;
    return maxFileSizeKB * 1024;
}

QByteArray ImageExporter::encodeWithinLimit(const QImage &image, ImageFormat format, qint64 maxBytes, double quality)
{
    return encodeWithinLimit(image, format, maxBytes, quality, &ImageExporter::encode);
}

QByteArray ImageExporter::encodeWithinLimit(const QImage &image, ImageFormat format, qint64 maxBytes, double quality,
                                            const Encoder &encoder)
{
    // A stored preference can hold any number. Starting the steps from the
    // clamped value keeps their count bounded (from a huge value, q - 0.1
    // would never get below it).
    double q = EncoderQuality::clamp(quality);
    QByteArray data = encoder(image, format, q);
    if (maxBytes < 1 || data.size() <= maxBytes)
        return data;

    if (isLossy(format)) {
        while (data.size() > maxBytes && q > kQualityFloor) {
            q = std::max(q - kQualityStep, kQualityFloor);
            data = encoder(image, format, q);
        }
    }
    if (data.size() <= maxBytes)
        return data;

    // Each scale is relative to the input, not to the previous attempt.
    for (double s = kFirstScale; data.size() > maxBytes && s >= kSmallestScale; s -= kScaleStep)
        data = encoder(scaledImage(image, s), format, q);
    return data;
}

QImage ImageExporter::scaledImage(const QImage &image, double factor)
{
    const int width = std::max(1, qRound(image.width() * factor));
    const int height = std::max(1, qRound(image.height() * factor));
    QImage scaled = image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(image.devicePixelRatio());
    return scaled;
}

void ImageExporter::presentSavePanel(const QImage &image, ImageFormat format, double quality, const QString &folder,
                                     ErrorHandler errorHandler)
{
    SavePanel::Request request;
    request.name = QStringLiteral("saveImageAs");
    request.directory = AppPaths::expandTilde(folder);
    request.suggestedName = fileName(format);
    QString mime = ImageFormats::mimeType(format);
    if (!QMimeDatabase().mimeTypeForName(mime).isValid())
        mime = ImageFormats::mimeType(ImageFormat::png);
    request.mimeTypeFilters = {mime};
    request.defaultSuffix = ImageFormats::fileExtension(format);
    request.canCreateDirectories = true;

    SavePanel::show(request, [image, format, quality, errorHandler](std::optional<QString> path) {
        if (!path || path->isEmpty())
            return;
        // The user chose this path in the panel, which asked before
        // replacing an existing file; the write itself is atomic.
        QtConcurrent::run(&EncodingThreads::pool(), [image, format, quality, path = *path] {
            return encodeAndWrite(image, format, quality, path);
        })
            .then(QCoreApplication::instance(), [errorHandler](const std::optional<ErrorReport> &error) {
                if (error && errorHandler)
                    errorHandler(*error);
            });
    });
}

QString ImageExporter::fileNameDateString(const QDateTime &date)
{
    static const QString pattern = QStringLiteral("yyyy-MM-dd_HH-mm-ss");
    return date.toString(pattern);
}

QString ImageExporter::fileName(ImageFormat format, const QDateTime &date)
{
    return QStringLiteral("Vorna_") + fileNameDateString(date) + QLatin1Char('.') + ImageFormats::fileExtension(format);
}

QString ImageExporter::writeNewFile(const QByteArray &bytes, const QString &folder, const QString &fileName,
                                    QString *errorText)
{
    const QString dir = AppPaths::expandTilde(folder);
    std::error_code ec;
    FileSystemCall::run(
        [&] { return std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(dir).toStdString()), ec); });
    if (ec) {
        *errorText = QString::fromLocal8Bit(ec.message().c_str());
        return QString();
    }
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? fileName.left(dot) : fileName;
    const QString extension = dot > 0 ? fileName.mid(dot) : QString();
    return AtomicFile::writeNew(
        dir, bytes,
        [&](int attempt) {
            return attempt == 1 ? fileName : base + QLatin1Char('_') + QString::number(attempt) + extension;
        },
        errorText);
}
