#pragma once

#include <QString>

// The text for a menu item that shows a name the user typed (a preset, a
// folder). In a menu item's text "&" marks the next character as the
// keyboard accelerator and a tab starts the shortcut column; this doubles
// every "&" and turns tabs and line breaks into spaces, so that the item
// shows the name as it was typed.
QString menuItemText(const QString &name);
