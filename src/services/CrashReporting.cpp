#include "services/CrashReporting.h"

#include "platform/SentryDsn.h"
#include "platform/SentrySDK.h"

namespace {

// Spaces and tabs only: a DSN of a lone line break still counts as set.
QString trimBlanks(const QString &text)
{
    qsizetype begin = 0, end = text.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(text.at(begin)))
        ++begin;
    while (end > begin && blank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// A DSN copied into the file by hand easily picks up a blank or a line
// break at either end; the address itself never has one.
QString clientDsn(const AppSettings::SentrySettings &settings)
{
    return settings.dsn.trimmed();
}

} // namespace

void CrashReporting::startCrashReporting(const AppSettings::SentrySettings &settings)
{
    if (!settings.enabled)
        return;
    if (trimBlanks(settings.dsn).isEmpty())
        return;
    const AppSettings::SentrySettings copy = settings;
    SentrySDK::start([copy](SentryOptions &options) { configureOptions(options, copy); });
}

bool CrashReporting::dsnIsValid(const AppSettings::SentrySettings &settings, QString *error)
{
    return SentryDsn::parse(clientDsn(settings), error).has_value();
}

void CrashReporting::configureOptions(SentryOptions &options, const AppSettings::SentrySettings &settings)
{
    options.dsn = clientDsn(settings);
    options.environment = settings.environment;
    options.debug = settings.debug;
    options.sampleRate = settings.sampleRate;
    // Our client does no tracing, profiling, session tracking or automatic
    // instrumentation at all, so those stay off without a switch.
    options.sendDefaultPii = false;
    options.maxBreadcrumbs = 0;
    options.beforeSend = &CrashReporting::beforeSend;
    options.beforeBreadcrumb = &CrashReporting::beforeBreadcrumb;
}

std::optional<SentryEvent> CrashReporting::beforeSend(SentryEvent event)
{
    event.user.reset();
    event.request.reset();
    event.serverName.reset();
    return event;
}

std::optional<SentryBreadcrumb> CrashReporting::beforeBreadcrumb(const SentryBreadcrumb &)
{
    return std::nullopt;
}
