#include "windows/DestructiveMenu.h"

#include <QAction>
#include <QStyleOptionMenuItem>

namespace {

constexpr char kDestructive[] = "vornaDestructive";

} // namespace

void DestructiveMenu::markDestructive(QAction *action)
{
    action->setProperty(kDestructive, true);
}

bool DestructiveMenu::isDestructive(const QAction *action)
{
    return action && action->property(kDestructive).toBool();
}

void DestructiveMenu::initStyleOption(QStyleOptionMenuItem *option, const QAction *action) const
{
    QMenu::initStyleOption(option, action);
    if (!isDestructive(action) || !action->isEnabled())
        return;
    // Styles take the title from different roles; the highlighted row keeps
    // its own text colour.
    for (const QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
        option->palette.setColor(QPalette::Active, role, red());
        option->palette.setColor(QPalette::Inactive, role, red());
    }
}
