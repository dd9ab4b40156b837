#pragma once

#include "platform/SentryOptions.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

// Our crash-reporting client for a Sentry server.
//
// While started, a fatal signal writes a crash report to disk (see
// CrashHandler). Reports wait there until a later start, which reads them in
// the background and sends each, through the before-send hook and the
// sample rate, as one envelope to the DSN's project. A report leaves the
// disk once the server has taken it (or refused it for good), or when the
// sample rate or the hook drops it; while reporting is off nothing is sent
// and waiting reports stay where they are.
//
// Main thread only.
class SentrySDK
{
public:
    // Fills a fresh options value through configureOptions and starts with
    // it, replacing a running client. A DSN that does not parse leaves
    // reporting off and says so in the log.
    static void start(const std::function<void(SentryOptions &)> &configureOptions);
    // Stops capturing and sending. Safe when not started.
    static void close();
    static bool isEnabled();
    // The options of the running client.
    static std::optional<SentryOptions> options();

    // Keeps a breadcrumb for the next crash report, through beforeBreadcrumb
    // and the maxBreadcrumbs limit. Does nothing while not started.
    static void addBreadcrumb(const SentryBreadcrumb &crumb);
    static QList<SentryBreadcrumb> breadcrumbs();

    // Where crash reports wait: $XDG_DATA_HOME/Vorna/crash-reports
    static QString reportsFolder();
    // "vorna.sentry/<version>", sent in the auth header.
    static QString clientName();
};
