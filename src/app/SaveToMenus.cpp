#include "app/SaveToMenus.h"

#include "model/AppState.h"
#include "platform/AppPaths.h"
#include "platform/Localized.h"
#include "platform/MenuText.h"
#include "platform/SymbolIcon.h"
#include "settings/SettingsPanels.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenu>

SaveToMenus::SaveToMenus(AppState &appState, std::function<void()> openSettings, QObject *parent)
    : QObject(parent), m_appState(appState), m_openSettings(std::move(openSettings))
{
}

SaveToMenus::~SaveToMenus() = default;

QMenu *SaveToMenus::createMenu(QWidget *parent)
{
    auto *menu = new QMenu(parent);
    // The item shows the localized title; the menu object itself is "Save To".
    menu->setTitle(localized("Save To"));
    menu->setObjectName(QStringLiteral("Save To"));
    menu->setIcon(SymbolIcon::make(QStringLiteral("folder")));
    QPointer<QMenu> weak(menu);
    connect(menu, &QMenu::aboutToShow, this, [this, weak] {
        if (weak)
            menuNeedsUpdate(weak);
    });
    m_menus.append(menu);
    return menu;
}

void SaveToMenus::forget(QMenu *menu)
{
    m_menus.removeIf([menu](const QPointer<QMenu> &m) { return m.isNull() || m == menu; });
}

QList<QMenu *> SaveToMenus::menus() const
{
    QList<QMenu *> result;
    for (const QPointer<QMenu> &m : m_menus)
        if (m)
            result.append(m);
    return result;
}

void SaveToMenus::menuNeedsUpdate(QMenu *menu)
{
    for (const QPointer<QMenu> &m : std::as_const(m_menus)) {
        if (m && m == menu) {
            rebuildSaveToMenu(menu);
            return;
        }
    }
}

QString SaveToMenus::abbreviateWithTilde(const QString &path)
{
    const QString home = QDir::cleanPath(AppPaths::home());
    if (home.isEmpty() || home == QLatin1String("/"))
        return path;
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/')))
        return QStringLiteral("~") + path.mid(home.size());
    return path;
}

void SaveToMenus::rebuildSaveToMenu(QMenu *menu)
{
    menu->clear();
    const QString current = AppPaths::expandTilde(m_appState.saveDirectory());
    const QStringList saved = m_appState.savedPaths();
    const QIcon folder = SymbolIcon::make(QStringLiteral("folder"));
    for (const QString &path : saved) {
        const QString expanded = AppPaths::expandTilde(path);
        QAction *item = menu->addAction(folder, menuItemText(abbreviateWithTilde(expanded)));
        item->setData(path); // exactly as stored
        item->setCheckable(true);
        item->setChecked(expanded == current);
        connect(item, &QAction::triggered, this, [this, item] { selectSavePath(item); });
    }
    if (saved.isEmpty()) {
        QAction *none = menu->addAction(localized("No saved locations"));
        none->setEnabled(false);
    }
    menu->addSeparator();
    QAction *add = menu->addAction(SymbolIcon::make(QStringLiteral("folder.badge.plus")), localized("Add Folder…"));
    connect(add, &QAction::triggered, this, [this] { addSavePath(); });
    if (!saved.isEmpty()) {
        QAction *manage = menu->addAction(SymbolIcon::make(QStringLiteral("gearshape")), localized("Manage in Settings…"));
        connect(manage, &QAction::triggered, this, [this] {
            if (m_openSettings)
                m_openSettings();
        });
    }
}

void SaveToMenus::selectSavePath(QAction *sender)
{
    if (!sender || sender->data().typeId() != QMetaType::QString)
        return;
    // A saved folder may be listed as "~/..."; the save folder is always a
    // full path, or captures would go into a folder named "~".
    m_appState.setSaveDirectory(AppPaths::expandTilde(sender->data().toString()));
}

void SaveToMenus::addSavePath()
{
    QPointer<SaveToMenus> weak(this);
    auto done = [weak](const std::optional<QString> &chosen) {
        if (!weak || !chosen || chosen->isEmpty())
            return;
        const QString path = *chosen;
        QStringList saved = weak->m_appState.savedPaths();
        if (!saved.contains(path)) {
            saved.append(path);
            weak->m_appState.setSavedPaths(saved);
        }
        weak->m_appState.setSaveDirectory(path);
    };
    if (m_chooser)
        m_chooser(done);
    else
        chooseFolderWithDialog(done);
}

void SaveToMenus::setFolderChooser(FolderChooser chooser)
{
    m_chooser = std::move(chooser);
}

void SaveToMenus::chooseFolderWithDialog(std::function<void(const std::optional<QString> &)> done)
{
    SettingsPanels::showFolderPanel(nullptr, std::move(done),
                                    {localized("Choose a folder to save screenshots into."), localized("Add"), true});
}
