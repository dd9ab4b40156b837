#pragma once

#include <QImage>
#include <QMetaType>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <memory>

// A shared image: either an image in memory or a file that is decoded the
// first time the pixels are needed. Copies share the same image; equality
// is identity (two handles are equal when they share one image).
// Safe to read from several threads.
class ImageHandle
{
public:
    ImageHandle() = default;
    explicit ImageHandle(const QImage &image);
    // An image that stays on disk until it is first used. devicePixelRatio
    // is the number of pixels per point the decoded image gets.
    static ImageHandle fromFile(const QString &path, qreal devicePixelRatio = 2.0);

    bool isNull() const;
    // The pixels (decoded from the file on first use; a null image when the
    // file cannot be decoded).
    QImage image() const;
    // Whether the pixels are in memory now.
    bool isDecoded() const;
    // Size in pixels, read from the file header without decoding when possible.
    QSize pixelSize() const;
    // Size in points (pixels divided by the device pixel ratio).
    QSizeF pointSize() const;
    // The file the image comes from, if any.
    QString sourcePath() const;

    bool operator==(const ImageHandle &other) const { return d == other.d; }
    bool operator!=(const ImageHandle &other) const { return d != other.d; }

private:
    struct Data;
    std::shared_ptr<Data> d;
};
Q_DECLARE_METATYPE(ImageHandle)
