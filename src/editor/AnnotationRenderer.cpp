#include "editor/AnnotationRenderer.h"

#include "editor/Pixellate.h"
#include "editor/StrokeRaster.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QThread>
#include <QVarLengthArray>
#include <QtConcurrent/QtConcurrentMap>
#include <numeric>
#include <vector>
#include <algorithm>
#include <cmath>

namespace AnnotationRenderer {

namespace {

// Points farther out than this are nonsense (a corrupt list, a runaway
// drag); such annotations are skipped rather than handed to the rasteriser.
constexpr double kFarAway = 1e6;
constexpr double kMaxLineWidth = 500;
constexpr double kMaxFontSize = 1000;
constexpr double kHalfHeadAngle = 0.4487989505128276; // pi / 7

const QColor kSystemBlue(0, 122, 255);

bool usablePoint(const QPointF &p)
{
    return std::isfinite(p.x()) && std::isfinite(p.y()) && std::fabs(p.x()) <= kFarAway
           && std::fabs(p.y()) <= kFarAway;
}

bool usablePoints(const Annotation &a)
{
    return std::all_of(a.points.begin(), a.points.end(), usablePoint);
}

// The stroke width to draw with, or none when the value makes no sense.
std::optional<double> strokeWidth(double w)
{
    if (!std::isfinite(w) || w < 0)
        return std::nullopt;
    return std::min(w, kMaxLineWidth);
}

QRectF normalisedRect(const QPointF &a, const QPointF &b)
{
    return QRectF(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::fabs(b.x() - a.x()), std::fabs(b.y() - a.y()));
}

// Strokes with the pen already set on the painter; takes the fast path
// when the painter allows it.
void strokePolyline(QPainter &p, const QPointF *points, int count, bool closed, double width, const QColor &colour)
{
    if (StrokeRaster::canDraw(p, colour, width)) {
        StrokeRaster::drawPolyline(p, points, count, closed, width, colour);
        return;
    }
    if (closed)
        p.drawPolygon(points, count);
    else if (count == 2)
        p.drawLine(points[0], points[1]);
    else
        p.drawPolyline(points, count);
}

void strokeRect(QPainter &p, const QRectF &r, double width, const QColor &colour)
{
    if (!StrokeRaster::canDraw(p, colour, width)) {
        p.drawRect(r);
        return;
    }
    const QPointF corners[4] = {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()};
    StrokeRaster::drawPolyline(p, corners, 4, true, width, colour);
}

void strokeEllipse(QPainter &p, const QRectF &r, double width, const QColor &colour)
{
    if (!StrokeRaster::canDraw(p, colour, width)) {
        p.drawEllipse(r);
        return;
    }
    // Short enough chords (about 3 device pixels) that the outline reads as a curve.
    const double scale = std::fabs(p.deviceTransform().m11());
    const double perimeter = M_PI * (r.width() + r.height()) / 2 * scale;
    const int n = std::clamp(int(perimeter / 3), 16, 4096);
    QVarLengthArray<QPointF, 256> outline(n);
    const QPointF c = r.center();
    for (int i = 0; i < n; ++i) {
        const double angle = 2 * M_PI * i / n;
        outline[i] = QPointF(c.x() + r.width() / 2 * std::cos(angle), c.y() + r.height() / 2 * std::sin(angle));
    }
    StrokeRaster::drawPolyline(p, outline.constData(), n, true, width, colour);
}

void drawArrow(QPainter &p, const Annotation &a, double width)
{
    const QPointF A = a.points[0];
    const QPointF B = a.points[1];
    strokePolyline(p, a.points.constData(), 2, false, width, a.color);
    const double angle = std::atan2(B.y() - A.y(), B.x() - A.x());
    const double L = arrowHeadLength(width);
    const QPolygonF head({B,
                          QPointF(B.x() - std::cos(angle - kHalfHeadAngle) * L,
                                  B.y() - std::sin(angle - kHalfHeadAngle) * L),
                          QPointF(B.x() - std::cos(angle + kHalfHeadAngle) * L,
                                  B.y() - std::sin(angle + kHalfHeadAngle) * L)});
    // Filled only: the line's pen would grow the head by half its width.
    p.setPen(Qt::NoPen);
    p.setBrush(a.color);
    p.drawPolygon(head, Qt::WindingFill);
}

// Text with its top-left corner at `topLeft`.
void drawTextAt(QPainter &p, const QString &text, const QFont &font, const QPointF &topLeft, const QColor &color)
{
    p.setFont(font);
    p.setPen(color);
    const QFontMetricsF metrics(font);
    p.drawText(QPointF(topLeft.x(), topLeft.y() + metrics.ascent()), text);
}

void drawText(QPainter &p, const Annotation &a)
{
    if (a.text.isEmpty() || a.points.isEmpty())
        return;
    if (!std::isfinite(a.fontSize) || a.fontSize <= 0)
        return;
    drawTextAt(p, a.text, annotationFont(a.fontSize, QFont::DemiBold), a.points[0], a.color);
}

void drawNumberBadge(QPainter &p, const Annotation &a)
{
    const QPointF C = a.points[0];
    p.setPen(Qt::NoPen);
    p.setBrush(a.color);
    p.drawEllipse(QRectF(C.x() - 16, C.y() - 16, 32, 32));
    const QString label = numberLabel(a.number);
    const QFont font = annotationFont(14, QFont::Bold);
    const QFontMetricsF metrics(font);
    const double w = metrics.horizontalAdvance(label);
    const double h = metrics.height();
    drawTextAt(p, label, font, QPointF(C.x() - w / 2, C.y() - h / 2), Qt::white);
}

void drawHighlight(QPainter &p, const Annotation &a)
{
    QColor c = a.color;
    c.setAlphaF(0.3f);
    p.fillRect(normalisedRect(a.points[0], a.points[1]), c);
}

void drawCropOverlay(QPainter &p, const Annotation &a, const QSizeF &bounds)
{
    const QRectF R = normalisedRect(a.points[0], a.points[1]);
    p.save();
    QPen pen(kSystemBlue, 1.5);
    pen.setCapStyle(Qt::FlatCap);
    pen.setDashPattern({6 / 1.5, 4 / 1.5}); // lengths are in units of the pen width
    pen.setDashOffset(0);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(R);
    if (!bounds.isEmpty()) {
        const QColor dim(0, 0, 0, qRound(0.35 * 255));
        const QRectF B(QPointF(0, 0), bounds);
        p.fillRect(QRectF(B.left(), B.top(), B.width(), R.top()), dim);
        p.fillRect(QRectF(B.left(), R.bottom(), B.width(), B.bottom() - R.bottom()), dim);
        p.fillRect(QRectF(B.left(), R.top(), R.left(), R.height()), dim);
        p.fillRect(QRectF(R.right(), R.top(), B.right() - R.right(), R.height()), dim);
    }
    p.restore();
}

// A finished blur patch and where it goes, in image points.
struct BlurPatch
{
    QImage patch;
    QRectF target;
};

std::optional<BlurPatch> blurPatch(const Annotation &a, const QImage &image, PixellateCache *cache)
{
    const QRectF R = normalisedRect(a.points[0], a.points[1]);
    if (R.width() <= 1 || R.height() <= 1 || image.isNull())
        return std::nullopt;
    const QSizeF bounds = canvasSize(image);
    if (bounds.isEmpty())
        return std::nullopt;
    const double sx = image.width() / bounds.width();
    const double sy = image.height() / bounds.height();
    const QRect region = QRectF(R.x() * sx, R.y() * sy, R.width() * sx, R.height() * sy).toAlignedRect();
    const int cell = Pixellate::cellSizeFor(region.size());
    QImage patch = cache ? cache->patch(image, region, cell) : Pixellate::pixellate(image, region, cell);
    if (patch.isNull())
        return std::nullopt;
    const QRectF target(patch.offset().x() / sx, patch.offset().y() / sy, patch.width() / sx, patch.height() / sy);
    return BlurPatch{std::move(patch), target};
}

// `prepared`, when given, is the blur patch made beforehand (none: nothing to draw).
void drawPixelate(QPainter &p, const Annotation &a, const QImage &image, PixellateCache *cache,
                  const std::optional<BlurPatch> *prepared)
{
    const std::optional<BlurPatch> made = prepared ? std::nullopt : blurPatch(a, image, cache);
    const std::optional<BlurPatch> &patch = prepared ? *prepared : made;
    if (patch)
        p.drawImage(patch->target, patch->patch);
}

// Where an annotation can leave paint, in image points; none when that is
// not known in advance (the crop's dimming). Texts and badges get their
// text's box with a margin as wide as a line is high, for glyphs that
// reach past their advance.
std::optional<QRectF> paintBounds(const Annotation &a)
{
    switch (a.tool) {
    case AnnotationTool::crop:
    case AnnotationTool::select:
        return std::nullopt;
    case AnnotationTool::text: {
        if (a.text.isEmpty() || a.points.isEmpty() || !std::isfinite(a.fontSize) || a.fontSize <= 0)
            return QRectF(); // nothing is drawn
        const QFontMetricsF metrics(annotationFont(a.fontSize, QFont::DemiBold));
        const double h = metrics.height();
        return QRectF(a.points[0], QSizeF(metrics.horizontalAdvance(a.text), h)).adjusted(-h, -h, h, h);
    }
    case AnnotationTool::numbering: {
        if (a.points.isEmpty())
            return QRectF();
        const QFontMetricsF metrics(annotationFont(14, QFont::Bold));
        const double h = metrics.height();
        const double half = std::max(17.0, metrics.horizontalAdvance(numberLabel(a.number)) / 2) + h;
        return QRectF(a.points[0] - QPointF(half, half), QSizeF(2 * half, 2 * half));
    }
    default:
        break;
    }
    if (a.points.isEmpty())
        return QRectF();
    double left = a.points[0].x(), right = left, top = a.points[0].y(), bottom = top;
    for (const QPointF &p : a.points) {
        left = std::min(left, p.x());
        right = std::max(right, p.x());
        top = std::min(top, p.y());
        bottom = std::max(bottom, p.y());
    }
    const double w = std::isfinite(a.lineWidth) ? std::clamp(a.lineWidth, 0.0, kMaxLineWidth) : 0;
    const double margin = 5 * w + 16; // half the stroke, an arrow head, antialiasing
    return QRectF(QPointF(left, top), QPointF(right, bottom)).adjusted(-margin, -margin, margin, margin);
}

void drawOne(QPainter &painter, const Annotation &a, const QImage &image, PixellateCache *cache,
             const std::optional<BlurPatch> *prepared);

} // namespace

QSizeF canvasSize(const QImage &image)
{
    if (image.isNull())
        return QSizeF(0, 0);
    return image.deviceIndependentSize();
}

QString numberLabel(qint64 number)
{
    return QString::number(number);
}

double arrowHeadLength(double lineWidth)
{
    return std::max(4 * lineWidth, 12.0);
}

QFont annotationFont(double size, int weight)
{
    QFont font = QGuiApplication::font();
    const double clamped = std::clamp(std::isfinite(size) ? size : 1.0, 1.0, kMaxFontSize);
    font.setPixelSize(std::max(1, int(std::lround(clamped))));
    font.setWeight(QFont::Weight(weight));
    return font;
}

void drawImage(QPainter &painter, const QImage &image)
{
    if (image.isNull())
        return;
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRectF(QPointF(0, 0), canvasSize(image)), image);
    painter.restore();
}

void drawAnnotation(QPainter &painter, const Annotation &a, const QImage &image, PixellateCache *cache)
{
    drawOne(painter, a, image, cache, nullptr);
}

namespace {

void drawOne(QPainter &painter, const Annotation &a, const QImage &image, PixellateCache *cache,
             const std::optional<BlurPatch> *prepared)
{
    if (!usablePoints(a))
        return;
    const bool twoPoints = a.points.size() >= 2;
    painter.save();
    const std::optional<double> width = strokeWidth(a.lineWidth);
    QPen pen(a.color, width.value_or(0));
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    switch (a.tool) {
    case AnnotationTool::select:
        break;
    case AnnotationTool::arrow:
        if (twoPoints && width)
            drawArrow(painter, a, *width);
        break;
    case AnnotationTool::line:
        if (twoPoints && width)
            strokePolyline(painter, a.points.constData(), 2, false, *width, a.color);
        break;
    case AnnotationTool::rectangle:
        if (twoPoints && width)
            strokeRect(painter, normalisedRect(a.points[0], a.points[1]), *width, a.color);
        break;
    case AnnotationTool::ellipse:
        if (twoPoints && width)
            strokeEllipse(painter, normalisedRect(a.points[0], a.points[1]), *width, a.color);
        break;
    case AnnotationTool::freehand:
        if (twoPoints && width)
            strokePolyline(painter, a.points.constData(), int(a.points.size()), false, *width, a.color);
        break;
    case AnnotationTool::text:
        drawText(painter, a);
        break;
    case AnnotationTool::highlight:
        if (twoPoints)
            drawHighlight(painter, a);
        break;
    case AnnotationTool::blur:
        if (twoPoints)
            drawPixelate(painter, a, image, cache, prepared);
        break;
    case AnnotationTool::numbering:
        if (!a.points.isEmpty())
            drawNumberBadge(painter, a);
        break;
    case AnnotationTool::crop:
        if (twoPoints)
            drawCropOverlay(painter, a, canvasSize(image));
        break;
    }
    painter.restore();
}

} // namespace

QRectF paintArea(const Annotation &a)
{
    if (!usablePoints(a) || a.points.isEmpty())
        return QRectF();
    QRectF area;
    switch (a.tool) {
    case AnnotationTool::crop:
        return QRectF();
    case AnnotationTool::numbering:
        area = QRectF(a.points[0] - QPointF(17, 17), QSizeF(34, 34));
        break;
    case AnnotationTool::text: {
        if (!std::isfinite(a.fontSize) || a.fontSize <= 0)
            return QRectF();
        const QFontMetricsF metrics(annotationFont(a.fontSize, QFont::DemiBold));
        area = QRectF(a.points[0], QSizeF(metrics.horizontalAdvance(a.text), metrics.height())).adjusted(-2, -2, 2, 2);
        break;
    }
    default:
        area = paintBounds(a).value_or(QRectF());
        break;
    }
    // The selection box and its handles reach a little past the bounding rectangle.
    return area.united(a.boundingRect().adjusted(-6, -6, 6, 6));
}

void drawSelectionChrome(QPainter &painter, const Annotation &annotation)
{
    if (!usablePoints(annotation))
        return;
    const QRectF R = annotation.boundingRect();
    painter.save();
    QPen dashed(kSystemBlue, 1);
    dashed.setCapStyle(Qt::FlatCap);
    dashed.setDashPattern({4, 4});
    painter.setPen(dashed);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(R.adjusted(-4, -4, 4, 4));
    painter.setPen(QPen(kSystemBlue, 1.5));
    painter.setBrush(Qt::white);
    for (const QPointF &corner : {R.topLeft(), R.topRight(), R.bottomLeft(), R.bottomRight()})
        painter.drawEllipse(QRectF(corner.x() - 4, corner.y() - 4, 8, 8));
    painter.restore();
}

void paint(QPainter &painter, const AnnotationScene &scene, PixellateCache *cache)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    drawImage(painter, scene.image);
    for (const Annotation &a : scene.annotations) {
        if (!scene.hiddenLayers.contains(a.tool))
            drawAnnotation(painter, a, scene.image, cache);
    }
    if (scene.activeAnnotation)
        drawAnnotation(painter, *scene.activeAnnotation, scene.image, nullptr);
    if (scene.selectedAnnotationID) {
        for (const Annotation &a : scene.annotations) {
            if (a.id == *scene.selectedAnnotationID) {
                drawSelectionChrome(painter, a);
                break;
            }
        }
    }
    painter.restore();
}

void renderInto(QImage &target, const QTransform &transform, const AnnotationScene &scene, PixellateCache *cache)
{
    if (target.isNull())
        return;
    const qsizetype n = scene.annotations.size();
    // Blur patches first, here: the cache is not shared between threads.
    std::vector<std::optional<BlurPatch>> patches(static_cast<size_t>(n));
    std::vector<std::optional<QRectF>> bounds(static_cast<size_t>(n));
    if (cache)
        cache->beginFrame();
    for (qsizetype i = 0; i < n; ++i) {
        const Annotation &a = scene.annotations[i];
        bounds[size_t(i)] = paintBounds(a);
        if (a.tool == AnnotationTool::blur && !scene.hiddenLayers.contains(a.tool) && a.points.size() >= 2
            && usablePoints(a))
            patches[size_t(i)] = blurPatch(a, scene.image, cache);
    }
    if (cache)
        cache->endFrame();

    const qreal dpr = target.devicePixelRatio();
    const qsizetype bytesPerLine = target.bytesPerLine();
    uchar *bits = target.bits();
    const int height = target.height();
    // Half again as many bands as threads: a thread that starts late or
    // gets a busy band does not hold up the frame, the others take on
    // the bands left (each band costs a little: its painter, the image's
    // rows, the annotations that cross its edges).
    const int bandCount = std::clamp(std::min(QThread::idealThreadCount() * 3 / 2, height / 128), 1, 12);
    auto renderBand = [&](int band) {
        const int top = int(qint64(height) * band / bandCount);
        const int bottom = int(qint64(height) * (band + 1) / bandCount);
        QImage slice(bits + top * bytesPerLine, target.width(), bottom - top, bytesPerLine, target.format());
        slice.setDevicePixelRatio(dpr);
        QPainter painter(&slice);
        painter.translate(0, -top / dpr);
        painter.setWorldTransform(transform, true);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        const QRectF visible = painter.worldTransform().inverted().mapRect(
            QRectF(0, top / dpr, target.width() / dpr, (bottom - top) / dpr).translated(0, -top / dpr));
        drawImage(painter, scene.image);
        for (qsizetype i = 0; i < n; ++i) {
            const Annotation &a = scene.annotations[i];
            if (scene.hiddenLayers.contains(a.tool))
                continue;
            if (const auto &b = bounds[size_t(i)]; b && !b->intersects(visible))
                continue;
            drawOne(painter, a, scene.image, nullptr, a.tool == AnnotationTool::blur ? &patches[size_t(i)] : nullptr);
        }
    };
    if (bandCount == 1) {
        renderBand(0);
    } else {
        std::vector<int> bands(static_cast<size_t>(bandCount));
        std::iota(bands.begin(), bands.end(), 0);
        QtConcurrent::blockingMap(bands, [&](int band) { renderBand(band); });
    }
}

QImage flatten(const QImage &image, const QList<Annotation> &annotations, const QSet<AnnotationTool> &hiddenLayers)
{
    if (image.isNull())
        return {};
    QImage out(image.size(), image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (out.isNull())
        return {};
    out.setDevicePixelRatio(image.devicePixelRatio());
    out.fill(Qt::transparent);
    AnnotationScene scene;
    scene.image = image;
    scene.annotations = annotations;
    scene.hiddenLayers = hiddenLayers;
    renderInto(out, QTransform(), scene, nullptr);
    return out;
}

} // namespace AnnotationRenderer
