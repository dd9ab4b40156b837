#pragma once

#include <QString>
#include <QWidget>

class AppState;
class AboutSettingsTab;
class GeneralSettingsTab;
class QTabWidget;
class ShortcutsSettingsTab;

// The root view of the settings window, on the shared AppState: the tabs
// General, Shortcuts and About, chosen by their tags "general", "shortcuts"
// and "about". The selected tab lives as long as the view.
class SettingsView : public QWidget
{
    Q_OBJECT
public:
    SettingsView(AppState &appState, const QString &selectedTab, QWidget *parent = nullptr);

    AppState &appState() const { return m_appState; }
    // The selected tab's tag. A tag that names no tab is kept as given (no
    // tab is marked selected then, and General is the one on screen) until
    // the user picks a tab.
    QString selectedTab() const { return m_selectedTab; }
    void setSelectedTab(const QString &tag);

    static QStringList tags();

    QTabWidget *tabs() const { return m_tabs; }
    GeneralSettingsTab *generalTab() const { return m_general; }
    ShortcutsSettingsTab *shortcutsTab() const { return m_shortcuts; }
    AboutSettingsTab *aboutTab() const { return m_about; }

    QSize sizeHint() const override { return QSize(540, 480); }

private:
    AppState &m_appState;
    QString m_selectedTab;
    QTabWidget *m_tabs;
    GeneralSettingsTab *m_general;
    ShortcutsSettingsTab *m_shortcuts;
    AboutSettingsTab *m_about;
};

// The tab the settings window opens on when it is created: the one-shot
// preference "vorna.uiTests.preselectedSettingsTab" (removed as it is read),
// else "general".
QString initialSettingsTab();
