#pragma once

#include <QString>

// A small tmpfs mounted over a folder for the life of the object, so that a
// test can fill the disk and free it again. Mounting needs root: isMounted()
// is false where it is not permitted.
class SmallDisk
{
public:
    // Creates the folder when needed; what it held is hidden while mounted.
    SmallDisk(const QString &folder, qint64 bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool isMounted() const { return m_mounted; }
    // Takes every free byte with one file, then gives roomLeft of them back;
    // true when not one byte more fitted before that.
    bool fill(qint64 roomLeft = 0);
    // Removes that file.
    void free();

private:
    QString m_folder;
    bool m_mounted = false;
};
