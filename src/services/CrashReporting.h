#pragma once

#include "model/AppSettings.h"
#include "platform/SentryOptions.h"

// Starts crash reporting from the settings in appsettings.json. Called at
// launch and by the settings window when the user switches reporting on;
// the settings window switches it off with SentrySDK::close().
class CrashReporting
{
public:
    // Starts (or restarts) the client when reporting is enabled and a DSN is
    // set; otherwise leaves whatever runs as it is.
    static void startCrashReporting(const AppSettings::SentrySettings &settings);

    // Whether the client can use the settings' DSN: its own parser reads it
    // as the client gets it (trimmed). The reason for a refusal in *error.
    static bool dsnIsValid(const AppSettings::SentrySettings &settings, QString *error = nullptr);
    // The options the client gets for these settings.
    static void configureOptions(SentryOptions &options, const AppSettings::SentrySettings &settings);
    // Clears the user, the request and the server name, nothing else.
    static std::optional<SentryEvent> beforeSend(SentryEvent event);
    // Drops every breadcrumb.
    static std::optional<SentryBreadcrumb> beforeBreadcrumb(const SentryBreadcrumb &crumb);
};
