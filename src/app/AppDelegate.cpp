#include "app/AppDelegate.h"

#include "app/AboutPanel.h"
#include "app/AppWindow.h"
#include "app/BugReport.h"
#include "app/CaptureFlows.h"
#include "app/CaptureLink.h"
#include "app/CapturePipeline.h"
#include "app/DoublePressRule.h"
#include "app/ImageFileOpener.h"
#include "app/MenuActions.h"
#include "app/MenuBuilder.h"
#include "app/OpenArguments.h"
#include "app/SaveToMenus.h"
#include "app/ScreenRecordingPermission.h"
#include "app/StatusItem.h"
#include "app/TemporaryFileSweep.h"
#include "app/WindowManager.h"
#include "capture/CaptureFlashController.h"
#include "capture/RegionSelectionController.h"
#include "capture/ScrollCaptureService.h"
#include "capture/WindowSelectionController.h"
#include "editor/ImageDiff.h"
#include "model/AppSettings.h"
#include "model/AppState.h"
#include "model/BuildInfo.h"
#include "model/CaptureShortcut.h"
#include "model/NotificationNames.h"
#include "model/SettingsPersistence.h"
#include "model/VornaError.h"
#include "output/EncodingThreads.h"
#include "output/HistoryService.h"
#include "platform/AlertPresenter.h"
#include "platform/FileSystemCall.h"
#include "platform/HeapMemory.h"
#include "platform/Localized.h"
#include "platform/Log.h"
#include "platform/LoginItem.h"
#include "platform/NotificationCenter.h"
#include "platform/ScreenCapture.h"
#include "platform/UiActivity.h"
#include "platform/UserDefaults.h"
#include "services/CrashReporting.h"
#include "services/HotKeyService.h"
#include "services/LauncherManifest.h"
#include "services/UpdateChecker.h"
#include "windows/FloatingPreviewController.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QProcessEnvironment>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <unistd.h>

AppDelegate::AppDelegate(QObject *parent) : QObject(parent)
{
    // Long scrolling captures are larger than Qt decodes by default; the
    // history's pixels, read back for the editor, the thumbnails and the
    // diff, must decode whatever their length.
    ImageDiff::raiseAllocationLimit();
    // A program that lives in the tray all day gives the memory of each
    // capture back once the capture is done with.
    HeapMemory::giveLargeBlocksBack();
    // Encodings make room for this thread while it works.
    UiActivity::watch();
    // Qt's painting splits large fills over the global pool and waits for
    // the parts. Its threads are kept, so that the repaints after a capture,
    // which come minutes apart, do not wait for new threads to start.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
    // AppState reads every preference now, before the launch sequence.
    m_appState = std::make_unique<AppState>();
    QPointer<AppDelegate> weak(this);
    m_regionSelector = std::make_unique<RegionSelectionController>();
    m_windowSelector = std::make_unique<WindowSelectionController>();
    m_scrollCaptureService = std::make_unique<ScrollCaptureService>();
    m_floatingPreview = std::make_unique<FloatingPreviewController>();
    m_captureFlash = std::make_unique<CaptureFlashController>();
    m_pipeline = std::make_unique<CapturePipeline>(*m_appState, *m_floatingPreview);
    m_pipeline->setFlash([weak] {
        if (weak)
            weak->m_captureFlash->flash();
    });
    m_pipeline->setEditorAction([weak](const QImage &image) {
        if (!weak)
            return;
        weak->m_appState->openInEditor(ImageHandle(image));
    });
    m_flows = std::make_unique<CaptureFlows>(*m_appState, *m_pipeline, *m_regionSelector, *m_windowSelector,
                                             *m_scrollCaptureService);
    m_flows->setTerminate([weak] {
        if (weak)
            weak->quitApp();
    });
    connect(m_flows.get(), &CaptureFlows::started, this, &AppDelegate::captureStarted);
    m_windows = std::make_unique<WindowManager>(*m_appState);
    // The program's menu bar lives on the main window.
    connect(m_windows.get(), &WindowManager::windowCreated, this, [this](AppWindow *window) {
        if (window == m_windows->mainWindow() && m_mainMenuBar && !m_mainMenuBar->parent())
            window->setMenuBar(m_mainMenuBar);
    });
    m_imageOpener = new ImageFileOpener(this);
    m_saveToMenus = std::make_unique<SaveToMenus>(*m_appState, [weak] {
        if (weak)
            weak->openSettings();
    });
    m_menuBuilder = std::make_unique<MenuBuilder>(menuActions(), *m_saveToMenus);
    m_doublePress = std::make_unique<DoublePressRule>(*m_appState, [weak](CaptureMode mode) {
        if (weak)
            weak->performCapture(mode);
    });
}

AppDelegate::~AppDelegate()
{
    // The menu bar belongs to the main window once it is shown there.
    if (m_mainMenuBar && !m_mainMenuBar->parent())
        delete m_mainMenuBar.data();
}

MenuActions AppDelegate::menuActions()
{
    QPointer<AppDelegate> weak(this);
    auto call = [weak](void (AppDelegate::*action)()) {
        return [weak, action] {
            if (weak)
                (weak.data()->*action)();
        };
    };
    MenuActions actions;
    actions.captureFullScreen = call(&AppDelegate::captureFullScreen);
    actions.captureWindow = call(&AppDelegate::captureWindow);
    actions.captureRegion = call(&AppDelegate::captureRegion);
    actions.captureScrolling = call(&AppDelegate::captureScrolling);
    actions.captureTimed = call(&AppDelegate::captureTimed);
    actions.openMainWindow = call(&AppDelegate::openMainWindow);
    actions.openHistory = call(&AppDelegate::openHistory);
    actions.openEditor = call(&AppDelegate::openEditor);
    actions.openDiffViewer = call(&AppDelegate::openDiffViewer);
    actions.openHelp = call(&AppDelegate::openHelp);
    actions.reportBug = call(&AppDelegate::reportBug);
    actions.showAboutPanel = call(&AppDelegate::showAboutPanel);
    actions.checkForUpdates = call(&AppDelegate::checkForUpdates);
    actions.openSettings = call(&AppDelegate::openSettings);
    actions.quitApp = call(&AppDelegate::quitApp);
    return actions;
}

QMenu *AppDelegate::buildStatusMenu(bool simple)
{
    return m_menuBuilder->buildStatusMenu(simple);
}

void AppDelegate::applicationDidFinishLaunching(const QStringList &arguments)
{
    const QString version = QCoreApplication::applicationVersion().isEmpty()
                                ? QStringLiteral("?")
                                : QCoreApplication::applicationVersion();
    const QVariant buildProp = qApp->property("vornaBuildNumber");
    const QString build = buildProp.typeId() == QMetaType::QString && !buildProp.toString().isEmpty()
                              ? buildProp.toString()
                              : QStringLiteral("?");
    vlog(QStringLiteral("[Vorna] applicationDidFinishLaunching: pid=%1 version=%2 build=%3")
             .arg(QString::number(::getpid()), version, build));

    startSettingsMirror();
    startCrashReporting();
    setupStatusItem();
    setupMainMenu();
    registerHotkeys();
    observeCaptureRequests();
    checkScreenRecordingPermission();

    vlog(QStringLiteral("[Vorna] applicationDidFinishLaunching: done"));

    QPointer<AppDelegate> weak(this);
    QTimer::singleShot(0, this, [weak] {
        if (weak)
            weak->runAutomaticUpdateCheck();
    });
    QTimer::singleShot(0, this, [weak] {
        if (weak)
            weak->loadHistory();
    });

    writeLauncherManifest();
    TemporaryFileSweep::start(*m_appState);

    auto &center = NotificationCenter::instance();
    center.addObserver(NotificationNames::hotKeysChanged, this, [weak](const auto &) {
        if (weak)
            weak->registerHotkeys();
    });
    center.addObserver(NotificationNames::openEditor, this, [weak](const auto &) {
        if (weak)
            weak->openEditor();
    });
    center.addObserver(NotificationNames::menuModeChanged, this, [weak](const auto &) {
        if (weak)
            weak->rebuildStatusMenu();
    });
    center.addObserver(NotificationNames::showSettings, this, [weak](const auto &) {
        if (weak)
            weak->openSettings();
    });

    // Without a tray the main window is the way in: it shows at launch. At
    // login the panel that holds the tray often comes up after the program,
    // so a start from the autostart entry gives it a while first.
    if (m_statusItem && !m_statusItem->isInTray()) {
        if (arguments.contains(LoginItem::launchArgument())) {
            m_statusItem->waitForTray(StatusItem::trayWaitAtLogin, [weak](bool inTray) {
                if (weak && !inTray)
                    weak->openMainWindow();
            });
        } else {
            QTimer::singleShot(0, this, [weak] {
                if (weak)
                    weak->openMainWindow();
            });
        }
    }
    handleLaunchArguments(arguments);
    // launched() follows once the history is in (loadHistory).
}

void AppDelegate::handleLaunchArguments(const QStringList &arguments)
{
    QPointer<AppDelegate> weak(this);
    auto queue = [this, weak](void (AppDelegate::*action)()) {
        QTimer::singleShot(0, this, [weak, action] {
            if (weak)
                (weak.data()->*action)();
        });
    };
    auto &defaults = UserDefaults::standard();
    if (arguments.contains(QStringLiteral("--ui-tests-show-main-window")))
        queue(&AppDelegate::openMainWindow);
    if (arguments.contains(QStringLiteral("--ui-tests-show-settings")))
        queue(&AppDelegate::openSettings);
    if (arguments.contains(QStringLiteral("--ui-tests-show-settings-shortcuts"))) {
        defaults.setString(QStringLiteral("vorna.uiTests.preselectedSettingsTab"), QStringLiteral("shortcuts"));
        queue(&AppDelegate::openSettings);
    }
    if (arguments.contains(QStringLiteral("--ui-tests-show-settings-about"))) {
        defaults.setString(QStringLiteral("vorna.uiTests.preselectedSettingsTab"), QStringLiteral("about"));
        queue(&AppDelegate::openSettings);
    }
    if (arguments.contains(QStringLiteral("--ui-tests-show-editor")))
        queue(&AppDelegate::openEditor);
    if (arguments.contains(QStringLiteral("--ui-tests-show-help")))
        queue(&AppDelegate::openHelp);
    if (arguments.contains(QStringLiteral("--ui-tests-show-diff")))
        queue(&AppDelegate::openDiffViewer);
}

void AppDelegate::checkForUpdates()
{
    UpdateChecker::shared().checkForUpdates(false, [] { UpdateChecker::shared().showUpdateResult(false); });
}

void AppDelegate::runAutomaticUpdateCheck()
{
    UpdateChecker &checker = UpdateChecker::shared();
    if (!checker.automaticChecksEnabled())
        return;
    QPointer<AppDelegate> weak(this);
    auto offer = [weak] {
        if (weak && UpdateChecker::shared().isUpdateAvailable())
            UpdateChecker::shared().showUpdateResult(true);
    };
    if (UpdateChecker::isCheckDue(checker.lastCheckedAt(), QDateTime::currentDateTimeUtc()))
        checker.checkForUpdates(true, offer);
    else
        offer();
}

void AppDelegate::writeLauncherManifest()
{
    LauncherManifest::writeLauncherManifest();
}

void AppDelegate::openHistory()
{
    openMainWindow();
}

void AppDelegate::quitApp()
{
    unregisterHotkeys();
    QCoreApplication::quit();
}

bool AppDelegate::finishWorkAtQuit()
{
    // A capture under way is dropped: its pixels would come through the
    // event loop, which has ended. Its thread paints with Qt and must be
    // done before the application goes.
    ScreenCapture::current().waitForBackgroundCaptures();
    const auto stuckAfter = FileSystemCall::stuckAfter;
    // The saves first: each one's path goes into the history, whose writes
    // come next.
    bool whole = m_pipeline->finishSavesAtQuit(stuckAfter);
    whole = HistoryService::finishSharedWritesAtQuit(stuckAfter) && whole;
    if (!whole)
        return false;
    // Saves from a Save As and copies for the clipboard.
    while (!EncodingThreads::pool().waitForDone(20)) {
        if (FileSystemCall::longestUnreturned() >= stuckAfter) {
            vlog(QStringLiteral("[Vorna] quit: a save has waited on the file system for %1 ms; not waiting for it")
                     .arg(stuckAfter.count()));
            return false;
        }
    }
    return true;
}

void AppDelegate::showAboutPanel()
{
    if (!m_aboutPanel)
        m_aboutPanel = std::make_unique<AboutPanel>();
    m_aboutPanel->setContent(AboutPanel::content(BuildInfo::current()));
    m_aboutPanel->show();
    m_aboutPanel->raise();
    m_aboutPanel->activateWindow();
}

void AppDelegate::reportBug()
{
    BugReport::report();
}

void AppDelegate::openURLs(const QList<QUrl> &urls)
{
    for (const QUrl &url : urls)
        handleURL(url);
}

void AppDelegate::openArguments(const QList<QByteArray> &arguments, const QString &workingDirectory)
{
    QList<QUrl> urls;
    for (const QByteArray &argument : arguments) {
        QString problem;
        if (const auto url = OpenArguments::urlForArgument(argument, workingDirectory, &problem))
            urls.append(*url);
        else
            vlog("[Vorna] open: ignored " + problem);
    }
    openURLs(urls);
}

void AppDelegate::receiveHandOver(const QList<QByteArray> &arguments, const QString &workingDirectory)
{
    vlog(QStringLiteral("[Vorna] instance: received %1 argument(s)").arg(arguments.size()));
    // A second start without links or files is a person starting the
    // program from the menu: show them its window, tray or not.
    if (arguments.isEmpty()) {
        openMainWindow();
        return;
    }
    openArguments(arguments, workingDirectory);
}

void AppDelegate::handleURL(const QUrl &url)
{
    const CaptureLink link = CaptureLink::parse(url);
    switch (link.kind) {
    case CaptureLink::Kind::openFile:
        openImageFile(url);
        break;
    case CaptureLink::Kind::ignored:
        break;
    case CaptureLink::Kind::unhandledHost:
        vlog("[Vorna] url: unhandled host: " + url.toString(QUrl::FullyEncoded));
        break;
    case CaptureLink::Kind::unknownMode:
        vlog("[Vorna] url: unknown capture mode: " + url.toString(QUrl::FullyEncoded));
        break;
    case CaptureLink::Kind::capture:
        vlog("[Vorna] url: capture request: " + CaptureModes::rawValue(*link.mode));
        NotificationCenter::instance().post(NotificationNames::initCapture,
                                            {{QStringLiteral("mode"), QVariant::fromValue(*link.mode)}});
        break;
    }
}

void AppDelegate::openImageFile(const QUrl &url)
{
    const QString path = url.toLocalFile();
    QPointer<AppDelegate> weak(this);
    m_imageOpener->open(path, [weak, url](const QString &path, const QImage &image) {
        if (!weak)
            return;
        if (image.isNull()) {
            const QString name = url.fileName();
            QTimer::singleShot(0, weak.data(), [name] {
                AlertPresenter::Alert alert;
                alert.style = AlertPresenter::Style::warning;
                alert.title = localized("Could not open this image");
                alert.informativeText = name;
                alert.buttons = {localized("OK")};
                AlertPresenter::current().present(alert);
            });
            return;
        }
        weak->addOpenedImage(path, image);
    });
}

void AppDelegate::addOpenedImage(const QString &path, const QImage &image)
{
    m_windows->activateApplication();

    // The opened file enters the history as a capture would, pointing at
    // itself from the start.
    HistoryItem item;
    item.id = QUuid::createUuid();
    item.image = ImageHandle(image);
    item.date = QDateTime::currentDateTime();
    item.mode = CaptureMode::region;
    item.filePath = path;
    HistoryService &history = HistoryService::shared();
    history.addNewest(item);
    m_appState->setHistory(history.items());

    m_appState->openInEditor(item.image, path);
}

void AppDelegate::openScreenRecordingSettings()
{
    ScreenRecordingPermission::openSettings(this);
}

// ---- launch steps filled in by the subsystems that own them ----

void AppDelegate::startSettingsMirror()
{
    SettingsPersistence::shared().start();
}

void AppDelegate::startCrashReporting()
{
    const AppSettings settings = AppSettings::load();
    vlog(QStringLiteral("[Vorna] sentry: enabled=%1 dsnConfigured=%2")
             .arg(settings.sentry.enabled ? QStringLiteral("true") : QStringLiteral("false"),
                  settings.sentry.dsn.isEmpty() ? QStringLiteral("false") : QStringLiteral("true")));
    CrashReporting::startCrashReporting(settings.sentry);
}

void AppDelegate::setupStatusItem()
{
    m_statusItem = std::make_unique<StatusItem>();
    m_statusItem->setup(buildStatusMenu(m_appState->simpleMenuMode()));
}

void AppDelegate::setupMainMenu()
{
    if (!m_mainMenuBar)
        m_mainMenuBar = MenuBuilder::makeMainMenuBar(menuActions());
    m_menuBuilder->extendMainMenu(m_mainMenuBar);
}

void AppDelegate::rebuildStatusMenu()
{
    if (!m_statusItem)
        return;
    // Only the old tray menu's "Save To" submenu goes; the menu bar's stays
    // refreshed.
    if (QMenu *old = m_statusItem->menu()) {
        for (QMenu *menu : m_saveToMenus->menus())
            if (menu->parent() == old)
                m_saveToMenus->forget(menu);
    }
    m_statusItem->setMenu(buildStatusMenu(m_appState->simpleMenuMode()));
}

void AppDelegate::registerHotkeys()
{
    QList<HotKeyService::Registration> registrations;
    QPointer<AppDelegate> weak(this);
    for (CaptureMode mode : CaptureModes::allCases()) {
        const CaptureShortcut shortcut = CaptureShortcuts::fromMode(mode);
        registrations.append({shortcut, AppState::hotKeyBinding(shortcut), [weak, mode] {
                                  if (weak)
                                      weak->hotkeyPressed(mode);
                              }});
    }
    const QStringList refused = HotKeyService::shared().registerHotKeys(registrations);
    if (refused.isEmpty())
        return;
    QTimer::singleShot(0, this, [refused] {
        presentErrorAlert(VornaError::hotkeyRegistrationFailed(refused), localized("Hotkey Conflict"));
    });
}

void AppDelegate::unregisterHotkeys()
{
    HotKeyService::shared().unregisterAll();
}

void AppDelegate::hotkeyPressed(CaptureMode mode)
{
    m_doublePress->hotkeyPressed(mode);
}

void AppDelegate::observeCaptureRequests()
{
    // Bring the capture backend up now: it readies the memory of a
    // whole-screen capture in the background, so the first capture is as
    // quick as the later ones.
    QTimer::singleShot(0, this, [] { ScreenCapture::current(); });

    QPointer<AppDelegate> weak(this);
    NotificationCenter::instance().addObserver(NotificationNames::initCapture, this, [weak](const auto &note) {
        if (!weak)
            return;
        const QVariant mode = note.userInfo.value(QStringLiteral("mode"));
        if (mode.metaType() != QMetaType::fromType<CaptureMode>())
            return;
        weak->performCapture(mode.template value<CaptureMode>());
    });
}

void AppDelegate::performCapture(CaptureMode mode)
{
    m_flows->performCapture(mode);
}

void AppDelegate::captureFullScreen()
{
    m_flows->captureFullScreen();
}

void AppDelegate::captureWindow()
{
    m_flows->captureWindow();
}

void AppDelegate::captureRegion()
{
    m_flows->captureRegion();
}

void AppDelegate::captureScrolling()
{
    m_flows->captureScrolling();
}

void AppDelegate::captureTimed()
{
    m_flows->captureTimed();
}
void AppDelegate::checkScreenRecordingPermission()
{
    QPointer<AppDelegate> weak(this);
    ScreenRecordingPermission::checkAtLaunch(this, QProcessEnvironment::systemEnvironment(),
                                             ScreenRecordingPermission::preflight(), [weak] {
                                                 if (weak)
                                                     weak->openScreenRecordingSettings();
                                             });
}
void AppDelegate::loadHistory()
{
    // The manifest and the PNG headers are read on the history queue; the
    // history (and the pages that show it) fills in when they are in. The
    // launch's other queued steps have run by then.
    QPointer<AppDelegate> weak(this);
    HistoryService::loadShared([weak] {
        if (!weak)
            return;
        weak->m_appState->setHistory(HistoryService::shared().items());
        emit weak->launched();
    });
}
void AppDelegate::openMainWindow() { m_windows->openMainWindow(); }
void AppDelegate::openSettings() { m_windows->openSettings(); }
void AppDelegate::openEditor() { m_windows->openEditor(); }
void AppDelegate::openHelp() { m_windows->openHelp(); }
void AppDelegate::openDiffViewer() { m_windows->openDiffViewer(); }
