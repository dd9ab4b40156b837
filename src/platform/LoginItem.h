#pragma once

#include <QString>

// Starting the program when the user logs in: an XDG autostart desktop file,
// $XDG_CONFIG_HOME/autostart/<application id>.desktop, that runs this
// executable with launchArgument().
class LoginItem
{
public:
    // The argument the autostart entry starts the program with, so that a
    // start at login can be told from one by a person.
    static QString launchArgument();
    // Where the autostart file lives.
    static QString filePath();
    // Whether the autostart file is there, not switched off (Hidden=true or
    // X-GNOME-Autostart-enabled=false), and its Exec runs this executable.
    // An entry left behind by a copy of the program that was moved or built
    // elsewhere does not count: it would not start this one.
    static bool isEnabled();
    // Writes the autostart file (atomically), replacing whatever entry is
    // there. On failure *error says why.
    static bool enable(QString *error);
    // Removes the autostart file. On failure *error says why.
    static bool disable(QString *error);
};
