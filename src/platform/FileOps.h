#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <functional>

// Small file helpers that report what went wrong as text.
class FileOps
{
public:
    // Creates the folder and any missing parents; an existing folder is fine.
    static bool makeFolder(const QString &path, QString *error = nullptr);
    // Writes the bytes to a temporary file beside the target and moves it into
    // place, so the old file stays intact when anything fails.
    static bool writeAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);
    // Writes content into out; false when it could not, with the reason in
    // *reason, or with *reason left empty when a write to out failed (the
    // system's reason is given then).
    using ContentWriter = std::function<bool(QIODevice &out, QString *reason)>;
    // writeAtomically for content made while it is written (a copy, an
    // encoder). Either the whole content is on disk under path, or the old
    // file is as it was and false comes back: a failed write, flush, sync
    // or rename is reported as "<path>: <reason>".
    static bool writeAtomicallyFrom(const QString &path, const ContentWriter &writeContent, QString *error = nullptr);
    // Opens a regular file for reading. The open never waits: a named pipe
    // or a device would hold it until someone writes to it, and is refused
    // like a folder is.
    static bool openRegularFile(const QString &path, QFile &file, QString *error = nullptr);
    // Reads a whole regular file of at most maxBytes into *out. A larger file is
    // refused (with its size in *error) without reading it into memory, as
    // is one that cannot be opened or read.
    static bool readAtMost(const QString &path, qint64 maxBytes, QByteArray *out, QString *error = nullptr);
    // A free name next to path for keeping a file aside:
    // "<path>.unreadable-<UTC stamp>", numbered "-2", "-3"... when taken.
    static QString asideName(const QString &path);
    // Removes the files kept aside for path under asideName's names that
    // were set aside longest ago, so that keep of them remain: justKept (the
    // one just set aside, when given) always, whatever date its name
    // carries, and of the others those whose names carry the latest dates.
    // A date later than now (a clock set back, copies from another machine)
    // tells nothing: such copies count as older than any other. Folders are
    // left.
    static void pruneAside(const QString &path, int keep, const QString &justKept = QString());
};
