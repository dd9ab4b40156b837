#include "services/LauncherManifest.h"

#include "model/CaptureMode.h"
#include "model/CaptureShortcut.h"
#include "platform/AppPaths.h"
#include "platform/FileOps.h"
#include "platform/Localized.h"
#include "platform/Log.h"

#include <QDir>
#include <QGuiApplication>

namespace {

QString subtitle(CaptureMode mode)
{
    switch (mode) {
    case CaptureMode::fullscreen: return localized("Capture the entire screen");
    case CaptureMode::window: return localized("Pick a window to capture");
    case CaptureMode::region: return localized("Drag a rectangle to capture");
    case CaptureMode::scrolling: return localized("Capture a long, scrolling page");
    case CaptureMode::timed: return localized("Capture after a short countdown");
    }
    return QString();
}

QString systemImage(CaptureMode mode)
{
    switch (mode) {
    case CaptureMode::fullscreen: return QStringLiteral("rectangle.dashed");
    case CaptureMode::window: return QStringLiteral("macwindow");
    case CaptureMode::region: return QStringLiteral("rectangle.dashed.badge.record");
    case CaptureMode::scrolling: return QStringLiteral("scroll");
    case CaptureMode::timed: return QStringLiteral("timer");
    }
    return QString();
}

} // namespace

QString LauncherManifest::fallbackBundleIdentifier()
{
    return QStringLiteral(VORNA_APP_ID);
}

QString LauncherManifest::bundleIdentifier()
{
    QString id = QGuiApplication::desktopFileName();
    if (id.endsWith(QLatin1String(".desktop")))
        id.chop(8);
    return id.isEmpty() ? fallbackBundleIdentifier() : id;
}

ProviderManifest LauncherManifest::makeProviderManifest()
{
    ProviderManifest manifest;
    manifest.schemaVersion = 1;
    manifest.bundleIdentifier = bundleIdentifier();
    manifest.displayName = QStringLiteral("Vorna");
    for (CaptureMode mode : CaptureModes::allCases()) {
        ProviderAction action;
        action.id = CaptureModes::rawValue(mode);
        action.title = CaptureShortcuts::title(CaptureShortcuts::fromMode(mode));
        action.subtitle = subtitle(mode);
        action.systemImage = systemImage(mode);
        action.url = QStringLiteral("vorna://capture?mode=") + CaptureModes::rawValue(mode);
        manifest.actions.append(action);
    }
    return manifest;
}

QString LauncherManifest::launcherProvidersDirectory()
{
    return AppPaths::dataHome() + QStringLiteral("/Dovrelin/providers");
}

void LauncherManifest::writeLauncherManifest()
{
    const ProviderManifest manifest = makeProviderManifest();
    const QByteArray bytes = manifest.encode();
    if (bytes.isEmpty()) {
        vlog(QStringLiteral("[Vorna] launcher: manifest encode failed"));
        return;
    }
    const QString folder = launcherProvidersDirectory();
    const QString path = folder + QLatin1Char('/') + manifest.bundleIdentifier + QStringLiteral(".json");
    QString error;
    if (!FileOps::makeFolder(folder, &error)) {
        vlog(QStringLiteral("[Vorna] launcher: could not create providers dir: ") + error);
        return;
    }
    // A file of another length differs anyway, so no more than the new
    // bytes are ever read; and a named pipe or a device in the file's place
    // is never waited on: it counts as different and is replaced.
    QByteArray current;
    if (FileOps::readAtMost(path, bytes.size(), &current) && current == bytes)
        return;
    if (!FileOps::writeAtomically(path, bytes, &error))
        vlog(QStringLiteral("[Vorna] launcher: manifest write failed: ") + error);
}
