#pragma once

#include <QObject>
#include <memory>

class AppState;
class AppWindow;

// The program's five windows (help, main, settings, editor, diff). Each is
// created on its first opening, kept for the rest of the run and brought
// forward on every later opening, never rebuilt.
class WindowManager : public QObject
{
    Q_OBJECT
public:
    explicit WindowManager(AppState &appState, QObject *parent = nullptr);
    ~WindowManager() override;

    void openHelp();
    void openMainWindow();
    void openSettings();
    void openEditor();
    void openDiffViewer();

    // Brings the program's frontmost visible window forward, if any.
    void activateApplication();

    AppWindow *helpWindow() const { return m_helpWindow.get(); }
    AppWindow *mainWindow() const { return m_mainWindow.get(); }
    AppWindow *settingsWindow() const { return m_settingsWindow.get(); }
    AppWindow *editorWindow() const { return m_editorWindow.get(); }
    AppWindow *diffWindow() const { return m_diffWindow.get(); }

signals:
    // A window was created (once per window and run).
    void windowCreated(AppWindow *window);

private:
    AppState &m_appState;
    std::unique_ptr<AppWindow> m_helpWindow;
    std::unique_ptr<AppWindow> m_mainWindow;
    std::unique_ptr<AppWindow> m_settingsWindow;
    std::unique_ptr<AppWindow> m_editorWindow;
    std::unique_ptr<AppWindow> m_diffWindow;
};
