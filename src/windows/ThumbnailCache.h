#pragma once

#include "model/HistoryItem.h"

#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QThreadPool>
#include <QUuid>

// Small pictures of history entries for the main window, decoded in the
// background straight at their display size from the entry's PNG file in
// the history folder; a full capture is never decoded for them. An entry
// whose file is not written yet is scaled from its pixels in memory, or
// from the file its image comes from. Pictures are kept (up to a memory
// budget) by entry and size. Main thread only, except load().
class ThumbnailCache : public QObject
{
    Q_OBJECT
public:
    static ThumbnailCache &shared();

    enum class State { loading, ready, failed };

    // The entry's picture fitted into bounds (pixels), when ready. Otherwise
    // starts loading it (once) and returns a null image; state tells which.
    // A missing or damaged picture is failed: the caller shows a
    // placeholder.
    QImage thumbnail(const HistoryItem &item, const QSize &bounds, State *state = nullptr);

    // Lets go of the pictures (and failures) of entries not in history:
    // they are not shown again, and a long session would otherwise fill the
    // whole budget with them.
    void keepOnly(const QList<HistoryItem> &history);

    // Blocks until every load started so far has been handed back (tests
    // and benchmarks).
    void waitForLoads();
    // Drops every picture (tests and benchmarks).
    void clear();
    // The bytes of pictures kept now.
    qint64 bytesCached() const { return m_cache.totalCost(); }

    // The picture itself, on any thread: historyPng decoded at the size that
    // fits bounds; when that file does not exist, the handle's pixels if
    // decoded, else the handle's own file at that size. Null when none can
    // be read.
    static QImage load(const QString &historyPng, const ImageHandle &image, const QSize &bounds);

signals:
    // A picture of this entry became ready or failed.
    void thumbnailChanged(const QUuid &id);

private:
    ThumbnailCache();
    static QString key(const QUuid &id, const QSize &bounds);
    static QUuid idOf(const QString &key);
    void finished(const QString &key, const QUuid &id, const QImage &image);

    QCache<QString, QImage> m_cache;
    QSet<QString> m_failed;
    QSet<QString> m_loading;
    QThreadPool m_pool;
};
