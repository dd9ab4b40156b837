#pragma once

#include "app/MenuActions.h"

#include <QKeySequence>
#include <QString>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;
class SaveToMenus;

// Builds the tray menu and the program's menu bar. The capture entries carry
// the fixed shortcuts Ctrl+Shift+1 to 5 whatever the user's global hot keys
// are; "command" shortcuts of the menus are Ctrl shortcuts here.
class MenuBuilder
{
public:
    MenuBuilder(MenuActions actions, SaveToMenus &saveTo);

    // A new tray menu; the simple one has only the most used entries.
    QMenu *buildStatusMenu(bool simple, QWidget *parent = nullptr);

    // Adds the program's entries to a menu bar: About and Check for Updates at
    // the top of its application menu (the first menu), then the "Capture",
    // "Tools" and "Help" menus. Done once.
    void extendMainMenu(QMenuBar *bar);

    // A menu bar with an application menu holding "Quit Vorna", as the
    // program's windows start out with.
    static QMenuBar *makeMainMenuBar(const MenuActions &actions);

private:
    QAction *addItem(QMenu *menu, const QString &title, const QKeySequence &key, const char *symbol,
                     const std::function<void()> &action);
    void addCaptureItems(QMenu *menu, bool simple);

    MenuActions m_actions;
    SaveToMenus &m_saveTo;
};
