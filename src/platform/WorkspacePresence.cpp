#include "platform/WorkspacePresence.h"

#include "platform/X11Connection.h"

#include <QByteArray>
#include <QWindow>
#include <cstdlib>

namespace {

constexpr quint32 kEveryDesktop = 0xFFFFFFFF;
constexpr quint32 kStateAdd = 1;
constexpr quint32 kSourceApplication = 1;

xcb_atom_t atom(xcb_connection_t *c, const QByteArray &name)
{
    auto *reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.constData()), nullptr);
    if (!reply)
        return XCB_NONE;
    const xcb_atom_t a = reply->atom;
    std::free(reply);
    return a;
}

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
    const xcb_atom_t desktop = atom(c, "_NET_WM_DESKTOP");
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const xcb_atom_t sticky = atom(c, "_NET_WM_STATE_STICKY");
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
