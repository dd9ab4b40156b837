#pragma once

#include "platform/SentryBreadcrumb.h"
#include "platform/SentryEvent.h"

#include <QString>
#include <functional>
#include <optional>

// How the crash reporter is configured. This client captures crashes and
// nothing else: it does no tracing, profiling, session tracking or automatic
// instrumentation of any kind, so it has no switches for them.
struct SentryOptions
{
    // The project address. An address that does not parse leaves reporting off.
    QString dsn;
    QString environment = QStringLiteral("production");
    // Diagnostic lines about what the client does ("[Vorna] sentry: ...").
    bool debug = false;
    // Share of crash reports sent, from 0 (none) to 1 (all). A value outside
    // that range, or not a number, counts as 1.
    double sampleRate = 1.0;
    // When true, events carry the user's address ("{{auto}}") as well.
    bool sendDefaultPii = false;
    // Breadcrumbs kept for the next crash report; 0 keeps none.
    int maxBreadcrumbs = 100;
    // Called with each event before it is sent; nothing drops the event.
    std::function<std::optional<SentryEvent>(SentryEvent)> beforeSend;
    // Called with each breadcrumb before it is kept; nothing drops it.
    std::function<std::optional<SentryBreadcrumb>(SentryBreadcrumb)> beforeBreadcrumb;
};
