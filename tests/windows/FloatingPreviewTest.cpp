#include "platform/Compositing.h"
#include "windows/FloatingPreviewController.h"
#include "windows/FloatingPreviewView.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScopeGuard>
#include <QScreen>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QWidget>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

QImage capture(QColor color)
{
    QImage image(400, 250, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    QPainter p(&image);
    p.fillRect(40, 40, 120, 60, Qt::black);
    p.end();
    image.setDevicePixelRatio(2.0);
    return image;
}

FloatingPreviewView *viewOf(QWidget *panel)
{
    return panel ? panel->findChild<FloatingPreviewView *>() : nullptr;
}

} // namespace

TEST(FloatingPreview, SitsSixteenPointsInFromTheBottomRightAndClosesAfterItsTime)
{
    FloatingPreviewController controller;
    controller.show(capture(Qt::red), 1, {});
    QWidget *panel = controller.panel();
    ASSERT_NE(panel, nullptr);
    const QRect visible = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(panel->geometry(), QRect(visible.right() + 1 - 16 - 280, visible.bottom() + 1 - 16 - 230, 280, 230));
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(panel->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(panel->windowFlags() & Qt::WindowStaysOnTopHint);
    ASSERT_NE(controller.dismissTimer(), nullptr);
    EXPECT_EQ(controller.dismissTimer()->interval(), 1000);

    QPointer<QWidget> watched(panel);
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.panel() == nullptr; }, 30000));
    EXPECT_EQ(controller.dismissTimer(), nullptr);
    // It fades for 0.3 s and is gone.
    ASSERT_TRUE(QTest::qWaitFor([&] { return watched.isNull(); }, 30000));
}

TEST(FloatingPreview, ANewCaptureReplacesThePanelAndOnlyItsTimerIsPending)
{
    FloatingPreviewController controller;
    controller.show(capture(Qt::red), 60, {});
    QPointer<QWidget> first(controller.panel());
    QPointer<QTimer> firstTimer(controller.dismissTimer());
    controller.show(capture(Qt::blue), 60, {});
    QWidget *second = controller.panel();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first.data());
    EXPECT_EQ(second->geometry(), first->geometry());
    EXPECT_TRUE(firstTimer.isNull() || !firstTimer->isActive());
    EXPECT_TRUE(controller.dismissTimer()->isActive());
    // The old panel fades out on its own; the new one stays.
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.isNull(); }, 30000));
    EXPECT_EQ(controller.panel(), second);
    EXPECT_TRUE(second->isVisible());

    // Dismissing without a panel only stops the timer.
    controller.dismiss();
    controller.dismiss();
    EXPECT_EQ(controller.panel(), nullptr);
    EXPECT_EQ(controller.dismissTimer(), nullptr);
}

// Panels whose windows were made ahead, between captures, show as any
// other; none is left behind by the controller.
TEST(FloatingPreview, PanelsMadeAheadShowAsAnyOtherAndGoWithTheController)
{
    const auto panelsAlive = [] {
        int count = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            count += w->objectName() == QLatin1String("FloatingPreviewPanel");
        return count;
    };
    ASSERT_EQ(panelsAlive(), 0);
    {
        FloatingPreviewController controller;
        QTest::qWait(300);
        for (QColor colour : {QColor(Qt::red), QColor(Qt::blue)}) {
            controller.show(capture(colour), 60, {});
            QWidget *panel = controller.panel();
            ASSERT_NE(panel, nullptr);
            const QRect visible = QGuiApplication::primaryScreen()->availableGeometry();
            EXPECT_EQ(panel->geometry(), QRect(visible.right() + 1 - 16 - 280, visible.bottom() + 1 - 16 - 230, 280, 230));
            EXPECT_TRUE(panel->isVisible());
            EXPECT_TRUE(panel->windowFlags() & Qt::WindowDoesNotAcceptFocus);
            FloatingPreviewView *view = viewOf(panel);
            ASSERT_NE(view, nullptr);
            ASSERT_TRUE(QTest::qWaitFor([&] { return view->isThumbnailReady(); }, 30000));
            const QImage shot = view->grab().toImage();
            EXPECT_EQ(QColor(shot.pixel(view->imageRect().center() * shot.devicePixelRatio())), colour);
            QTest::qWait(300);
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(panelsAlive(), 0);
}

// Qt paints large areas with the help of its global pool and waits for it.
// What the controller draws ahead of a capture is drawn elsewhere, so a busy
// pool (as during a capture) holds nothing up on the UI thread.
TEST(FloatingPreview, PanelsAreMadeAheadWithoutWaitingForQtsGlobalPool)
{
    // A palette of its own, so that the face is not one drawn before.
    const QPalette saved = QApplication::palette();
    QPalette palette = saved;
    palette.setColor(QPalette::Window, QColor(31, 41, 59));
    QApplication::setPalette(palette);
    const auto restore = qScopeGuard([&] { QApplication::setPalette(saved); });

    QThreadPool *global = QThreadPool::globalInstance();
    const int busy = global->maxThreadCount();
    QSemaphore started, release, done;
    for (int i = 0; i < busy; ++i)
        global->start([&] {
            started.release();
            release.acquire();
        });
    ASSERT_TRUE(started.tryAcquire(busy, 5000));
    // A UI thread that waits for the pool is let go after a while, and the
    // test fails.
    std::atomic_bool heldUp = false;
    std::thread watchdog([&] {
        if (!done.tryAcquire(1, 5000))
            heldUp = true;
        release.release(busy);
    });
    {
        FloatingPreviewController controller;
        QTest::qWait(400);
    }
    done.release();
    watchdog.join();
    global->waitForDone();
    EXPECT_FALSE(heldUp);
}

TEST(FloatingPreview, APanelFadingOutKeepsItsPictureButNotTheCapture)
{
    FloatingPreviewController controller;
    QImage first = capture(Qt::red);
    controller.show(first, 60, [](const QImage &) {});
    QPointer<QWidget> fading(controller.panel());
    controller.show(capture(Qt::blue), 60, {});
    ASSERT_FALSE(fading.isNull());
    // Back-to-back captures must not pile up in memory behind their fades.
    EXPECT_TRUE(QTest::qWaitFor([&] { return first.isDetached(); }, 30000));
    ASSERT_FALSE(fading.isNull());
    FloatingPreviewView *view = viewOf(fading);
    ASSERT_NE(view, nullptr);
    const QImage shot = view->grab().toImage();
    const QPoint centre = view->imageRect().center() * shot.devicePixelRatio();
    EXPECT_EQ(QColor(shot.pixel(centre)), QColor(Qt::red));
    view->editButton()->click(); // does nothing now
    view->copyButton()->click();
}

TEST(FloatingPreview, EditDismissesThenRunsTheEditorActionWithTheImage)
{
    FloatingPreviewController controller;
    const QImage image = capture(Qt::green);
    QImage edited;
    bool panelGoneFirst = false;
    controller.show(image, 60, [&](const QImage &img) {
        edited = img;
        panelGoneFirst = controller.panel() == nullptr && controller.dismissTimer() == nullptr;
    });
    viewOf(controller.panel())->editButton()->click();
    EXPECT_EQ(edited, image);
    EXPECT_TRUE(panelGoneFirst);
}

TEST(FloatingPreview, SaveAndCloseOnlyDismiss)
{
    FloatingPreviewController controller;
    bool edited = false;
    controller.show(capture(Qt::green), 60, [&](const QImage &) { edited = true; });
    viewOf(controller.panel())->saveButton()->click();
    EXPECT_EQ(controller.panel(), nullptr);

    controller.show(capture(Qt::green), 60, [&](const QImage &) { edited = true; });
    viewOf(controller.panel())->closeButton()->click();
    EXPECT_EQ(controller.panel(), nullptr);
    EXPECT_FALSE(edited);
}

TEST(FloatingPreview, CopyPutsTheImageOnTheClipboardAndConfirmsFor1point2Seconds)
{
    FloatingPreviewController controller;
    const QImage image = capture(Qt::yellow);
    controller.show(image, 60, {});
    QWidget *panel = controller.panel();
    FloatingPreviewView *view = viewOf(panel);
    QGuiApplication::clipboard()->clear();

    view->copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), image.size());
    EXPECT_TRUE(view->didCopy());
    EXPECT_EQ(view->copyButton()->toolTip(), QString("Copied"));
    EXPECT_EQ(controller.panel(), panel) << "the panel stays after a copy";

    // A second click 0.6 s later copies again but does not extend the check mark.
    QTest::qWait(600);
    QGuiApplication::clipboard()->clear();
    view->copyButton()->click();
    EXPECT_FALSE(QGuiApplication::clipboard()->image().isNull());
    QTest::qWait(800);
    EXPECT_FALSE(view->didCopy()) << "reverted 1.2 s after the first click";
    EXPECT_EQ(view->copyButton()->toolTip(), QString("Copy to Clipboard"));
}

// Where the window system does not move windows itself (as here), the view
// moves the panel: only once the pointer has moved past the drag distance
// with the button held, by as much as the pointer moved; a click, or a press
// that shakes by less, leaves it where it is.
TEST(FloatingPreview, OnlyADragPastTheDragDistanceMovesThePanel)
{
    FloatingPreviewController controller;
    controller.show(capture(Qt::green), 60, {});
    QWidget *panel = controller.panel();
    FloatingPreviewView *view = viewOf(panel);
    ASSERT_NE(view, nullptr);
    const QPoint start = panel->pos();
    const QPoint grip = view->mapToGlobal(view->imageRect().center());
    const auto send = [view](QEvent::Type type, QPoint global, Qt::MouseButtons held) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, QPointF(view->mapFromGlobal(global)), QPointF(global), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &event);
    };
    const int distance = QApplication::startDragDistance();
    ASSERT_GT(distance, 1);

    send(QEvent::MouseButtonPress, grip, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, grip, Qt::NoButton);
    EXPECT_EQ(panel->pos(), start) << "a click";
    send(QEvent::MouseButtonPress, grip, Qt::LeftButton);
    send(QEvent::MouseMove, grip + QPoint(distance - 1, 0), Qt::LeftButton);
    send(QEvent::MouseButtonRelease, grip + QPoint(distance - 1, 0), Qt::NoButton);
    EXPECT_EQ(panel->pos(), start) << "a press that shook by less than the drag distance";
    EXPECT_EQ(controller.panel(), panel);

    send(QEvent::MouseButtonPress, grip, Qt::LeftButton);
    send(QEvent::MouseMove, grip + QPoint(-40, -30), Qt::LeftButton);
    EXPECT_EQ(panel->pos(), start + QPoint(-40, -30));
    send(QEvent::MouseMove, grip + QPoint(-100, -50), Qt::LeftButton);
    EXPECT_EQ(panel->pos(), start + QPoint(-100, -50));
    send(QEvent::MouseButtonRelease, grip + QPoint(-100, -50), Qt::NoButton);
    // Let go: the pointer moves on alone.
    send(QEvent::MouseMove, grip + QPoint(-200, -80), Qt::NoButton);
    EXPECT_EQ(panel->pos(), start + QPoint(-100, -50));
}

TEST(FloatingPreview, TheCloseButtonShowsOnlyWhileThePointerIsInside)
{
    FloatingPreviewController controller;
    controller.show(capture(Qt::cyan), 60, {});
    FloatingPreviewView *view = viewOf(controller.panel());
    EXPECT_FALSE(view->closeButton()->isVisible());
    QEnterEvent enter(QPointF(50, 50), QPointF(50, 50), QPointF(50, 50));
    QCoreApplication::sendEvent(view, &enter);
    EXPECT_TRUE(view->isHovered());
    EXPECT_TRUE(view->closeButton()->isVisible());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(view, &leave);
    EXPECT_FALSE(view->isHovered());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->closeButton()->isVisible(); }, 30000));
    // The close button sits over the image's top-right corner.
    EXPECT_EQ(view->closeButton()->geometry().topRight(), view->imageRect().topRight());
}

// The panel is never the active window, yet resting the pointer on a button
// shows what it does, by the road a real pointer takes (a move from the
// window system, then Qt's tooltip timer), and the panel still takes no focus.
TEST(FloatingPreview, ButtonsShowTheirTooltipsThoughThePanelIsNotActive)
{
    FloatingPreviewController controller;
    controller.show(capture(Qt::yellow), 60, {});
    QWidget *panel = controller.panel();
    FloatingPreviewView *view = viewOf(panel);
    ASSERT_NE(view, nullptr);
    // This platform makes every window it shows active: another window takes
    // that over, as the program the user works in would.
    QWidget other;
    other.setGeometry(20, 20, 200, 100);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &other; }, 30000));

    const auto hoverUntilTip = [&](QToolButton *button, const QString &text) {
        QTest::mouseMove(button, button->rect().center());
        return QTest::qWaitFor([&] { return QToolTip::isVisible() && QToolTip::text() == text; }, 30000);
    };
    EXPECT_TRUE(hoverUntilTip(view->editButton(), "Open in Editor")) << QToolTip::text().toStdString();
    EXPECT_TRUE(hoverUntilTip(view->copyButton(), "Copy to Clipboard")) << QToolTip::text().toStdString();
    EXPECT_TRUE(hoverUntilTip(view->saveButton(), "Save")) << QToolTip::text().toStdString();
    view->copyButton()->click();
    EXPECT_TRUE(hoverUntilTip(view->copyButton(), "Copied")) << QToolTip::text().toStdString();

    EXPECT_EQ(QApplication::activeWindow(), &other);
    EXPECT_TRUE(panel->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(panel->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    for (QToolButton *button : {view->editButton(), view->copyButton(), view->saveButton(), view->closeButton()})
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
    QToolTip::hideText();
}

// A screen-sized capture is scaled, and the panel's face drawn, in the
// background; a palette that changes meanwhile is what the panel shows.
TEST(FloatingPreview, APaletteChangedWhileTheFaceIsDrawnIsTheOneShown)
{
    FloatingPreviewController controller;
    QImage large(2880, 1800, QImage::Format_RGB32);
    large.fill(Qt::red);
    large.setDevicePixelRatio(2.0);
    controller.show(large, 60, {});
    FloatingPreviewView *view = viewOf(controller.panel());
    ASSERT_NE(view, nullptr);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Window, QColor(20, 40, 160));
    view->setPalette(palette);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isThumbnailReady(); }, 30000));
    const QImage shot = view->grab().toImage();
    const qreal scale = shot.devicePixelRatio();
    // Between the picture and the buttons: the panel's own colour.
    const QPoint gap((view->width() / 2) * scale, (view->imageRect().bottom() + 4) * scale);
    EXPECT_EQ(shot.pixelColor(gap), QColor(20, 40, 160));
    EXPECT_EQ(shot.pixelColor(view->imageRect().center() * scale), QColor(Qt::red));
}

// The picture of a screen-sized capture is a mean of the pixels it covers,
// each colour channel on its own, and keeps them in their place.
TEST(FloatingPreview, AScreenSizedCaptureIsScaledDownByAveraging)
{
    FloatingPreviewController controller;
    QImage large(2881, 1801, QImage::Format_RGB32); // odd sizes: the last row and column have no pair
    for (int y = 0; y < large.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(large.scanLine(y));
        for (int x = 0; x < large.width(); ++x)
            line[x] = x >= large.width() / 2 ? qRgb(250, 220, 0) : (x + y) % 2 ? qRgb(255, 0, 0) : qRgb(0, 0, 255);
    }
    large.setDevicePixelRatio(2.0);
    controller.show(large, 60, {});
    FloatingPreviewView *view = viewOf(controller.panel());
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isThumbnailReady(); }, 30000));
    const QImage shot = view->grab().toImage();
    const qreal scale = shot.devicePixelRatio();
    const QRect image = view->imageRect();
    const int y = image.center().y();
    const QColor fine = shot.pixelColor(QPointF(QPointF(image.left() + image.width() / 4.0, y) * scale).toPoint());
    EXPECT_NEAR(fine.red(), 128, 3);
    EXPECT_NEAR(fine.green(), 0, 3);
    EXPECT_NEAR(fine.blue(), 128, 3);
    const QColor flat = shot.pixelColor(QPointF(QPointF(image.left() + image.width() * 3 / 4.0, y) * scale).toPoint());
    EXPECT_EQ(flat, QColor(250, 220, 0));
}

TEST(FloatingPreview, DrawsTheImageFittedInsideThePanel)
{
    FloatingPreviewController controller;
    controller.show(capture(Qt::red), 60, {});
    QWidget *panel = controller.panel();
    FloatingPreviewView *view = viewOf(panel);
    const QImage shot = panel->grab().toImage();
    if (qEnvironmentVariableIsSet("VORNA_SAVE_RENDERINGS"))
        shot.save(qEnvironmentVariable("VORNA_SAVE_RENDERINGS") + "/floating-preview.png");
    const QRect image = view->imageRect();
    // 400x250 pixels at 2x: 200x125 points, scaled to fit 260 points wide.
    EXPECT_EQ(image.width(), 260);
    EXPECT_NEAR(image.height(), 162, 1);
    const double scale = shot.width() / 280.0;
    EXPECT_EQ(shot.pixelColor(QPointF(image.center() * scale).toPoint()), QColor(Qt::red));
    // The black block of the capture, at its place in the fitted image.
    const QPointF block = image.topLeft() + QPointF(50, 35) * (image.width() / 200.0);
    EXPECT_EQ(shot.pixelColor((block * scale).toPoint()), QColor(Qt::black));

    // Hovered and just copied: the close button and the green check mark.
    QEnterEvent enter(QPointF(50, 50), QPointF(50, 50), QPointF(50, 50));
    QCoreApplication::sendEvent(view, &enter);
    view->copyButton()->click();
    QTest::qWait(250);
    const QImage active = panel->grab().toImage();
    if (qEnvironmentVariableIsSet("VORNA_SAVE_RENDERINGS"))
        active.save(qEnvironmentVariable("VORNA_SAVE_RENDERINGS") + "/floating-preview-active.png");
    const QPoint check = view->copyButton()->geometry().center();
    const QColor green = active.pixelColor((QPointF(check) * scale).toPoint());
    EXPECT_GT(green.green(), 150);
    EXPECT_LT(green.red(), 120);
}

// Under a compositor the panel is a translucent window, and nothing on X11
// blurs what lies behind it: around and behind its buttons the panel is
// still the window colour, all but opaque, so the buttons read against it.
TEST(FloatingPreview, BehindItsButtonsTheTranslucentPanelIsNearlyOpaqueWindowColour)
{
    Compositing::setOverride(true);
    const auto restore = qScopeGuard([] { Compositing::clearOverride(); });
    FloatingPreviewController controller;
    controller.show(capture(Qt::red), 60, {});
    QWidget *panel = controller.panel();
    FloatingPreviewView *view = viewOf(panel);
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(panel->testAttribute(Qt::WA_TranslucentBackground));
    QPalette palette = view->palette();
    const QColor window(236, 236, 236);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, Qt::black);
    view->setPalette(palette);

    // Only what the panel itself paints: what lies behind stays transparent.
    QImage drawn(panel->size() * 2, QImage::Format_ARGB32_Premultiplied);
    drawn.setDevicePixelRatio(2);
    drawn.fill(Qt::transparent);
    panel->render(&drawn, QPoint(), QRegion(), QWidget::DrawChildren);
    if (qEnvironmentVariableIsSet("VORNA_SAVE_RENDERINGS"))
        drawn.save(qEnvironmentVariable("VORNA_SAVE_RENDERINGS") + "/floating-preview-translucent.png");
    auto at = [&](QPoint point) { return drawn.pixelColor(view->mapTo(panel, point) * 2); };

    const QRect edit = view->editButton()->geometry();
    const QRect copy = view->copyButton()->geometry();
    const QList<QPoint> behindButtons = {
        QPoint((edit.right() + copy.left()) / 2, edit.center().y()), // between two buttons
        edit.topLeft() + QPoint(2, 2),                               // a button's corner, off its disc
        QPoint(edit.left() - 6, edit.center().y()),                  // beside the row
        QPoint(copy.center().x(), copy.top() - 4),                   // between the row and the picture
    };
    for (const QPoint &point : behindButtons) {
        SCOPED_TRACE(testing::Message() << point.x() << "," << point.y());
        const QColor c = at(point);
        EXPECT_GE(c.alpha(), 240);
        EXPECT_NEAR(c.red(), window.red(), 4);
        EXPECT_NEAR(c.green(), window.green(), 4);
        EXPECT_NEAR(c.blue(), window.blue(), 4);
    }
    // A button's faint disc darkens the window colour a little, no more.
    const QColor disc = at(copy.center() + QPoint(0, copy.height() / 2 - 3));
    EXPECT_GE(disc.alpha(), 240);
    EXPECT_GT(disc.red(), 200);
    // The rounded corner stays clear.
    EXPECT_EQ(at(QPoint(0, 0)).alpha(), 0);
}
