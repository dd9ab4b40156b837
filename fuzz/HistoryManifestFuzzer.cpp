// The history manifest, loaded as at start. One record id has a real PNG
// beside the manifest so that records can become items.
#include "FuzzSupport.h"

#include "output/HistoryService.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <cstdlib>

namespace {
const QUuid kKnownId(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInit();
    HistoryService &history = HistoryService::shared();
    QImage image(4, 3, QImage::Format_ARGB32);
    image.fill(Qt::red);
    image.setDotsPerMeterX(5669);
    image.setDotsPerMeterY(5669);
    image.save(history.imagePath(kKnownId), "PNG");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    HistoryService &history = HistoryService::shared();
    const QString manifest = history.manifestPath();
    QDir folder(history.storeDir());
    for (const QString &name : folder.entryList({QStringLiteral("manifest.json*")}, QDir::Files))
        folder.remove(name);
    QFile f(manifest);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    f.close();

    history.load();
    if (history.items().size() > 0) {
        for (const HistoryItem &item : history.items())
            if (item.id != kKnownId || item.image.isNull())
                std::abort(); // only records with a readable image become items
    }
    // The manifest is never lost: it is in place or kept aside.
    bool kept = false;
    for (const QString &name : folder.entryList({QStringLiteral("manifest.json*")}, QDir::Files)) {
        QFile g(folder.filePath(name));
        if (g.open(QIODevice::ReadOnly) && g.readAll() == bytes)
            kept = true;
    }
    if (!kept)
        std::abort();
    return 0;
}
