#include "capture/TimerOverlayView.h"

#include <QPainter>
#include <gtest/gtest.h>

namespace {
QImage render(TimerOverlayView &view)
{
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// The box around the pixels of the digits' colour.
QRect digitBox(const QImage &image, QColor ink)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - ink.red()) < 40 && std::abs(qGreen(p) - ink.green()) < 40
                && std::abs(qBlue(p) - ink.blue()) < 40 && qAlpha(p) > 200)
                box |= QRect(x, y, 1, 1);
        }
    return box;
}
} // namespace

TEST(TimerOverlay, BadgeKeepsItsSizeForTwoDigits)
{
    for (int seconds : {5, 30}) {
        TimerOverlayView view(seconds);
        EXPECT_EQ(view.size(), QSize(120, 120));
        const QImage image = render(view);
        // Clear in the corners, opaque-ish inside the circle.
        EXPECT_EQ(qAlpha(image.pixel(1, 1)), 0);
        EXPECT_GT(qAlpha(image.pixel(60, 20)), 150);
        // The digits lie inside the circle, centred.
        const QRect box = digitBox(image, view.palette().color(QPalette::WindowText));
        ASSERT_FALSE(box.isEmpty()) << seconds;
        const QPointF centre(60, 60);
        for (QPointF corner : {box.topLeft(), box.topRight(), box.bottomLeft(), box.bottomRight()})
            EXPECT_LT(QLineF(centre, corner).length(), 50) << seconds;
        EXPECT_NEAR(box.center().x(), 60, 4);
        if (seconds == 30)
            EXPECT_GT(box.width(), 40); // both digits
        else
            EXPECT_LT(box.width(), 35);
    }
}

// Given a picture of what lies beneath, the view paints it outside the badge
// and a frosted version inside.
TEST(TimerOverlay, PaintsWhatLiesBeneathWhenGivenAPicture)
{
    QImage beneath(240, 240, QImage::Format_RGB32);
    beneath.fill(QColor(255, 0, 0));
    QPainter(&beneath).fillRect(0, 0, 120, 240, QColor(0, 0, 255));
    beneath.setDevicePixelRatio(2);
    TimerOverlayView view(3, beneath);
    const QImage image = render(view);
    EXPECT_EQ(image.pixel(1, 1), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(118, 118), qRgb(255, 0, 0));
    // Inside, towards the right edge of the circle: reddish, lightened.
    const QRgb inside = image.pixel(100, 60);
    EXPECT_EQ(qAlpha(inside), 255);
    EXPECT_GT(qRed(inside), qBlue(inside));
    EXPECT_GT(qGreen(inside), 60);
}
