#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

// Writes PNG files quickly: each row gets a cheap choice among the PNG
// filters, and strips of rows are compressed in parallel with libdeflate
// (with the encoders' helpers, one a core; the calling thread takes part,
// so calling it from a pool thread is fine), or the whole image as one
// stream on the calling thread alone.
// Opaque images become 8-bit RGB, images with an alpha channel 8-bit RGBA
// (not premultiplied). The file decodes to exactly the input's pixels.
// Between calls it keeps only the working memory of up to two screen-sized
// one-stream encodings, for the next ones; safe on any thread.
class PngEncoder
{
public:
    // How hard the compressor works: fast (ISA-L's level 1, and fewer
    // filters weighed) costs well under half the CPU of balanced (libdeflate's
    // level 5) for files a few per cent larger.
    enum class Effort { fast = 1, balanced = 5 };
    // Parallel strips finish soonest; one stream on the calling thread
    // takes less CPU time in all and leaves the other cores alone (for
    // copies that nobody waits for).
    enum class Threads { parallel, callingThreadOnly };

    // Returns the file's bytes, or an empty array when the image is null,
    // memory runs out or the file would be larger than a byte array holds. A positive pixelsPerPoint is recorded as the
    // file's resolution (pHYs: 72 dots per inch is one pixel per point).
    static QByteArray encode(const QImage &image, qreal pixelsPerPoint = 0, Effort effort = Effort::balanced,
                             Threads threads = Threads::parallel);

    // The width and height in a PNG file's header; an invalid size when
    // the bytes do not start like a PNG file.
    static QSize imageSize(const QByteArray &png);
    // The same PNG file with pixelsPerPoint (positive) recorded as its
    // resolution in place of any it had; the image data is copied as it
    // is. Empty when the bytes do not hold a PNG file's chunks.
    static QByteArray withPixelsPerPoint(const QByteArray &png, qreal pixelsPerPoint);
};
