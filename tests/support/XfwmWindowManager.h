#pragma once

#include <QString>

#include <sys/types.h>

// xfwm4, the window manager of the XFCE desktop, on the test's X server
// ($DISPLAY) for the life of the object. It runs on a session bus of its own,
// where it finds its settings daemon, and in a process group of its own, so
// that stop() ends the manager, the bus and the daemon together. start()
// returns once the manager owns the screen's WM_S<n> selection and has said
// which hints it supports.
class XfwmWindowManager
{
public:
    XfwmWindowManager() = default;
    ~XfwmWindowManager();
    XfwmWindowManager(const XfwmWindowManager &) = delete;
    XfwmWindowManager &operator=(const XfwmWindowManager &) = delete;

    // False when a program is missing, another window manager runs, or the
    // manager never came up; error() says which.
    bool start(bool compositor = false);
    void stop();

    QString error() const { return m_error; }

    // Whether any client owns the window manager selection of the default
    // screen right now.
    static bool selectionOwned();

private:
    pid_t m_pid = -1; // dbus-run-session, the leader of the group
    QString m_error;
};
