#include "support/PrivateSessionBus.h"

#include "platform/FileManagerReveal.h"

#include <QDir>

namespace {

// The standard session configuration without its service folders and
// included files: no name on this bus is ever activated.
QByteArray busConfiguration()
{
    return QByteArrayLiteral(
               "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <type>session</type>\n"
               "  <keep_umask/>\n"
               "  <listen>unix:tmpdir=")
           + QDir::tempPath().toHtmlEscaped().toUtf8()
           + QByteArrayLiteral("</listen>\n"
                               "  <auth>EXTERNAL</auth>\n"
                               "  <policy context=\"default\">\n"
                               "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                               "    <allow eavesdrop=\"true\"/>\n"
                               "    <allow own=\"*\"/>\n"
                               "  </policy>\n"
                               "</busconfig>\n");
}

} // namespace

PrivateSessionBus::PrivateSessionBus()
{
    const QByteArray config = busConfiguration();
    if (!m_config.open() || m_config.write(config) != config.size() || !m_config.flush())
        return;
    m_process.start(QStringLiteral("dbus-run-session"),
                    {QStringLiteral("--config-file=") + m_config.fileName(), QStringLiteral("--"),
                     QStringLiteral("sh"), QStringLiteral("-c"),
                     QStringLiteral("echo \"$DBUS_SESSION_BUS_ADDRESS\"; exec cat")});
    if (m_process.waitForStarted(30000) && m_process.waitForReadyRead(30000))
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
        m_process.waitForFinished(30000);
    }
}

QDBusConnection PrivateSessionBus::connect(const QString &name)
{
    m_connections.append(name);
    return QDBusConnection::connectToBus(m_address, name);
}
