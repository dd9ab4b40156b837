#pragma once

#include <QByteArray>
#include <QImage>

// Writes PNG files quickly: each row gets a cheap choice among the PNG
// filters, and strips of rows are compressed in parallel with libdeflate
// (on the global thread pool; the calling thread takes part, so calling
// it from a pool thread is fine).
// Opaque images become 8-bit RGB, images with an alpha channel 8-bit RGBA
// (not premultiplied). The file decodes to exactly the input's pixels.
// Keeps no state between calls; safe on any thread.
class PngEncoder
{
public:
    // How hard the compressor works (the libdeflate level): fast costs
    // about a third less CPU for files a few per cent larger.
    enum class Effort { fast = 1, balanced = 5 };

    // Returns the file's bytes, or an empty array when the image is null
    // or memory runs out. A positive pixelsPerPoint is recorded as the
    // file's resolution (pHYs: 72 dots per inch is one pixel per point).
    static QByteArray encode(const QImage &image, qreal pixelsPerPoint = 0, Effort effort = Effort::balanced);
};
