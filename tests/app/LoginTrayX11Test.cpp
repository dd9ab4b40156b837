// The real program started at login, with the panel that holds the system
// tray coming up a moment after it, as it often does.
#include "platform/LoginItem.h"

#include <QProcess>
#include <QSet>
#include <QTest>
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

xcb_atom_t intern(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// A system tray of the XEmbed kind, on a connection of its own: it takes the
// tray selection of screen 0 and tells every client so, as a panel does when
// it starts, and notes the icon windows that ask to be docked.
class XEmbedTray
{
public:
    XEmbedTray() : m_c(xcb_connect(nullptr, nullptr)) {}
    ~XEmbedTray() { xcb_disconnect(m_c); }

    bool start()
    {
        if (xcb_connection_has_error(m_c))
            return false;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
        const xcb_atom_t selection = intern(m_c, "_NET_SYSTEM_TRAY_S0");
        const xcb_atom_t manager = intern(m_c, "MANAGER");
        m_opcode = intern(m_c, "_NET_SYSTEM_TRAY_OPCODE");
        m_window = xcb_generate_id(m_c);
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_window, m_root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(m_c, m_window, selection, XCB_CURRENT_TIME);
        xcb_get_selection_owner_reply_t *owner =
            xcb_get_selection_owner_reply(m_c, xcb_get_selection_owner(m_c, selection), nullptr);
        const bool owned = owner && owner->owner == m_window;
        std::free(owner);
        if (!owned)
            return false;
        xcb_client_message_event_t announce = {};
        announce.response_type = XCB_CLIENT_MESSAGE;
        announce.format = 32;
        announce.window = m_root;
        announce.type = manager;
        announce.data.data32[0] = XCB_CURRENT_TIME;
        announce.data.data32[1] = selection;
        announce.data.data32[2] = m_window;
        xcb_send_event(m_c, 0, m_root, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char *>(&announce));
        xcb_flush(m_c);
        return true;
    }

    // The icon windows that asked to be docked so far.
    QSet<xcb_window_t> dockedIcons()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_c)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto *message = reinterpret_cast<const xcb_client_message_event_t *>(event);
                if (message->type == m_opcode && message->data.data32[1] == 0) // SYSTEM_TRAY_REQUEST_DOCK
                    m_docked.insert(message->data.data32[2]);
            }
            std::free(event);
        }
        return m_docked;
    }

    // The mapped top-level windows with this title, but for docked icons.
    QList<xcb_window_t> shownWindowsTitled(const QByteArray &title)
    {
        const QSet<xcb_window_t> icons = dockedIcons();
        const xcb_atom_t netName = intern(m_c, "_NET_WM_NAME");
        QList<xcb_window_t> found;
        xcb_query_tree_reply_t *tree = xcb_query_tree_reply(m_c, xcb_query_tree(m_c, m_root), nullptr);
        if (!tree)
            return found;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            const xcb_window_t w = children[i];
            xcb_get_window_attributes_reply_t *attributes =
                xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, w), nullptr);
            const bool shown = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(attributes);
            if (!shown || icons.contains(w))
                continue;
            xcb_get_property_reply_t *name = xcb_get_property_reply(
                m_c, xcb_get_property(m_c, 0, w, netName, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
            if (name && QByteArray(static_cast<const char *>(xcb_get_property_value(name)),
                                   xcb_get_property_value_length(name)) == title)
                found << w;
            std::free(name);
        }
        std::free(tree);
        return found;
    }

private:
    xcb_connection_t *m_c;
    xcb_window_t m_root = XCB_NONE;
    xcb_window_t m_window = XCB_NONE;
    xcb_atom_t m_opcode = XCB_ATOM_NONE;
    QSet<xcb_window_t> m_docked;
};

QProcessEnvironment programEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    // The tray is the XEmbed one of the test, not one on a session bus.
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    return env;
}

bool waitForOutput(QProcess &p, const QString &fragment, int ms)
{
    return QTest::qWaitFor([&] {
        p.waitForReadyRead(20);
        return QString::fromUtf8(p.peek(1 << 20)).contains(fragment);
    }, ms);
}

} // namespace

// Started from its autostart entry before the panel, Vorna waits for the
// tray instead of opening its main window, even when the panel takes a few
// seconds; once the icon is in the tray, a later `vorna` shows the window.
TEST(LoginTray, AStartAtLoginWaitsForATrayThatComesLaterAndAnotherStartShowsTheWindow)
{
    QProcess vorna;
    vorna.setProcessEnvironment(programEnvironment());
    vorna.setProcessChannelMode(QProcess::MergedChannels);
    vorna.start(QStringLiteral(VORNA_BINARY_PATH), {LoginItem::launchArgument()});
    ASSERT_TRUE(vorna.waitForStarted(30000));
    auto output = [&] { return QString::fromUtf8(vorna.peek(1 << 20)).toStdString(); };
    ASSERT_TRUE(waitForOutput(vorna, "[Vorna] applicationDidFinishLaunching: done", 30000)) << output();

    // A panel that comes up a few seconds after the program.
    QTest::qWait(3000);
    XEmbedTray tray;
    EXPECT_TRUE(tray.shownWindowsTitled("Vorna").isEmpty()) << "a window opened before the tray came: " << output();
    ASSERT_TRUE(tray.start()) << "could not take the tray selection";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !tray.dockedIcons().isEmpty(); }, 10000)) << "the icon never docked";
    EXPECT_TRUE(waitForOutput(vorna, "[Vorna] setupStatusItem: a system tray appeared", 10000)) << output();
    EXPECT_TRUE(tray.shownWindowsTitled("Vorna").isEmpty()) << "a window opened: " << output();

    QProcess again;
    again.setProcessEnvironment(programEnvironment());
    again.start(QStringLiteral(VORNA_BINARY_PATH), {});
    ASSERT_TRUE(again.waitForFinished(30000));
    EXPECT_EQ(again.exitCode(), 0);
    EXPECT_TRUE(waitForOutput(vorna, "[Vorna] instance: received 0 argument(s)", 30000)) << output();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !tray.shownWindowsTitled("Vorna").isEmpty(); }, 30000))
        << "starting vorna again showed no window: " << output();

    vorna.terminate();
    ASSERT_TRUE(vorna.waitForFinished(30000));
    EXPECT_EQ(vorna.exitCode(), 0);
}
