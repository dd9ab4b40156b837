#include "platform/PanelFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace {

QHash<QString, QString> &chosenFolders()
{
    static QHash<QString, QString> folders;
    return folders;
}

} // namespace

QString PanelFolders::startFolder(const QString &name, const QString &fallback)
{
    return chosenFolders().value(name, fallback);
}

PanelFolders::Completion PanelFolders::remembering(const QString &name, bool choosesFolders, Completion completion)
{
    return [name, choosesFolders, completion = std::move(completion)](std::optional<QString> path) {
        if (!name.isEmpty() && path && !path->isEmpty()) {
            const QFileInfo chosen(*path);
            chosenFolders().insert(name, choosesFolders ? chosen.absoluteFilePath() : chosen.absolutePath());
        }
        if (completion)
            completion(std::move(path));
    };
}

void PanelFolders::forgetAll()
{
    chosenFolders().clear();
}

QString PanelFolders::nearestExisting(const QString &folder)
{
    if (folder.isEmpty())
        return QDir::homePath();
    QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    while (!QFileInfo(path).isDir()) {
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path)
            return QDir::homePath();
        path = parent;
    }
    return path;
}
