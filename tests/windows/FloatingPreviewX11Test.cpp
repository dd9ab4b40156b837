// The floating preview on a real X server: a shadowed panel that the window
// manager is told to keep on every workspace, and that a window manager which
// moves windows itself (xfwm4) moves only when it is dragged.
#include "platform/X11Connection.h"
#include "platform/X11GlobalHotKeys.h"
#include "support/XfwmWindowManager.h"
#include "windows/FloatingPreviewController.h"
#include "windows/FloatingPreviewView.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace {

xcb_atom_t atom(const char *name)
{
    xcb_connection_t *c = X11Connection::connection();
    auto *r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : XCB_NONE;
    std::free(r);
    return a;
}

// The 32-bit values of a window property.
QList<quint32> property(xcb_window_t window, const char *name, xcb_atom_t type)
{
    xcb_connection_t *c = X11Connection::connection();
    auto *r = xcb_get_property_reply(c, xcb_get_property(c, 0, window, atom(name), type, 0, 64), nullptr);
    QList<quint32> values;
    if (r && r->format == 32) {
        const auto *data = static_cast<const quint32 *>(xcb_get_property_value(r));
        for (int i = 0; i < xcb_get_property_value_length(r) / 4; ++i)
            values << data[i];
    }
    std::free(r);
    return values;
}

void xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

// What of the pointer reaches a widget: the left button's releases, and
// where the last move with the button held went.
class PointerWatch : public QObject
{
public:
    explicit PointerWatch(QObject *watched) { watched->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::MouseButtonRelease && event->type() != QEvent::MouseMove)
            return false;
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (event->type() == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton)
            ++releases;
        else if (event->type() == QEvent::MouseMove && (mouse->buttons() & Qt::LeftButton))
            lastDrag = mouse->globalPosition().toPoint();
        return false;
    }
    int releases = 0;
    QPoint lastDrag;
};

// Returns once the window manager has handled every request sent before:
// it is asked for the frame extents of a window of ours, and answers in
// turn.
bool roundTripWithWindowManager()
{
    xcb_connection_t *c = X11Connection::connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom("_NET_REQUEST_FRAME_EXTENTS");
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(c);
    const bool answered = QTest::qWaitFor(
        [&] { return !property(window, "_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL).isEmpty(); }, 30000);
    xcb_destroy_window(c, window);
    xcb_flush(c);
    return answered;
}

} // namespace

TEST(FloatingPreviewX11, IsAShadowedPanelOnEveryWorkspace)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    FloatingPreviewController controller;
    QImage image(400, 250, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    controller.show(image, 30, {});
    QWidget *panel = controller.panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(panel->windowFlags() & Qt::NoDropShadowWindowHint);
    const auto window = static_cast<xcb_window_t>(panel->winId());
    EXPECT_EQ(property(window, "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL), QList<quint32>{0xFFFFFFFFu});
    // Showing the window kept the state next to the toolkit's own.
    const QList<quint32> states = property(window, "_NET_WM_STATE", XCB_ATOM_ATOM);
    EXPECT_TRUE(states.contains(atom("_NET_WM_STATE_STICKY")));
    EXPECT_TRUE(states.contains(atom("_NET_WM_STATE_ABOVE")));
    controller.dismiss();
}

// The real pointer resting on a button of a panel that never gets the input
// focus shows the button's tooltip; the focus stays where it was.
TEST(FloatingPreviewX11, TheRealPointerOnAButtonShowsItsTooltip)
{
    FloatingPreviewController controller;
    QImage image(400, 250, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    controller.show(image, 30, {});
    QWidget *panel = controller.panel();
    ASSERT_NE(panel, nullptr);
    auto *view = panel->findChild<FloatingPreviewView *>();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    xcb_connection_t *c = X11Connection::connection();
    const auto focusNow = [c] {
        auto *r = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
        const xcb_window_t focus = r ? r->focus : XCB_NONE;
        std::free(r);
        return focus;
    };
    const xcb_window_t focusBefore = focusNow();
    for (const auto &[button, label] : {std::pair{view->editButton(), "Open in Editor"},
                                       std::pair{view->copyButton(), "Copy to Clipboard"},
                                       std::pair{view->saveButton(), "Save"}}) {
        // A copy the lambda can take (clang 14 captures no structured binding).
        const QString text = QString::fromUtf8(label);
        const QPoint at = button->mapToGlobal(button->rect().center());
        ASSERT_EQ(QProcess::execute("xdotool", {"mousemove", "--sync", QString::number(at.x()), QString::number(at.y())}),
                  0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return QToolTip::isVisible() && QToolTip::text() == text; }, 30000))
            << label << ": " << QToolTip::text().toStdString();
    }
    EXPECT_NE(QApplication::activeWindow(), panel);
    EXPECT_EQ(focusNow(), focusBefore);
    EXPECT_NE(focusNow(), static_cast<xcb_window_t>(panel->winId()));
    QProcess::execute("xdotool", {"mousemove", "--sync", "5", "5"});
    controller.dismiss();
}

// A plain click on the picture is no drag: the window manager is not asked
// to move the panel, so it takes no key, and the next press of a global
// shortcut reaches its owner. Dragging the background with the button held
// moves the panel through the window manager, and leaves the keys alone too.
TEST(FloatingPreviewX11, UnderXfwmAClickTakesNoKeyAndADragMovesThePanel)
{
    XfwmWindowManager manager;
    ASSERT_TRUE(manager.start()) << manager.error().toStdString();
    X11GlobalHotKeys keys;
    QSignalSpy shortcut(&keys, &GlobalHotKeys::activated);
    ASSERT_TRUE(keys.grab(1, {10}, GlobalHotKeys::Control | GlobalHotKeys::Shift)); // Ctrl+Shift+1

    FloatingPreviewController controller;
    QImage image(400, 250, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    controller.show(image, 600, {});
    QWidget *panel = controller.panel();
    ASSERT_NE(panel, nullptr);
    auto *view = panel->findChild<FloatingPreviewView *>();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel, 30000));
    // Framed by the manager, and its hints known to the toolkit.
    ASSERT_TRUE(roundTripWithWindowManager());
    QCoreApplication::processEvents();
    PointerWatch pointer(view);
    const QPoint start = panel->pos();
    const QPoint picture = view->mapToGlobal(view->imageRect().center());

    xdotool({"mousemove", "--sync", QString::number(picture.x()), QString::number(picture.y())});
    xdotool({"click", "1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return pointer.releases == 1; }, 30000));
    // Whatever the click asked of the manager has been handled.
    ASSERT_TRUE(roundTripWithWindowManager());
    xdotool({"key", "ctrl+shift+1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return shortcut.count() == 1; }, 30000))
        << "the press after a click on the preview did not reach the shortcut";
    EXPECT_EQ(panel->pos(), start);
    EXPECT_EQ(controller.panel(), panel);

    // A drag: the button held, the pointer moved past the drag distance, then
    // on in steps, and let go. The first step reaches the view, which hands
    // the drag to the manager; the manager moves the panel from there on.
    const auto moveTo = [](QPoint at) {
        xdotool({"mousemove", "--sync", QString::number(at.x()), QString::number(at.y())});
    };
    xdotool({"mousedown", "1"});
    moveTo(picture - QPoint(30, 20));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pointer.lastDrag == picture - QPoint(30, 20); }, 30000));
    ASSERT_TRUE(roundTripWithWindowManager());
    for (int step = 2; step <= 10; ++step)
        moveTo(picture - step * QPoint(30, 20));
    ASSERT_TRUE(roundTripWithWindowManager());
    xdotool({"mouseup", "1"});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return panel->pos().x() <= start.x() - 200 && panel->pos().y() <= start.y() - 130; }, 30000))
        << "moved from (" << start.x() << ", " << start.y() << ") to (" << panel->pos().x() << ", "
        << panel->pos().y() << ")";
    ASSERT_TRUE(roundTripWithWindowManager());
    xdotool({"key", "ctrl+shift+1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return shortcut.count() == 2; }, 30000))
        << "the press after a drag of the preview did not reach the shortcut";
    xdotool({"mousemove", "--sync", "5", "5"});
    controller.dismiss();
}
