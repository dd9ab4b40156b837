#pragma once

#include <QString>

// The folders the program uses, resolved from the XDG variables at each call.
class AppPaths
{
public:
    // $HOME (falls back to the password database through Qt).
    static QString home();
    // $XDG_DATA_HOME/Vorna, the program's own data folder (history, mirror).
    static QString appDataDir();
    // $XDG_DATA_HOME (~/.local/share): the parent of appDataDir and of other
    // programs' data folders.
    static QString dataHome();
    // $XDG_CONFIG_HOME (~/.config).
    static QString configHome();
    // $XDG_CONFIG_HOME/Vorna, where the preferences file lives.
    static QString appConfigDir();
    // The user's Desktop folder, or an empty text when none is known.
    static QString desktopDir();
    // The temporary folder ($TMPDIR or /tmp).
    static QString tempDir();
    // Expands a leading "~" or "~/" to the home folder.
    static QString expandTilde(const QString &path);
};
