// The settings mirror: the same bytes as settings.json restored at start,
// and as a document given to Import.
#include "FuzzSupport.h"

#include "model/SettingsPersistence.h"
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
    // A fresh, empty preference store for every input.
    QFile::remove(UserDefaults::defaultFilePath());
    UserDefaults::resetStandard();
    QFile::remove(UserDefaults::defaultFilePath());
    QDir folder(fuzzHome() + QStringLiteral("/mirror"));
    folder.removeRecursively();

    const QString path = fuzzWriteFile(QStringLiteral("mirror/settings.json"), bytes);
    SettingsPersistence mirror(path);
    mirror.restoreFromFile();
    for (const QString &key : UserDefaults::standard().dictionaryRepresentation().keys())
        if (!SettingsPersistence::isMirrored(key))
            std::abort(); // only mirrored keys are restored
    // Restoring never loses the file: it is in place or kept aside.
    bool kept = false;
    for (const QString &name : folder.entryList(QDir::Files)) {
        QFile f(folder.filePath(name));
        if (f.open(QIODevice::ReadOnly) && f.readAll() == bytes)
            kept = true;
    }
    if (!kept)
        std::abort();

    const std::optional<int> imported = mirror.importSettings(bytes);
    if (imported && *imported < 0)
        std::abort();
    return 0;
}
