#pragma once

#include <QString>

// The text for a menu item, button or tab that shows a text as it is
// written: a name the user typed (a preset, a folder) or a fixed text that
// holds an "&". In such a text "&" marks the next character as the keyboard
// accelerator and, in a menu item, a tab starts the shortcut column; this
// doubles every "&" and turns tabs and line breaks into spaces.
QString menuItemText(const QString &name);
