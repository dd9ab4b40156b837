#pragma once

#include <QString>

// A small tmpfs mounted over a folder for the length of a test: a disk that
// can be filled to the last byte and freed again. Mounting needs root; a
// test checks mounted() and skips when it is false.
class SmallTmpfs
{
public:
    // Mounts a tmpfs of the given size over folder (created when missing).
    explicit SmallTmpfs(const QString &folder, int kilobytes = 64);
    ~SmallTmpfs();
    SmallTmpfs(const SmallTmpfs &) = delete;
    SmallTmpfs &operator=(const SmallTmpfs &) = delete;

    bool mounted() const { return m_mounted; }
    // Why the mount failed.
    QString error() const { return m_error; }
    // Fills the disk with one file until not a byte more fits; false when
    // the disk did not fill.
    bool fill();
    // Removes that file again.
    void freeSpace();

private:
    QString m_folder;
    QString m_error;
    bool m_mounted = false;
};
