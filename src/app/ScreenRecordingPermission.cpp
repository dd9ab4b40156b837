#include "app/ScreenRecordingPermission.h"

#include "platform/AlertPresenter.h"
#include "platform/Localized.h"
#include "platform/Workspace.h"

#include <QGuiApplication>
#include <QPointer>
#include <QTimer>

bool ScreenRecordingPermission::preflight()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

void ScreenRecordingPermission::checkAtLaunch(QObject *context, const QProcessEnvironment &environment,
                                              bool hasAccess, std::function<void()> openSettings)
{
    if (environment.contains(QStringLiteral("XCTestConfigurationFilePath")))
        return;
    if (environment.value(QStringLiteral("VornaSuppressPermissionPrompt")) == QLatin1String("1"))
        return;
    if (hasAccess)
        return;
    QTimer::singleShot(0, context, [openSettings = std::move(openSettings)] {
        AlertPresenter::Alert alert;
        alert.style = AlertPresenter::Style::warning;
        alert.title = localized("Screen Recording Permission Needed");
        alert.informativeText = localized("Vorna needs Screen Recording to capture your display. Enable Vorna "
                                          "under System Settings → Privacy & Security → Screen Recording, then "
                                          "relaunch the app.");
        alert.buttons = {localized("Open System Settings"), localized("Later")};
        if (AlertPresenter::current().present(alert) == 0 && openSettings)
            openSettings();
    });
}

void ScreenRecordingPermission::openSettings(QObject *context)
{
    QTimer::singleShot(0, context, [] {
        Workspace &workspace = Workspace::current();
        const QString settingsProgram = QStringLiteral("gnome-control-center");
        if (!workspace.launch(settingsProgram, {QStringLiteral("privacy")}))
            workspace.launch(settingsProgram, {});
    });
}
