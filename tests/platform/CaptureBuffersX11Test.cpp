// The screen capture hands out ready memory for its images; an image that
// is still held must never be written by a later capture.
#include "platform/ScreenCapture.h"
#include "support/X11TestWindows.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

TEST(CaptureBuffers, HeldCapturesKeepTheirPixelsWhileLaterOnesAreTaken)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    const QRect area(100, 100, 200, 150);
    QList<QImage> held;
    const QRgb colours[] = {qRgb(200, 30, 30), qRgb(30, 200, 30), qRgb(30, 30, 200)};
    for (QRgb colour : colours) {
        X11TestWindows window;
        ASSERT_TRUE(window.show({{area, colour, {}, {}, {}}}));
        std::optional<QImage> image;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            // At the screen's own pixel size: the grabbed image itself.
            const QRect screen = QGuiApplication::primaryScreen()->geometry();
            image = ScreenCapture::current().captureRect(QRectF(screen), screen.size(), false);
            return image && !image->isNull() && image->pixel(200, 170) == colour;
        }, 30000));
        held << *image;
        QTest::qWait(100); // the next buffer is readied in the background meanwhile
    }
    ASSERT_EQ(held.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(held[i].pixel(200, 170), colours[i]) << i;
        EXPECT_EQ(held[i].size(), QGuiApplication::primaryScreen()->geometry().size());
    }
    EXPECT_NE(held[0].constBits(), held[1].constBits());
    EXPECT_NE(held[1].constBits(), held[2].constBits());
}
