#pragma once

#include <QImage>
#include <QString>

// Decodes an image file: the formats Qt reads (PNG, JPEG, GIF, BMP, ...)
// and, through their own libraries, TIFF, WebP and HEIC/HEIF. Safe to call
// from a worker thread. Images larger than Qt's allocation limit are refused.
class ImageFileReader
{
public:
    // The decoded image, or a null image when the file is missing, is not an
    // image or cannot be decoded.
    static QImage read(const QString &path);
};
