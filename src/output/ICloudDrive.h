#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

// Copies of saved screenshots in the user's cloud folder: the folder a
// desktop sync client keeps in the home folder. Both functions touch no
// shared state and show nothing, so they may run on any thread.

// The folders looked for, in this order, relative to the home folder:
// "Nextcloud", "ownCloud", "Dropbox" and "Sync" (Syncthing's default).
const QStringList &cloudFolderNames();

// The file URL of the "Vorna" folder inside the cloud folder, the first of
// cloudFolderNames() that exists as a folder (a symbolic link to a folder
// counts); nothing when there is none (the cloud copy is not set up). The
// "Vorna" folder itself is neither tested nor created here.
std::optional<QUrl> iCloudDriveFolderURL();

// Copies the file at path into the cloud folder's "Vorna" folder under the
// same name, creating that folder when needed. A copy of the same name
// already there is replaced, but only once the new copy is complete: when
// anything fails, the old copy and the source both stay as they were.
// Returns the copy's path, or nothing (no cloud folder, or a failure;
// nothing is logged or shown).
std::optional<QString> copyToICloudDrive(const QString &path);
