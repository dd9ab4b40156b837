#include "support/CompositingManager.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

bool CompositingManager::selectionOwned()
{
    int screen = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.constData()), nullptr);
    bool owned = false;
    if (atom) {
        xcb_get_selection_owner_reply_t *owner =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
        owned = owner && owner->owner != XCB_NONE;
        std::free(owner);
    }
    std::free(atom);
    xcb_disconnect(c);
    return owned;
}

const char *CompositingManager::name(Kind kind)
{
    switch (kind) {
    case Kind::plain: return "xcompmgr";
    case Kind::xcompmgrFading: return "xcompmgr -f";
    case Kind::picomFading: return "picom --fading";
    }
    return "";
}

bool CompositingManager::start()
{
    if (m_pid > 0)
        return true;
    const QString executable = QString::fromLatin1(m_kind == Kind::picomFading ? "picom" : "xcompmgr");
    const QString program = QStandardPaths::findExecutable(executable);
    if (program.isEmpty()) {
        m_error = executable + QStringLiteral(" is not installed");
        return false;
    }
    if (selectionOwned()) {
        m_error = QStringLiteral("another compositing manager runs on this display");
        return false;
    }
    const QByteArray path = program.toLocal8Bit();
    const Kind kind = m_kind;
    const pid_t pid = ::fork();
    if (pid < 0) {
        m_error = QStringLiteral("fork failed");
        return false;
    }
    if (pid == 0) {
        switch (kind) {
        case Kind::plain:
            // Plain compositing: no shadows or fades, so that what is on
            // screen is exactly the windows' pixels.
            ::execl(path.constData(), "xcompmgr", "-n", static_cast<char *>(nullptr));
            break;
        case Kind::xcompmgrFading:
            ::execl(path.constData(), "xcompmgr", "-n", "-f", static_cast<char *>(nullptr));
            break;
        case Kind::picomFading:
            // No configuration file (the system's may turn on shadows), and
            // X Render: Xvfb has no OpenGL.
            ::execl(path.constData(), "picom", "--config", "/dev/null", "--backend", "xrender", "--fading",
                    static_cast<char *>(nullptr));
            break;
        }
        _exit(127);
    }
    m_pid = pid;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 5000) {
        if (selectionOwned())
            return true;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_error = executable + QStringLiteral(" exited at start");
            return false;
        }
        QThread::msleep(10);
    }
    stop();
    m_error = executable + QStringLiteral(" never took the compositing selection");
    return false;
}

void CompositingManager::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    // The selection goes with the process's connection; wait until the
    // server has noticed, so the next test starts on a plain screen.
    QElapsedTimer waited;
    waited.start();
    while (selectionOwned() && waited.elapsed() < 2000)
        QThread::msleep(10);
}

CompositingManager::~CompositingManager()
{
    stop();
}
