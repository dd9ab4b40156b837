#include "FuzzSupport.h"

#include "platform/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {
QTemporaryDir *g_home = nullptr;
}

void fuzzInit()
{
    if (g_home)
        return;
    g_home = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/vorna-fuzz-XXXXXX"));
    const QString home = g_home->path();
    for (const char *sub : {"config", "data", "cache", "runtime"})
        QDir(home).mkpath(QString::fromLatin1(sub));
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home + QStringLiteral("/cache")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", (home + QStringLiteral("/runtime")).toUtf8());
    QFile::setPermissions(home + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    setLogQuiet(true);
    static int argc = 1;
    static char name[] = "vorna-fuzz";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

QString fuzzHome()
{
    return g_home ? g_home->path() : QString();
}

QString fuzzWriteFile(const QString &relativePath, const QByteArray &bytes)
{
    const QString path = fuzzHome() + QLatin1Char('/') + relativePath;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
    return path;
}
