#include "platform/FileManagerReveal.h"

#include "platform/Log.h"
#include "platform/Workspace.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QUrl>
#include <memory>

namespace {

std::unique_ptr<QDBusConnection> g_bus;

} // namespace

QDBusConnection FileManagerReveal::bus()
{
    return g_bus ? *g_bus : QDBusConnection::sessionBus();
}

void FileManagerReveal::setBus(const QDBusConnection *bus)
{
    g_bus = bus ? std::make_unique<QDBusConnection>(*bus) : nullptr;
}

void FileManagerReveal::reveal(const QString &path)
{
    showItem(path, [path](bool shown) {
        if (shown)
            return;
        const QString folder = QFileInfo(path).absolutePath();
        if (!Workspace::current().openUrl(QUrl::fromLocalFile(folder)))
            vlog(QStringLiteral("[Vorna] could not show ") + path + QStringLiteral(" in a file manager"));
    });
}

void FileManagerReveal::showItem(const QString &path, std::function<void(bool shown)> done)
{
    showItem(bus(), path, std::move(done));
}

void FileManagerReveal::showItem(const QDBusConnection &bus, const QString &path,
                                 std::function<void(bool shown)> done)
{
    if (!bus.isConnected()) {
        if (done)
            done(false);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, interface, QStringLiteral("ShowItems"));
    // The URIs of the items, and a start-up notification id (none).
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, replyTimeoutMs), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [done = std::move(done)](QDBusPendingCallWatcher *w) {
                         const bool shown = !w->isError();
                         w->deleteLater();
                         if (done)
                             done(shown);
                     });
}
