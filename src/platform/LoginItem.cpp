#include "platform/LoginItem.h"

#include "platform/AppPaths.h"
#include "platform/DesktopEntry.h"
#include "platform/FileOps.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// Whether an Exec line starts the executable of this process: its program,
// found on PATH when it is a bare name, is the same file, links resolved.
bool runsThisExecutable(const QString &exec)
{
    const std::optional<QStringList> command = DesktopEntry::splitExec(exec);
    if (!command || command->isEmpty())
        return false;
    QString program = command->first();
    if (!program.contains(u'/'))
        program = QStandardPaths::findExecutable(program);
    if (program.isEmpty())
        return false;
    const QString running = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString named = QFileInfo(program).canonicalFilePath();
    return !named.isEmpty() && named == running;
}

} // namespace

QString LoginItem::launchArgument()
{
    return QStringLiteral("--autostart");
}

QString LoginItem::filePath()
{
    return AppPaths::configHome() + QStringLiteral("/autostart/") + QStringLiteral(VORNA_APP_ID) + QStringLiteral(".desktop");
}

bool LoginItem::isEnabled()
{
    const auto entry = DesktopEntry::read(filePath());
    if (!entry)
        return false;
    if (entry->value(QStringLiteral("Hidden")).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return false;
    if (entry->value(QStringLiteral("X-GNOME-Autostart-enabled")).compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    return runsThisExecutable(entry->value(QStringLiteral("Exec")));
}

bool LoginItem::enable(QString *error)
{
    const QString path = filePath();
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        if (error)
            *error = QStringLiteral("Could not create the folder %1").arg(dir);
        return false;
    }
    QString name = QCoreApplication::applicationName();
    if (name.isEmpty())
        name = QStringLiteral("Vorna");
    const QString exec = DesktopEntry::quoteExecArgument(QCoreApplication::applicationFilePath()) + u' '
                         + DesktopEntry::quoteExecArgument(launchArgument());
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=%1\n"
                                        "Exec=%2\n"
                                        "Icon=%3\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(DesktopEntry::escapeValue(name), DesktopEntry::escapeValue(exec),
                                  QStringLiteral(VORNA_APP_ID));
    QString reason;
    if (!FileOps::writeAtomically(path, text.toUtf8(), &reason)) {
        if (error)
            *error = QStringLiteral("Could not write ") + reason;
        return false;
    }
    return true;
}

bool LoginItem::disable(QString *error)
{
    const QString path = filePath();
    QFile file(path);
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return true;
    if (!file.remove()) {
        if (error)
            *error = QStringLiteral("Could not remove %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
