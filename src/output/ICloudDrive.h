#pragma once

#include <QString>
#include <QUrl>
#include <optional>

// Copies of saved screenshots in the user's cloud drive folder:
// "Library/Mobile Documents/com~apple~CloudDocs" under the home folder,
// where a sync client keeps the drive. Both functions touch no shared state
// and show nothing, so they may run on any thread.

// The file URL of the "Vorna" folder inside the cloud drive, when the
// "com~apple~CloudDocs" folder exists; nothing otherwise (the drive is not
// set up). The "Vorna" folder itself is neither tested nor created here.
std::optional<QUrl> iCloudDriveFolderURL();

// Copies the file at path into the cloud drive folder under the same name,
// creating the folder when needed. A copy of the same name already there is
// replaced, but only once the new copy is complete: when anything fails,
// the old copy and the source both stay as they were. Returns the copy's
// path, or nothing (no drive, or a failure; nothing is logged or shown).
std::optional<QString> copyToICloudDrive(const QString &path);
