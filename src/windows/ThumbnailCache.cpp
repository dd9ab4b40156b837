#include "windows/ThumbnailCache.h"

#include "output/HistoryService.h"
#include "platform/FileOps.h"
#include "windows/ThumbnailScaling.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPointer>

namespace {

// Enough for every picture of a full history on both pages at two pixels
// per point, with room to spare.
constexpr qint64 kCacheBytes = 48ll * 1024 * 1024;

QImage readScaled(const QString &path, const QSize &bounds)
{
    // A named pipe or a device in the picture's place is refused at once,
    // as a damaged picture is.
    QFile file;
    if (!FileOps::openRegularFile(path, file))
        return {};
    QImageReader reader(&file);
    reader.setAutoTransform(false);
    const QSize full = reader.size();
    if (full.isValid() && !full.isEmpty()) {
        const QSize fitted = full.scaled(bounds, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
        if (fitted.width() < full.width())
            reader.setScaledSize(fitted);
    }
    QImage image;
    // A damaged file may still give a partly filled image: only a complete
    // read counts.
    if (!reader.read(&image) || image.isNull())
        return {};
    if (image.width() > bounds.width() || image.height() > bounds.height())
        image = image.scaled(bounds, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace

ThumbnailCache &ThumbnailCache::shared()
{
    static ThumbnailCache *cache = [] {
        auto *c = new ThumbnailCache;
        if (auto *app = QCoreApplication::instance()) {
            c->setParent(app);
            QObject::connect(app, &QCoreApplication::aboutToQuit, c, [c] { c->m_pool.waitForDone(); });
        }
        return c;
    }();
    return *cache;
}

ThumbnailCache::ThumbnailCache()
{
    m_cache.setMaxCost(kCacheBytes);
    // Two decodes at a time: the pictures come quickly without taking the
    // whole machine or holding many rows of pixels at once.
    m_pool.setMaxThreadCount(2);
}

QString ThumbnailCache::key(const QUuid &id, const QSize &bounds)
{
    return id.toString(QUuid::WithoutBraces) + QStringLiteral("@%1x%2").arg(bounds.width()).arg(bounds.height());
}

QUuid ThumbnailCache::idOf(const QString &key)
{
    return QUuid::fromString(QStringView(key).left(key.indexOf(u'@')));
}

void ThumbnailCache::keepOnly(const QList<HistoryItem> &history)
{
    QSet<QUuid> ids;
    for (const HistoryItem &item : history)
        ids.insert(item.id);
    for (const QString &k : m_cache.keys())
        if (!ids.contains(idOf(k)))
            m_cache.remove(k);
    m_failed.removeIf([&](const QString &k) { return !ids.contains(idOf(k)); });
}

QImage ThumbnailCache::thumbnail(const HistoryItem &item, const QSize &bounds, State *state)
{
    const QString k = key(item.id, bounds);
    if (const QImage *image = m_cache.object(k)) {
        if (state)
            *state = State::ready;
        return *image;
    }
    if (m_failed.contains(k)) {
        if (state)
            *state = State::failed;
        return {};
    }
    if (state)
        *state = State::loading;
    if (m_loading.contains(k))
        return {};
    m_loading.insert(k);
    const QString png = HistoryService::shared().imagePath(item.id);
    const ImageHandle handle = item.image;
    const QUuid id = item.id;
    QPointer<ThumbnailCache> self(this);
    m_pool.start([self, k, id, png, handle, bounds] {
        const QImage image = load(png, handle, bounds);
        if (!self)
            return;
        QMetaObject::invokeMethod(self.data(), [self, k, id, image] {
            if (self)
                self->finished(k, id, image);
        }, Qt::QueuedConnection);
    });
    return {};
}

void ThumbnailCache::finished(const QString &k, const QUuid &id, const QImage &image)
{
    if (!m_loading.remove(k))
        return; // cleared meanwhile
    if (image.isNull())
        m_failed.insert(k);
    else
        m_cache.insert(k, new QImage(image), qMax<qint64>(1, image.sizeInBytes()));
    emit thumbnailChanged(id);
}

void ThumbnailCache::waitForLoads()
{
    m_pool.waitForDone();
    QCoreApplication::sendPostedEvents(this);
}

void ThumbnailCache::clear()
{
    m_pool.waitForDone();
    QCoreApplication::sendPostedEvents(this);
    m_cache.clear();
    m_failed.clear();
    m_loading.clear();
}

QImage ThumbnailCache::load(const QString &historyPng, const ImageHandle &image, const QSize &bounds)
{
    if (bounds.isEmpty())
        return {};
    if (QFileInfo::exists(historyPng))
        return readScaled(historyPng, bounds); // null when the file is damaged
    if (image.isNull())
        return {};
    if (image.isDecoded()) {
        const QImage pixels = image.image();
        if (pixels.isNull())
            return {};
        // A capture is in memory right after it is taken, while its file is
        // being encoded: scaled on this thread alone.
        const QSize fitted = pixels.size().scaled(bounds, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
        QImage scaled = ThumbnailScaling::scaledDown(pixels, fitted);
        scaled.setDevicePixelRatio(1.0);
        return scaled;
    }
    const QString source = image.sourcePath();
    if (!source.isEmpty() && QFileInfo(source) != QFileInfo(historyPng))
        return readScaled(source, bounds);
    // The history file may have been put in place (and the pixels let go)
    // while this looked.
    if (QFileInfo::exists(historyPng))
        return readScaled(historyPng, bounds);
    return {};
}
