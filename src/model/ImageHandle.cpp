#include "model/ImageHandle.h"

#include "model/PixelRelease.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QMutex>
#include <QWaitCondition>

namespace {

// The pixels of a file, or of its bytes when they are given.
QImage decode(QByteArray encoded, const QString &path)
{
    QBuffer buffer(&encoded);
    QImageReader reader;
    if (!encoded.isEmpty()) {
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
    } else {
        reader.setFileName(path);
    }
    reader.setAutoTransform(false);
    return reader.read();
}

} // namespace

struct ImageHandle::Data
{
    ~Data() { PixelRelease::later(image); }

    QMutex mutex;
    QWaitCondition decodeDone;
    bool decoding = false; // a thread is decoding the pixels now
    QImage image;       // the pixels, when in memory
    QString path;       // the file they come from, if any
    QByteArray encoded; // the bytes of a file that has gone, if any
    qreal dpr = 1.0;
    bool decoded = false;
    bool failed = false;
    QSize size;
    std::function<void()> onDecodeFailure;
};

ImageHandle::ImageHandle(const QImage &image)
{
    if (image.isNull())
        return;
    d = std::make_shared<Data>();
    d->image = image;
    d->decoded = true;
    d->dpr = image.devicePixelRatio();
    d->size = image.size();
}

ImageHandle ImageHandle::fromFile(const QString &path, qreal devicePixelRatio, const QSize &pixelSize)
{
    ImageHandle h;
    h.d = std::make_shared<Data>();
    h.d->path = path;
    h.d->dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    h.d->size = pixelSize;
    return h;
}

bool ImageHandle::isNull() const
{
    return !d;
}

QImage ImageHandle::image() const
{
    if (!d)
        return QImage();
    QMutexLocker lock(&d->mutex);
    // One thread decodes; others that want the pixels wait for them. The
    // lock is not held while decoding, so asking for the size or the state
    // never waits for a decode.
    while (d->decoding)
        d->decodeDone.wait(&d->mutex);
    if (d->decoded || d->failed)
        return d->image;
    d->decoding = true;
    QImage img;
    for (;;) {
        const QByteArray encoded = d->encoded;
        const QString path = d->path;
        lock.unlock();
        img = decode(encoded, path);
        lock.relock();
        // The file went while it was being read, and its bytes were kept
        // (detachFromFile): read those.
        if (img.isNull() && encoded.isEmpty() && !d->encoded.isEmpty())
            continue;
        break;
    }
    std::function<void()> failure;
    if (img.isNull()) {
        d->failed = true;
        failure = std::exchange(d->onDecodeFailure, nullptr);
    } else {
        img.setDevicePixelRatio(d->dpr);
        d->size = img.size();
        d->decoded = true;
        d->encoded.clear();
    }
    d->image = img;
    d->decoding = false;
    d->decodeDone.wakeAll();
    lock.unlock();
    if (failure)
        failure();
    return img;
}

bool ImageHandle::isDecoded() const
{
    if (!d)
        return false;
    QMutexLocker lock(&d->mutex);
    return d->decoded;
}

bool ImageHandle::decodeFailed() const
{
    if (!d)
        return false;
    QMutexLocker lock(&d->mutex);
    return d->failed;
}

QSize ImageHandle::pixelSize() const
{
    if (!d)
        return QSize();
    QMutexLocker lock(&d->mutex);
    if (d->size.isValid())
        return d->size;
    if (!d->decoded && d->encoded.isEmpty()) {
        QImageReader reader(d->path);
        d->size = reader.size();
    }
    return d->size;
}

QSizeF ImageHandle::pointSize() const
{
    const QSize px = pixelSize();
    if (!d || !px.isValid())
        return QSizeF();
    return QSizeF(px.width() / d->dpr, px.height() / d->dpr);
}

QString ImageHandle::sourcePath() const
{
    if (!d)
        return QString();
    QMutexLocker lock(&d->mutex);
    return d->path;
}

void ImageHandle::releaseToFile(const QString &path)
{
    if (!d || path.isEmpty())
        return;
    QMutexLocker lock(&d->mutex);
    if (!d->decoded)
        return; // nothing in memory to let go of
    d->path = path;
    d->encoded.clear();
    PixelRelease::later(d->image);
    d->image = QImage();
    d->decoded = false;
    d->failed = false;
}

bool ImageHandle::detachFromFile() const
{
    if (!d)
        return false;
    QMutexLocker lock(&d->mutex);
    if (d->path.isEmpty())
        return true;
    if (!d->decoded && !d->failed) {
        QFile file(d->path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        d->encoded = file.readAll();
        if (d->encoded.isEmpty())
            return false;
    }
    d->path.clear();
    return true;
}

void ImageHandle::setDecodeFailureHandler(std::function<void()> handler)
{
    if (!d)
        return;
    QMutexLocker lock(&d->mutex);
    d->onDecodeFailure = std::move(handler);
}

long ImageHandle::holderCount() const
{
    return d ? long(d.use_count()) : 0;
}
