#pragma once

#include <QDBusConnection>
#include <QString>
#include <functional>

// Shows a file selected in its folder through the desktop's file manager:
// the org.freedesktop.FileManager1 interface's ShowItems call on the session
// bus. The call is asynchronous; done runs on the main thread with whether a
// file manager took the request (false when none is on the bus, it answered
// with an error, or it did not answer within five seconds).
class FileManagerReveal
{
public:
    FileManagerReveal() = delete;

    static inline const QString service = QStringLiteral("org.freedesktop.FileManager1");
    static inline const QString objectPath = QStringLiteral("/org/freedesktop/FileManager1");
    static inline const QString interface = QStringLiteral("org.freedesktop.FileManager1");

    static void showItem(const QString &path, std::function<void(bool shown)> done);
    // The same on a given bus connection.
    static void showItem(const QDBusConnection &bus, const QString &path, std::function<void(bool shown)> done);

    // The connection showItem(path, done) uses: the session bus unless one
    // is installed (tests install a private bus; nullptr restores it).
    static QDBusConnection bus();
    static void setBus(const QDBusConnection *bus);
};
