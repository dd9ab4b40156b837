#include "platform/Compositing.h"

#include "platform/X11Connection.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QObject>
#include <QPointer>
#include <cstdlib>
#include <optional>

#include <xcb/xfixes.h>

namespace {

std::optional<bool> g_override;

// The owner of the compositing manager's selection, asked of the server
// once and then followed through the XFixes notices Qt's connection
// receives, so that a capture does not wait for the server to answer.
// It lives as long as the application object it is a child of.
class SelectionOwnerWatch : public QObject, public QAbstractNativeEventFilter
{
public:
    static SelectionOwnerWatch *start(xcb_connection_t *c)
    {
        const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
        if (!xfixes || !xfixes->present || !QCoreApplication::instance())
            return nullptr;
        const xcb_atom_t selection = ownerSelection(c);
        if (selection == XCB_ATOM_NONE)
            return nullptr;
        auto *watch = new SelectionOwnerWatch(QCoreApplication::instance());
        watch->m_selection = selection;
        watch->m_notifyType = uint8_t(xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY);
        QCoreApplication::instance()->installNativeEventFilter(watch);
        // Notices first, then the answer: a change between the two arrives
        // after the answer and wins.
        xcb_xfixes_select_selection_input(c, X11Connection::rootWindow(), selection,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
                                              | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
                                              | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        watch->m_owned = askOwner(c, selection);
        return watch;
    }

    bool owned() const { return m_owned; }

    // A compositing manager owns the selection _NET_WM_CM_S<screen number>.
    static xcb_atom_t ownerSelection(xcb_connection_t *c)
    {
        const xcb_window_t root = X11Connection::rootWindow();
        int screenNumber = 0;
        for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem;
             xcb_screen_next(&it), ++screenNumber) {
            if (it.data->root == root)
                break;
        }
        const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screenNumber);
        return X11Connection::atoms({name.constData()}).front();
    }

    static bool askOwner(xcb_connection_t *c, xcb_atom_t selection)
    {
        xcb_get_selection_owner_reply_t *owner =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
        const bool owned = owner && owner->owner != XCB_NONE;
        std::free(owner);
        return owned;
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != m_notifyType)
            return false;
        const auto *notice = reinterpret_cast<const xcb_xfixes_selection_notify_event_t *>(event);
        if (notice->selection == m_selection)
            m_owned = notice->owner != XCB_NONE;
        return false; // Qt follows the same selection
    }

private:
    using QObject::QObject;

    xcb_atom_t m_selection = XCB_ATOM_NONE;
    uint8_t m_notifyType = 0;
    bool m_owned = false;
};

QPointer<SelectionOwnerWatch> g_watch;

} // namespace

bool Compositing::isActive()
{
    if (g_override)
        return *g_override;
    xcb_connection_t *c = X11Connection::connection();
    if (!c)
        return QGuiApplication::platformName() != QLatin1String("xcb");
    if (!g_watch)
        g_watch = SelectionOwnerWatch::start(c);
    if (g_watch)
        return g_watch->owned();
    // Without XFixes nothing tells of a change: ask each time.
    const xcb_atom_t selection = SelectionOwnerWatch::ownerSelection(c);
    return selection != XCB_ATOM_NONE && SelectionOwnerWatch::askOwner(c, selection);
}

void Compositing::setOverride(bool active)
{
    g_override = active;
}

void Compositing::clearOverride()
{
    g_override.reset();
}
