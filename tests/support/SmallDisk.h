#pragma once

#include <QString>

// A small tmpfs mounted over a folder for the life of the object: a disk a
// test can fill to the last byte and free again. Mounting needs root; a test
// checks isMounted() and skips when it is false, saying error().
class SmallDisk
{
public:
    // Mounts a tmpfs of the given size over folder (created when missing);
    // what the folder held is hidden while it is mounted.
    SmallDisk(const QString &folder, qint64 bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool isMounted() const { return m_mounted; }
    // Why the mount failed.
    QString error() const { return m_error; }
    // Takes every free byte with one file, then gives roomLeft of them back;
    // false when the disk did not fill or the room could not be given back.
    bool fill(qint64 roomLeft = 0);
    // Removes that file again.
    void free();

private:
    QString m_folder;
    QString m_error;
    bool m_mounted = false;
};
