#include "platform/AppPaths.h"

#include <QDir>
#include <QStandardPaths>

namespace {
QString envPath(const char *name, const QString &fallback)
{
    const QString v = qEnvironmentVariable(name);
    if (!v.isEmpty() && QDir::isAbsolutePath(v))
        return QDir::cleanPath(v);
    return fallback;
}
} // namespace

QString AppPaths::home()
{
    return QDir::homePath();
}

QString AppPaths::dataHome()
{
    return envPath("XDG_DATA_HOME", home() + "/.local/share");
}

QString AppPaths::appDataDir()
{
    return dataHome() + "/Vorna";
}

QString AppPaths::configHome()
{
    return envPath("XDG_CONFIG_HOME", home() + "/.config");
}

QString AppPaths::appConfigDir()
{
    return configHome() + "/Vorna";
}

QString AppPaths::desktopDir()
{
    // QStandardPaths consults user-dirs.dirs; when that names no Desktop it
    // answers the home folder itself, which is not a desktop.
    const QString p = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (p.isEmpty() || QDir::cleanPath(p) == QDir::cleanPath(home()))
        return QString();
    return p;
}

QString AppPaths::tempDir()
{
    return QDir::tempPath();
}

QString AppPaths::expandTilde(const QString &path)
{
    if (path == QLatin1String("~"))
        return home();
    if (path.startsWith(QLatin1String("~/")))
        return home() + path.mid(1);
    return path;
}
