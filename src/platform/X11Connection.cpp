#include "platform/X11Connection.h"

#include <QByteArray>
#include <QGuiApplication>

namespace {
// Qt opens the display's default screen: the number after the dot in
// DISPLAY (":1.0"), 0 when there is none.
int defaultScreenNumber()
{
    const QByteArray d = qgetenv("DISPLAY");
    const int colon = d.lastIndexOf(':');
    const int dot = d.lastIndexOf('.');
    return (colon >= 0 && dot > colon) ? d.mid(dot + 1).toInt() : 0;
}
} // namespace

xcb_connection_t *X11Connection::connection()
{
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t X11Connection::rootWindow()
{
    xcb_connection_t *c = connection();
    if (!c)
        return XCB_NONE;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = defaultScreenNumber(); i > 0 && it.rem; --i)
        xcb_screen_next(&it);
    return it.rem ? it.data->root : XCB_NONE;
}
