#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>

class AppState;
class QAction;
class QMenu;
class QWidget;

// The "Save To" submenus of the tray menu and the main menu: each lists the
// saved folders with a check mark on the current save folder, and offers
// "Add Folder…" and "Manage in Settings…". A submenu is filled afresh every
// time it is about to open, so it always shows the current folders. A list
// longer than the screen shows the folders that fit and how many more
// there are.
class SaveToMenus : public QObject
{
    Q_OBJECT
public:
    // Asks the user for a folder and calls back with it, or with nothing
    // when the user cancels. Must not block.
    using FolderChooser = std::function<void(std::function<void(const std::optional<QString> &)>)>;

    SaveToMenus(AppState &appState, std::function<void()> openSettings, QObject *parent = nullptr);
    ~SaveToMenus() override;

    // A new, empty "Save To" submenu, refreshed whenever it opens. It is
    // listed in menus() until it is destroyed or forgotten.
    QMenu *createMenu(QWidget *parent = nullptr);
    // Stops refreshing one submenu (its menu is about to be replaced).
    void forget(QMenu *menu);
    // The submenus that are refreshed when they open.
    QList<QMenu *> menus() const;

    // Refreshes a submenu if it is one of ours; otherwise does nothing.
    void menuNeedsUpdate(QMenu *menu);
    // Fills one submenu from the saved folders and the save folder.
    void rebuildSaveToMenu(QMenu *menu);
    // Makes the folder of a saved-folder item the save folder.
    void selectSavePath(QAction *sender);
    // Asks for a folder, adds it to the saved folders and makes it the save folder.
    void addSavePath();

    // Replaces the folder dialog (tests); an empty function restores it.
    void setFolderChooser(FolderChooser chooser);

    // "~/x" for a path inside the home folder, the path itself otherwise.
    static QString abbreviateWithTilde(const QString &path);

private:
    void chooseFolderWithDialog(std::function<void(const std::optional<QString> &)> done);

    AppState &m_appState;
    std::function<void()> m_openSettings;
    QList<QPointer<QMenu>> m_menus;
    FolderChooser m_chooser;
};
