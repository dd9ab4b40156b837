// Text recognition with the system's Tesseract and English data: two lines
// of rendered text come back as two lines, a picture without text gives an
// empty text, an image without pixels an export failure.

#include "editor/TextRecognition.h"

#include <QFont>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

QImage textImage(const QStringList &lines, double ratio)
{
    const int w = int(520 * ratio), h = int((40 + 40 * lines.size()) * ratio);
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(int(18 * ratio));
    p.setFont(font);
    p.setPen(QColor(30, 30, 30));
    for (int i = 0; i < lines.size(); ++i)
        p.drawText(QPointF(24 * ratio, (44 + 40 * i) * ratio), lines[i]);
    p.end();
    image.setDevicePixelRatio(ratio);
    return image;
}

TextRecognitionResult waitFor(QFuture<TextRecognitionResult> future)
{
    future.waitForFinished();
    return future.result();
}

} // namespace

TEST(TextRecognitionTest, TwoRenderedLinesComeBackAsTwoLines)
{
    const QStringList lines{QStringLiteral("Invoice number 4821 is overdue"),
                            QStringLiteral("Please reply before Friday")};
    for (double ratio : {1.0, 2.0}) {
        const auto result = waitFor(recognizeText(ImageHandle(textImage(lines, ratio))));
        ASSERT_TRUE(result.succeeded()) << result.error->description().toStdString();
        EXPECT_EQ(result.text, lines.join(QLatin1Char('\n'))) << "ratio " << ratio;
    }
}

TEST(TextRecognitionTest, NoTextAndNoPixels)
{
    QImage blank(400, 200, QImage::Format_RGB32);
    blank.fill(QColor(240, 240, 240));
    const auto empty = waitFor(recognizeText(ImageHandle(blank)));
    ASSERT_TRUE(empty.succeeded());
    EXPECT_TRUE(empty.text.isEmpty());

    const auto none = waitFor(recognizeText(ImageHandle()));
    ASSERT_FALSE(none.succeeded());
    EXPECT_EQ(none.error->description(), QStringLiteral("Export failed: could not read image"));
    // A file that is not an image is read on the worker and fails the same way.
    const auto unreadable = waitFor(recognizeText(ImageHandle::fromFile(QStringLiteral("/nonexistent/x.png"))));
    ASSERT_FALSE(unreadable.succeeded());
    EXPECT_EQ(unreadable.error->description(), QStringLiteral("Export failed: could not read image"));
}
