#pragma once

#include <QDBusConnection>
#include <QString>
#include <functional>

// Shows a file selected in its folder through the desktop's file manager:
// the org.freedesktop.FileManager1 interface's ShowItems call on the session
// bus. Every "Reveal" and "Show in File Manager" goes through reveal().
class FileManagerReveal
{
public:
    FileManagerReveal() = delete;

    static inline const QString service = QStringLiteral("org.freedesktop.FileManager1");
    static inline const QString objectPath = QStringLiteral("/org/freedesktop/FileManager1");
    static inline const QString interface = QStringLiteral("org.freedesktop.FileManager1");
    // How long the file manager has to answer before the folder is opened.
    static constexpr int replyTimeoutMs = 2000;

    // Asks the file manager to show the file (which need not exist) and
    // returns at once. When it answers with an error, is not on the bus, or
    // does not answer within replyTimeoutMs, the file's folder is opened
    // with Workspace::current().openUrl() instead, on the main thread.
    static void reveal(const QString &path);

    // The ShowItems call alone: done runs on the main thread with whether a
    // file manager took the request.
    static void showItem(const QString &path, std::function<void(bool shown)> done);
    // The same on a given bus connection.
    static void showItem(const QDBusConnection &bus, const QString &path, std::function<void(bool shown)> done);

    // The connection showItem(path, done) uses: the session bus unless one
    // is installed (tests install a private bus; nullptr restores it).
    static QDBusConnection bus();
    static void setBus(const QDBusConnection *bus);
};
