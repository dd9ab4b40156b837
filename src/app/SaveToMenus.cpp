#include "app/SaveToMenus.h"

#include "model/AppState.h"
#include "platform/AppPaths.h"
#include "platform/Localized.h"
#include "platform/MenuText.h"
#include "platform/SymbolIcon.h"
#include "settings/SettingsPanels.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>

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

namespace {

// The height a menu may take on the screen it opens on.
int availableHeight(const QMenu *menu)
{
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = menu->screen();
    return screen ? screen->availableGeometry().height() : 600;
}

// Whether the menu fits the screen in one column.
bool fitsOneColumn(QMenu *menu, int height)
{
    const QList<QAction *> items = menu->actions();
    if (items.isEmpty())
        return true;
    const QRect first = menu->actionGeometry(items.first());
    const QRect last = menu->actionGeometry(items.last());
    return last.left() == first.left() && menu->sizeHint().height() <= height;
}

} // namespace

void SaveToMenus::rebuildSaveToMenu(QMenu *menu)
{
    menu->clear();
    const QString current = AppPaths::expandTilde(m_appState.saveDirectory());
    const QStringList saved = m_appState.savedPaths();
    const QIcon folder = SymbolIcon::make(QStringLiteral("folder"));
    QList<QAction *> entries;
    auto addEntry = [&](const QString &path) {
        const QString expanded = AppPaths::expandTilde(path);
        QAction *item = menu->addAction(folder, menuItemText(abbreviateWithTilde(expanded)));
        item->setData(path); // exactly as stored
        item->setCheckable(true);
        item->setChecked(expanded == current);
        connect(item, &QAction::triggered, this, [this, item] { selectSavePath(item); });
        entries.append(item);
    };
    // A long list shows what fits on the screen and says how many more
    // there are; Settings lists them all.
    const int height = availableHeight(menu);
    qsizetype shown = 0;
    if (!saved.isEmpty()) {
        addEntry(saved.first());
        const int rowHeight = std::max(1, menu->actionGeometry(entries.first()).height());
        // Room for the count, the separator and the two items below.
        const qsizetype fit = std::max(1, height / rowHeight - 4);
        shown = std::min(saved.size(), fit);
        for (qsizetype i = 1; i < shown; ++i)
            addEntry(saved.at(i));
    }
    QAction *more = nullptr;
    auto countRest = [&] {
        const qsizetype rest = saved.size() - shown;
        more->setText(rest == 1 ? localized("1 more folder") : localized("%1 more folders").arg(rest));
    };
    if (shown < saved.size()) {
        more = menu->addAction(QString());
        more->setEnabled(false);
        countRest();
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
    // The style may draw some rows taller than the first: drop entries
    // until the menu fits.
    if (more) {
        while (shown > 1 && !fitsOneColumn(menu, height)) {
            --shown;
            delete entries.takeLast();
            countRest();
        }
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
