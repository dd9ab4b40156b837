// The crash-reporting settings file (appsettings.json), loaded as at start.
// A file that does not decode is left exactly as it is; one that does
// survives a save and a load unchanged.
#include "FuzzSupport.h"

#include "model/AppSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    const QString path = AppSettings::fileURL().toLocalFile();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    f.write(bytes);
    f.close();

    const AppSettings loaded = AppSettings::load();
    if (!f.open(QIODevice::ReadOnly) || f.readAll() != bytes)
        std::abort(); // loading never rewrites the file
    f.close();

    const auto decoded = AppSettings::decode(bytes);
    if (decoded && !(*decoded == loaded) && !std::isnan(decoded->sentry.sampleRate))
        std::abort(); // load gives what the bytes say
    if (!decoded && !(loaded == AppSettings::defaults()))
        std::abort(); // or the defaults
    if (decoded) {
        const QByteArray text = AppSettings::savedText(*decoded);
        if (!text.isEmpty()) {
            const auto again = AppSettings::decode(text);
            if (!again || !(*again == *decoded))
                std::abort();
        }
    }
    return 0;
}
