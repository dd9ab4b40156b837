#pragma once

#include <QString>

#include <sys/types.h>

// A real compositing manager on the test's X server ($DISPLAY) for the life
// of the object. start() returns once the manager owns the screen's
// _NET_WM_CM_S<n> selection, the way desktops announce one.
class CompositingManager
{
public:
    enum class Kind {
        plain,          // xcompmgr without shadows or fades: the windows' pixels
        xcompmgrFading, // xcompmgr -f: windows fade in and out, its default steps
        picomFading,    // picom --fading (X Render, no configuration file)
    };

    explicit CompositingManager(Kind kind = Kind::plain) : m_kind(kind) {}
    ~CompositingManager();
    CompositingManager(const CompositingManager &) = delete;
    CompositingManager &operator=(const CompositingManager &) = delete;

    static const char *name(Kind kind);

    // False when the program is missing or never took the selection; error()
    // says which.
    bool start();
    void stop();

    bool isRunning() const { return m_pid > 0; }
    // The manager's process, for a test that holds it up (SIGSTOP) to play
    // a manager slow to draw its next frame.
    pid_t pid() const { return m_pid; }
    QString error() const { return m_error; }

    // Whether any client owns the compositing selection of the default
    // screen right now.
    static bool selectionOwned();

private:
    Kind m_kind = Kind::plain;
    pid_t m_pid = -1;
    QString m_error;
};
