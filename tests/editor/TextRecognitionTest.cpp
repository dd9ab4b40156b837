// Text recognition with the system's Tesseract and English data: two lines
// of rendered text come back as two lines, also when they are black on a
// transparent background; a picture without text gives an empty text, an
// image without pixels an export failure.

#include "editor/TextRecognition.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QImage textImage(const QStringList &lines, double ratio, const QColor &ink = QColor(30, 30, 30),
                 const QColor &background = Qt::white)
{
    const int w = int(520 * ratio), h = int((40 + 40 * lines.size()) * ratio);
    QImage image(w, h, background.alpha() == 255 ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    image.fill(background);
    QPainter p(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(int(18 * ratio));
    p.setFont(font);
    p.setPen(ink);
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

// Black text on a transparent PNG reads as it does on white, the colour a
// viewer shows under it.
TEST(TextRecognitionTest, BlackTextOnATransparentFileIsRead)
{
    const QStringList lines{QStringLiteral("Invoice number 4821 is overdue"),
                            QStringLiteral("Please reply before Friday")};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("clear.png"));
    ASSERT_TRUE(textImage(lines, 1.0, Qt::black, Qt::transparent).save(path, "PNG"));
    const auto result = waitFor(recognizeText(ImageHandle::fromFile(path)));
    ASSERT_TRUE(result.succeeded()) << result.error->description().toStdString();
    EXPECT_EQ(result.text, lines.join(QLatin1Char('\n')));
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
