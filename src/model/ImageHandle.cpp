#include "model/ImageHandle.h"

#include "model/PixelRelease.h"
#include "platform/FileOps.h"
#include "platform/Log.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QMutex>
#include <QWaitCondition>
#include <cerrno>
#include <sys/stat.h>

namespace {

struct Decoded
{
    QImage image;
    // Whether a later try can succeed: the file was there and whole, but
    // could not be opened or read now (too many open files, no memory for
    // the pixels, an input/output error).
    bool passing = false;
    QString reason;
};

Decoded lasting(const QString &reason)
{
    return {QImage(), false, reason};
}

Decoded passing(const QString &reason)
{
    return {QImage(), true, reason};
}

// Why a file could not be opened: it is gone or is no regular file (a named
// pipe, a device, a folder: never waited for), which no later try mends, or
// it is there and the open failed for now.
Decoded openFailure(const QString &path, const QString &error)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return lasting(QStringLiteral("the file is gone"));
        return passing(error);
    }
    if (!S_ISREG(st.st_mode))
        return lasting(QStringLiteral("not a regular file"));
    return passing(error);
}

// The pixels of a file, or of its bytes when they are given.
Decoded decode(QByteArray encoded, const QString &path)
{
    QBuffer buffer(&encoded);
    QFile file;
    QIODevice *device = &buffer;
    if (!encoded.isEmpty()) {
        buffer.open(QIODevice::ReadOnly);
    } else {
        QString error;
        if (!FileOps::openRegularFile(path, file, &error))
            return openFailure(path, error);
        device = &file;
    }
    QImageReader reader(device);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) {
        if (reader.error() == QImageReader::DeviceError)
            return passing(reader.errorString());
        return lasting(QStringLiteral("no image header"));
    }
    // The pixels are allocated here, at the size the header gives, so that
    // a picture larger than the reader's allocation limit still decodes, and
    // memory that is short now is told from a damaged file.
    QImage image;
    const QImage::Format format = reader.imageFormat();
    if (format != QImage::Format_Invalid) {
        image = QImage(size, format);
        if (image.isNull())
            return passing(QStringLiteral("no memory for %1 x %2 pixels").arg(size.width()).arg(size.height()));
    }
    if (reader.read(&image) && !image.isNull())
        return {image, false, QString()};
    if (reader.error() == QImageReader::DeviceError)
        return passing(reader.errorString());
    return lasting(reader.errorString());
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
    Decoded result;
    QString path;
    for (;;) {
        const QByteArray encoded = d->encoded;
        path = d->path;
        lock.unlock();
        result = decode(encoded, path);
        lock.relock();
        // The file went while it was being read, and its bytes were kept
        // (detachFromFile): read those.
        if (result.image.isNull() && encoded.isEmpty() && !d->encoded.isEmpty())
            continue;
        break;
    }
    QImage img = result.image;
    std::function<void()> failure;
    if (img.isNull() && result.passing) {
        // Nothing is wrong with the file: the next caller tries again.
        vlog(QStringLiteral("[Vorna] image: cannot read ") + path + QStringLiteral(" now (") + result.reason
             + QStringLiteral("); tried again when next needed"));
    } else if (img.isNull()) {
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
        QFile file;
        if (FileOps::openRegularFile(d->path, file)) {
            QImageReader reader(&file);
            d->size = reader.size();
        }
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
        // Never waits on a named pipe or a device put in the file's place.
        QFile file;
        if (!FileOps::openRegularFile(d->path, file))
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
