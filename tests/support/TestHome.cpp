#include "support/TestHome.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>

namespace {
std::unique_ptr<QTemporaryDir> g_dir;

void makeFolders()
{
    const QString root = g_dir->path();
    for (const char *sub : {"config", "data", "cache", "runtime", "tmp", "Desktop"})
        QDir(root).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(root + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}
} // namespace

void TestHome::install()
{
    g_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/vorna-test-XXXXXX");
    const QByteArray root = g_dir->path().toUtf8();
    makeFolders();
    setenv("HOME", root.constData(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
    setenv("XDG_CACHE_HOME", (root + "/cache").constData(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/runtime").constData(), 1);
    setenv("TMPDIR", (root + "/tmp").constData(), 1);
    unsetenv("XDG_DESKTOP_DIR");
    // Programs started by tests never reach outside this machine: the update
    // feed points at a closed local port.
    setenv("VORNA_UPDATE_FEED_URL", "http://127.0.0.1:9/appcast.json", 1);
    QStandardPaths::setTestModeEnabled(false);
}

void TestHome::remove()
{
    g_dir.reset();
}

QString TestHome::path()
{
    return g_dir ? g_dir->path() : QString();
}

void TestHome::reset()
{
    const QString root = g_dir->path();
    QDir(root).removeRecursively();
    QDir().mkpath(root);
    makeFolders();
}
