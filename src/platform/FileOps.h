#pragma once

#include <QByteArray>
#include <QString>

// Small file helpers that report what went wrong as text.
class FileOps
{
public:
    // Creates the folder and any missing parents; an existing folder is fine.
    static bool makeFolder(const QString &path, QString *error = nullptr);
    // Writes the bytes to a temporary file beside the target and moves it into
    // place, so the old file stays intact when anything fails.
    static bool writeAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);
};
