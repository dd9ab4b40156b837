#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

class QMenu;
class QSystemTrayIcon;

// The program's icon in the desktop's system tray with its menu. Where the
// desktop has no tray the log says so; the program then stays reachable
// through its hot keys and vorna:// links.
class StatusItem : public QObject
{
    Q_OBJECT
public:
    explicit StatusItem(QObject *parent = nullptr);
    ~StatusItem() override;

    // Creates the tray icon (logging each step), shows it and gives it the menu.
    void setup(QMenu *menu);
    // Replaces the menu; the old one is deleted.
    void setMenu(QMenu *menu);

    QMenu *menu() const { return m_menu.get(); }
    QSystemTrayIcon *trayIcon() const { return m_tray; }

private:
    QSystemTrayIcon *m_tray = nullptr;
    std::unique_ptr<QMenu> m_menu;
};
