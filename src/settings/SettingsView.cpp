#include "settings/SettingsView.h"

#include "model/AppState.h"
#include "platform/UserDefaults.h"

SettingsView::SettingsView(AppState &appState, const QString &selectedTab, QWidget *parent)
    : QWidget(parent), m_appState(appState), m_selectedTab(selectedTab)
{
}

QString initialSettingsTab()
{
    static const QString key = QStringLiteral("vorna.uiTests.preselectedSettingsTab");
    UserDefaults &defaults = UserDefaults::standard();
    const std::optional<QString> stored = defaults.stringForKey(key);
    if (!stored)
        return QStringLiteral("general");
    defaults.removeObject(key);
    return *stored;
}
