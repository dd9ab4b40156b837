#pragma once

#include <QImage>
#include <QString>
#include <functional>

// Decodes an image file: the formats Qt reads (PNG, JPEG, GIF, BMP, ...)
// and, through their own libraries, TIFF, WebP and HEIC/HEIF. Safe to call
// from a worker thread. Images larger than Qt's allocation limit are refused;
// a WebP or HEIF file that claims more bytes than its picture could take is
// refused after its header, never read whole.
class ImageFileReader
{
public:
    // The decoded image, or a null image when the file is missing, is not a
    // regular file (a named pipe, a device: these are never waited for), is
    // not an image or cannot be decoded. The open itself can still stall on
    // a network mount that does not answer; opened, when given, is called
    // (on the reading thread) as soon as the open has returned.
    static QImage read(const QString &path, const std::function<void()> &opened = {});

    // Whether an image of width x height pixels at four bytes a pixel stays
    // within Qt's allocation limit (always, when the limit is off).
    static bool fitsAllocationLimit(qint64 width, qint64 height);

    // The largest picture Vorna makes and reads back, at four bytes a pixel:
    // 2 GiB, a scrolling capture of 50 notches over a whole 4K screen at two
    // pixels per point. Scrolling captures are cut to it.
    static constexpr qint64 largestImageBytes = qint64(2048) << 20;
    // Raises Qt's allocation limit to largestImageBytes (a higher limit, or
    // none, stays). Call on the main thread before any image is decoded.
    static void raiseAllocationLimit();
};
