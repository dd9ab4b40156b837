// The canvas widget driven by mouse and key events on the offscreen platform.
#include "editor/AnnotationCanvasNSView.h"
#include "editor/AnnotationRenderer.h"

#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

QImage whiteImage(int w, int h, double dpr)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    img.setDevicePixelRatio(dpr);
    return img;
}

// A widget that counts the keys its children pass on to it.
class KeyRecorder : public QWidget
{
public:
    int keys = 0;

protected:
    void keyPressEvent(QKeyEvent *) override { ++keys; }
};

// A shown canvas over a 400 x 300-point image (two pixels per point),
// inside a host that sees every key the canvas does not take.
struct Canvas
{
    explicit Canvas(double zoom = 1.0, double dpr = 2.0)
    {
        host = std::make_unique<KeyRecorder>();
        view = std::make_unique<AnnotationCanvasNSView>(host.get());
        view->setImage(ImageHandle(whiteImage(int(400 * dpr), int(300 * dpr), dpr)));
        view->setZoom(zoom);
        host->resize(view->size());
        host->show();
    }
    void drag(const QList<QPoint> &path)
    {
        QTest::mousePress(view.get(), Qt::LeftButton, {}, path.first());
        for (qsizetype i = 1; i < path.size(); ++i)
            QTest::mouseMove(view.get(), path[i]);
        QTest::mouseRelease(view.get(), Qt::LeftButton, {}, path.last());
    }
    void click(QPoint p) { drag({p}); }
    // The annotation list of the latest report.
    QList<Annotation> lastReport(QSignalSpy &spy)
    {
        return spy.last().at(0).value<QList<Annotation>>();
    }
    std::unique_ptr<KeyRecorder> host;
    std::unique_ptr<AnnotationCanvasNSView> view; // destroyed before its host
};

bool isRed(QRgb p)
{
    return qRed(p) > 200 && qGreen(p) < 90 && qBlue(p) < 90;
}

// The selection's blue, wholly or partly over white.
bool isChromeBlue(QRgb p)
{
    return qBlue(p) > qRed(p) + 40;
}

} // namespace

TEST(CanvasInteraction, EachShapeToolAddsOneAnnotationPerDragAndNoneForAClick)
{
    const QList<AnnotationTool> shapes = {AnnotationTool::arrow,     AnnotationTool::line,
                                          AnnotationTool::rectangle, AnnotationTool::ellipse,
                                          AnnotationTool::freehand,  AnnotationTool::highlight,
                                          AnnotationTool::blur};
    for (AnnotationTool tool : shapes) {
        SCOPED_TRACE(AnnotationTools::rawValue(tool).toStdString());
        Canvas c;
        QSignalSpy spy(c.view.get(), &AnnotationCanvasNSView::annotationsChanged);
        c.view->setCurrentTool(tool);
        c.view->setCurrentLineWidth(5);
        c.click(QPoint(50, 50));
        EXPECT_EQ(spy.count(), 0);
        EXPECT_TRUE(c.view->annotations().isEmpty());
        EXPECT_FALSE(c.view->activeAnnotation().has_value());

        c.drag({QPoint(100, 80), QPoint(70, 50), QPoint(40, 20)});
        ASSERT_EQ(spy.count(), 1);
        const QList<Annotation> list = c.lastReport(spy);
        ASSERT_EQ(list.size(), 1);
        const Annotation &a = list.first();
        EXPECT_EQ(a.tool, tool);
        EXPECT_TRUE(a.isFinished);
        EXPECT_EQ(a.lineWidth, 5);
        if (tool == AnnotationTool::freehand)
            EXPECT_EQ(a.points, (QList<QPointF>{{100, 80}, {70, 50}, {40, 20}}));
        else
            EXPECT_EQ(a.points, (QList<QPointF>{{100, 80}, {40, 20}}));
        EXPECT_EQ(a.boundingRect(), QRectF(40, 20, 60, 60));
        EXPECT_EQ(spy.last().at(1).toLongLong(), 1);
    }
}

TEST(CanvasInteraction, NumberingReportsTheNextNumberAndKeepsItsOwnUntilTold)
{
    Canvas c;
    QSignalSpy spy(c.view.get(), &AnnotationCanvasNSView::annotationsChanged);
    c.view->setCurrentTool(AnnotationTool::numbering);
    c.view->setNextNumber(3);
    c.click(QPoint(60, 70));
    ASSERT_EQ(spy.count(), 1);
    const Annotation badge = c.lastReport(spy).first();
    EXPECT_EQ(badge.number, 3);
    EXPECT_EQ(badge.fontSize, 16);
    EXPECT_EQ(badge.points, (QList<QPointF>{{60, 70}}));
    EXPECT_EQ(spy.last().at(1).toLongLong(), 4);
    EXPECT_EQ(c.view->nextNumber(), 3);
}

TEST(CanvasInteraction, TextIsPlacedAtItsFieldAndAnOpenFieldIsKeptWhenAnotherOpens)
{
    Canvas c(2.0); // the field sits at the widget position, the text at image points
    QSignalSpy spy(c.view.get(), &AnnotationCanvasNSView::annotationsChanged);
    c.view->setCurrentTool(AnnotationTool::text);
    c.click(QPoint(40, 60));
    ASSERT_NE(c.view->textField(), nullptr);
    EXPECT_EQ(c.view->textField()->geometry().topLeft(), QPoint(40, 60));
    QTest::keyClicks(c.view->textField(), QStringLiteral("first"));

    // A second press with the text tool keeps the first text, at its own origin.
    c.click(QPoint(300, 200));
    ASSERT_EQ(spy.count(), 1);
    QList<Annotation> list = c.lastReport(spy);
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].text, QStringLiteral("first"));
    EXPECT_EQ(list[0].points, (QList<QPointF>{{20, 30}}));
    EXPECT_EQ(list[0].lineWidth, 3);
    ASSERT_NE(c.view->textField(), nullptr);
    EXPECT_EQ(c.view->textAnchor(), QPointF(150, 100));

    // Return commits spaces as typed; an empty field closes adding nothing.
    QTest::keyClicks(c.view->textField(), QStringLiteral("  "));
    QTest::keyClick(c.view->textField(), Qt::Key_Return);
    ASSERT_EQ(spy.count(), 2);
    list = c.lastReport(spy);
    EXPECT_EQ(list.last().text, QStringLiteral("  "));
    EXPECT_EQ(list.last().points, (QList<QPointF>{{150, 100}}));
    EXPECT_EQ(c.view->textField(), nullptr);
    c.click(QPoint(10, 10));
    c.view->commitTextEntry();
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(c.view->textField(), nullptr);
}

TEST(CanvasInteraction, EscapeInTheTextFieldDropsWhatWasTyped)
{
    Canvas c;
    QSignalSpy spy(c.view.get(), &AnnotationCanvasNSView::annotationsChanged);
    c.view->setCurrentTool(AnnotationTool::text);
    c.click(QPoint(40, 60));
    ASSERT_NE(c.view->textField(), nullptr);
    QPointer<QLineEdit> field = c.view->textField();
    QTest::keyClicks(field, QStringLiteral("draft"));
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(c.view->textField(), nullptr);
    EXPECT_EQ(c.view->textAnchor(), std::nullopt);
    EXPECT_TRUE(field.isNull() || !field->isVisible());
    // Nor does the focus leaving the closed field add it afterwards.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_TRUE(c.view->annotations().isEmpty());
    EXPECT_EQ(c.host->keys, 0);

    // The next field works as before.
    c.click(QPoint(100, 100));
    QTest::keyClicks(c.view->textField(), QStringLiteral("kept"));
    QTest::keyClick(c.view->textField(), Qt::Key_Return);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(c.lastReport(spy).first().text, QStringLiteral("kept"));
}

TEST(CanvasInteraction, MovingASelectionIsOneReportAndDeleteKeysRemoveIt)
{
    Canvas c;
    Annotation lower;
    lower.tool = AnnotationTool::rectangle;
    lower.points = {{50, 50}, {150, 150}};
    Annotation upper = lower;
    upper.id = QUuid::createUuid();
    upper.tool = AnnotationTool::numbering;
    upper.points = {{140, 140}};
    c.view->setAnnotations({lower, upper});
    c.view->setCurrentTool(AnnotationTool::select);
    QSignalSpy spy(c.view.get(), &AnnotationCanvasNSView::annotationsChanged);

    // Where both overlap, the later one wins; a press off everything selects nothing.
    c.click(QPoint(145, 145));
    EXPECT_EQ(c.view->selectedAnnotationID(), upper.id);
    c.click(QPoint(300, 20));
    EXPECT_FALSE(c.view->selectedAnnotationID().has_value());
    // A press selects up to 8 points outside an annotation's box, not 9.
    c.click(QPoint(42, 100));
    EXPECT_EQ(c.view->selectedAnnotationID(), lower.id);
    c.click(QPoint(41, 100));
    EXPECT_FALSE(c.view->selectedAnnotationID().has_value());
    c.click(QPoint(100, 158));
    EXPECT_EQ(c.view->selectedAnnotationID(), lower.id);
    c.click(QPoint(100, 159));
    EXPECT_FALSE(c.view->selectedAnnotationID().has_value());
    // A badge's 40 x 40 box is centred on its point.
    c.click(QPoint(140 - 27, 140 - 27));
    EXPECT_EQ(c.view->selectedAnnotationID(), upper.id);
    c.click(QPoint(140 + 27, 140 - 27));
    EXPECT_EQ(c.view->selectedAnnotationID(), upper.id);
    c.click(QPoint(140 + 29, 140 + 29));
    EXPECT_FALSE(c.view->selectedAnnotationID().has_value());
    EXPECT_EQ(spy.count(), 0);

    c.drag({QPoint(45, 45), QPoint(50, 47), QPoint(60, 40), QPoint(65, 35)});
    ASSERT_EQ(spy.count(), 1);
    QList<Annotation> list = c.lastReport(spy);
    EXPECT_EQ(list[0].id, lower.id);
    EXPECT_EQ(list[0].points, (QList<QPointF>{{70, 40}, {170, 140}}));
    EXPECT_EQ(list[1], upper);

    // Other keys do nothing and go nowhere else; Backspace and Delete both
    // remove the selection.
    QTest::keyClick(c.view.get(), Qt::Key_A);
    QTest::keyClick(c.view.get(), Qt::Key_Escape);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(c.host->keys, 0);
    QTest::keyClick(c.view.get(), Qt::Key_Delete);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(c.lastReport(spy), (QList<Annotation>{upper}));
    QTest::keyClick(c.view.get(), Qt::Key_Backspace); // nothing selected now
    EXPECT_EQ(spy.count(), 2);
    c.click(QPoint(141, 141));
    QTest::keyClick(c.view.get(), Qt::Key_Backspace);
    ASSERT_EQ(spy.count(), 3);
    EXPECT_TRUE(c.lastReport(spy).isEmpty());
    EXPECT_EQ(c.host->keys, 0);
}

TEST(CanvasInteraction, CropKeepsPixelsPerPointAndNeverBecomesAnAnnotation)
{
    Canvas c; // 2 pixels per point
    QSignalSpy crops(c.view.get(), &AnnotationCanvasNSView::imageCropped);
    QSignalSpy changes(c.view.get(), &AnnotationCanvasNSView::annotationsChanged);
    c.view->setCurrentTool(AnnotationTool::crop);
    c.click(QPoint(30, 30));
    c.drag({QPoint(20, 20), QPoint(24, 120)}); // 4 points wide: too thin
    EXPECT_EQ(crops.count(), 0);

    c.drag({QPoint(110, 60), QPoint(10, 10)});
    ASSERT_EQ(crops.count(), 1);
    const QImage cut = crops.last().at(0).value<ImageHandle>().image();
    EXPECT_EQ(cut.size(), QSize(200, 100));
    EXPECT_EQ(cut.devicePixelRatio(), 2.0);

    // Partly outside the image: only the part on it is kept.
    c.view->performCrop(QRectF(300, 250, 500, 500));
    ASSERT_EQ(crops.count(), 2);
    EXPECT_EQ(crops.last().at(0).value<ImageHandle>().image().size(), QSize(200, 100));
    EXPECT_EQ(changes.count(), 0);
    EXPECT_TRUE(c.view->annotations().isEmpty());

    // Fractional edges: the smallest whole-pixel rectangle around them.
    QImage pattern(800, 600, QImage::Format_RGB32);
    for (int y = 0; y < pattern.height(); ++y)
        for (int x = 0; x < pattern.width(); ++x)
            pattern.setPixel(x, y, qRgb(x & 255, y & 255, ((x >> 8) << 4) | (y >> 8)));
    pattern.setDevicePixelRatio(2.0);
    c.view->setImage(ImageHandle(pattern));
    c.view->performCrop(QRectF(10.3, 20.2, 50.1, 30.1)); // pixels 20.6 to 120.8, 40.4 to 100.6
    ASSERT_EQ(crops.count(), 3);
    const QImage exact = crops.last().at(0).value<ImageHandle>().image();
    ASSERT_EQ(exact.size(), QSize(101, 61));
    EXPECT_EQ(exact.pixel(0, 0), pattern.pixel(20, 40));
    EXPECT_EQ(exact.pixel(100, 60), pattern.pixel(120, 100));
}

TEST(CanvasInteraction, SelectionChromeFramesTheSelectionOnlyUnderTheSelectTool)
{
    Canvas c;
    c.view->setCurrentTool(AnnotationTool::numbering);
    c.click(QPoint(200, 150));
    c.view->setCurrentTool(AnnotationTool::select);
    const QImage bare = c.view->grab().toImage();
    c.click(QPoint(200, 150));
    ASSERT_TRUE(c.view->selectedAnnotationID().has_value());
    const QImage shown = c.view->grab().toImage();

    // The badge's box (180, 130, 40, 40), centred on it, is framed 4 points
    // out by a dashed line of 4 on, 4 off, clear of the badge's disc.
    for (const int y : {126, 174}) {
        SCOPED_TRACE(y);
        int blue = 0, switches = 0;
        for (int x = 186; x <= 214; ++x) {
            blue += isChromeBlue(shown.pixel(x, y));
            switches += isChromeBlue(shown.pixel(x, y)) != isChromeBlue(shown.pixel(x - 1, y));
        }
        EXPECT_GE(blue, 10);
        EXPECT_LE(blue, 20);
        EXPECT_GE(switches, 6);
    }
    for (const int x : {176, 224}) {
        int blue = 0;
        for (int y = 136; y <= 164; ++y)
            blue += isChromeBlue(shown.pixel(x, y));
        EXPECT_GE(blue, 10) << x;
    }
    // A round handle on each corner of the box, white inside; none inside the frame.
    for (const QPoint corner : {QPoint(180, 130), QPoint(220, 130), QPoint(180, 170), QPoint(220, 170)}) {
        SCOPED_TRACE(corner.x() * 1000 + corner.y());
        EXPECT_TRUE(isChromeBlue(shown.pixel(corner + QPoint(3, -1))));
        EXPECT_TRUE(isChromeBlue(shown.pixel(corner + QPoint(-4, -1))));
        EXPECT_EQ(shown.pixel(corner + QPoint(0, -1)), qRgb(255, 255, 255));
    }
    EXPECT_EQ(shown.pixel(190, 130), bare.pixel(190, 130));
    EXPECT_EQ(shown.pixel(230, 180), bare.pixel(230, 180));

    // Another tool hides the chrome but keeps the selection; select shows it again.
    c.view->setCurrentTool(AnnotationTool::arrow);
    EXPECT_EQ(c.view->grab().toImage(), bare);
    c.view->setCurrentTool(AnnotationTool::select);
    EXPECT_EQ(c.view->grab().toImage(), shown);
}

TEST(CanvasInteraction, AShapeInProgressShowsOnItsHiddenLayerUntilLetGo)
{
    // An arrow 10 wide dragged out while arrows are hidden.
    Canvas c;
    c.view->setHiddenLayers({AnnotationTool::arrow});
    c.view->setCurrentTool(AnnotationTool::arrow);
    c.view->setCurrentColor(Qt::red);
    c.view->setCurrentLineWidth(10);
    QTest::mousePress(c.view.get(), Qt::LeftButton, {}, QPoint(50, 100));
    QTest::mouseMove(c.view.get(), QPoint(250, 100));
    const QImage shown = c.view->grab().toImage();
    // The shaft (on y = 100) is 10 wide: row 96 lies 3.5 off it, row 93 6.5.
    for (const int y : {96, 103})
        EXPECT_TRUE(isRed(shown.pixel(120, y))) << y;
    for (const int y : {93, 106})
        EXPECT_FALSE(isRed(shown.pixel(120, y))) << y;
    // 29.5 behind the tip the head's edges are 14.2 off the shaft.
    for (const int y : {87, 112})
        EXPECT_TRUE(isRed(shown.pixel(220, y))) << y;
    for (const int y : {83, 116})
        EXPECT_FALSE(isRed(shown.pixel(220, y))) << y;
    // Once finished it belongs to the hidden layer.
    QTest::mouseRelease(c.view.get(), Qt::LeftButton, {}, QPoint(250, 100));
    ASSERT_EQ(c.view->annotations().size(), 1);
    EXPECT_FALSE(isRed(c.view->grab().toImage().pixel(120, 100)));
}

TEST(CanvasInteraction, ZoomMapsEventsToImagePointsAndExportsAgree)
{
    // The same rectangle drawn at zoom 0.5 and at zoom 2 is stored at the
    // same image points, so both exports match pixel for pixel, and the
    // widget paints it scaled.
    QImage exports[2];
    const double zooms[2] = {0.5, 2.0};
    for (int i = 0; i < 2; ++i) {
        Canvas c(zooms[i]);
        EXPECT_EQ(c.view->size(), QSize(int(400 * zooms[i]), int(300 * zooms[i])));
        QSignalSpy spy(c.view.get(), &AnnotationCanvasNSView::annotationsChanged);
        c.view->setCurrentTool(AnnotationTool::rectangle);
        c.view->setCurrentColor(Qt::red);
        c.view->grab(); // the finished layer exists; the new shape is drawn onto it
        const QPoint from = (QPointF(100, 60) * zooms[i]).toPoint();
        const QPoint to = (QPointF(200, 160) * zooms[i]).toPoint();
        c.drag({from, to});
        ASSERT_EQ(spy.count(), 1);
        const QList<Annotation> list = c.lastReport(spy);
        EXPECT_EQ(list.first().points, (QList<QPointF>{{100, 60}, {200, 160}}));
        exports[i] = AnnotationRenderer::flatten(c.view->image().image(), list);

        const QImage shown = c.view->grab().toImage();
        EXPECT_TRUE(isRed(shown.pixel((QPointF(100, 110) * zooms[i]).toPoint())));
        EXPECT_FALSE(isRed(shown.pixel((QPointF(150, 110) * zooms[i]).toPoint())));
        c.view->redraw();
        EXPECT_EQ(c.view->grab().toImage(), shown); // drawn afresh: the same
    }
    EXPECT_EQ(exports[0], exports[1]);
    EXPECT_TRUE(isRed(exports[0].pixel(200, 220))); // left edge at 100 points = 200 pixels
}

TEST(CanvasInteraction, RedrawsReuseFinishedBlurPatches)
{
    Canvas c;
    QList<Annotation> blurs;
    for (int i = 0; i < 20; ++i) {
        Annotation a;
        a.tool = AnnotationTool::blur;
        a.points = {QPointF(10 + i * 15, 10), QPointF(30 + i * 15, 60)};
        blurs.append(a);
    }
    c.view->setAnnotations(blurs);
    c.view->grab();
    EXPECT_EQ(c.view->pixellateCache().pixellationCount(), 20);
    c.view->redraw();
    c.view->grab();
    c.view->setHiddenLayers({AnnotationTool::arrow});
    c.view->redraw();
    c.view->grab();
    EXPECT_EQ(c.view->pixellateCache().pixellationCount(), 20);
    // A new image drops them.
    c.view->setImage(ImageHandle(whiteImage(800, 600, 2.0)));
    c.view->grab();
    EXPECT_EQ(c.view->pixellateCache().pixellationCount(), 40);
}

TEST(CanvasInteraction, AFullRepaintMatchesOnePlainPaintOfTheScene)
{
    // The canvas paints its layer in bands on several threads, leaves out
    // what lies outside each band and gives the background only to what
    // the screenshot does not cover. None of that may show: texts and
    // badges cut by band edges, strokes across them, and the margin past
    // an image that does not fill the widget at a fractional zoom must
    // come out as one plain single-threaded paint of the scene.
    QImage image(401, 601, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x + y) % 256));
    QList<Annotation> list;
    for (int row = 0; row < 6; ++row) {
        const double y = 100 * row + 95; // across the bands' edges at several zooms
        Annotation text;
        text.tool = AnnotationTool::text;
        text.text = QStringLiteral("Band edge %1").arg(row);
        text.fontSize = 16 + 4 * row;
        text.color = Qt::blue;
        text.points = {QPointF(20, y)};
        Annotation badge;
        badge.tool = AnnotationTool::numbering;
        badge.number = 7 + 1000 * row;
        badge.color = Qt::darkGreen;
        badge.points = {QPointF(250, y + 5)};
        Annotation stroke;
        stroke.tool = AnnotationTool::freehand;
        stroke.color = Qt::red;
        stroke.lineWidth = 1 + row;
        for (int k = 0; k < 40; ++k)
            stroke.points.append(QPointF(300 + k * 2, y - 20 + (k % 7) * 6));
        list << text << badge << stroke;
    }
    for (const double zoom : {1.0, 0.75, 1.3}) {
        SCOPED_TRACE(zoom);
        AnnotationCanvasNSView view;
        view.setImage(ImageHandle(image));
        view.setZoom(zoom);
        view.setAnnotations(list);
        view.show();
        const QImage shown = view.grab().toImage().convertToFormat(QImage::Format_RGB32);

        QImage expected(view.size(), QImage::Format_RGB32);
        expected.fill(view.palette().color(QPalette::Window));
        QPainter painter(&expected);
        painter.scale(zoom, zoom);
        AnnotationScene scene;
        scene.image = image;
        scene.annotations = list;
        AnnotationRenderer::paint(painter, scene);
        painter.end();

        ASSERT_EQ(shown.size(), expected.size());
        int worst = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb a = shown.pixel(x, y), b = expected.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                  std::abs(qBlue(a) - qBlue(b))});
            }
        EXPECT_EQ(worst, 0);
    }
}
