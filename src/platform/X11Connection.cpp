#include "platform/X11Connection.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QHash>

#include <cstdlib>
#include <cstring>

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

std::vector<xcb_atom_t> X11Connection::atoms(std::initializer_list<const char *> names)
{
    // Atoms live as long as the server: they are kept for the connection
    // they were asked on.
    static xcb_connection_t *known = nullptr;
    static QHash<QByteArray, xcb_atom_t> cache;
    std::vector<xcb_atom_t> out(names.size(), XCB_ATOM_NONE);
    xcb_connection_t *c = connection();
    if (!c)
        return out;
    if (c != known) {
        cache.clear();
        known = c;
    }
    std::vector<xcb_intern_atom_cookie_t> cookies(names.size());
    std::vector<bool> asked(names.size(), false);
    size_t i = 0;
    for (const char *name : names) {
        if (!cache.contains(QByteArray(name))) {
            cookies[i] = xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name);
            asked[i] = true;
        }
        ++i;
    }
    i = 0;
    for (const char *name : names) {
        if (asked[i]) {
            xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(c, cookies[i], nullptr);
            if (reply && reply->atom != XCB_ATOM_NONE)
                cache.insert(QByteArray(name), reply->atom);
            std::free(reply);
        }
        out[i] = cache.value(QByteArray(name), XCB_ATOM_NONE);
        ++i;
    }
    return out;
}
