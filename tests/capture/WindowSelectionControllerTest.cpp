#include "capture/WindowSelectionController.h"
#include "capture/WindowSelectionNSView.h"
#include "capture/WindowSelectionWindow.h"

#include "OverlayScreens.h"
#include "platform/Compositing.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace {

ShareableWindow window(quint32 id, QRectF frame, QString app, QString title)
{
    ShareableWindow w;
    w.windowID = id;
    w.frame = frame;
    w.title = title;
    w.isOnScreen = true;
    if (!app.isEmpty())
        w.owningApplication = OwningApplication{1000 + id, app};
    return w;
}

// Global points; the primary screen is 800 x 800 at the origin, the right one
// 1280 x 1024 at (800, -240).
const QList<ShareableWindow> windows = {
    window(1, QRectF(100, 100, 300, 200), "Editor", "notes.txt"), // behind 2 on screen, but listed first
    window(2, QRectF(50, 50, 500, 500), "Browser", ""),
    window(3, QRectF(700, 600, 300, 150), "", "Straddler"),      // across the primary and right screens
    window(4, QRectF(900, 0, 100, 100), "", ""),
};

class PickerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        controller.setBeep([this] { ++beeps; });
        controller.begin(windows, [this](std::optional<ShareableWindow> w) {
            ++calls;
            picked = w;
        });
    }
    WindowSelectionNSView *view(int screen) { return controller.overlays().at(screen)->contentView(); }

    static void mouse(QWidget *v, QEvent::Type type, QPointF at, Qt::MouseButton button = Qt::NoButton)
    {
        QMouseEvent event(type, at, v->mapToGlobal(at), button, type == QEvent::MouseButtonPress ? button : Qt::NoButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(v, &event);
    }
    // Counts the view's repaints while f runs.
    int repaints(QWidget *v, const std::function<void()> &f)
    {
        struct Counter : QObject
        {
            int count = 0;
            bool eventFilter(QObject *, QEvent *e) override
            {
                count += e->type() == QEvent::Paint;
                return false;
            }
        } counter;
        QCoreApplication::processEvents();
        v->installEventFilter(&counter);
        f();
        QCoreApplication::processEvents();
        v->removeEventFilter(&counter);
        return counter.count;
    }

    WindowSelectionController controller;
    int beeps = 0;
    int calls = 0;
    std::optional<ShareableWindow> picked;
};

} // namespace

TEST_F(PickerTest, OpensOnEveryScreenAtOnce)
{
    const QList<WindowSelectionWindow *> overlays = controller.overlays();
    ASSERT_EQ(overlays.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(overlays[i]->geometry(), OverlayScreens::geometries()[i]);
        EXPECT_TRUE(overlays[i]->isVisible());
        EXPECT_TRUE(overlays[i]->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_EQ(overlays[i]->contentView()->screenFrame(), OverlayScreens::geometries()[i]);
    }
    EXPECT_EQ(calls, 0);
}

// The first listed window under the pointer wins, whatever lies in front.
TEST_F(PickerTest, PicksTheFirstListedWindowUnderThePointer)
{
    mouse(view(0), QEvent::MouseMove, QPointF(150, 150));
    ASSERT_TRUE(view(0)->hovered());
    EXPECT_EQ(view(0)->hovered()->windowID, 1u);
    mouse(view(0), QEvent::MouseMove, QPointF(450, 450));
    EXPECT_EQ(view(0)->hovered()->windowID, 2u);
    // Edges: the left and top ones belong to the window, the others do not.
    mouse(view(0), QEvent::MouseMove, QPointF(50, 50));
    EXPECT_EQ(view(0)->hovered()->windowID, 2u);
    mouse(view(0), QEvent::MouseMove, QPointF(550, 550));
    EXPECT_FALSE(view(0)->hovered());

    mouse(view(0), QEvent::MouseButtonPress, QPointF(120, 290), Qt::LeftButton);
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(picked);
    EXPECT_EQ(picked->windowID, 1u);
    EXPECT_EQ(picked->title, QStringLiteral("notes.txt"));
    EXPECT_TRUE(controller.overlays().isEmpty());
}

TEST_F(PickerTest, ClickOnNothingBeepsAndStaysOpen)
{
    mouse(view(0), QEvent::MouseButtonPress, QPointF(700, 20), Qt::LeftButton);
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(controller.overlays().size(), 3);
    // On the right screen, window 4 lies at local (100, 240).
    mouse(view(1), QEvent::MouseButtonPress, QPointF(150, 290), Qt::LeftButton);
    EXPECT_EQ(beeps, 1);
    ASSERT_EQ(calls, 1);
    EXPECT_EQ(picked->windowID, 4u);
}

TEST_F(PickerTest, RightClickAndEscapeCancelOtherKeysPassOn)
{
    QKeyEvent a(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    QCoreApplication::sendEvent(view(0), &a);
    EXPECT_FALSE(a.isAccepted());
    EXPECT_EQ(calls, 0);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(view(0), &escape);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(picked);
    EXPECT_TRUE(controller.overlays().isEmpty());

    controller.begin(windows, [this](std::optional<ShareableWindow> w) {
        calls += 10;
        picked = w;
    });
    mouse(view(2), QEvent::MouseButtonPress, QPointF(10, 10), Qt::RightButton);
    EXPECT_EQ(calls, 11);
    EXPECT_FALSE(picked);
    EXPECT_EQ(beeps, 0);
}

TEST_F(PickerTest, BeginWhilePickingEndsTheOldPickWithNothing)
{
    mouse(view(0), QEvent::MouseMove, QPointF(150, 150));
    int second = 0;
    controller.begin(windows, [&](std::optional<ShareableWindow> w) { second += w ? 100 : 1; });
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(picked);
    ASSERT_EQ(controller.overlays().size(), 3);
    EXPECT_FALSE(view(0)->hovered()); // fresh views
    mouse(view(0), QEvent::MouseButtonPress, QPointF(150, 150), Qt::LeftButton);
    EXPECT_EQ(second, 100);
}

TEST_F(PickerTest, RepaintsOnlyWhenTheHoveredWindowChanges)
{
    WindowSelectionNSView *v = view(0);
    EXPECT_EQ(repaints(v, [&] { mouse(v, QEvent::MouseMove, QPointF(150, 150)); }), 1);
    EXPECT_EQ(repaints(v, [&] { mouse(v, QEvent::MouseMove, QPointF(160, 170)); }), 0);
    EXPECT_EQ(repaints(v, [&] { mouse(v, QEvent::MouseMove, QPointF(450, 450)); }), 1);
    EXPECT_EQ(repaints(v, [&] { mouse(v, QEvent::MouseMove, QPointF(780, 20)); }), 1);
    EXPECT_EQ(repaints(v, [&] { mouse(v, QEvent::MouseMove, QPointF(790, 30)); }), 0);
}

// Each screen keeps its own highlight: a window across two screens is marked
// only on the screen the pointer is over.
TEST_F(PickerTest, WindowAcrossScreensIsMarkedWhereThePointerIs)
{
    mouse(view(0), QEvent::MouseMove, QPointF(750, 650));
    ASSERT_TRUE(view(0)->hovered());
    EXPECT_EQ(view(0)->hovered()->windowID, 3u);
    EXPECT_FALSE(view(1)->hovered());
    EXPECT_EQ(view(1)->localRect(windows[2]), QRectF(-100, 840, 300, 150));
    EXPECT_FALSE(view(2)->localRect(windows[2]));
    // Leaving the screen does not clear its highlight.
    mouse(view(1), QEvent::MouseMove, QPointF(50, 900));
    EXPECT_EQ(view(1)->hovered()->windowID, 3u);
    EXPECT_EQ(view(0)->hovered()->windowID, 3u);
}

TEST(PickerLabel, TextAndPlacement)
{
    EXPECT_EQ(WindowSelectionNSView::labelText(window(1, {}, "Editor", "notes.txt")),
              QStringLiteral("Editor \u2014 notes.txt"));
    EXPECT_EQ(WindowSelectionNSView::labelText(window(1, {}, "Editor", "")), QStringLiteral("Editor"));
    EXPECT_EQ(WindowSelectionNSView::labelText(window(1, {}, "", "notes.txt")), QStringLiteral("notes.txt"));
    EXPECT_EQ(WindowSelectionNSView::labelText(window(1, {}, "", "")), QStringLiteral("Window"));

    WindowSelectionController controller;
    controller.begin({}, [](std::optional<ShareableWindow>) {});
    const WindowSelectionNSView *v = controller.overlays().at(0)->contentView(); // 800 x 800
    const QString text = QStringLiteral("Editor");
    // Below the window, its top edge 8 points under it, centred.
    QRectF label = v->labelRect(text, QRectF(300, 300, 200, 100));
    EXPECT_EQ(label.top(), 408);
    EXPECT_NEAR(label.center().x(), 400, 0.01);
    // Too close to the bottom: above the window instead.
    label = v->labelRect(text, QRectF(300, 300, 200, 480));
    EXPECT_EQ(label.bottom(), 292);
    // Pushed in from the left and right edges.
    EXPECT_EQ(v->labelRect(text, QRectF(-100, 100, 50, 50)).left(), 8);
    EXPECT_EQ(v->labelRect(text, QRectF(790, 100, 50, 50)).right(), 792);
    controller.close(std::nullopt);
}

// Without a compositing manager the overlay paints the screen's picture,
// lightly dimmed, with the hovered window tinted blue.
TEST(PickerDrawing, TintsTheHoveredWindowOverThePicture)
{
    Compositing::setOverride(false);
    WindowSelectionController controller;
    controller.setSnapshotSource([] {
        WindowSelectionController::Snapshots snapshots;
        for (int i = 0; i < 3; ++i) {
            QImage image(OverlayScreens::geometries()[i].size() * 2, QImage::Format_RGB32);
            image.fill(QColor(200, 200, 200));
            snapshots.insert(quint32(i), image);
        }
        return snapshots;
    });
    controller.begin(windows, [](std::optional<ShareableWindow>) {});
    Compositing::clearOverride();
    WindowSelectionNSView *v = controller.overlays().at(0)->contentView();
    QMouseEvent move(QEvent::MouseMove, QPointF(450, 450), v->mapToGlobal(QPointF(450, 450)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(v, &move);
    const QImage image = v->grab().toImage();
    const QRgb outside = image.pixel(700, 700);
    EXPECT_EQ(qRed(outside), qRound(200 * 0.92));
    const QRgb inside = image.pixel(300, 100); // window 2, clear of its label
    EXPECT_NEAR(qRed(inside), 184 * 0.78, 2);
    EXPECT_NEAR(qBlue(inside), 184 * 0.78 + 255 * 0.22, 2);
    const QRgb frame = image.pixel(51, 300);
    EXPECT_EQ(frame, qRgb(0, 122, 255));
    // The label hangs below the window: dark.
    EXPECT_LT(qRed(image.pixel(300 - 30, 568)), 60);
    controller.close(std::nullopt);
}
