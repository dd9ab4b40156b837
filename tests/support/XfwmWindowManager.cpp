#include "support/XfwmWindowManager.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

xcb_atom_t internAtom(xcb_connection_t *c, const QByteArray &name)
{
    xcb_intern_atom_reply_t *r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.constData()), nullptr);
    const xcb_atom_t atom = r ? r->atom : XCB_NONE;
    std::free(r);
    return atom;
}

// Whether the selection WM_S<screen> has an owner and, when asked, whether
// the root window's _NET_SUPPORTED lists _NET_WM_MOVERESIZE (the manager
// sets it once it has taken the screen).
bool managerReady(bool needHints)
{
    int screen = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    bool ready = false;
    const xcb_atom_t selection = internAtom(c, "WM_S" + QByteArray::number(screen));
    if (selection != XCB_NONE) {
        xcb_get_selection_owner_reply_t *owner =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
        ready = owner && owner->owner != XCB_NONE;
        std::free(owner);
    }
    if (ready && needHints) {
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; i < screen && it.rem; ++i)
            xcb_screen_next(&it);
        const xcb_atom_t supported = internAtom(c, "_NET_SUPPORTED");
        const xcb_atom_t moveResize = internAtom(c, "_NET_WM_MOVERESIZE");
        xcb_get_property_reply_t *r = xcb_get_property_reply(
            c, xcb_get_property(c, 0, it.data->root, supported, XCB_ATOM_ATOM, 0, 1024), nullptr);
        ready = false;
        if (r && r->format == 32) {
            const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(r));
            for (int i = 0; i < xcb_get_property_value_length(r) / 4; ++i)
                ready = ready || atoms[i] == moveResize;
        }
        std::free(r);
    }
    xcb_disconnect(c);
    return ready;
}

} // namespace

bool XfwmWindowManager::selectionOwned()
{
    return managerReady(false);
}

bool XfwmWindowManager::start(bool compositor)
{
    if (m_pid > 0)
        return true;
    const QString runner = QStandardPaths::findExecutable(QStringLiteral("dbus-run-session"));
    const QString xfwm = QStandardPaths::findExecutable(QStringLiteral("xfwm4"));
    if (runner.isEmpty() || xfwm.isEmpty()) {
        m_error = runner.isEmpty() ? QStringLiteral("dbus-run-session is not installed")
                                   : QStringLiteral("xfwm4 is not installed");
        return false;
    }
    if (selectionOwned()) {
        m_error = QStringLiteral("another window manager runs on this display");
        return false;
    }
    const QByteArray runnerPath = runner.toLocal8Bit();
    const QByteArray xfwmPath = xfwm.toLocal8Bit();
    const char *compositorArg = compositor ? "--compositor=on" : "--compositor=off";
    const pid_t pid = ::fork();
    if (pid < 0) {
        m_error = QStringLiteral("fork failed");
        return false;
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        // Its chatter (no session manager, and so on) stays out of the
        // test's output; GTK's accessibility bus is not needed.
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
        ::setenv("NO_AT_BRIDGE", "1", 1);
        ::execl(runnerPath.constData(), "dbus-run-session", "--", xfwmPath.constData(), compositorArg,
                static_cast<char *>(nullptr));
        _exit(127);
    }
    ::setpgid(pid, pid);
    m_pid = pid;
    // Its settings daemon is started on demand: generous on a busy machine.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 30000) {
        if (managerReady(true))
            return true;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_error = QStringLiteral("xfwm4 exited at start");
            return false;
        }
        QThread::msleep(20);
    }
    stop();
    m_error = QStringLiteral("xfwm4 never took the screen");
    return false;
}

void XfwmWindowManager::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(-m_pid, SIGTERM);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    // The selection goes with the manager's connection; wait until the
    // server has noticed, so the next test starts without a manager.
    QElapsedTimer waited;
    waited.start();
    while (selectionOwned() && waited.elapsed() < 30000)
        QThread::msleep(10);
}

XfwmWindowManager::~XfwmWindowManager()
{
    stop();
}
