#include "app/AppDelegate.h"
#include "app/OpenArguments.h"
#include "platform/FileSystemCall.h"
#include "platform/Log.h"
#include "platform/SingleInstance.h"
#include "platform/SymbolIcon.h"
#include "platform/UserDefaults.h"
#include "settings/InterfaceLanguage.h"

#include <QApplication>
#include <QDir>
#include <QSocketNotifier>
#include <chrono>
#include <csignal>
#include <thread>
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
        // exit(), not quit(): an open alert could refuse a quit and keep
        // its own event loop (and the program) running.
        QCoreApplication::exit(0);
    });
    struct sigaction sa = {};
    sa.sa_handler = onTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

// Quitting (the menu, SIGTERM, a logout) waits for the saves and history
// writes under way, however long an encoding takes, but not for a file
// system that stopped answering (a save into a network folder that is gone).
// The work of other threads is looked after where the quit waits for it;
// this watches the UI thread itself: once it has been inside one file
// system call for FileSystemCall::stuckAfter, the program ends. Whatever was
// written is on disk by then, each file whole, and what was not would never
// have come.
void endWhenTheQuitIsStuck(QApplication &app)
{
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &app, [] {
        std::thread([ui = std::this_thread::get_id()] {
            while (FileSystemCall::unreturnedFor(ui) < FileSystemCall::stuckAfter)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            vlog(QStringLiteral("[Vorna] quit: a file system call has not returned for %1 ms; ending without waiting further")
                     .arg(FileSystemCall::stuckAfter.count()));
            ::_exit(0);
        }).detach();
    });
}
} // namespace

// Hands this process's links and files to the running Vorna. Runs before
// any application object exists, so it needs no display.
static int handOver(const SingleInstance &instance, int argc, char **argv)
{
    SingleInstance::Request request;
    char *cwd = ::getcwd(nullptr, 0);
    if (cwd) {
        request.workingDirectory = QByteArray(cwd);
        ::free(cwd);
    }
    request.arguments = OpenArguments::fromCommandLine(argc, argv, true);
    if (request.arguments.size() > SingleInstance::maxArguments) {
        vlog(QStringLiteral("[Vorna] instance: only the first %1 of %2 arguments are handed over")
                 .arg(SingleInstance::maxArguments)
                 .arg(request.arguments.size()));
        request.arguments.resize(SingleInstance::maxArguments);
    }
    // Arguments too long to be a link or path are left here.
    for (qsizetype i = request.arguments.size() - 1; i >= 0; --i) {
        if (request.arguments[i].size() > OpenArguments::maxArgumentBytes) {
            vlog(QStringLiteral("[Vorna] open: ignored an overlong argument (%1 bytes)").arg(request.arguments[i].size()));
            request.arguments.removeAt(i);
        }
    }
    while (!request.arguments.isEmpty() && SingleInstance::encode(request).size() > SingleInstance::maxRequestBytes) {
        vlog(QStringLiteral("[Vorna] open: ignored an argument of %1 bytes").arg(request.arguments.last().size()));
        request.arguments.removeLast();
    }
    QString error;
    if (!SingleInstance::sendToRunningInstance(instance.socketPath(), request, 10000, &error)) {
        vlog("[Vorna] instance: could not hand over to the running Vorna: " + error);
        return 1;
    }
    vlog(QStringLiteral("[Vorna] instance: handed %1 argument(s) to the running Vorna").arg(request.arguments.size()));
    return 0;
}

int main(int argc, char **argv)
{
    // One Vorna per user: a later one hands its arguments over and ends.
    SingleInstance instance(QStringLiteral(VORNA_APP_ID));
    const SingleInstance::Role role = instance.claim();
    if (role == SingleInstance::Role::secondary)
        return handOver(instance, argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorna"));
    QApplication::setApplicationVersion(QStringLiteral(VORNA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(VORNA_APP_ID));
    // Every window carries the program's picture in its title bar and the
    // task switcher, the same one the tray shows.
    QApplication::setWindowIcon(SymbolIcon::asset(QStringLiteral("StatusIcon")));
    app.setProperty("vornaBuildNumber", QStringLiteral(VORNA_BUILD_NUMBER));
    QApplication::setQuitOnLastWindowClosed(false);
    installTerminationHandler(app);
    // First of the program's handlers of the quit, so that it covers them all.
    endWhenTheQuitIsStuck(app);
    // The language chosen in the settings takes effect from this start on.
    InterfaceLanguage::apply();

    AppDelegate delegate;
    const QStringList arguments = app.arguments();
    QMetaObject::invokeMethod(&delegate, [&delegate, arguments] { delegate.applicationDidFinishLaunching(arguments); },
                              Qt::QueuedConnection);

    // Links and files of this launch are handled once the launch has run;
    // those of later processes as they arrive.
    const QList<QByteArray> openArguments = OpenArguments::fromCommandLine(argc, argv, false);
    const QString workingDirectory = QDir::currentPath();
    if (!openArguments.isEmpty())
        QMetaObject::invokeMethod(
            &delegate, [&delegate, openArguments, workingDirectory] { delegate.openArguments(openArguments, workingDirectory); },
            Qt::QueuedConnection);
    if (role == SingleInstance::Role::primary) {
        QObject::connect(&instance, &SingleInstance::requestReceived, &delegate,
                         [&delegate](const SingleInstance::Request &request) {
                             delegate.receiveHandOver(request.arguments, QString::fromUtf8(request.workingDirectory));
                         });
        instance.listen();
    }
    const int rc = app.exec();
    instance.stopListening();
    // Nothing of ours may run once the application object is gone: the
    // saves, history writes and captures under way end here.
    const bool whole = delegate.finishWorkAtQuit();
    UserDefaults::standard().flush();
    if (!whole) {
        vlog(QStringLiteral("[Vorna] quit: ending without the work that waits on the file system"));
        ::_exit(rc);
    }
    return rc;
}
