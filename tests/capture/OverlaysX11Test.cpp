// The region overlay and the window picker on a real X server (the Xvfb of
// the test script: one screen of 1440 x 900, no window manager, no
// compositing manager unless a test starts one), driven by xdotool.
#include "capture/CaptureService.h"
#include "capture/RegionSelectionController.h"
#include "capture/RegionSelectionWindow.h"
#include "capture/WindowSelectionController.h"
#include "capture/WindowSelectionWindow.h"
#include "platform/Compositing.h"
#include "platform/ScreenCapture.h"
#include "support/CompositingManager.h"
#include "support/X11TestWindows.h"

#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include <signal.h>

namespace {

bool xdotool(const QStringList &args)
{
    return QProcess::execute("xdotool", args) == 0;
}

X11TestWindows::Spec testWindow(const QRect &rect, QRgb colour, const QByteArray &title)
{
    X11TestWindows::Spec s;
    s.rect = rect;
    s.color = colour;
    s.title = title;
    s.wmClass = QByteArray("painter\0Painter\0", 16);
    return s;
}

// What the screen shows at a point.
QRgb onScreen(QPoint at)
{
    const QImage image = ScreenCapture::current().captureRect(QRectF(at, QSizeF(1, 1)), QSize(1, 1), false);
    return image.isNull() ? 0 : image.pixel(0, 0);
}

} // namespace

// Without a compositing manager the overlay shows the screen itself, dimmed,
// takes the drag and gives the keyboard's Escape to the overlay.
TEST(OverlaysX11, RegionOverlayShowsTheDimmedScreenAndTakesADrag)
{
    ASSERT_FALSE(Compositing::isActive());
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({testWindow(QRect(100, 100, 600, 400), qRgb(0, 200, 100), "Green")}));
    ASSERT_EQ(onScreen(QPoint(300, 300)), qRgb(0, 200, 100));

    RegionSelectionController controller;
    std::optional<std::optional<QRectF>> result;
    controller.start([&](std::optional<QRectF> r) { result = r; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.windows().size() == 1; }, 30000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.windows().first()));
    QTest::qWait(200);
    const QRgb dimmed = onScreen(QPoint(600, 450));
    EXPECT_NEAR(qRed(dimmed), 0, 2);
    EXPECT_NEAR(qGreen(dimmed), 200 * 0.85, 2);
    EXPECT_NEAR(qBlue(dimmed), 100 * 0.85, 2);

    ASSERT_TRUE(xdotool({"mousemove", "--sync", "200", "150"}));
    ASSERT_TRUE(xdotool({"mousedown", "1"}));
    ASSERT_TRUE(xdotool({"mousemove", "--sync", "300", "200"}));
    ASSERT_TRUE(xdotool({"mousemove", "--sync", "520", "390"}));
    ASSERT_TRUE(xdotool({"mouseup", "1"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 30000));
    ASSERT_TRUE(result->has_value());
    EXPECT_EQ(**result, QRectF(200, 150, 320, 240));
    QTest::qWait(100);
    EXPECT_EQ(onScreen(QPoint(600, 450)), qRgb(0, 200, 100)); // the overlay is gone

    result.reset();
    controller.start([&](std::optional<QRectF> r) { result = r; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.windows().size() == 1; }, 30000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.windows().first()));
    QTest::qWait(100);
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 30000));
    EXPECT_FALSE(result->has_value());
}

TEST(OverlaysX11, WindowPickerPicksTheWindowClicked)
{
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({testWindow(QRect(50, 50, 300, 200), qRgb(200, 0, 0), "Left"),
                              testWindow(QRect(700, 300, 400, 300), qRgb(0, 0, 200), "Right")}));
    const QList<ShareableWindow> list = CaptureService::listWindows();
    ASSERT_GE(list.size(), 2);

    WindowSelectionController controller;
    int beeps = 0;
    controller.setBeep([&] { ++beeps; });
    std::optional<std::optional<ShareableWindow>> picked;
    controller.begin(list, [&](std::optional<ShareableWindow> w) { picked = w; });
    ASSERT_EQ(controller.overlays().size(), 1);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.overlays().first()));
    QTest::qWait(200);
    // The screen is still there beneath the very light dimming.
    const QRgb right = onScreen(QPoint(900, 450));
    EXPECT_NEAR(qBlue(right), 200 * 0.92, 2);

    ASSERT_TRUE(xdotool({"mousemove", "--sync", "1300", "800"}));
    ASSERT_TRUE(xdotool({"click", "1"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return beeps == 1; }, 30000));
    EXPECT_FALSE(picked.has_value());
    ASSERT_TRUE(xdotool({"mousemove", "--sync", "900", "450"}));
    // Hovered: tinted blue (the repaint may take a while on a loaded machine).
    EXPECT_TRUE(QTest::qWaitFor([&] { return qGreen(onScreen(QPoint(900, 450))) > 20; }, 30000));
    ASSERT_TRUE(xdotool({"click", "1"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return picked.has_value(); }, 30000));
    ASSERT_TRUE(picked->has_value());
    EXPECT_EQ((*picked)->windowID, windows.ids().at(1));
    EXPECT_EQ((*picked)->title, QStringLiteral("Right"));

    picked.reset();
    controller.begin(list, [&](std::optional<ShareableWindow> w) { picked = w; });
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.overlays().first()));
    QTest::qWait(100);
    ASSERT_TRUE(xdotool({"click", "3"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return picked.has_value(); }, 30000));
    EXPECT_FALSE(picked->has_value());
}

// Under a compositing manager that is slow to draw its next frame (held up
// here from before the drag ends until 150 ms after), the region read once
// the overlay is gone shows the screen, not the overlay's dimming.
TEST(OverlaysX11, TheRegionIsReadWithoutTheOverlayUnderASlowCompositor)
{
    CompositingManager manager;
    ASSERT_TRUE(manager.start()) << manager.error().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([] { return Compositing::isActive(); }, 30000));
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({testWindow(QRect(100, 100, 600, 400), qRgb(0, 200, 100), "Green")}));

    RegionSelectionController controller;
    std::optional<std::optional<QRectF>> result;
    QFuture<std::optional<QImage>> picture;
    controller.start([&](std::optional<QRectF> r) {
        result = r;
        if (r)
            picture = CaptureService::captureRegionInBackground(*r);
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.windows().size() == 1; }, 30000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.windows().first()));
    QTest::qWait(300);
    // The overlay dims the screen: a read that sees it sees other colours.
    ASSERT_NE(onScreen(QPoint(300, 300)), qRgb(0, 200, 100));
    ASSERT_TRUE(xdotool({"mousemove", "--sync", "200", "150"}));
    ASSERT_TRUE(xdotool({"mousedown", "1"}));
    ASSERT_TRUE(xdotool({"mousemove", "--sync", "300", "200"}));
    ASSERT_TRUE(xdotool({"mousemove", "--sync", "520", "390"}));
    ASSERT_EQ(::kill(manager.pid(), SIGSTOP), 0);
    ASSERT_TRUE(xdotool({"mouseup", "1"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 30000));
    ASSERT_TRUE(result->has_value());
    QTest::qWait(150);
    ::kill(manager.pid(), SIGCONT);
    ASSERT_TRUE(QTest::qWaitFor([&] { return picture.isFinished(); }, 30000));
    const std::optional<QImage> image = picture.result();
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->size(), QSize(640, 480));
    int wrong = 0;
    for (int y = 0; y < image->height(); y += 4)
        for (int x = 0; x < image->width(); x += 4)
            wrong += (image->pixel(x, y) & 0xffffff) != (qRgb(0, 200, 100) & 0xffffff);
    EXPECT_EQ(wrong, 0);
    manager.stop();
    EXPECT_TRUE(QTest::qWaitFor([] { return !Compositing::isActive(); }, 30000));
}

namespace {

class FadingOverlays : public ::testing::TestWithParam<CompositingManager::Kind>
{
};

std::string managerName(const ::testing::TestParamInfo<CompositingManager::Kind> &info)
{
    return info.param == CompositingManager::Kind::picomFading ? "picom" : "xcompmgr";
}

} // namespace

// Under a compositing manager that fades windows out, the overlay stays on
// the screen, fainter frame by frame, for about a third of a second after
// it is hidden: the region is read once the fade is over, without the
// overlay's dimming or selection frame.
TEST_P(FadingOverlays, TheRegionIsReadWithoutTheOverlayOrItsFade)
{
    CompositingManager manager(GetParam());
    ASSERT_TRUE(manager.start()) << manager.error().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([] { return Compositing::isActive(); }, 30000));
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({testWindow(QRect(100, 100, 600, 400), qRgb(0, 200, 100), "Green")}));

    RegionSelectionController controller;
    std::optional<std::optional<QRectF>> result;
    QFuture<std::optional<QImage>> picture;
    controller.start([&](std::optional<QRectF> r) {
        result = r;
        if (r)
            picture = CaptureService::captureRegionInBackground(*r);
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.windows().size() == 1; }, 30000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.windows().first()));
    // Faded in: the screen shows the overlay's dimming.
    ASSERT_TRUE(QTest::qWaitFor([&] { return qGreen(onScreen(QPoint(300, 300))) <= 200 * 0.85 + 2; }, 30000));
    ASSERT_TRUE(xdotool({"mousemove", "--sync", "200", "150"}));
    ASSERT_TRUE(xdotool({"mousedown", "1"}));
    ASSERT_TRUE(xdotool({"mousemove", "--sync", "300", "200"}));
    ASSERT_TRUE(xdotool({"mousemove", "--sync", "520", "390"}));
    ASSERT_TRUE(xdotool({"mouseup", "1"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 30000));
    ASSERT_TRUE(result->has_value());
    ASSERT_TRUE(QTest::qWaitFor([&] { return picture.isFinished(); }, 30000));
    const std::optional<QImage> image = picture.result();
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->size(), QSize(640, 480));
    int wrong = 0;
    for (int y = 0; y < image->height(); ++y)
        for (int x = 0; x < image->width(); ++x)
            wrong += (image->pixel(x, y) & 0xffffff) != (qRgb(0, 200, 100) & 0xffffff);
    EXPECT_EQ(wrong, 0);
    manager.stop();
    EXPECT_TRUE(QTest::qWaitFor([] { return !Compositing::isActive(); }, 3000));
}

INSTANTIATE_TEST_SUITE_P(OverlaysX11, FadingOverlays,
                         ::testing::Values(CompositingManager::Kind::xcompmgrFading,
                                           CompositingManager::Kind::picomFading),
                         managerName);
