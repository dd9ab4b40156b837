#pragma once

#include <QByteArray>
#include <QImage>

// Uncompressed 8-bit TIFF through libtiff: RGB for opaque images, RGB with
// an unassociated alpha channel otherwise.
// Keeps no state between calls; safe on any thread.
class TiffEncoder
{
public:
    // The file's bytes, or an empty array when encoding fails.
    static QByteArray encode(const QImage &image);
};
