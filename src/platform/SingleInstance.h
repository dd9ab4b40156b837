#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <optional>

class QLocalServer;
class QLocalSocket;

// One running program per user. The first process takes a lock in the
// user's runtime folder and listens on a local socket next to it that only
// this user can reach; a later process finds the lock taken and hands its
// arguments (with its working folder) to the running one over the socket.
//
// claim() and sendToRunningInstance() need no application object, so a
// second process can hand over and exit before it would connect to a display.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // What a later process hands over: its working folder and its arguments
    // as the raw bytes it was given.
    struct Request
    {
        QByteArray workingDirectory;
        QList<QByteArray> arguments;
    };

    enum class Role {
        primary,     // this process holds the lock and should listen
        secondary,   // another process holds the lock
        unavailable, // no usable runtime folder or lock: run on our own
    };

    // Limits of one request on the wire. A request beyond them is refused whole.
    static constexpr int maxArguments = 256;
    static constexpr qsizetype maxElementBytes = 64 * 1024;
    static constexpr qsizetype maxRequestBytes = 4 * 1024 * 1024;

    explicit SingleInstance(const QString &appId, QObject *parent = nullptr);
    ~SingleInstance() override;

    // The folder for the lock and the socket: $XDG_RUNTIME_DIR, or a private
    // folder of this user under the temporary folder. Empty when neither is usable.
    static QString runtimeDirectory();
    QString socketPath() const { return m_socketPath; }
    QString lockPath() const { return m_lockPath; }

    // Takes the per-user lock. The lock is held until this object is
    // destroyed or the process ends (a crashed process releases it too).
    Role claim();

    // Primary only: removes a socket left behind by a process that died and
    // listens. Needs the application object. False (with a log line) when
    // listening failed; the program then runs on its own.
    bool listen();
    bool isListening() const;
    // Stops listening (before the application object goes away). The lock
    // stays held until this object is destroyed.
    void stopListening();

    // Secondary: connects to the running process (waiting for it to start
    // listening for up to timeoutMs), sends the request and waits for its
    // answer. True when the running process accepted it.
    static bool sendToRunningInstance(const QString &socketPath, const Request &request, int timeoutMs,
                                      QString *error);

    // The wire form of a request, and its reading. decode() returns nothing
    // while the bytes are an incomplete request; *malformed is set when they
    // can never become one.
    static QByteArray encode(const Request &request);
    static std::optional<Request> decode(const QByteArray &bytes, bool *malformed, QString *why = nullptr);

signals:
    // A later process handed over a request (main thread).
    void requestReceived(const SingleInstance::Request &request);

private:
    void acceptConnection();
    void readFrom(QLocalSocket *socket);

    QString m_socketPath;
    QString m_lockPath;
    int m_lockFd = -1;
    QLocalServer *m_server = nullptr;
};

Q_DECLARE_METATYPE(SingleInstance::Request)
