#pragma once

#include <QImage>
#include <QMetaType>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <functional>
#include <memory>

// A shared image: either an image in memory or a file that is decoded the
// first time the pixels are needed. Copies share the same image; equality
// is identity (two handles are equal when they share one image).
// Safe to use from several threads.
class ImageHandle
{
public:
    ImageHandle() = default;
    explicit ImageHandle(const QImage &image);
    // An image that stays on disk until it is first used. devicePixelRatio
    // is the number of pixels per point the decoded image gets; pixelSize,
    // when the caller has read it from the header already, spares reading
    // it again.
    static ImageHandle fromFile(const QString &path, qreal devicePixelRatio = 2.0, const QSize &pixelSize = QSize());

    bool isNull() const;
    // The pixels (decoded on first use and then kept). A null image when
    // they cannot be decoded: from then on when the file is damaged, gone or
    // no regular file (a named pipe or a device is never waited for); only
    // this time when it could not be read for a passing reason (too many
    // open files, no memory for the pixels), which is logged.
    QImage image() const;
    // Whether the pixels are in memory now.
    bool isDecoded() const;
    // Whether the pixels could not be decoded, for good.
    bool decodeFailed() const;
    // Size in pixels, read from the file header without decoding when possible.
    QSize pixelSize() const;
    // Size in points (pixels divided by the device pixel ratio).
    QSizeF pointSize() const;
    // The file the image comes from, if any.
    QString sourcePath() const;

    // The pixels in memory are now also in path, a file that decodes to
    // exactly them: they leave memory (where this handle is their last
    // holder, the memory goes) and are decoded from the file when next
    // needed. Images already handed out stay valid.
    void releaseToFile(const QString &path);
    // The file is about to be removed: while the pixels are not in memory,
    // the file's bytes are read into memory to decode from instead. False
    // when they could not be read.
    bool detachFromFile() const;
    // Runs once, on the thread that asked for the pixels, when decoding them
    // fails for good.
    void setDecodeFailureHandler(std::function<void()> handler);
    // How many handles share this image (this one included).
    long holderCount() const;

    bool operator==(const ImageHandle &other) const { return d == other.d; }
    bool operator!=(const ImageHandle &other) const { return d != other.d; }

private:
    struct Data;
    std::shared_ptr<Data> d;
};
Q_DECLARE_METATYPE(ImageHandle)
