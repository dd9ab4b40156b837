#include "settings/SettingsBackup.h"

#include "model/SettingsPersistence.h"
#include "platform/FileOps.h"
#include "platform/OpenPanel.h"
#include "platform/SavePanel.h"
#include "platform/Localized.h"

#include <QDir>
#include <QPointer>

SettingsBackup::SettingsBackup(QObject *parent) : QObject(parent)
{
}

void SettingsBackup::setStatus(const QString &status)
{
    m_status = status;
    emit statusChanged();
}

void SettingsBackup::exportSettings()
{
    // The export carries the settings as they are now, whether or not the
    // mirror file could be rewritten, so it is never a stale copy.
    QByteArray document;
    SettingsPersistence::shared().writeSettingsFile(&document);

    SavePanel::Request request;
    request.suggestedName = QStringLiteral("Vorna-Settings.json");
    request.mimeTypeFilters = {QStringLiteral("application/json")};
    request.defaultSuffix = QStringLiteral("json");
    request.name = QStringLiteral("exportSettings");
    request.directory = QDir::homePath();
    QPointer<SettingsBackup> self(this);
    SavePanel::show(request, [self, document](std::optional<QString> path) {
        if (self)
            self->exportCompletion(path, document);
    });
}

void SettingsBackup::exportCompletion(const std::optional<QString> &path, const QByteArray &document)
{
    if (!path || path->isEmpty())
        return;
    QString error;
    if (FileOps::writeAtomically(*path, document, &error))
        setStatus(localized("Exported to ") + *path);
    else
        setStatus(localized("Export failed: ") + error);
}

void SettingsBackup::importSettings()
{
    OpenPanel::Request request;
    request.mimeTypeFilters = {QStringLiteral("application/json")};
    request.name = QStringLiteral("importSettings");
    request.directory = QDir::homePath();
    QPointer<SettingsBackup> self(this);
    OpenPanel::show(request, [self](std::optional<QString> path) {
        if (self)
            self->importCompletion(path);
    });
}

void SettingsBackup::importCompletion(const std::optional<QString> &path)
{
    if (!path || path->isEmpty())
        return;
    // A file that cannot be read says so: an earlier "Imported N" left in
    // place would read as this import's success. Only a regular file is
    // read, so a named pipe cannot hold the window.
    QByteArray bytes;
    QString error;
    if (!FileOps::readAtMost(*path, maxImportBytes, &bytes, &error)) {
        setStatus(localized("Could not read the file: ") + error);
        return;
    }
    const std::optional<int> imported = SettingsPersistence::shared().importSettings(bytes);
    if (!imported) {
        setStatus(localized("Not a valid Vorna settings file."));
        return;
    }
    setStatus(localized("Imported ") + QString::number(*imported)
              + localized(" setting(s). Relaunch Vorna so language and shortcuts fully apply."));
}
