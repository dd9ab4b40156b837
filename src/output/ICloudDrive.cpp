#include "output/ICloudDrive.h"

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"

#include <QDir>
#include <QFileInfo>

const QStringList &cloudFolderNames()
{
    static const QStringList names = {QStringLiteral("Nextcloud"), QStringLiteral("ownCloud"),
                                      QStringLiteral("Dropbox"), QStringLiteral("Sync")};
    return names;
}

std::optional<QUrl> iCloudDriveFolderURL()
{
    const QDir home(AppPaths::home());
    for (const QString &name : cloudFolderNames()) {
        const QString base = home.filePath(name);
        if (QFileInfo(base).isDir()) // follows a symbolic link
            return QUrl::fromLocalFile(QDir(base).filePath(QStringLiteral("Vorna")));
    }
    return std::nullopt;
}

std::optional<QString> copyToICloudDrive(const QString &path)
{
    const std::optional<QUrl> folder = iCloudDriveFolderURL();
    if (!folder)
        return std::nullopt;
    const QString folderPath = folder->toLocalFile();
    const QFileInfo source(path);
    const QString destination = QDir(folderPath).filePath(source.fileName());
    if (!QDir().mkpath(folderPath))
        return std::nullopt;
    // A file saved straight into the cloud folder is its own copy; copying
    // it over itself would only risk it.
    const QFileInfo target(destination);
    if (target.exists() && source.exists() && target.canonicalFilePath() == source.canonicalFilePath())
        return destination;
    QString error;
    if (!AtomicFile::copyReplacing(source.filePath(), destination, &error))
        return std::nullopt;
    return destination;
}
