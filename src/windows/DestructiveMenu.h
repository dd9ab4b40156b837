#pragma once

#include <QColor>
#include <QMenu>

// A menu whose destructive items ("Delete") show their title in red, the
// way the program draws deleting everywhere else.
class DestructiveMenu : public QMenu
{
public:
    using QMenu::QMenu;

    // The red of destructive actions.
    static QColor red() { return QColor(215, 0, 21); }

    // Marks an item of this menu as destructive.
    static void markDestructive(QAction *action);
    static bool isDestructive(const QAction *action);

protected:
    void initStyleOption(QStyleOptionMenuItem *option, const QAction *action) const override;
};
