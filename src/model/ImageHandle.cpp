#include "model/ImageHandle.h"

#include <QImageReader>
#include <QMutex>

struct ImageHandle::Data
{
    QMutex mutex;
    QImage image;
    QString path;
    qreal dpr = 1.0;
    bool decoded = false;
    QSize size;
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

ImageHandle ImageHandle::fromFile(const QString &path, qreal devicePixelRatio)
{
    ImageHandle h;
    h.d = std::make_shared<Data>();
    h.d->path = path;
    h.d->dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
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
    if (!d->decoded) {
        d->decoded = true;
        QImageReader reader(d->path);
        reader.setAutoTransform(false);
        QImage img = reader.read();
        if (!img.isNull()) {
            img.setDevicePixelRatio(d->dpr);
            d->size = img.size();
        }
        d->image = img;
    }
    return d->image;
}

bool ImageHandle::isDecoded() const
{
    if (!d)
        return false;
    QMutexLocker lock(&d->mutex);
    return d->decoded;
}

QSize ImageHandle::pixelSize() const
{
    if (!d)
        return QSize();
    QMutexLocker lock(&d->mutex);
    if (d->size.isValid())
        return d->size;
    if (!d->decoded) {
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
    return d ? d->path : QString();
}
