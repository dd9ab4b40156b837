// Starts crash reporting the way the program does at launch, leaves a
// breadcrumb and then crashes with the signal named by its first argument
// (segv, bus, ill, fpe, abort). With "--plain" it starts the client with its
// own default options instead (the DSN still comes from appsettings.json).
// The crash-reporting tests run it as a child process.
#include "model/AppSettings.h"
#include "platform/SentrySDK.h"
#include "services/CrashReporting.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

// In the sanitizer build the fatal signals are left to the program's own
// handler, as they are in a release build.
extern "C" const char *__asan_default_options()
{
    return "handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0";
}

namespace {

// Left out of the sanitizer build's checks: the faults must reach the
// crash handler as the signals they are, not as sanitizer reports.
[[gnu::noinline]] __attribute__((no_sanitize("address", "undefined"))) void crash(const QByteArray &kind)
{
    // Volatile throughout, so the optimiser cannot drop or rewrite the
    // faulting operation.
    if (kind == "segv") {
        volatile int *volatile nowhere = nullptr;
        *nowhere = 1;
    } else if (kind == "fpe") {
        volatile int one = 1;
        volatile int zero = 0;
        volatile int result = one / zero;
        (void)result;
    } else if (kind == "ill") {
        __builtin_trap();
    } else if (kind == "bus") {
        std::raise(SIGBUS);
    } else if (kind == "abort") {
        std::abort();
    }
}

} // namespace

int main(int argc, char **argv)
{
    const struct rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vorna"));
    QCoreApplication::setApplicationVersion(QStringLiteral("9.8.7"));
    const QStringList args = app.arguments();
    if (args.size() < 2)
        return 2;

    const AppSettings settings = AppSettings::load();
    if (args.contains(QStringLiteral("--plain"))) {
        SentrySDK::start([&](SentryOptions &o) { o.dsn = settings.sentry.dsn; });
    } else {
        CrashReporting::startCrashReporting(settings.sentry);
    }
    SentryBreadcrumb crumb;
    crumb.message = QStringLiteral("about to crash");
    SentrySDK::addBreadcrumb(crumb);

    crash(args.at(1).toLatin1());
    std::fprintf(stderr, "did not crash\n");
    return 3;
}
