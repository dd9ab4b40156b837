#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>

// Writes files so that they appear complete or not at all: the bytes go to
// a temporary file in the target folder, are flushed to disk and only then
// get their name. Safe on any thread.
class AtomicFile
{
public:
    // Writes a new file into folder under the first name that nameForAttempt
    // (called with 1, 2, 3, ...) gives that no file has yet. An existing
    // file is never replaced, even when another writer takes a name at the
    // same moment. Returns the path written; on failure an empty text and
    // the system's description in errorText. The folder must exist.
    static QString writeNew(const QString &folder, const QByteArray &bytes,
                            const std::function<QString(int attempt)> &nameForAttempt, QString *errorText);

    // Copies the file at source to destination, replacing a file that is
    // there only once the copy is complete; if anything fails, the old
    // destination stays as it was and no temporary file is left behind.
    static bool copyReplacing(const QString &source, const QString &destination, QString *errorText);

    // Removes from folder (not from its subfolders) the temporary files that
    // writeNew leaves when the program ends in the middle of a write: the
    // current user's regular files under a name writeNew makes, last changed
    // before olderThan. Anything else (other names, links, folders, newer
    // files) stays. Returns how many went.
    static int removeStaleTemporaries(const QString &folder, const QDateTime &olderThan);
};
