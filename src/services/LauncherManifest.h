#pragma once

#include "services/ProviderManifest.h"

#include <QString>

// Writes our provider manifest into the companion launcher's "providers"
// folder ($XDG_DATA_HOME/Dovrelin/providers/<application id>.json) once per
// launch, touching the file only when its bytes change.
class LauncherManifest
{
public:
    // The application id used when the application has none of its own.
    static QString fallbackBundleIdentifier();
    // The application's id: its desktop file name, or the fallback.
    static QString bundleIdentifier();

    // The five capture modes as actions, titles and subtitles localized now.
    static ProviderManifest makeProviderManifest();
    static QString launcherProvidersDirectory();
    // Every failure ends in a log line.
    static void writeLauncherManifest();
};
