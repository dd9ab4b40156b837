#pragma once

#include "model/CaptureMode.h"

#include <QDateTime>
#include <QHash>
#include <QMenuBar>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>

class AboutPanel;
class AppState;
class CaptureFlashController;
class CaptureFlows;
class CapturePipeline;
class DoublePressRule;
class FloatingPreviewController;
class ImageFileOpener;
class MenuBuilder;
class QImage;
class QMenu;
class QTimer;
class QUrl;
class RegionSelectionController;
class SaveToMenus;
class ScrollCaptureService;
class StatusItem;
class WindowManager;
class WindowSelectionController;
struct MenuActions;

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

    // Once the event loop has ended: waits for the saves, history writes
    // and captures still under way, so that none runs after the
    // application is gone. Work that makes progress is waited for however
    // long it takes; work stuck in a file system call that has not
    // returned for a while (a folder that stopped answering) is not: false
    // then, and the program should end without running what would wait
    // for it.
    bool finishWorkAtQuit();

    void showAboutPanel();
    // Opens a new mail to the support address in the user's mail program.
    void reportBug();

    // Links and files handed to the program, handled one after another.
    void openURLs(const QList<QUrl> &urls);
    // Command-line arguments (of this process or of a later one that handed
    // them over): the links and files among them, relative paths taken
    // against workingDirectory. Unusable arguments are logged and skipped.
    void openArguments(const QList<QByteArray> &arguments, const QString &workingDirectory);
    // What a later `vorna` process handed over. Without arguments it only
    // asks to be let in: on a desktop without a tray that brings the main
    // window forward; with a tray nothing happens.
    void receiveHandOver(const QList<QByteArray> &arguments, const QString &workingDirectory);
    // A capture link starts a capture; a file URL opens the image.
    void handleURL(const QUrl &url);
    // Adds the image to the history and opens it in an editor; a file that
    // is not an image gets the "Could not open this image" alert.
    void openImageFile(const QUrl &url);
    void openScreenRecordingSettings();

    WindowManager &windows() { return *m_windows; }
    ImageFileOpener &imageFileOpener() { return *m_imageOpener; }

    // Runs the capture flow of a mode (hot keys, capture requests).
    void performCapture(CaptureMode mode);
    // The five menu actions.
    void captureFullScreen();
    void captureWindow();
    void captureRegion();
    void captureScrolling();
    void captureTimed();
    // The action of every global hot key: the double-press rule, then a capture.
    void hotkeyPressed(CaptureMode mode);
    DoublePressRule &doublePressRule() const { return *m_doublePress; }
    CapturePipeline &capturePipeline() const { return *m_pipeline; }
    CaptureFlows &captureFlows() const { return *m_flows; }
    RegionSelectionController &regionSelector() const { return *m_regionSelector; }
    WindowSelectionController &windowSelector() const { return *m_windowSelector; }
    ScrollCaptureService &scrollCaptureService() const { return *m_scrollCaptureService; }
    FloatingPreviewController &floatingPreview() const { return *m_floatingPreview; }
    CaptureFlashController &captureFlash() const { return *m_captureFlash; }

    // The tray item (nothing before the launch sequence made it).
    StatusItem *statusItem() const { return m_statusItem.get(); }
    // The program's menu bar, shown on the main window.
    QMenuBar *mainMenuBar() const { return m_mainMenuBar; }
    // The "Save To" submenus and their actions.
    SaveToMenus &saveToMenus() const { return *m_saveToMenus; }
    // A new tray menu for the simple or the full menu mode.
    QMenu *buildStatusMenu(bool simple);
    // Replaces the tray menu by one for the current menu mode.
    void rebuildStatusMenu();

signals:
    // Emitted when the launch sequence and its queued steps have run and the
    // stored history is in (tests wait for it).
    void launched();
    // A capture flow starts (hot key, menu or capture request).
    void captureStarted(CaptureMode mode);

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
    void handleLaunchArguments(const QStringList &arguments);
    void addOpenedImage(const QString &path, const QImage &image);

    MenuActions menuActions();

    std::unique_ptr<AppState> m_appState;
    std::unique_ptr<RegionSelectionController> m_regionSelector;
    std::unique_ptr<WindowSelectionController> m_windowSelector;
    std::unique_ptr<ScrollCaptureService> m_scrollCaptureService;
    std::unique_ptr<FloatingPreviewController> m_floatingPreview;
    std::unique_ptr<CaptureFlashController> m_captureFlash;
    std::unique_ptr<CapturePipeline> m_pipeline;
    std::unique_ptr<CaptureFlows> m_flows;
    std::unique_ptr<WindowManager> m_windows;
    ImageFileOpener *m_imageOpener = nullptr;
    std::unique_ptr<AboutPanel> m_aboutPanel;
    std::unique_ptr<StatusItem> m_statusItem;
    std::unique_ptr<SaveToMenus> m_saveToMenus;
    std::unique_ptr<MenuBuilder> m_menuBuilder;
    std::unique_ptr<DoublePressRule> m_doublePress;
    QPointer<QMenuBar> m_mainMenuBar;
};
