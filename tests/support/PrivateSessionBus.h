#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

// A session bus of our own for the length of a test, so no test talks to the
// desktop's bus: dbus-run-session runs a shell that prints the bus address
// and waits for its input to close. The bus has a configuration of its own
// that names no service folders, so nothing installed on the machine (a
// file manager, say) is started on it: it holds only what the test puts
// there. The reveal path uses this bus while the object lives.
class PrivateSessionBus
{
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    // Empty when the bus could not be started.
    QString address() const { return m_address; }
    // A further connection to the bus, such as one for a fake service;
    // closed with the bus.
    QDBusConnection connect(const QString &name);

private:
    QTemporaryFile m_config;
    QProcess m_process;
    QString m_address;
    QStringList m_connections;
};
