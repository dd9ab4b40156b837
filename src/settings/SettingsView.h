#pragma once

#include <QString>
#include <QWidget>

class AppState;

// The root view of the settings window, on the shared AppState, showing
// first the tab named at construction ("general", "shortcuts" or "about").
class SettingsView : public QWidget
{
    Q_OBJECT
public:
    SettingsView(AppState &appState, const QString &selectedTab, QWidget *parent = nullptr);

    AppState &appState() const { return m_appState; }
    QString selectedTab() const { return m_selectedTab; }

private:
    AppState &m_appState;
    QString m_selectedTab;
};

// The tab the settings window opens on when it is created: the one-shot
// preference "vorna.uiTests.preselectedSettingsTab" (removed as it is read),
// else "general".
QString initialSettingsTab();
