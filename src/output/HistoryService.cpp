#include "output/HistoryService.h"

#include "platform/AppPaths.h"
#include "platform/FileOps.h"
#include "platform/FileSystemCall.h"
#include "platform/FoundationJson.h"
#include "model/NotificationNames.h"
#include "output/PngEncoder.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPromise>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>

namespace {

HistoryService *g_shared = nullptr;
// Counts the instances made, so that a load finished for an instance that
// is gone is not taken for its successor's.
quint64 g_generation = 0;

constexpr double kInchesPerMeter = 39.3700787;
constexpr double kPointsPerInch = 72.0;
// How long after a failed write the next try comes.
constexpr int kRetryMs = 15000;

QString idText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

// "2024-05-01T09:30:00Z": UTC, whole seconds.
QString dateText(const QDateTime &date)
{
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

// An internet date-time with whole seconds, "Z" or a numeric offset.
std::optional<QDateTime> parseDate(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}(Z|[+-]\\d{2}:\\d{2})$"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    const QDateTime date = QDateTime::fromString(text, Qt::ISODate);
    if (!date.isValid())
        return std::nullopt;
    return date.toUTC();
}

// Pixels per point of a PNG file, from its pHYs chunk (72 dpi is one pixel
// per point), read from its start. Files without one count as one pixel per
// point.
qreal pixelsPerPoint(QFile &f)
{
    if (!f.seek(0))
        return 1.0;
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    if (f.read(8) != signature)
        return 1.0;
    for (int guard = 0; guard < 64; ++guard) {
        const QByteArray header = f.read(8);
        if (header.size() != 8)
            break;
        const quint32 length = qFromBigEndian<quint32>(header.constData());
        const QByteArray type = header.mid(4, 4);
        if (type == "IDAT" || type == "IEND")
            break;
        if (type == "pHYs" && length == 9) {
            const QByteArray body = f.read(9);
            if (body.size() != 9 || body.at(8) != 1) // unit: metre
                break;
            const quint32 perMetre = qFromBigEndian<quint32>(body.constData());
            const double ratio = perMetre / kInchesPerMeter / kPointsPerInch;
            if (ratio < 0.25 || ratio > 16)
                break;
            // Rounded, so that 144 dpi stored as whole pixels per metre reads back as 2.
            return std::round(ratio * 100.0) / 100.0;
        }
        if (!f.seek(f.pos() + qint64(length) + 4)) // body and CRC
            break;
    }
    return 1.0;
}

struct Record
{
    QUuid id;
    QDateTime date;
    QString mode;
    std::optional<QString> filePath;
};

// One manifest record, or nothing when a required member is missing or has
// the wrong type.
std::optional<Record> decodeRecord(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject obj = value.toObject();
    const QJsonValue id = obj.value(QStringLiteral("id"));
    const QJsonValue date = obj.value(QStringLiteral("date"));
    const QJsonValue mode = obj.value(QStringLiteral("mode"));
    const QJsonValue filePath = obj.value(QStringLiteral("filePath"));
    if (!id.isString() || !date.isString() || !mode.isString())
        return std::nullopt;
    Record r;
    r.id = QUuid::fromString(id.toString());
    if (r.id.isNull())
        return std::nullopt;
    const auto parsed = parseDate(date.toString());
    if (!parsed)
        return std::nullopt;
    r.date = *parsed;
    r.mode = mode.toString();
    if (filePath.isString())
        r.filePath = filePath.toString();
    else if (!filePath.isUndefined() && !filePath.isNull())
        return std::nullopt;
    return r;
}

QByteArray encodeRecords(const QJsonArray &records)
{
    return FoundationJson::prettySorted(records);
}

QJsonObject recordOf(const HistoryItem &item)
{
    QJsonObject r;
    r.insert(QStringLiteral("id"), idText(item.id));
    r.insert(QStringLiteral("date"), dateText(item.date));
    r.insert(QStringLiteral("mode"), CaptureModes::rawValue(item.mode));
    if (item.filePath)
        r.insert(QStringLiteral("filePath"), *item.filePath);
    return r;
}

// The PNG of the history's file, its pixels per point recorded as the
// file's resolution. Bytes of a PNG of these very pixels (the user's own file
// of the capture) are taken as they are, with the resolution added;
// otherwise the image is encoded as one stream on this thread, for CPU time
// rather than size, leaving the other cores to whatever the user is waiting
// for.
QByteArray historyPng(const QImage &image, const QByteArray &samePixelsPng)
{
    QByteArray bytes;
    if (PngEncoder::imageSize(samePixelsPng) == image.size())
        bytes = PngEncoder::withPixelsPerPoint(samePixelsPng, image.devicePixelRatio());
    if (bytes.isEmpty())
        bytes = PngEncoder::encode(image, image.devicePixelRatio(), PngEncoder::Effort::fast,
                                   PngEncoder::Threads::callingThreadOnly);
    return bytes;
}

// What stands under a picture's name but is no file to read (a named pipe,
// a device, a folder: reading a pipe would wait for a writer that never
// comes) is kept aside like a damaged picture. A missing picture is left as
// it is.
void setPictureAside(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return;
    const QString aside = FileOps::asideName(path);
    if (QFile::rename(path, aside))
        vlog(QStringLiteral("[Vorna] history: ") + path + QStringLiteral(" is not a regular file; kept it aside as ")
             + aside);
    else
        vlog(QStringLiteral("[Vorna] history: ") + path + QStringLiteral(" is not a regular file; skipped it"));
}

// A picture with no picture header (an empty file, say) leaves the history
// and is kept aside, like one that fails to decode.
void setDamagedPictureAside(const QString &path)
{
    const QString aside = FileOps::asideName(path);
    if (QFile::rename(path, aside))
        vlog(QStringLiteral("[Vorna] history: ") + path
             + QStringLiteral(" holds no picture; dropped its entry and kept it aside as ") + aside);
    else
        vlog(QStringLiteral("[Vorna] history: ") + path + QStringLiteral(" holds no picture; dropped its entry"));
}

// When the pixels of an item fail to decode, its entry leaves the history
// (on the main thread, after the call that asked for them has returned).
void watchDecoding(ImageHandle image, const QUuid &id)
{
    image.setDecodeFailureHandler([id] {
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [id] {
                if (g_shared)
                    g_shared->dropUndecodable(id);
            },
            Qt::QueuedConnection);
    });
}

// A file about to be removed whose image is still held elsewhere (an open
// editor) keeps its bytes in memory first.
void keepForOtherHolders(const ImageHandle &image, const QString &path)
{
    // image is the removing job's own copy.
    if (image.holderCount() > 1 && image.sourcePath() == path)
        image.detachFromFile();
}

} // namespace

// The queue's view of what is on disk. Pictures whose write failed wait here
// with their bytes (and their pixels stay in memory) until a later try puts
// them on disk; the manifest never names them before that.
struct HistoryService::Disk
{
    struct Unwritten
    {
        QString path;
        QByteArray png;
        ImageHandle image;
    };

    using Records = QList<std::pair<QUuid, QJsonObject>>;

    QString manifestPath;
    quint64 generation = 0;
    QHash<QUuid, Unwritten> unwritten;
    // The records of the latest manifest asked for in this run, if any.
    std::optional<Records> records;
    // What the launch's read found, until the main thread has taken it in:
    // a manifest written before then (for a capture taken meanwhile) keeps
    // those records behind its own.
    std::optional<Records> loaded;
    // Set from the main thread at quit: a picture's write no longer waits
    // for the user's own file of it, which may never come (a save into a
    // folder that stopped answering).
    std::atomic<bool> quitting{false};
    // The queue's thread, once it has run a job: quitting does not wait
    // for it while it is stuck in the file system.
    std::atomic<std::thread::id> thread{};
    bool manifestBehind = false; // its last write failed
    bool manifestFailureLogged = false;

    // Writes a picture; when that fails, keeps it for a later try.
    void writePicture(const QUuid &id, const QString &path, const QByteArray &png, const ImageHandle &image)
    {
        QString error;
        if (FileOps::writeAtomically(path, png, &error)) {
            unwritten.remove(id);
            pictureOnDisk(id, path, image);
            return;
        }
        if (!unwritten.contains(id))
            vlog(QStringLiteral("[Vorna] history: cannot write ") + error
                 + QStringLiteral("; the picture stays in memory and is written again later"));
        unwritten.insert(id, {path, png, image});
        askForRetry();
    }

    // Tries the pictures kept from failed writes; true when one went to disk.
    bool writeUnwritten()
    {
        if (unwritten.isEmpty())
            return false;
        // The folder may have gone meanwhile, or never have been made.
        FileSystemCall::run([this] { return QDir().mkpath(QFileInfo(manifestPath).absolutePath()); });
        bool wrote = false;
        for (auto it = unwritten.begin(); it != unwritten.end();) {
            if (!FileOps::writeAtomically(it->path, it->png)) {
                ++it;
                continue;
            }
            vlog(QStringLiteral("[Vorna] history: wrote ") + it->path + QStringLiteral(" on a later try"));
            pictureOnDisk(it.key(), it->path, it->image);
            it = unwritten.erase(it);
            wrote = true;
        }
        if (!unwritten.isEmpty())
            askForRetry();
        return wrote;
    }

    // Writes the latest records, less those whose picture is not on disk.
    void writeManifest()
    {
        if (!records)
            return;
        Records all = *records;
        if (loaded) {
            for (const auto &entry : std::as_const(*loaded)) {
                if (std::none_of(all.cbegin(), all.cend(), [&](const auto &e) { return e.first == entry.first; }))
                    all.append(entry);
            }
        }
        QJsonArray array;
        for (const auto &[id, record] : std::as_const(all)) {
            if (!unwritten.contains(id))
                array.append(record);
        }
        QString error;
        if (FileOps::writeAtomically(manifestPath, encodeRecords(array), &error)) {
            manifestBehind = false;
            manifestFailureLogged = false;
            return;
        }
        if (!manifestFailureLogged)
            vlog(QStringLiteral("[Vorna] history: cannot write ") + error
                 + QStringLiteral("; the manifest is written again later"));
        manifestFailureLogged = true;
        manifestBehind = true;
        askForRetry();
    }

    void retry()
    {
        if (writeUnwritten() || manifestBehind)
            writeManifest();
    }

    // Everything in the folder is going: nothing is left to write again.
    void forgetAll()
    {
        unwritten.clear();
        records.reset();
        loaded.reset();
        manifestBehind = false;
    }

    // Waits until the user's own file of a capture is done, or until quit.
    void waitForUsersFile(const QFuture<QByteArray> &userFile) const
    {
        // Polled rather than waited for: the future comes from a promise,
        // not a pool task, and waiting on it could not be cut short.
        while (!userFile.isFinished() && !quitting.load())
            QThread::msleep(10);
    }

    static void pictureOnDisk(const QUuid &id, const QString &path, ImageHandle image)
    {
        // The file holds the pixels now: memory keeps them only as long as
        // something else (the clipboard, the preview, a save) still does.
        watchDecoding(image, id);
        image.releaseToFile(path);
    }

    void askForRetry() const
    {
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [generation = generation] {
                if (g_shared && g_generation == generation)
                    g_shared->scheduleRetry();
            },
            Qt::QueuedConnection);
    }
};

HistoryService &HistoryService::create(bool loadNow)
{
    ++g_generation;
    g_shared = new HistoryService(defaultStoreDir(), loadNow);
    return *g_shared;
}

QString HistoryService::defaultStoreDir()
{
    return AppPaths::appDataDir() + QStringLiteral("/history");
}

HistoryService &HistoryService::shared()
{
    return g_shared ? *g_shared : create(true);
}

void HistoryService::loadShared(std::function<void()> loaded)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (g_shared) {
        QMetaObject::invokeMethod(app, std::move(loaded), Qt::QueuedConnection);
        return;
    }
    HistoryService &service = create(false);
    service.m_loadPending = true;
    // First on the queue: nothing queued later (a manifest write) runs
    // before the reading is done.
    service.enqueue([&service, disk = service.m_disk, app, generation = g_generation, loaded = std::move(loaded)] {
        const QList<HistoryItem> items = service.readStore();
        Disk::Records records;
        for (const HistoryItem &item : items)
            records.append({item.id, recordOf(item)});
        disk->loaded = records;
        QMetaObject::invokeMethod(
            app,
            [generation, items, loaded] {
                if (g_shared && g_generation == generation)
                    g_shared->adoptLoaded(items);
                if (loaded)
                    loaded();
            },
            Qt::QueuedConnection);
    });
}

void HistoryService::resetShared()
{
    delete g_shared; // waits for the queued writes
    g_shared = nullptr;
}

HistoryService::HistoryService(const QString &storeDir, bool loadNow)
    : m_storeDir(storeDir), m_disk(std::make_shared<Disk>())
{
    m_disk->manifestPath = manifestPath();
    m_disk->generation = g_generation;
    m_io.setMaxThreadCount(1);
    m_io.setThreadPriority(QThread::LowPriority);
    if (loadNow) {
        QDir().mkpath(m_storeDir);
        load();
    } else {
        enqueue([dir = m_storeDir] { FileSystemCall::run([&dir] { return QDir().mkpath(dir); }); });
    }
}

HistoryService::~HistoryService()
{
    waitForPendingWrites();
}

QString HistoryService::manifestPath() const
{
    return m_storeDir + QStringLiteral("/manifest.json");
}

QString HistoryService::imagePath(const QUuid &id) const
{
    return m_storeDir + u'/' + idText(id) + QStringLiteral(".png");
}

void HistoryService::enqueue(std::function<void()> job)
{
    m_io.start([disk = m_disk, job = std::move(job)] {
        disk->thread = std::this_thread::get_id();
        job();
    });
}

void HistoryService::waitForPendingWrites()
{
    retryFailedWrites();
    m_io.waitForDone();
}

bool HistoryService::finishWritesAtQuit(std::chrono::milliseconds stuckAfter)
{
    m_disk->quitting = true;
    retryFailedWrites();
    while (!m_io.waitForDone(20)) {
        if (FileSystemCall::unreturnedFor(m_disk->thread.load()) >= stuckAfter) {
            vlog(QStringLiteral("[Vorna] history: a write has waited on the file system for %1 ms at quit; "
                                "quitting without it and those after it")
                     .arg(stuckAfter.count()));
            return false;
        }
    }
    return true;
}

bool HistoryService::finishSharedWritesAtQuit(std::chrono::milliseconds stuckAfter)
{
    return !g_shared || g_shared->finishWritesAtQuit(stuckAfter);
}

void HistoryService::retryFailedWrites()
{
    enqueue([disk = m_disk] { disk->retry(); });
}

void HistoryService::scheduleRetry()
{
    if (m_retryScheduled)
        return;
    m_retryScheduled = true;
    QTimer::singleShot(kRetryMs, QCoreApplication::instance(), [generation = g_generation] {
        if (!g_shared || g_generation != generation)
            return;
        g_shared->m_retryScheduled = false;
        g_shared->retryFailedWrites();
    });
}

void HistoryService::setManifestAside(bool keepOriginal, const QString &why) const
{
    const QString path = manifestPath();
    const QString aside = FileOps::asideName(path);
    const bool ok = keepOriginal ? QFile::copy(path, aside) : QFile::rename(path, aside);
    if (ok)
        vlog(QStringLiteral("[Vorna] history: ") + why + QStringLiteral("; kept the manifest aside as ") + aside);
    else
        vlog(QStringLiteral("[Vorna] history: ") + why + QStringLiteral("; could not keep the manifest aside as ")
             + aside);
}

void HistoryService::load()
{
    m_items = readStore();
}

QList<HistoryItem> HistoryService::readStore() const
{
    const QString path = manifestPath();
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {}; // first launch

    QByteArray bytes;
    QString error;
    if (info.isDir() || !FileOps::readAtMost(path, maxManifestBytes, &bytes, &error)) {
        setManifestAside(false, error.isEmpty() ? QStringLiteral("cannot read the manifest")
                                                : QStringLiteral("cannot read the manifest (%1)").arg(error));
        return {};
    }

    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
    if (err.error != QJsonParseError::NoError || !doc.isArray()) {
        setManifestAside(false, QStringLiteral("the manifest is not a list of records"));
        return {};
    }

    int damaged = 0;
    QList<HistoryItem> items;
    for (const QJsonValue &value : doc.array()) {
        const auto record = decodeRecord(value);
        if (!record) {
            ++damaged;
            continue;
        }
        const auto mode = CaptureModes::fromRawValue(record->mode);
        if (!mode)
            continue;
        // Only the header is read here; the pixels wait until first use.
        const QString png = imagePath(record->id);
        auto keep = [&](const ImageHandle &image) {
            HistoryItem item;
            item.id = record->id;
            item.image = image;
            watchDecoding(item.image, item.id);
            item.date = record->date;
            item.mode = *mode;
            item.filePath = record->filePath;
            items.append(item);
        };
        QFile file;
        QString why;
        if (!FileOps::openRegularFile(png, file, &why)) {
            if (QFileInfo(png).isFile()) {
                // There, but not to be opened now (no descriptor left, say):
                // the entry stays, and its picture is read when first needed,
                // at the two pixels per point every capture is saved with.
                vlog(QStringLiteral("[Vorna] history: cannot read %1 now (%2); kept its entry").arg(png, why));
                keep(ImageHandle::fromFile(png));
                continue;
            }
            setPictureAside(png);
            continue;
        }
        QImageReader reader(&file);
        const QSize size = reader.canRead() ? reader.size() : QSize();
        if (!size.isValid() || size.isEmpty()) {
            file.close();
            setDamagedPictureAside(png);
            continue;
        }
        keep(ImageHandle::fromFile(png, pixelsPerPoint(file), size));
    }
    if (damaged > 0) {
        // The next persist drops the damaged records; keep what was there.
        setManifestAside(true, QStringLiteral("skipped %1 unreadable manifest record(s)").arg(damaged));
    }
    return items;
}

void HistoryService::adoptLoaded(const QList<HistoryItem> &loaded)
{
    m_loadPending = false;
    // From here on the list holds them (first, so that a trim below is not
    // undone in the manifest).
    enqueue([disk = m_disk] { disk->loaded.reset(); });
    // A clear after the read took away everything the read found.
    if (std::exchange(m_clearedDuringLoad, false))
        return;
    const bool addedMeanwhile = !m_items.isEmpty();
    for (const HistoryItem &item : loaded) {
        if (std::none_of(m_items.cbegin(), m_items.cend(), [&](const HistoryItem &i) { return i.id == item.id; }))
            m_items.append(item);
    }
    trimToMaxItems();
    // The manifest written for the newer captures lacks the loaded ones.
    if (addedMeanwhile)
        persist();
}

QFuture<QByteArray> HistoryService::saveImage(const HistoryItem &item, const QFuture<QByteArray> &firstFile)
{
    auto png = std::make_shared<QPromise<QByteArray>>();
    png->start();
    const QFuture<QByteArray> encoded = png->future();
    const QString path = imagePath(item.id);
    ImageHandle image = item.image;
    if (image.isNull()) {
        png->finish();
        return encoded;
    }
    const QUuid id = item.id;
    enqueue([disk = m_disk, path, image, id, userFile = firstFile, png]() mutable {
        const auto done = qScopeGuard([&png] { png->finish(); });
        disk->waitForUsersFile(userFile);
        const QByteArray samePixelsPng =
            userFile.isCanceled() || userFile.resultCount() == 0 ? QByteArray() : userFile.result();
        userFile = QFuture<QByteArray>();
        // An item loaded from this very file is already on disk.
        if (!image.sourcePath().isEmpty() && FileSystemCall::run([&] {
                return QFileInfo(image.sourcePath()) == QFileInfo(path) && QFileInfo::exists(path);
            }))
            return;
        QImage pixels = image.image();
        if (pixels.isNull())
            return;
        const QByteArray bytes = historyPng(pixels, samePixelsPng);
        pixels = QImage();
        if (bytes.isEmpty())
            return; // the pixels stay in memory
        // Handed out before the write: nobody they go to waits for the disk.
        png->addResult(bytes);
        png->finish();
        disk->writePicture(id, path, bytes, image);
    });
    return encoded;
}

void HistoryService::persist()
{
    Disk::Records records;
    for (const HistoryItem &item : std::as_const(m_items))
        records.append({item.id, recordOf(item)});
    enqueue([disk = m_disk, records] {
        disk->records = records;
        // Space may be back for pictures that could not be written before.
        disk->writeUnwritten();
        disk->writeManifest();
    });
}

void HistoryService::deleteImageFile(const QUuid &id, const ImageHandle &image)
{
    const QString path = imagePath(id);
    enqueue([disk = m_disk, id, path, image]() mutable {
        disk->unwritten.remove(id);
        keepForOtherHolders(image, path);
        FileSystemCall::run([&path] { return QFile::remove(path); });
    });
}

void HistoryService::clear()
{
    QList<std::pair<QString, ImageHandle>> images;
    for (const HistoryItem &item : std::as_const(m_items))
        images.append({imagePath(item.id), item.image});
    m_items.clear();
    if (m_loadPending)
        m_clearedDuringLoad = true;
    const QString dir = m_storeDir;
    enqueue([disk = m_disk, dir, images]() mutable {
        disk->forgetAll();
        for (auto &[path, image] : images)
            keepForOtherHolders(image, path);
        images.clear();
        // Removing is file system work throughout.
        const FileSystemCall mark;
        QDir folder(dir);
        if (!folder.exists())
            return;
        const QFileInfoList entries =
            folder.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        for (const QFileInfo &entry : entries) {
            if (entry.isDir() && !entry.isSymLink())
                QDir(entry.absoluteFilePath()).removeRecursively();
            else
                QFile::remove(entry.absoluteFilePath());
        }
    });
}

void HistoryService::setFilePath(const QUuid &id, const std::optional<QString> &filePath)
{
    for (HistoryItem &item : m_items) {
        if (item.id == id) {
            item.filePath = filePath;
            persist();
            return;
        }
    }
}

QFuture<QByteArray> HistoryService::addNewest(const HistoryItem &item, const QFuture<QByteArray> &firstFile)
{
    m_items.prepend(item);
    trimToMaxItems();
    QFuture<QByteArray> png = saveImage(item, firstFile);
    persist();
    return png;
}

QList<HistoryItem> HistoryService::trimToMaxItems()
{
    QList<HistoryItem> removed;
    while (m_items.size() > maxItems) {
        HistoryItem oldest = m_items.takeLast();
        deleteImageFile(oldest.id, oldest.image);
        removed.prepend(oldest);
    }
    return removed;
}

void HistoryService::dropUndecodable(const QUuid &id)
{
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (m_items[i].id != id || !m_items[i].image.decodeFailed())
            continue;
        m_items.removeAt(i);
        const QString path = imagePath(id);
        vlog(QStringLiteral("[Vorna] history: cannot decode ") + path + QStringLiteral("; dropped its entry"));
        enqueue([path] {
            // Kept aside rather than removed: the bytes may still be of use.
            if (QFileInfo::exists(path))
                QFile::rename(path, FileOps::asideName(path));
        });
        persist();
        NotificationCenter::instance().post(NotificationNames::historyItemDropped,
                                            {{QStringLiteral("id"), QVariant::fromValue(id)}});
        return;
    }
}
