#pragma once

#include "model/CaptureMode.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>

class AppState;
class QTimer;

// Owns every long-lived controller and brings the tray application up in a
// fixed order. One instance per process, created by main().
class AppDelegate : public QObject
{
    Q_OBJECT
public:
    explicit AppDelegate(QObject *parent = nullptr);
    ~AppDelegate() override;

    AppState &appState() { return *m_appState; }

    // The launch sequence. main() queues it so that it runs once the event
    // loop has started. arguments are the process's launch arguments.
    void applicationDidFinishLaunching(const QStringList &arguments);

    // Closing the last window leaves the program running in the tray.
    bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }

    // Both open or bring forward the main window.
    void openMainWindow();
    void openHistory();

    void openSettings();
    void openEditor();
    void openHelp();
    void openDiffViewer();

    // Checks the update feed now and always ends with an alert (the
    // "Check for Updates…" menu items).
    void checkForUpdates();

    // Unregisters the hot keys and ends the program.
    void quitApp();

signals:
    // Emitted when the launch sequence has run (tests wait for it).
    void launched();

private:
    void startSettingsMirror();
    void startCrashReporting();
    void setupStatusItem();
    void setupMainMenu();
    void registerHotkeys();
    void unregisterHotkeys();
    void observeCaptureRequests();
    void checkScreenRecordingPermission();
    void runAutomaticUpdateCheck();
    void loadHistory();
    void writeLauncherManifest();
    void rebuildStatusMenu();
    void handleLaunchArguments(const QStringList &arguments);

    std::unique_ptr<AppState> m_appState;
};
