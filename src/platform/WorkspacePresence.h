#pragma once

class QWindow;

// Keeps a window on every workspace of the desktop, as a panel that follows
// the user from one workspace to the next. On X11 that is the window's
// _NET_WM_DESKTOP 0xFFFFFFFF and the _NET_WM_STATE_STICKY state: set on the
// window itself before it is shown (the window manager reads them when it
// maps the window), and asked of the window manager when it is on screen
// already. Elsewhere nothing happens.
class WorkspacePresence
{
public:
    WorkspacePresence() = delete;

    // True when the hints went out (an X11 display and a window).
    static bool showOnEveryWorkspace(QWindow *window);
};
