#pragma once

#include <QString>

// Starting the program when the user logs in: an XDG autostart desktop file,
// $XDG_CONFIG_HOME/autostart/<application id>.desktop, that runs this
// executable.
class LoginItem
{
public:
    // Where the autostart file lives.
    static QString filePath();
    // Whether the autostart file is there and not switched off (Hidden=true
    // or X-GNOME-Autostart-enabled=false).
    static bool isEnabled();
    // Writes the autostart file (atomically). On failure *error says why.
    static bool enable(QString *error);
    // Removes the autostart file. On failure *error says why.
    static bool disable(QString *error);
};
