#include "platform/SyntheticInput.h"

#include "platform/X11Connection.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>
#include <cstdlib>
#include <xcb/xtest.h>

namespace {
// X works in device pixels. Qt keeps a screen's top-left corner at the same
// place in both spaces and scales the rest by the screen's pixel ratio.
QPoint toDevicePixels(const QPointF &point)
{
    QScreen *screen = QGuiApplication::screenAt(point.toPoint());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return point.toPoint();
    const QPointF origin = screen->geometry().topLeft();
    const QPointF device = origin + (point - origin) * screen->devicePixelRatio();
    return QPoint(int(std::floor(device.x())), int(std::floor(device.y())));
}

void fake(xcb_connection_t *c, uint8_t type, uint8_t detail, xcb_window_t root, int x, int y)
{
    xcb_test_fake_input(c, type, detail, XCB_CURRENT_TIME, root, int16_t(x), int16_t(y), 0);
}
} // namespace

bool SyntheticInput::scrollWheelNotch(const QPointF &globalPoint)
{
    xcb_connection_t *c = X11Connection::connection();
    const xcb_window_t root = X11Connection::rootWindow();
    if (!c || root == XCB_NONE)
        return false;
    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_test_id);
    if (!ext || !ext->present)
        return false;

    xcb_query_pointer_reply_t *pointer = xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr);
    const QPoint target = toDevicePixels(globalPoint);
    constexpr uint8_t wheelDown = 5;
    fake(c, XCB_MOTION_NOTIFY, 0, root, target.x(), target.y());
    fake(c, XCB_BUTTON_PRESS, wheelDown, XCB_NONE, 0, 0);
    fake(c, XCB_BUTTON_RELEASE, wheelDown, XCB_NONE, 0, 0);
    if (pointer && pointer->same_screen)
        fake(c, XCB_MOTION_NOTIFY, 0, root, pointer->root_x, pointer->root_y);
    std::free(pointer);
    // A round trip: the server has handled everything sent before it.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    return true;
}
