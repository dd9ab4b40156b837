#include "platform/DesktopCompositor.h"

#include <QByteArray>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>

bool DesktopCompositor::isRunning()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    if (!c)
        return false;
    // A compositing manager owns the selection _NET_WM_CM_S<screen>.
    const QByteArray name = QByteArrayLiteral("_NET_WM_CM_S0");
    auto atomCookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.constData());
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(c, atomCookie, nullptr);
    if (!atom)
        return false;
    auto ownerCookie = xcb_get_selection_owner(c, atom->atom);
    std::free(atom);
    xcb_get_selection_owner_reply_t *owner = xcb_get_selection_owner_reply(c, ownerCookie, nullptr);
    if (!owner)
        return false;
    const bool running = owner->owner != XCB_NONE;
    std::free(owner);
    return running;
}
