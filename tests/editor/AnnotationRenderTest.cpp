// The one drawing of annotations, checked on the pixels it produces.
#include "editor/AnnotationRenderer.h"
#include "editor/Pixellate.h"

#include <QPainter>
#include <QRandomGenerator>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

const QColor kRed(255, 0, 0);

QImage plainImage(int w, int h, QColor colour = Qt::white, double dpr = 1.0)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(colour);
    img.setDevicePixelRatio(dpr);
    return img;
}

// Every pixel a different colour, so that any mean differs from its samples.
QImage noiseImage(int w, int h, double dpr)
{
    QImage img(w, h, QImage::Format_RGB32);
    QRandomGenerator rng(42);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(rng.bounded(256), rng.bounded(256), rng.bounded(256)));
    img.setDevicePixelRatio(dpr);
    return img;
}

Annotation make(AnnotationTool tool, QList<QPointF> points, double width = 3, QColor colour = kRed)
{
    Annotation a;
    a.tool = tool;
    a.color = colour;
    a.lineWidth = width;
    a.points = std::move(points);
    a.isFinished = true;
    return a;
}

bool isRed(QRgb p)
{
    return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60;
}

// The mean colour of a block of pixels, rounded the way the filter rounds.
QRgb blockMean(const QImage &img, const QRect &r)
{
    quint64 sr = 0, sg = 0, sb = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb p = img.pixel(x, y);
            sr += qRed(p);
            sg += qGreen(p);
            sb += qBlue(p);
        }
    const quint64 n = quint64(r.width()) * r.height();
    return qRgb(int((sr + n / 2) / n), int((sg + n / 2) / n), int((sb + n / 2) / n));
}

// The box around the pixels of `img` inside `area` that `ink` accepts.
template<typename Ink>
QRect inkBox(const QImage &img, const QRect &area, Ink ink)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (ink(img.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

TEST(AnnotationRender, TextHangsFromItsPointAndBadgeLabelsAreCentred)
{
    const QImage image = plainImage(200, 120);
    Annotation text = make(AnnotationTool::text, {{20, 40}}, 3, Qt::blue);
    text.text = QStringLiteral("HHH");
    text.fontSize = 30;
    // Badges of one and of two digits; the annotation's font size is not used.
    Annotation one = make(AnnotationTool::numbering, {{140.5, 30.5}}, 3, Qt::blue);
    one.number = 8;
    one.fontSize = 60;
    Annotation two = one;
    two.number = 10;
    two.points = {{140.5, 85.5}};
    const QImage out = AnnotationRenderer::flatten(image, {text, one, two});

    // The text's top-left is its point: capitals start below it, within
    // the line's height, and end before the next line would begin.
    const QRect letters = inkBox(out, QRect(0, 0, 110, 120), [](QRgb p) { return qBlue(p) > qRed(p) + 100; });
    ASSERT_FALSE(letters.isEmpty());
    EXPECT_GE(letters.top(), 40);
    EXPECT_LE(letters.top(), 40 + 15);
    EXPECT_LE(letters.bottom(), 40 + 36);
    EXPECT_GE(letters.left(), 20);
    EXPECT_LE(letters.left(), 20 + 6);

    for (const Annotation &badge : {one, two}) {
        SCOPED_TRACE(badge.number);
        const QPointF C = badge.points[0];
        // The disc: 32 across, centred on the point.
        EXPECT_EQ(inkBox(out, QRect(100, int(C.y()) - 25, 90, 50), [](QRgb p) { return qBlue(p) > qRed(p) + 100; }),
                  QRect(int(C.x()) - 16, int(C.y()) - 16, 33, 33));
        // The white label inside it, centred on the point within a pixel
        // or two, and 14 points high whatever the font size says.
        const QRect label = inkBox(out, QRect(int(C.x()) - 10, int(C.y()) - 10, 21, 21),
                                   [](QRgb p) { return qRed(p) > 200 && qBlue(p) > 200; });
        ASSERT_FALSE(label.isEmpty());
        EXPECT_NEAR(label.left() + label.width() / 2.0, C.x(), 1.5);
        EXPECT_NEAR(label.top() + label.height() / 2.0, C.y(), 1.5);
        EXPECT_LE(label.height(), 12);
    }
}

TEST(AnnotationRender, ArrowHeadGrowsWithWidthAndHiddenLayersAreLeftOut)
{
    const QImage image = plainImage(120, 100);
    // Width 2: head 12 long, so x = 76 (14 behind the tip) is bare shaft.
    const QImage thin = AnnotationRenderer::flatten(image, {make(AnnotationTool::arrow, {{10, 50}, {90, 50}}, 2)});
    EXPECT_TRUE(isRed(thin.pixel(85, 50)));
    EXPECT_TRUE(isRed(thin.pixel(80, 53))); // inside the head, off the 2-wide shaft
    EXPECT_FALSE(isRed(thin.pixel(76, 56)));
    EXPECT_FALSE(isRed(thin.pixel(95, 50))); // nothing past the tip
    // Width 5: head 20 long, 6.7 half-wide at x = 76.
    const QImage wide = AnnotationRenderer::flatten(image, {make(AnnotationTool::arrow, {{10, 50}, {90, 50}}, 5)});
    EXPECT_TRUE(isRed(wide.pixel(76, 55)));
    EXPECT_FALSE(isRed(wide.pixel(76, 60)));
    // Width 10: head 40 long, its edges pi/7 off the shaft, filled without
    // the line's pen (which would push them out by half the width). The
    // shaft is on row 50's centre, so row 50 + k lies k off it.
    const QImage thick = AnnotationRenderer::flatten(
        plainImage(200, 100), {make(AnnotationTool::arrow, {{20, 50.5}, {180, 50.5}}, 10)});
    for (const int side : {-1, 1}) {
        SCOPED_TRACE(side);
        // 29.5 behind the tip the edge is 14.2 off; 35.5 behind, 17.1.
        EXPECT_TRUE(isRed(thick.pixel(150, 50 + side * 12)));
        EXPECT_FALSE(isRed(thick.pixel(150, 50 + side * 16)));
        EXPECT_TRUE(isRed(thick.pixel(144, 50 + side * 15)));
        EXPECT_FALSE(isRed(thick.pixel(144, 50 + side * 19)));
        // Past the head's base corner (36 behind the tip) only the shaft.
        EXPECT_FALSE(isRed(thick.pixel(141, 50 + side * 16)));
        // The shaft is 10 wide.
        EXPECT_TRUE(isRed(thick.pixel(100, 50 + side * 4)));
        EXPECT_FALSE(isRed(thick.pixel(100, 50 + side * 6)));
    }

    // A hidden tool is not drawn at all; the others still are; an export
    // without a hidden set draws everything.
    const QList<Annotation> marks = {make(AnnotationTool::rectangle, {{10, 10}, {40, 40}}),
                                     make(AnnotationTool::highlight, {{60, 10}, {100, 40}}, 3, Qt::blue)};
    const QImage hidden = AnnotationRenderer::flatten(image, marks, {AnnotationTool::rectangle});
    EXPECT_EQ(hidden.pixel(10, 25), image.pixel(10, 25));
    EXPECT_NEAR(qRed(hidden.pixel(80, 25)), 179, 2); // blue at alpha 0.3 over white
    EXPECT_EQ(qBlue(hidden.pixel(80, 25)), 255);
    const QImage all = AnnotationRenderer::flatten(image, marks);
    EXPECT_TRUE(isRed(all.pixel(10, 25)));
    // A one-point shape (a click) and an empty text draw nothing.
    Annotation emptyText = make(AnnotationTool::text, {{5, 5}});
    const QImage nothing = AnnotationRenderer::flatten(
        image, {make(AnnotationTool::rectangle, {{30, 30}}), make(AnnotationTool::freehand, {{30, 30}}), emptyText});
    EXPECT_EQ(nothing, AnnotationRenderer::flatten(image, {}));
}

TEST(AnnotationRender, CropOverlayDimsOutsideAndDashesItsOutline)
{
    const QImage image = plainImage(100, 80);
    const QImage out = AnnotationRenderer::flatten(image, {make(AnnotationTool::crop, {{80, 60}, {20, 20}})});
    EXPECT_EQ(out.pixel(50, 40), qRgb(255, 255, 255));  // inside stays clear
    const QRgb dim = out.pixel(5, 5);
    EXPECT_NEAR(qRed(dim), 166, 2); // black at 0.35 over white
    EXPECT_EQ(out.pixel(90, 40), dim);
    EXPECT_EQ(out.pixel(50, 70), dim);
    // Along the top edge, dashes alternate with gaps (6 on, 4 off).
    int dashed = 0;
    int switches = 0;
    bool last = false;
    for (int x = 22; x < 78; ++x) {
        const QRgb p = out.pixel(x, 20);
        const bool blue = qBlue(p) > qRed(p) + 40;
        dashed += blue;
        switches += (x > 22 && blue != last);
        last = blue;
    }
    EXPECT_GT(dashed, 56 * 4 / 10);
    EXPECT_LT(dashed, 56 * 8 / 10);
    EXPECT_GE(switches, 8);
}

TEST(AnnotationRender, BlurCellsAreUniformMeansAnchoredAtTheRegionAndClippedToTheImage)
{
    // Two pixels per point: a 50 x 30-point blur covers 100 x 60 pixels,
    // cells of 10 pixels; the patch is the mean of each source cell.
    const QImage image = noiseImage(240, 160, 2.0);
    const QImage out = AnnotationRenderer::flatten(image, {make(AnnotationTool::blur, {{60, 40}, {10, 10}})});
    ASSERT_EQ(out.size(), image.size());
    for (int cy = 20; cy < 80; cy += 10)
        for (int cx = 20; cx < 120; cx += 10) {
            const QRect cell(cx, cy, 10, 10);
            const QRgb expected = blockMean(image, cell);
            EXPECT_EQ(out.pixel(cx, cy), expected);
            EXPECT_EQ(out.pixel(cx + 9, cy + 9), expected);
        }
    EXPECT_EQ(out.pixel(19, 19), image.pixel(19, 19)); // outside untouched
    EXPECT_EQ(out.pixel(120, 80), image.pixel(120, 80));

    // A small region still gets cells of at least 8 pixels.
    const QImage small = AnnotationRenderer::flatten(image, {make(AnnotationTool::blur, {{10, 10}, {18, 18}})});
    EXPECT_EQ(small.pixel(20, 20), small.pixel(27, 27));
    EXPECT_EQ(small.pixel(20, 20), blockMean(image, QRect(20, 20, 8, 8)));
    EXPECT_NE(small.pixel(27, 27), small.pixel(28, 28));

    // Dragged past the right and bottom edges: cells stay anchored at the
    // region's corner and the patch ends at the image's edge, unstretched.
    const QImage edge = AnnotationRenderer::flatten(image, {make(AnnotationTool::blur, {{100, 60}, {200, 140}})});
    const int cell = Pixellate::cellSizeFor(QSize(200, 160)); // 20
    ASSERT_EQ(cell, 20);
    EXPECT_EQ(edge.pixel(200, 120), blockMean(image, QRect(200, 120, 20, 20)));
    EXPECT_EQ(edge.pixel(239, 159), blockMean(image, QRect(220, 140, 20, 20)));
    EXPECT_EQ(edge.pixel(199, 119), image.pixel(199, 119));

    // A blur dragged either way covers the same pixels; one 1 point wide
    // draws nothing.
    EXPECT_EQ(AnnotationRenderer::flatten(image, {make(AnnotationTool::blur, {{10, 10}, {60, 40}})}), out);
    EXPECT_EQ(AnnotationRenderer::flatten(image, {make(AnnotationTool::blur, {{10, 10}, {11, 40}})}),
              AnnotationRenderer::flatten(image, {}));

    // Cells taller than 256 rows (sums are carried over in parts).
    const QImage wide = noiseImage(2600, 300, 1.0);
    const QImage bigCells = AnnotationRenderer::flatten(wide, {make(AnnotationTool::blur, {{0, 0}, {2600, 300}})});
    EXPECT_EQ(bigCells.pixel(259, 259), blockMean(wide, QRect(0, 0, 260, 260)));
    EXPECT_EQ(bigCells.pixel(2599, 299), blockMean(wide, QRect(2340, 260, 260, 40)));

    // A tall image is drawn in bands side by side; a stroke and a cell
    // crossing every band boundary come out whole.
    const QImage tall = noiseImage(120, 1600, 1.0);
    const QImage banded = AnnotationRenderer::flatten(
        tall, {make(AnnotationTool::blur, {{0, 0}, {100, 1000}}), make(AnnotationTool::line, {{110, 5}, {110, 1595}})});
    for (int y = 0; y < 1000; y += 100) {
        const QRgb expected = blockMean(tall, QRect(0, y, 100, 100));
        EXPECT_EQ(banded.pixel(0, y), expected);
        EXPECT_EQ(banded.pixel(99, y + 99), expected);
    }
    for (int y = 10; y < 1590; ++y)
        ASSERT_TRUE(isRed(banded.pixel(110, y))) << y;
}

TEST(AnnotationRender, NonsenseValuesAreSkippedOrDrawnSafely)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const QImage image = plainImage(200, 150);
    Annotation hugeText = make(AnnotationTool::text, {{10, 10}});
    hugeText.text = QStringLiteral("big");
    hugeText.fontSize = 1e9;
    Annotation nanText = hugeText;
    nanText.fontSize = nan;
    Annotation negativeText = hugeText;
    negativeText.fontSize = -4;
    Annotation hugeNumber = make(AnnotationTool::numbering, {{100, 100}});
    hugeNumber.number = std::numeric_limits<qint64>::min();
    QList<QPointF> runaway;
    for (int i = 0; i < 2000; ++i)
        runaway.append(QPointF(i * 1e3, (i % 2) * 1e5));
    const QList<Annotation> bad = {
        make(AnnotationTool::line, {{10, 10}, {100, 100}}, nan),
        make(AnnotationTool::rectangle, {{10, 10}, {100, 100}}, -5),
        make(AnnotationTool::arrow, {{10, 10}, {100, 100}}, inf),
        make(AnnotationTool::ellipse, {{nan, 10}, {100, 100}}),
        make(AnnotationTool::arrow, {{10, 10}, {1e12, -1e12}}),
        make(AnnotationTool::blur, {{-1e9, -1e9}, {1e9, 1e9}}),
        make(AnnotationTool::crop, {{-inf, 0}, {50, 50}}),
        make(AnnotationTool::freehand, runaway),
        make(AnnotationTool::highlight, {{0, 0}, {1e5, 1e5}}),
        make(AnnotationTool::line, {{0, 0}, {5e5, 5e5}}, 1e7),
        hugeText,
        nanText,
        negativeText,
        hugeNumber,
    };
    // A long stroke as wide as the clamp allows crosses the image many times.
    QList<QPointF> zigzag;
    for (int i = 0; i < 400; ++i)
        zigzag.append(QPointF((i % 2) * 200, i * 0.4));
    const QImage wide = AnnotationRenderer::flatten(image, {make(AnnotationTool::freehand, zigzag, 1e4)});
    EXPECT_TRUE(isRed(wide.pixel(100, 75)));
    const QImage out = AnnotationRenderer::flatten(image, bad);
    ASSERT_EQ(out.size(), image.size());
    // Those with unusable points or widths leave no mark; the rest (a huge
    // but finite highlight, a clamped 1e7 width, a 1e9-point font) draw.
    EXPECT_EQ(AnnotationRenderer::flatten(image, bad.mid(0, 8)), AnnotationRenderer::flatten(image, {}));
    EXPECT_TRUE(isRed(out.pixel(150, 140)));
    // Selection chrome of a far-off annotation does not hang either.
    QImage chrome = image.copy();
    QPainter p(&chrome);
    AnnotationRenderer::drawSelectionChrome(p, make(AnnotationTool::freehand, runaway));
    AnnotationRenderer::drawSelectionChrome(p, make(AnnotationTool::highlight, {{0, 0}, {9e5, 9e5}}));
}
