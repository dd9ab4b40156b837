#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <optional>

// The formats an image can be saved in.
enum class ImageFormat { png, jpeg, tiff, heic, webp };

namespace ImageFormats {
QString rawValue(ImageFormat format);
std::optional<ImageFormat> fromRawValue(const QString &text);
QList<ImageFormat> allCases();
// The file extension: the raw value itself ("jpeg", "tiff").
QString fileExtension(ImageFormat format);
// The type identifier ("public.png", ..., "org.webmproject.webp").
QString contentTypeIdentifier(ImageFormat format);
// The MIME type, for file dialogs and the clipboard.
QString mimeType(ImageFormat format);
} // namespace ImageFormats

inline size_t qHash(ImageFormat f, size_t seed = 0) { return ::qHash(static_cast<int>(f), seed); }

Q_DECLARE_METATYPE(ImageFormat)
