#include "platform/ClipboardRequestHold.h"

#include "platform/X11Connection.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QPointer>

#include <cstring>
#include <utility>
#include <vector>

namespace {

class Hold : public QObject, public QAbstractNativeEventFilter
{
public:
    Hold(xcb_connection_t *c, xcb_atom_t clipboard, xcb_atom_t target, std::function<bool()> shouldHold,
         QObject *parent)
        : QObject(parent), m_connection(c), m_clipboard(clipboard), m_target(target),
          m_shouldHold(std::move(shouldHold))
    {
    }

    void release()
    {
        if (m_held.empty())
            return;
        for (const xcb_selection_request_event_t &request : std::exchange(m_held, {})) {
            // A sent event is 32 bytes; this one is shorter.
            char event[32] = {};
            std::memcpy(event, &request, sizeof request);
            event[0] = XCB_SELECTION_REQUEST;
            xcb_send_event(m_connection, 0, request.owner, XCB_EVENT_MASK_NO_EVENT, event);
        }
        xcb_flush(m_connection);
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != XCB_SELECTION_REQUEST)
            return false;
        const auto *request = reinterpret_cast<const xcb_selection_request_event_t *>(event);
        // At quit Qt answers a clipboard manager itself, with no event loop
        // left to release what is held.
        if (request->selection != m_clipboard || request->target != m_target || !m_shouldHold()
            || QCoreApplication::closingDown())
            return false;
        m_held.push_back(*request);
        return true;
    }

private:
    xcb_connection_t *m_connection;
    xcb_atom_t m_clipboard;
    xcb_atom_t m_target;
    std::function<bool()> m_shouldHold;
    std::vector<xcb_selection_request_event_t> m_held;
};

// The one hold, while the application lasts.
QPointer<Hold> g_hold;

} // namespace

void ClipboardRequestHold::start(const QString &mimeType, std::function<bool()> shouldHold)
{
    if (g_hold)
        return;
    xcb_connection_t *c = X11Connection::connection();
    QCoreApplication *app = QCoreApplication::instance();
    if (!c || !app)
        return;
    const QByteArray type = mimeType.toUtf8();
    const std::vector<xcb_atom_t> atoms = X11Connection::atoms({"CLIPBOARD", type.constData()});
    if (atoms[0] == XCB_ATOM_NONE || atoms[1] == XCB_ATOM_NONE)
        return;
    g_hold = new Hold(c, atoms[0], atoms[1], std::move(shouldHold), app);
    app->installNativeEventFilter(g_hold);
}

void ClipboardRequestHold::release()
{
    if (g_hold)
        g_hold->release();
}
