#include "app/AppDelegate.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_signalFds[2] = {-1, -1};

void onTerminate(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalFds[0], &c, 1);
}

// SIGTERM and SIGINT end the event loop normally, so pending preference
// writes are flushed on the way out.
void installTerminationHandler(QApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalFds) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(g_signalFds[1], &c, 1);
        QCoreApplication::quit();
    });
    struct sigaction sa = {};
    sa.sa_handler = onTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorna"));
    QApplication::setApplicationVersion(QStringLiteral(VORNA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(VORNA_APP_ID));
    app.setProperty("vornaBuildNumber", QStringLiteral(VORNA_BUILD_NUMBER));
    QApplication::setQuitOnLastWindowClosed(false);
    installTerminationHandler(app);

    AppDelegate delegate;
    const QStringList arguments = app.arguments();
    QMetaObject::invokeMethod(&delegate, [&delegate, arguments] { delegate.applicationDidFinishLaunching(arguments); },
                              Qt::QueuedConnection);
    const int rc = app.exec();
    UserDefaults::standard().flush();
    return rc;
}
