#include "platform/SingleInstance.h"

#include "platform/Log.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <QtEndian>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QByteArray kMagic = QByteArrayLiteral("VORNAOP1");
const QByteArray kAccepted = QByteArrayLiteral("OK\n");
const QByteArray kRefused = QByteArrayLiteral("ERR\n");
// How long a connection may take to deliver its whole request.
constexpr int kReadTimeoutMs = 5000;
constexpr int kMaxConnections = 16;

void appendU32(QByteArray &out, quint32 v)
{
    char buf[4];
    qToBigEndian(v, buf);
    out.append(buf, 4);
}

quint32 readU32(const QByteArray &bytes, qsizetype at)
{
    return qFromBigEndian<quint32>(bytes.constData() + at);
}

qint64 remainingMs(const QElapsedTimer &clock, int timeoutMs)
{
    return qMax<qint64>(0, timeoutMs - clock.elapsed());
}

bool waitFor(int fd, short events, const QElapsedTimer &clock, int timeoutMs)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, static_cast<int>(remainingMs(clock, timeoutMs)));
        if (r > 0)
            return true;
        if (r == 0 || errno != EINTR)
            return false;
    }
}

} // namespace

SingleInstance::SingleInstance(const QString &appId, QObject *parent) : QObject(parent)
{
    qRegisterMetaType<SingleInstance::Request>();
    const QString dir = runtimeDirectory();
    if (!dir.isEmpty()) {
        m_socketPath = dir + '/' + appId + ".socket";
        m_lockPath = dir + '/' + appId + ".lock";
    }
}

SingleInstance::~SingleInstance()
{
    stopListening();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

QString SingleInstance::runtimeDirectory()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg) && QFileInfo(xdg).isDir())
        return QDir::cleanPath(xdg);

    // No runtime folder from the session: a folder of our own that nobody
    // else may have made or may enter.
    const QString own = QDir::tempPath() + "/vorna-" + QString::number(::geteuid());
    const QByteArray native = QFile::encodeName(own);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    struct stat st = {};
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()
        || (st.st_mode & 077) != 0) {
        vlog("[Vorna] instance: " + own + " is not a private folder of this user");
        return QString();
    }
    return own;
}

SingleInstance::Role SingleInstance::claim()
{
    if (m_lockPath.isEmpty())
        return Role::unavailable;
    if (m_lockFd < 0) {
        m_lockFd = ::open(QFile::encodeName(m_lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                          0600);
        if (m_lockFd < 0) {
            vlog("[Vorna] instance: cannot open " + m_lockPath + ": " + QString::fromLocal8Bit(std::strerror(errno)));
            return Role::unavailable;
        }
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0)
        return Role::primary;
    const int err = errno;
    ::close(m_lockFd);
    m_lockFd = -1;
    if (err == EWOULDBLOCK)
        return Role::secondary;
    vlog("[Vorna] instance: cannot lock " + m_lockPath + ": " + QString::fromLocal8Bit(std::strerror(err)));
    return Role::unavailable;
}

bool SingleInstance::listen()
{
    if (m_socketPath.isEmpty() || m_lockFd < 0)
        return false;
    if (m_server)
        return m_server->isListening();
    // We hold the lock, so a socket file here belongs to a process that died.
    QLocalServer::removeServer(m_socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->setMaxPendingConnections(kMaxConnections);
    if (!m_server->listen(m_socketPath)) {
        vlog("[Vorna] instance: cannot listen on " + m_socketPath + ": " + m_server->errorString());
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
    return true;
}

void SingleInstance::stopListening()
{
    if (!m_server)
        return;
    m_server->close();
    delete m_server;
    m_server = nullptr;
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

void SingleInstance::acceptConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        const auto open = m_server->findChildren<QLocalSocket *>(QString(), Qt::FindDirectChildrenOnly).size();
        if (open > kMaxConnections) {
            vlog(QStringLiteral("[Vorna] instance: too many connections; dropped one"));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Only this user's processes may hand us anything.
        struct ucred cred = {};
        socklen_t len = sizeof cred;
        if (::getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0
            || cred.uid != ::geteuid()) {
            vlog(QStringLiteral("[Vorna] instance: refused a connection from another user"));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        struct Connection
        {
            QByteArray buffer;
            bool answered = false;
        };
        auto state = std::make_shared<Connection>();
        socket->setReadBufferSize(64 * 1024);
        auto *timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, socket, [socket, state] {
            if (!state->answered)
                vlog(QStringLiteral("[Vorna] instance: a request did not arrive in time; dropped it"));
            socket->abort();
        });
        timer->start(kReadTimeoutMs);
        // Answers once, then gives the peer a moment to read the answer.
        auto answer = [socket, state, timer](const QByteArray &reply) {
            state->answered = true;
            state->buffer.clear();
            socket->write(reply);
            socket->disconnectFromServer();
            timer->start(1000);
        };
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket, state, answer] {
            const QByteArray bytes = socket->readAll();
            if (state->answered)
                return; // anything after the request is dropped
            state->buffer.append(bytes);
            bool malformed = false;
            QString why;
            const auto request = decode(state->buffer, &malformed, &why);
            if (malformed) {
                vlog("[Vorna] instance: ignored a malformed request: " + why);
                answer(kRefused);
                return;
            }
            if (!request)
                return; // more to come
            answer(kAccepted);
            emit requestReceived(*request);
        });
    }
}

QByteArray SingleInstance::encode(const Request &request)
{
    QByteArray out = kMagic;
    appendU32(out, static_cast<quint32>(request.arguments.size() + 1));
    appendU32(out, static_cast<quint32>(request.workingDirectory.size()));
    out.append(request.workingDirectory);
    for (const QByteArray &a : request.arguments) {
        appendU32(out, static_cast<quint32>(a.size()));
        out.append(a);
    }
    return out;
}

std::optional<SingleInstance::Request> SingleInstance::decode(const QByteArray &bytes, bool *malformed,
                                                              QString *why)
{
    auto fail = [&](const QString &reason) -> std::optional<Request> {
        *malformed = true;
        if (why)
            *why = reason;
        return std::nullopt;
    };
    *malformed = false;
    if (bytes.size() > maxRequestBytes)
        return fail(QStringLiteral("too long"));
    const qsizetype head = qMin(bytes.size(), kMagic.size());
    if (bytes.left(head) != kMagic.left(head))
        return fail(QStringLiteral("not a request of this program"));
    if (bytes.size() < kMagic.size() + 4)
        return std::nullopt;
    const quint32 count = readU32(bytes, kMagic.size());
    if (count < 1 || count > static_cast<quint32>(maxArguments) + 1)
        return fail(QStringLiteral("bad argument count"));
    qsizetype at = kMagic.size() + 4;
    Request request;
    for (quint32 i = 0; i < count; ++i) {
        if (bytes.size() < at + 4)
            return std::nullopt;
        const quint32 len = readU32(bytes, at);
        if (len > static_cast<quint32>(maxElementBytes))
            return fail(QStringLiteral("argument too long"));
        at += 4;
        if (bytes.size() < at + static_cast<qsizetype>(len))
            return std::nullopt;
        const QByteArray element = bytes.mid(at, len);
        at += len;
        if (i == 0)
            request.workingDirectory = element;
        else
            request.arguments.append(element);
    }
    if (at != bytes.size())
        return fail(QStringLiteral("trailing bytes"));
    return request;
}

bool SingleInstance::sendToRunningInstance(const QString &socketPath, const Request &request, int timeoutMs,
                                           QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    if (path.isEmpty() || path.size() >= static_cast<qsizetype>(sizeof addr.sun_path))
        return fail(QStringLiteral("no usable socket path"));
    std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));

    QElapsedTimer clock;
    clock.start();
    int fd = -1;
    // The running process may still be starting up: retry until it listens.
    for (;;) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return fail(QString::fromLocal8Bit(std::strerror(errno)));
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0)
            break;
        const int err = errno;
        ::close(fd);
        fd = -1;
        if (err != ENOENT && err != ECONNREFUSED && err != EAGAIN && err != EINTR)
            return fail(QString::fromLocal8Bit(std::strerror(err)));
        if (remainingMs(clock, timeoutMs) == 0)
            return fail(QStringLiteral("the running Vorna does not answer"));
        ::usleep(50 * 1000);
    }

    const QByteArray bytes = encode(request);
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        if (!waitFor(fd, POLLOUT, clock, timeoutMs)) {
            ::close(fd);
            return fail(QStringLiteral("timed out while sending"));
        }
        const ssize_t n = ::send(fd, bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            const int err = errno;
            ::close(fd);
            return fail(QString::fromLocal8Bit(std::strerror(err)));
        }
        sent += n;
    }

    QByteArray reply;
    while (!reply.contains('\n') && reply.size() < 16) {
        if (!waitFor(fd, POLLIN, clock, timeoutMs)) {
            ::close(fd);
            return fail(QStringLiteral("no answer from the running Vorna"));
        }
        char buf[16];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        reply.append(buf, n);
    }
    ::close(fd);
    if (reply == kAccepted)
        return true;
    return fail(reply.isEmpty() ? QStringLiteral("the running Vorna closed the connection")
                                : QStringLiteral("the running Vorna refused the request"));
}
