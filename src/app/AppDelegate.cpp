#include "app/AppDelegate.h"

#include "model/AppSettings.h"
#include "model/AppState.h"
#include "model/NotificationNames.h"
#include "output/HistoryService.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "services/CrashReporting.h"
#include "services/LauncherManifest.h"
#include "services/UpdateChecker.h"

#include <QApplication>
#include <QTimer>
#include <unistd.h>

AppDelegate::AppDelegate(QObject *parent) : QObject(parent)
{
    // AppState reads every preference now, before the launch sequence.
    m_appState = std::make_unique<AppState>();
}

AppDelegate::~AppDelegate() = default;

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

    handleLaunchArguments(arguments);

    QTimer::singleShot(0, this, [weak] {
        if (weak)
            emit weak->launched();
    });
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

// ---- launch steps filled in by the subsystems that own them ----

void AppDelegate::startSettingsMirror() {}

void AppDelegate::startCrashReporting()
{
    const AppSettings settings = AppSettings::load();
    vlog(QStringLiteral("[Vorna] sentry: enabled=%1 dsnConfigured=%2")
             .arg(settings.sentry.enabled ? QStringLiteral("true") : QStringLiteral("false"),
                  settings.sentry.dsn.isEmpty() ? QStringLiteral("false") : QStringLiteral("true")));
    CrashReporting::startCrashReporting(settings.sentry);
}

void AppDelegate::setupStatusItem() {}
void AppDelegate::setupMainMenu() {}
void AppDelegate::registerHotkeys() {}
void AppDelegate::unregisterHotkeys() {}
void AppDelegate::observeCaptureRequests() {}
void AppDelegate::checkScreenRecordingPermission() {}
void AppDelegate::loadHistory()
{
    // The shared store loads the manifest on first use.
    m_appState->setHistory(HistoryService::shared().items());
}
void AppDelegate::rebuildStatusMenu() {}
void AppDelegate::openMainWindow() {}
void AppDelegate::openSettings() {}
void AppDelegate::openEditor() {}
void AppDelegate::openHelp() {}
void AppDelegate::openDiffViewer() {}
