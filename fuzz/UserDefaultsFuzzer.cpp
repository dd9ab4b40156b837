// The preference store's file: loaded exactly as at start, then every value
// read through the converting readers. A file that does not load must still
// be there afterwards (in place or kept aside), byte for byte.
#include "FuzzSupport.h"

#include "platform/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    QDir folder(fuzzHome() + QStringLiteral("/defaults"));
    folder.removeRecursively();
    const QString path = fuzzWriteFile(QStringLiteral("defaults/defaults.json"), bytes);
    {
        UserDefaults defaults(path);
        const QVariantMap all = defaults.dictionaryRepresentation();
        for (auto it = all.begin(); it != all.end(); ++it) {
            defaults.boolForKey(it.key());
            defaults.integerForKey(it.key());
            defaults.doubleForKey(it.key());
            defaults.stringForKey(it.key());
            defaults.dataForKey(it.key());
            defaults.arrayForKey(it.key());
            defaults.stringArrayForKey(it.key());
            defaults.dictionaryForKey(it.key());
            if (!UserDefaults::isStorable(it.value()))
                std::abort(); // only storable values come out of the file
        }
    }
    // Loading alone never writes: whatever happened, the bytes survive.
    bool kept = false;
    for (const QString &name : folder.entryList(QDir::Files)) {
        QFile f(folder.filePath(name));
        if (f.open(QIODevice::ReadOnly) && f.readAll() == bytes)
            kept = true;
    }
    if (!kept)
        std::abort();
    return 0;
}
