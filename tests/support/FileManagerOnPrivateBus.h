#pragma once

#include "support/FakeFileManager.h"
#include "support/PrivateSessionBus.h"

#include <QDBusConnection>
#include <QStandardPaths>

#include <gtest/gtest.h>

// A private session bus with a fake file manager on it, for the length of a
// test; the reveal path talks to this bus meanwhile.
class FileManagerOnPrivateBus
{
public:
    // Starts the bus and puts the file manager on it; false, with the reason
    // reported as a test failure, when that cannot be done.
    bool start()
    {
        if (QStandardPaths::findExecutable("dbus-run-session").isEmpty()) {
            ADD_FAILURE() << "dbus-run-session is missing (Debian package dbus-daemon)";
            return false;
        }
        if (m_bus.address().isEmpty()) {
            ADD_FAILURE() << "the private session bus did not start";
            return false;
        }
        m_service = m_bus.connect("vorna-test-file-manager");
        if (!m_service.isConnected() || !fileManager.registerOn(m_service)) {
            ADD_FAILURE() << "the fake file manager could not join the bus";
            return false;
        }
        return true;
    }
    // Takes the file manager's name off the bus, as if none ran.
    bool leave() { return m_service.unregisterService(FileManagerReveal::service); }

    FakeFileManager fileManager;

private:
    PrivateSessionBus m_bus;
    QDBusConnection m_service{QString()};
};
