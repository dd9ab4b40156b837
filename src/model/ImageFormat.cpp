#include "model/ImageFormat.h"

QString ImageFormats::rawValue(ImageFormat format)
{
    switch (format) {
    case ImageFormat::png: return QStringLiteral("png");
    case ImageFormat::jpeg: return QStringLiteral("jpeg");
    case ImageFormat::tiff: return QStringLiteral("tiff");
    case ImageFormat::heic: return QStringLiteral("heic");
    case ImageFormat::webp: return QStringLiteral("webp");
    }
    return QString();
}

std::optional<ImageFormat> ImageFormats::fromRawValue(const QString &text)
{
    for (ImageFormat f : allCases())
        if (rawValue(f) == text)
            return f;
    return std::nullopt;
}

QList<ImageFormat> ImageFormats::allCases()
{
    return {ImageFormat::png, ImageFormat::jpeg, ImageFormat::tiff, ImageFormat::heic, ImageFormat::webp};
}

QString ImageFormats::fileExtension(ImageFormat format)
{
    return rawValue(format);
}

QString ImageFormats::contentTypeIdentifier(ImageFormat format)
{
    switch (format) {
    case ImageFormat::png: return QStringLiteral("public.png");
    case ImageFormat::jpeg: return QStringLiteral("public.jpeg");
    case ImageFormat::tiff: return QStringLiteral("public.tiff");
    case ImageFormat::heic: return QStringLiteral("public.heic");
    case ImageFormat::webp: return QStringLiteral("org.webmproject.webp");
    }
    return QString();
}

QString ImageFormats::mimeType(ImageFormat format)
{
    switch (format) {
    case ImageFormat::png: return QStringLiteral("image/png");
    case ImageFormat::jpeg: return QStringLiteral("image/jpeg");
    case ImageFormat::tiff: return QStringLiteral("image/tiff");
    case ImageFormat::heic: return QStringLiteral("image/heic");
    case ImageFormat::webp: return QStringLiteral("image/webp");
    }
    return QString();
}
