#include "platform/WorkspacePresence.h"

#include "platform/X11Connection.h"

#include <QWindow>

namespace {

constexpr quint32 kEveryDesktop = 0xFFFFFFFF;
constexpr quint32 kStateAdd = 1;
constexpr quint32 kSourceApplication = 1;

void sendToWindowManager(xcb_connection_t *c, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                         std::initializer_list<quint32> data)
{
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    int i = 0;
    for (quint32 d : data)
        event.data.data32[i++] = d;
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

} // namespace

bool WorkspacePresence::showOnEveryWorkspace(QWindow *window)
{
    xcb_connection_t *c = X11Connection::connection();
    if (!c || !window)
        return false;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const std::vector<xcb_atom_t> names = X11Connection::atoms({"_NET_WM_DESKTOP", "_NET_WM_STATE", "_NET_WM_STATE_STICKY"});
    const xcb_atom_t desktop = names[0];
    const xcb_atom_t state = names[1];
    const xcb_atom_t sticky = names[2];
    if (desktop == XCB_NONE || state == XCB_NONE || sticky == XCB_NONE)
        return false;

    if (window->isVisible()) {
        // Mapped: the window manager owns these properties now.
        const xcb_window_t root = X11Connection::rootWindow();
        sendToWindowManager(c, root, id, desktop, {kEveryDesktop, kSourceApplication});
        sendToWindowManager(c, root, id, state, {kStateAdd, sticky, XCB_ATOM_NONE, kSourceApplication});
    } else {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, desktop, XCB_ATOM_CARDINAL, 32, 1, &kEveryDesktop);
        // Qt adds its own states to these when it shows the window.
        xcb_change_property(c, XCB_PROP_MODE_APPEND, id, state, XCB_ATOM_ATOM, 32, 1, &sticky);
    }
    xcb_flush(c);
    return true;
}
