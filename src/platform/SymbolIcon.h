#pragma once

#include <QIcon>
#include <QString>

// Images for the symbol names that menus and buttons carry
// ("camera.viewfinder", "folder", ...): our own drawing when the program has
// one, else the closest icon of the desktop's freedesktop icon theme, else a
// null icon (the caller then shows no image).
class SymbolIcon
{
public:
    SymbolIcon() = delete;

    static QIcon make(const QString &symbolName);
    // One of the program's own images by name ("StatusIcon"); null when
    // there is none.
    static QIcon asset(const QString &name);
    // Whether make() gives an icon for the name.
    static bool exists(const QString &symbolName);
};
