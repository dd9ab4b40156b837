#include "support/PrivateSessionBus.h"

#include "platform/FileManagerReveal.h"

PrivateSessionBus::PrivateSessionBus()
{
    m_process.start(QStringLiteral("dbus-run-session"),
                    {QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                     QStringLiteral("echo \"$DBUS_SESSION_BUS_ADDRESS\"; exec cat")});
    if (m_process.waitForStarted(5000) && m_process.waitForReadyRead(10000))
        m_address = QString::fromUtf8(m_process.readLine()).trimmed();
    if (m_address.isEmpty())
        return;
    const QDBusConnection client = connect(QStringLiteral("vorna-test-client"));
    FileManagerReveal::setBus(&client);
}

PrivateSessionBus::~PrivateSessionBus()
{
    FileManagerReveal::setBus(nullptr);
    for (const QString &name : m_connections)
        QDBusConnection::disconnectFromBus(name);
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

QDBusConnection PrivateSessionBus::connect(const QString &name)
{
    m_connections.append(name);
    return QDBusConnection::connectToBus(m_address, name);
}
