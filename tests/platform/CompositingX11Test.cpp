// Whether a compositing manager runs, on the test script's Xvfb (which has
// none): a second client takes and drops the manager's selection.
#include "platform/Compositing.h"

#include <QTest>
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

xcb_atom_t internAtom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

} // namespace

// A manager that starts after the first question, and one that goes away by
// ending its connection, are both seen.
TEST(CompositingX11, FollowsAManagerThatComesAndGoes)
{
    ASSERT_FALSE(Compositing::isActive());

    int screen = 0;
    xcb_connection_t *manager = xcb_connect(nullptr, &screen);
    ASSERT_FALSE(xcb_connection_has_error(manager));
    const xcb_screen_t *root = xcb_setup_roots_iterator(xcb_get_setup(manager)).data;
    const xcb_window_t owner = xcb_generate_id(manager);
    xcb_create_window(manager, XCB_COPY_FROM_PARENT, owner, root->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
    xcb_set_selection_owner(manager, owner, internAtom(manager, name.constData()), XCB_CURRENT_TIME);
    xcb_flush(manager);

    EXPECT_TRUE(QTest::qWaitFor([] { return Compositing::isActive(); }, 30000));

    xcb_disconnect(manager);
    EXPECT_TRUE(QTest::qWaitFor([] { return !Compositing::isActive(); }, 30000));

    // A test's fixed answer still comes first.
    Compositing::setOverride(true);
    EXPECT_TRUE(Compositing::isActive());
    Compositing::clearOverride();
    EXPECT_FALSE(Compositing::isActive());
}
