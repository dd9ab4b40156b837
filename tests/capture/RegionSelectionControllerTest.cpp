#include "capture/RegionSelectionController.h"
#include "capture/RegionSelectionNSView.h"
#include "capture/RegionSelectionWindow.h"

#include "OverlayScreens.h"
#include "platform/Log.h"
#include "support/FakeScreenCapture.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Each screen's picture: one colour per screen at two pixels per point, with
// a white point at (200, 200) and a black one at (201, 200).
const QColor screenColours[] = {QColor(200, 40, 40), QColor(40, 160, 40), QColor(40, 40, 200)};

RegionSelectionController::Snapshots fakeSnapshots()
{
    RegionSelectionController::Snapshots snapshots;
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (qsizetype i = 0; i < screens.size(); ++i) {
        QImage image(screens[i]->geometry().size() * 2, QImage::Format_RGB32);
        image.fill(screenColours[i % 3]);
        QPainter p(&image);
        p.fillRect(400, 400, 2, 2, Qt::white);
        p.fillRect(402, 400, 2, 2, Qt::black);
        p.end();
        image.setDevicePixelRatio(2);
        snapshots.insert(quint32(i), image);
    }
    return snapshots;
}

struct Selection
{
    RegionSelectionController controller;
    int calls = 0;
    std::optional<QRectF> result;

    explicit Selection(bool withSnapshots = true)
    {
        if (withSnapshots)
            controller.setSnapshotSource(fakeSnapshots);
        else
            controller.setSnapshotSource([] { return RegionSelectionController::Snapshots(); });
    }
    void start()
    {
        controller.start([this](std::optional<QRectF> rect) {
            ++calls;
            result = rect;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return !controller.windows().isEmpty(); }, 30000));
    }
    RegionSelectionNSView *view(int screen) const { return controller.windows().at(screen)->contentView(); }
    bool waitForResult() { return QTest::qWaitFor([&] { return calls > 0; }, 30000); }
};

void mouse(QWidget *view, QEvent::Type type, QPointF at, Qt::MouseButton button = Qt::LeftButton)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, at, view->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : button,
                      type == QEvent::MouseMove ? held : held, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &event);
}

void drag(QWidget *view, QPointF from, QPointF to)
{
    mouse(view, QEvent::MouseButtonPress, from);
    mouse(view, QEvent::MouseMove, (from + to) / 2);
    mouse(view, QEvent::MouseMove, to);
    mouse(view, QEvent::MouseButtonRelease, to);
}

void hover(QWidget *view, QPointF at)
{
    QMouseEvent event(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &event);
}

void key(QWidget *view, int k)
{
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &press);
}

} // namespace

TEST(RegionSelection, CoversEveryScreenWithAnOverlay)
{
    ASSERT_EQ(QGuiApplication::screens().size(), 3);
    Selection s;
    s.start();
    const QList<RegionSelectionWindow *> windows = s.controller.windows();
    ASSERT_EQ(windows.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(windows[i]->geometry(), OverlayScreens::geometries()[i]);
        EXPECT_EQ(windows[i]->contentView()->geometry(), QRect(QPoint(), OverlayScreens::geometries()[i].size()));
        EXPECT_TRUE(windows[i]->isVisible());
        const Qt::WindowFlags flags = windows[i]->windowFlags();
        EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
        EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_TRUE(flags.testFlag(Qt::X11BypassWindowManagerHint));
        EXPECT_EQ(windows[i]->contentView()->snapshot().size(), OverlayScreens::geometries()[i].size() * 2);
    }
    EXPECT_EQ(s.calls, 0);
}

// The rectangle comes back in global points with the origin at the primary
// screen's top-left corner, 0.08 s after the overlays are gone.
TEST(RegionSelection, DragOnASecondaryScreenGivesAGlobalRectangleLater)
{
    Selection s;
    s.start();
    const QList<RegionSelectionWindow *> windows = s.controller.windows();
    drag(s.view(1), QPointF(400, 700), QPointF(100, 300)); // lower right to upper left
    EXPECT_TRUE(s.controller.windows().isEmpty());
    for (RegionSelectionWindow *w : windows)
        EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(s.calls, 0);
    QTest::qWait(40);
    EXPECT_EQ(s.calls, 0);
    ASSERT_TRUE(s.waitForResult());
    ASSERT_TRUE(s.result.has_value());
    EXPECT_EQ(*s.result, QRectF(900, 60, 300, 400));

    // The other way round, on the screen left of the primary one.
    Selection t;
    t.start();
    drag(t.view(2), QPointF(10.5, 20.25), QPointF(60.5, 120.25));
    ASSERT_TRUE(t.waitForResult());
    EXPECT_EQ(*t.result, QRectF(-629.5, 320.25, 50, 100));
}

TEST(RegionSelection, SmallSelectionsEscapeAndOtherKeys)
{
    struct Case
    {
        QPointF from, to;
        bool accepted;
    };
    const Case cases[] = {
        {{100, 100}, {100, 100}, false}, // a click
        {{100, 100}, {105, 105}, true},  // exactly 5 by 5
        {{100, 100}, {104.9, 150}, false},
        {{100, 100}, {150, 104.9}, false},
    };
    for (const Case &c : cases) {
        Selection s;
        s.start();
        drag(s.view(0), c.from, c.to);
        ASSERT_TRUE(s.waitForResult());
        EXPECT_EQ(s.result.has_value(), c.accepted) << c.to.x() << "," << c.to.y();
        EXPECT_TRUE(s.controller.windows().isEmpty());
    }

    Selection s;
    s.start();
    key(s.view(2), Qt::Key_A);
    key(s.view(2), Qt::Key_Return);
    QTest::qWait(150);
    EXPECT_EQ(s.calls, 0);
    EXPECT_EQ(s.controller.windows().size(), 3);
    key(s.view(2), Qt::Key_Escape);
    EXPECT_TRUE(s.controller.windows().isEmpty());
    ASSERT_TRUE(s.waitForResult());
    EXPECT_FALSE(s.result.has_value());
    QTest::qWait(150);
    EXPECT_EQ(s.calls, 1);
}

TEST(RegionSelection, SecondStartEndsTheFirstSelection)
{
    Selection s;
    s.start();
    int firstCalls = 0;
    std::optional<QRectF> first = QRectF(1, 1, 1, 1);
    // The first start's completion was replaced by the fixture's; start the
    // controller again with a completion of its own, then once more.
    s.controller.start([&](std::optional<QRectF> r) {
        ++firstCalls;
        first = r;
    });
    ASSERT_TRUE(s.waitForResult());
    EXPECT_FALSE(s.result.has_value());
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.controller.windows().size() == 3; }, 30000));
    drag(s.view(0), QPointF(10, 10), QPointF(30, 40));
    ASSERT_TRUE(QTest::qWaitFor([&] { return firstCalls > 0; }, 30000));
    EXPECT_EQ(first, QRectF(10, 10, 20, 30));
    EXPECT_EQ(s.calls, 1);
}

TEST(RegionSelection, LoupePlacement)
{
    Selection s;
    s.start();
    const RegionSelectionNSView *v = s.view(0); // 800 x 800
    EXPECT_EQ(v->loupeRect(QPointF(0, 0)), QRectF(24, 24, 140, 140));          // flips below at the top
    EXPECT_EQ(v->loupeRect(QPointF(300, 400)), QRectF(324, 236, 140, 140));    // right of and above
    EXPECT_EQ(v->loupeRect(QPointF(700, 400)), QRectF(536, 236, 140, 140));    // flips left near the right edge
    EXPECT_EQ(v->loupeRect(QPointF(700, 100)), QRectF(536, 124, 140, 140));    // both near the top right corner
    EXPECT_EQ(v->loupeRect(QPointF(636, 164)), QRectF(660, 0, 140, 140));      // exactly fits
    EXPECT_EQ(RegionSelectionNSView::sizeLabelText(QRectF(0, 0, 320.9, 200.2)), QStringLiteral("320 \u00D7 200"));
    const QRectF label = v->sizeLabelRect(QRectF(100, 100, 200, 50));
    EXPECT_EQ(label.top(), 154);
    EXPECT_NEAR(label.center().x(), 200, 0.01);
}

namespace {
QImage render(QWidget *view)
{
    return view->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool near(QRgb a, QColor b, int tolerance = 3)
{
    return std::abs(qRed(a) - b.red()) <= tolerance && std::abs(qGreen(a) - b.green()) <= tolerance
        && std::abs(qBlue(a) - b.blue()) <= tolerance;
}

QColor dimmed(QColor c)
{
    return QColor(qRound(c.red() * 0.85), qRound(c.green() * 0.85), qRound(c.blue() * 0.85));
}
} // namespace

// The overlay paints its screen's picture, dimmed, with the selection cut out
// clear; the loupe shows the 21 points around the pointer, each a sharp
// block of about 6.7 points.
TEST(RegionSelection, DrawsTheDimmedScreenSelectionAndLoupe)
{
    Selection s;
    s.start();
    RegionSelectionNSView *v = s.view(0);
    const QColor colour = screenColours[0];
    mouse(v, QEvent::MouseButtonPress, QPointF(400, 500));
    mouse(v, QEvent::MouseMove, QPointF(600, 700));
    hover(v, QPointF(200.5, 200.5)); // the pointer moves on (the drag is over)
    QImage image = render(v);

    EXPECT_TRUE(near(image.pixel(50, 600), dimmed(colour)));          // dimmed outside
    EXPECT_TRUE(near(image.pixel(500, 600), colour));                  // clear inside the selection
    EXPECT_GT(qGreen(image.pixel(400, 600)), 150);                     // the selection's white edge
    // The crosshair at y = 200.5: dashes of 4 points from the left edge.
    EXPECT_FALSE(near(image.pixel(297, 200), dimmed(colour), 10));
    EXPECT_TRUE(near(image.pixel(301, 200), dimmed(colour)));
    EXPECT_FALSE(near(image.pixel(305, 200), dimmed(colour), 10));

    // Loupe above right of (200.5, 200.5): (224.5, 36.5) to (364.5, 176.5);
    // centre (294.5, 106.5) shows the white point, the block to its right
    // the black one, and further out the screen's colour.
    EXPECT_TRUE(near(image.pixel(293, 105), Qt::white, 10));
    EXPECT_TRUE(near(image.pixel(300, 104), Qt::black, 10));
    EXPECT_TRUE(near(image.pixel(250, 60), colour));
    EXPECT_EQ(v->mouseLocation(), QPointF(200.5, 200.5));

    // At the very corner the loupe shows the picture only where the source
    // block overlaps it; the rest is the dimmed screen beneath.
    hover(v, QPointF(0, 0));
    image = render(v);
    EXPECT_TRUE(near(image.pixel(24 + 100, 24 + 100), colour));
    EXPECT_TRUE(near(image.pixel(24 + 30, 24 + 30), dimmed(colour)));
}

// Moves and drags repaint only what changed; what is on screen afterwards
// must be what a full repaint draws.
TEST(RegionSelection, PartialRepaintsLeaveNothingBehind)
{
    Selection s;
    s.start();
    RegionSelectionWindow *window = s.controller.windows().at(1);
    RegionSelectionNSView *v = window->contentView();
    auto onScreen = [&] {
        QCoreApplication::processEvents();
        return window->screen()->grabWindow(window->winId()).toImage().convertToFormat(QImage::Format_RGB32);
    };
    onScreen();
    hover(v, QPointF(100, 100));
    hover(v, QPointF(700.25, 130.5));
    mouse(v, QEvent::MouseButtonPress, QPointF(700.25, 130.5));
    for (QPointF p : {QPointF(900, 600), QPointF(800, 400), QPointF(500, 700), QPointF(1270, 1020)})
        mouse(v, QEvent::MouseMove, p);
    hover(v, QPointF(640, 20)); // a move without the button
    const QImage shown = onScreen();
    const QImage full = render(v);
    ASSERT_EQ(shown.size(), full.size());
    int differing = 0;
    for (int y = 0; y < full.height(); ++y)
        for (int x = 0; x < full.width(); ++x)
            differing += shown.pixel(x, y) != full.pixel(x, y);
    EXPECT_EQ(differing, 0);
}

TEST(RegionSelection, WithoutAPictureTheLoupeIsGrey)
{
    Selection s(false);
    s.start();
    RegionSelectionNSView *v = s.view(1);
    EXPECT_TRUE(v->snapshot().isNull());
    EXPECT_TRUE(s.controller.windows().at(1)->testAttribute(Qt::WA_TranslucentBackground));
    hover(v, QPointF(300, 300));
    QImage image(v->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    v->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    // Translucent black outside, translucent grey in the loupe.
    EXPECT_EQ(qAlpha(image.pixel(50, 50)), 38);
    const QRgb loupe = image.pixel(324 + 30, 136 + 30);
    EXPECT_NEAR(qAlpha(loupe), 0.85 * 255 + 0.15 * 255 * 0.15, 3);
    // Selection works the same.
    drag(v, QPointF(10, 10), QPointF(110, 60));
    ASSERT_TRUE(s.waitForResult());
    EXPECT_EQ(*s.result, QRectF(810, -230, 100, 50));
}

TEST(RegionSelection, PicturesEveryScreenForTheMagnifier)
{
    FakeScreenCapture fake;
    fake.content.displays = {ShareableDisplay{0, QStringLiteral("1-primary"), OverlayScreens::geometries()[0]},
                             ShareableDisplay{1, QStringLiteral("2-right"), OverlayScreens::geometries()[1]},
                             ShareableDisplay{2, QStringLiteral("3-left"), OverlayScreens::geometries()[2]}};
    {
        RegionSelectionController controller;
        int calls = 0;
        controller.start([&](std::optional<QRectF>) { ++calls; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return controller.windows().size() == 3; }, 30000));
        ASSERT_EQ(fake.rectRequests.size(), 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(fake.rectRequests[i].rect, QRectF(OverlayScreens::geometries()[i]));
            EXPECT_EQ(fake.rectRequests[i].pixelSize, OverlayScreens::geometries()[i].size() * 2);
            EXPECT_FALSE(fake.rectRequests[i].showsCursor);
            const QImage snapshot = controller.windows()[i]->contentView()->snapshot();
            EXPECT_EQ(snapshot.size(), OverlayScreens::geometries()[i].size() * 2);
            EXPECT_EQ(snapshot.devicePixelRatio(), 2.0);
        }
    }

    LogCapture log;
    fake.captureError = QStringLiteral("BadMatch");
    EXPECT_TRUE(RegionSelectionController::captureDisplaySnapshots().isEmpty());
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("[Vorna] magnifier: capture failed for display 0: BadMatch"),
                                        QStringLiteral("[Vorna] magnifier: capture failed for display 1: BadMatch"),
                                        QStringLiteral("[Vorna] magnifier: capture failed for display 2: BadMatch")}));
    fake.contentError = QStringLiteral("no X server");
    EXPECT_TRUE(RegionSelectionController::captureDisplaySnapshots().isEmpty());
    EXPECT_EQ(log.lines().value(3), QStringLiteral("[Vorna] magnifier: SCShareableContent failed: no X server"));
}
