// The floating preview on a real X server: a shadowed panel that the window
// manager is told to keep on every workspace.
#include "platform/X11Connection.h"
#include "windows/FloatingPreviewController.h"
#include "windows/FloatingPreviewView.h"

#include <QApplication>
#include <QGuiApplication>
#include <QProcess>
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
        EXPECT_TRUE(QTest::qWaitFor([&] { return QToolTip::isVisible() && QToolTip::text() == text; }, 3000))
            << label << ": " << QToolTip::text().toStdString();
    }
    EXPECT_NE(QApplication::activeWindow(), panel);
    EXPECT_EQ(focusNow(), focusBefore);
    EXPECT_NE(focusNow(), static_cast<xcb_window_t>(panel->winId()));
    QProcess::execute("xdotool", {"mousemove", "--sync", "5", "5"});
    controller.dismiss();
}
