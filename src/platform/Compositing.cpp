#include "platform/Compositing.h"

#include "platform/X11Connection.h"

#include <QByteArray>
#include <QGuiApplication>
#include <cstdlib>
#include <optional>

namespace {
std::optional<bool> g_override;
} // namespace

bool Compositing::isActive()
{
    if (g_override)
        return *g_override;
    xcb_connection_t *c = X11Connection::connection();
    if (!c)
        return QGuiApplication::platformName() != QLatin1String("xcb");
    // A compositing manager owns the selection _NET_WM_CM_S<screen number>.
    const xcb_window_t root = X11Connection::rootWindow();
    int screenNumber = 0;
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem;
         xcb_screen_next(&it), ++screenNumber) {
        if (it.data->root == root)
            break;
    }
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screenNumber);
    const xcb_atom_t selection = X11Connection::atoms({name.constData()}).front();
    if (selection == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t *owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    const bool active = owner && owner->owner != XCB_NONE;
    std::free(owner);
    return active;
}

void Compositing::setOverride(bool active)
{
    g_override = active;
}

void Compositing::clearOverride()
{
    g_override.reset();
}
