#include "app/WindowManager.h"

#include "app/AppWindow.h"
#include "editor/DiffView.h"
#include "editor/EditorView.h"
#include "model/AppState.h"
#include "platform/Localized.h"
#include "settings/SettingsView.h"
#include "windows/ContentView.h"
#include "windows/HelpView.h"

#include <QApplication>

WindowManager::WindowManager(AppState &appState, QObject *parent) : QObject(parent), m_appState(appState)
{
}

WindowManager::~WindowManager() = default;

void WindowManager::activateApplication()
{
    QWidget *front = QApplication::activeWindow();
    if (!front) {
        for (AppWindow *w : {m_mainWindow.get(), m_editorWindow.get(), m_settingsWindow.get(), m_helpWindow.get(),
                             m_diffWindow.get()})
            if (w && w->isVisible()) {
                front = w;
                break;
            }
    }
    if (front) {
        front->raise();
        front->activateWindow();
    }
}

void WindowManager::openHelp()
{
    activateApplication();
    if (!m_helpWindow) {
        auto window = std::make_unique<AppWindow>(localized("Vorna Help"), QSize(780, 580));
        window->setRootView(new HelpView);
        window->center();
        m_helpWindow = std::move(window);
        emit windowCreated(m_helpWindow.get());
    }
    m_helpWindow->makeKeyAndOrderFront();
}

void WindowManager::openMainWindow()
{
    activateApplication();
    if (!m_mainWindow) {
        // The main window's title is the program's name in every language.
        auto window = std::make_unique<AppWindow>(QStringLiteral("Vorna"), QSize(820, 560));
        window->setRootView(new ContentView(m_appState, ContentTab::capture));
        window->center();
        m_mainWindow = std::move(window);
        emit windowCreated(m_mainWindow.get());
    }
    m_mainWindow->makeKeyAndOrderFront();
}

void WindowManager::openSettings()
{
    activateApplication();
    if (!m_settingsWindow) {
        const QString title = localized("Vorna Settings");
        auto *view = new SettingsView(m_appState, initialSettingsTab());
        auto window = std::make_unique<AppWindow>(title, QSize(540, 460));
        window->setRootView(view);
        window->center();
        m_settingsWindow = std::move(window);
        emit windowCreated(m_settingsWindow.get());
    }
    m_settingsWindow->makeKeyAndOrderFront();
}

void WindowManager::openEditor()
{
    activateApplication();
    if (!m_editorWindow) {
        auto window = std::make_unique<AppWindow>(localized("Vorna Editor"), QSize(1100, 760));
        window->setRootView(new EditorView(m_appState));
        window->center();
        m_editorWindow = std::move(window);
        emit windowCreated(m_editorWindow.get());
    }
    m_editorWindow->makeKeyAndOrderFront();
}

void WindowManager::openDiffViewer()
{
    activateApplication();
    if (m_diffWindow) {
        m_diffWindow->makeKeyAndOrderFront();
        return;
    }
    // The diff window is shown before it is kept.
    auto window = std::make_unique<AppWindow>(localized("Screenshot Diff"), QSize(900, 600));
    window->center();
    window->setRootView(new DiffView(m_appState));
    window->makeKeyAndOrderFront();
    m_diffWindow = std::move(window);
    emit windowCreated(m_diffWindow.get());
}
