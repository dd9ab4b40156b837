#pragma once

#include "model/HistoryItem.h"
#include "platform/FileSystemCall.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QString>
#include <QThreadPool>
#include <QUuid>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// The capture history on disk: a folder "history" in the program's data
// folder with "manifest.json" (one record per item: id, date, mode and the
// optional path of the saved file) and one PNG per item named by its id.
//
// One shared instance, confined to the main thread. The callers decide what
// the list holds: they insert at the front, trim to maxItems (trimToMaxItems),
// queue the image and manifest writes, then hand the list to AppState.
// Writes and deletions run in the background, one at a time, in the order
// they were queued; nothing is reported back.
//
// A picture that cannot be written (a full disk) keeps its pixels in memory
// and is written again later: a while after the failure, with the next
// manifest write and before the queue is waited for (at quit). Until it is on
// disk, the manifest leaves its record out; once it is, the manifest is
// written again with it.
//
// Images of loaded items stay on disk until they are first drawn; an image
// written to its PNG leaves memory and is decoded again when next needed.
class HistoryService
{
public:
    static constexpr int maxItems = 50;
    // A larger manifest is not read; it is kept aside like an unreadable one.
    static constexpr qint64 maxManifestBytes = 4 * 1024 * 1024;

    // The one instance; created on first use, which creates the folder and
    // loads the manifest synchronously.
    static HistoryService &shared();
    // Creates the one instance without reading the disk on this thread: the
    // manifest and each PNG's header are read on the history queue, and
    // loaded runs on the main thread once the items are in (captures added
    // meanwhile stay in front of them). When the instance exists already,
    // loaded runs from the event loop.
    static void loadShared(std::function<void()> loaded);

    // The in-memory list, newest first. Changing it persists nothing.
    const QList<HistoryItem> &items() const { return m_items; }
    QList<HistoryItem> &items() { return m_items; }
    void setItems(const QList<HistoryItem> &items) { m_items = items; }

    QString storeDir() const { return m_storeDir; }
    // The folder the shared instance takes when it is created now.
    static QString defaultStoreDir();
    QString manifestPath() const;
    // The PNG file of an item: storeDir + "/" + the upper-case id + ".png".
    QString imagePath(const QUuid &id) const;

    // Queues the write of the item's image to its PNG file. With
    // firstFile (the user's own file of this capture), the write waits
    // until that is done (or the program quits), so it never takes cores the
    // user is waiting for;
    // when its result is a PNG of the very image, those bytes are written
    // rather than the image encoded again. The future gets the file's PNG
    // bytes as soon as they are encoded, before they are written, and ends
    // without them when no image is written.
    QFuture<QByteArray> saveImage(const HistoryItem &item, const QFuture<QByteArray> &firstFile = {});
    // Queues the write of the manifest from the current items (a snapshot
    // taken now).
    void persist();
    // Queues the removal of that id's PNG file; the manifest is not touched.
    // When image (the item's) is still held elsewhere by then, it keeps the
    // file's bytes in memory.
    void deleteImageFile(const QUuid &id, const ImageHandle &image = ImageHandle());
    // Empties items now and queues the removal of everything in the folder.
    void clear();
    // Sets the file path of the first item with that id and persists;
    // nothing happens when no item has it.
    void setFilePath(const QUuid &id, const std::optional<QString> &filePath);
    // Removes the oldest (last) items beyond maxItems and queues the removal
    // of their PNG files. Returns the removed items.
    QList<HistoryItem> trimToMaxItems();
    // A new capture: puts it at the front, trims to maxItems and queues the
    // writes of its image (after firstFile, as saveImage) and of the manifest.
    // Returns the future of the image's PNG bytes, as saveImage.
    QFuture<QByteArray> addNewest(const HistoryItem &item, const QFuture<QByteArray> &firstFile = {});

    // Reads the manifest into items (called on creation by shared()).
    void load();

    // Removes the item with that id when its image could not be decoded:
    // logs it, keeps the file aside, persists the manifest and posts
    // NotificationNames::historyItemDropped. Called on the main thread when
    // an item's pixels first fail to decode.
    void dropUndecodable(const QUuid &id);

    // Tries the writes that failed once more, then blocks until every queued
    // write has run (used by tests and on a relaunch).
    void waitForPendingWrites();
    // At quit, once the user's own saves are done or stuck: pictures no
    // longer wait for the user's own files of them, the writes that failed
    // are tried once more, and every queued write is waited for, however
    // long it takes, unless the queue's thread has been inside one file
    // system call for stuckAfter (a folder that stopped answering). False
    // (and logged) then: what is on disk stays as it is, and the manifest
    // names only pictures that are.
    bool finishWritesAtQuit(std::chrono::milliseconds stuckAfter = FileSystemCall::stuckAfter);
    // finishWritesAtQuit of the shared instance; true when there is none.
    static bool finishSharedWritesAtQuit(std::chrono::milliseconds stuckAfter = FileSystemCall::stuckAfter);

    // Drops the shared instance after its pending writes, so the next
    // shared() loads afresh from disk (tests use this to simulate a relaunch).
    static void resetShared();

private:
    struct Disk;

    explicit HistoryService(const QString &storeDir, bool loadNow);
    static HistoryService &create(bool loadNow);
    // The manifest's items whose PNG headers read; only headers are read,
    // and only from regular files (anything else under a picture's name is
    // kept aside). Any thread.
    QList<HistoryItem> readStore() const;
    // Items read in the background go behind those added meanwhile.
    void adoptLoaded(const QList<HistoryItem> &loaded);
    ~HistoryService();
    HistoryService(const HistoryService &) = delete;
    HistoryService &operator=(const HistoryService &) = delete;
    void enqueue(std::function<void()> job);
    void setManifestAside(bool keepOriginal, const QString &why) const;
    // Queues another try of the writes that failed.
    void retryFailedWrites();
    // Arms the timer of the next retry (main thread).
    void scheduleRetry();

    QList<HistoryItem> m_items;
    QString m_storeDir;
    // Touched only by the queue's jobs.
    std::shared_ptr<Disk> m_disk;
    bool m_retryScheduled = false;
    // The launch's read is under way; a clear meanwhile makes its result void.
    bool m_loadPending = false;
    bool m_clearedDuringLoad = false;
    QThreadPool m_io;
};
