#include "capture/CaptureFlashController.h"
#include "capture/CaptureFlashWindow.h"

#include "OverlayScreens.h"
#include "platform/Compositing.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

TEST(CaptureFlash, WashesEveryScreenAndGoesAfterTheFade)
{
    CaptureFlashController controller;
    controller.flash();
    const QList<CaptureFlashWindow *> windows = controller.windows();
    ASSERT_EQ(windows.size(), 3);
    QList<QPointer<CaptureFlashWindow>> watched;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(windows[i]->geometry(), OverlayScreens::geometries()[i]);
        EXPECT_TRUE(windows[i]->isVisible());
        EXPECT_TRUE(windows[i]->windowFlags().testFlag(Qt::WindowTransparentForInput));
        EXPECT_TRUE(windows[i]->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_FALSE(windows[i]->paintsBackdrop());
        watched.append(windows[i]);
    }
    // Opacity rises to 0.55 and falls back to 0 (sampled on the way).
    qreal peak = 0;
    QElapsedTimer clock;
    clock.start();
    while (!controller.windows().isEmpty() && clock.elapsed() < 30000) {
        if (!watched[0].isNull())
            peak = std::max(peak, watched[0]->windowOpacity());
        QTest::qWait(5);
    }
    EXPECT_TRUE(controller.windows().isEmpty());
    EXPECT_GT(peak, 0.4);
    EXPECT_LE(peak, 0.55 + 1e-6);
    EXPECT_GE(clock.elapsed(), 200); // 0.24 s in all, less the first sample's lag
    QTest::qWait(20);
    for (const QPointer<CaptureFlashWindow> &w : watched)
        EXPECT_TRUE(w.isNull() || !w->isVisible());
}

// A second flash 0.1 s after the first takes the first one's windows away at
// once; only its own windows are removed after its fade.
TEST(CaptureFlash, SecondFlashRemovesTheFirstAtOnce)
{
    CaptureFlashController controller;
    controller.flash();
    QList<QPointer<CaptureFlashWindow>> first;
    for (CaptureFlashWindow *w : controller.windows())
        first.append(w);
    QTest::qWait(100);
    controller.flash();
    for (const QPointer<CaptureFlashWindow> &w : first)
        EXPECT_TRUE(w.isNull() || !w->isVisible());
    const QList<CaptureFlashWindow *> second = controller.windows();
    ASSERT_EQ(second.size(), 3);
    for (CaptureFlashWindow *w : second)
        EXPECT_FALSE(first.contains(w));
    // The first flash's fade ends meanwhile, and must not touch the second's.
    QTest::qWait(170);
    EXPECT_EQ(controller.windows(), second);
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.windows().isEmpty(); }, 30000));
}

// Without a compositing manager each window shows its screen's picture,
// whitened by the flash.
TEST(CaptureFlash, WithoutCompositingWhitensAPictureOfTheScreen)
{
    Compositing::setOverride(false);
    CaptureFlashController controller;
    controller.setSnapshotSource([] {
        CaptureFlashController::Snapshots snapshots;
        for (int i = 0; i < 3; ++i) {
            QImage image(OverlayScreens::geometries()[i].size(), QImage::Format_RGB32);
            image.fill(QColor(0, 100, 200));
            snapshots.insert(quint32(i), image);
        }
        return snapshots;
    });
    controller.flash();
    Compositing::clearOverride();
    const QList<CaptureFlashWindow *> windows = controller.windows();
    ASSERT_EQ(windows.size(), 3);
    EXPECT_TRUE(windows[2]->paintsBackdrop());
    EXPECT_EQ(windows[2]->windowOpacity(), 1.0);
    windows[2]->setLevel(0.55);
    const QImage image = windows[2]->grab().toImage();
    const QRgb pixel = image.pixel(100, 100);
    EXPECT_NEAR(qRed(pixel), 0.55 * 255, 2);
    EXPECT_NEAR(qGreen(pixel), 0.45 * 100 + 0.55 * 255, 2);
    EXPECT_NEAR(qBlue(pixel), 0.45 * 200 + 0.55 * 255, 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.windows().isEmpty(); }, 30000));
}
