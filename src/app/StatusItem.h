#pragma once

#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QMenu;
class QSystemTrayIcon;

// The program's icon in the desktop's system tray with its menu. Where the
// desktop has no tray the log says so; the main window is then the way in
// (the delegate shows it at launch and whenever vorna is started again).
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
    // Whether the desktop had a tray for the icon when it was set up, or
    // one came while waitForTray waited.
    bool isInTray() const { return m_inTray; }

    // How long a start at login waits for the panel that holds the tray.
    static constexpr std::chrono::seconds trayWaitAtLogin{10};
    // Waits up to timeout for a tray to appear, looking a few times a second
    // without holding up the event loop; then calls done(true) as soon as one
    // is there, or done(false) when none came.
    void waitForTray(std::chrono::milliseconds timeout, std::function<void(bool)> done);

    // Whether this desktop has a system tray. Tests can pretend either way
    // (nothing restores the platform's answer).
    static bool isTrayAvailable();
    static void setTrayAvailableOverride(std::optional<bool> available);
    QSystemTrayIcon *trayIcon() const { return m_tray; }

protected:
    // Notes the menu as about to hide when an entry is chosen in it.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QSystemTrayIcon *m_tray = nullptr;
    bool m_inTray = false;
    std::unique_ptr<QMenu> m_menu;
};
