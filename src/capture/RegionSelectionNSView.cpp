#include "capture/RegionSelectionNSView.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <cmath>

namespace {

const QColor systemBlue(0, 122, 255);

// Qt's raster engine hands a fill of many rows to its thread pool and waits
// for it; for the small shapes drawn here the hand-off costs far more than
// the drawing. Shapes are therefore drawn through clips of fewer rows.
constexpr int rowsPerSlice = 64;

QFont monospacedFont(qreal pixelSize, QFont::Weight weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(int(pixelSize));
    font.setWeight(weight);
    return font;
}

const QFont &sizeLabelFont()
{
    static const QFont font = monospacedFont(12, QFont::DemiBold);
    return font;
}

const QFont &readoutFont()
{
    static const QFont font = monospacedFont(10, QFont::Medium);
    return font;
}

// A dashed pen. Qt measures dashes in pen widths (a width under one counts as
// one); the lengths here are points.
QPen dashedPen(const QColor &colour, qreal width, qreal dash, qreal gap)
{
    QPen pen(colour, width);
    pen.setCapStyle(Qt::FlatCap);
    const qreal unit = std::max<qreal>(width, 1);
    pen.setDashPattern({dash / unit, gap / unit});
    pen.setDashOffset(0);
    return pen;
}

// Strokes a rectangle's outline, but only the pieces of its edges that reach
// into the clip: a large selection is repainted a slice at a time, and each
// slice then strokes a few short lines instead of the whole outline. The
// edges come in the order a drawn rectangle takes them, the dash pattern
// carried on from one to the next, so the pieces join up exactly.
void drawOutline(QPainter &p, const QRectF &r, QPen pen, const QRect &clip)
{
    if (r.width() <= 0 || r.height() <= 0)
        return;
    const QRectF area = QRectF(clip).adjusted(-3, -3, 3, 3);
    const QPointF corners[] = {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft(), r.topLeft()};
    const qreal unit = std::max<qreal>(pen.widthF(), 1);
    const qreal startOffset = pen.dashOffset();
    const bool dashed = pen.style() == Qt::CustomDashLine;
    qreal travelled = 0;
    for (int i = 0; i < 4; ++i) {
        const QLineF edge(corners[i], corners[i + 1]);
        const qreal length = edge.length();
        // The stretch of the edge, as fractions of it, inside the area.
        qreal t0 = 0, t1 = 1;
        const bool horizontal = i % 2 == 0;
        const qreal fixed = horizontal ? edge.y1() : edge.x1();
        const qreal lo = horizontal ? area.left() : area.top();
        const qreal hi = horizontal ? area.right() : area.bottom();
        const qreal a = horizontal ? edge.x1() : edge.y1();
        const qreal b = horizontal ? edge.x2() : edge.y2();
        const bool crosses = horizontal ? (fixed >= area.top() && fixed <= area.bottom())
                                        : (fixed >= area.left() && fixed <= area.right());
        if (crosses && length > 0) {
            const qreal ta = (lo - a) / (b - a), tb = (hi - a) / (b - a);
            t0 = std::max<qreal>(0, std::min(ta, tb));
            t1 = std::min<qreal>(1, std::max(ta, tb));
            if (t0 < t1) {
                if (dashed)
                    pen.setDashOffset(startOffset + (travelled + t0 * length) / unit);
                p.setPen(pen);
                p.drawLine(edge.pointAt(t0), edge.pointAt(t1));
            }
        }
        travelled += length;
    }
}

QRegion ring(const QRectF &rect, int margin)
{
    const QRect outer = rect.toAlignedRect().adjusted(-margin, -margin, margin, margin);
    const QRect inner = rect.toRect().adjusted(margin, margin, -margin, -margin);
    QRegion region(outer);
    if (inner.isValid())
        region -= QRegion(inner);
    return region;
}

} // namespace

RegionSelectionNSView::RegionSelectionNSView(const QImage &snapshot, OnComplete onComplete, QWidget *parent)
    : QWidget(parent)
    , m_onComplete(std::move(onComplete))
    , m_snapshot(snapshot)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::CrossCursor);
    if (!m_snapshot.isNull()) {
        // The picture of the screen fills the view: nothing beneath needs
        // drawing first.
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
    }
}

std::optional<QRectF> RegionSelectionNSView::selectionRect() const
{
    if (!m_startPoint || !m_currentPoint)
        return std::nullopt;
    const QPointF a = *m_startPoint, b = *m_currentPoint;
    return QRectF(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::abs(a.x() - b.x()),
                  std::abs(a.y() - b.y()));
}

QRectF RegionSelectionNSView::loupeRect(const QPointF &mouse) const
{
    // Right of and above the pointer; to the left near the right edge, below
    // near the top edge.
    qreal x = mouse.x() + 24;
    if (width() < x + loupeSize)
        x = mouse.x() - loupeSize - 24;
    qreal y = mouse.y() - 24 - loupeSize;
    if (mouse.y() < 24 + loupeSize)
        y = mouse.y() + 24;
    return QRectF(x, y, loupeSize, loupeSize);
}

QString RegionSelectionNSView::sizeLabelText(const QRectF &selection)
{
    return QStringLiteral("%1 \u00D7 %2").arg(qint64(selection.width())).arg(qint64(selection.height()));
}

QRectF RegionSelectionNSView::sizeLabelRect(const QRectF &selection) const
{
    const QFontMetricsF metrics(sizeLabelFont());
    const QSizeF text(metrics.horizontalAdvance(sizeLabelText(selection)), metrics.height());
    // Hangs below the selection, its top edge 4 points under it.
    return QRectF(selection.center().x() - text.width() / 2 - 6, selection.bottom() + 4, text.width() + 12,
                  text.height() + 12);
}

void RegionSelectionNSView::finishSelection()
{
    const OnComplete complete = m_onComplete;
    const std::optional<QRectF> selection = selectionRect();
    if (!selection) {
        complete(std::nullopt);
        return;
    }
    if (selection->width() < minimumSelection || selection->height() < minimumSelection) {
        complete(std::nullopt);
        return;
    }
    const QList<QScreen *> screens = QGuiApplication::screens();
    QWidget *window = parentWidget();
    if (!window || screens.isEmpty()) {
        complete(std::nullopt);
        return;
    }
    const QPointF origin = QPointF(window->geometry().topLeft()) - QPointF(screens.first()->geometry().topLeft());
    complete(selection->translated(origin));
}

// --- Repainting --------------------------------------------------------------

void RegionSelectionNSView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    prepareBackdrops();
}

void RegionSelectionNSView::prepareBackdrops()
{
    m_backdrop = OverlayBackdrop(m_snapshot, size(), devicePixelRatioF(), 0.15);
}

QRegion RegionSelectionNSView::decorationsOfSelection(const QRectF &selection) const
{
    return ring(selection, 3) + sizeLabelRect(selection).toAlignedRect().adjusted(-2, -2, 2, 2);
}

QRegion RegionSelectionNSView::decorations() const
{
    QRegion region;
    const QPointF m = m_mouseLocation;
    region += QRect(0, int(std::floor(m.y())) - 2, width(), 5);
    region += QRect(int(std::floor(m.x())) - 2, 0, 5, height());
    region += loupeRect(m).toAlignedRect().adjusted(-2, -2, 2, 2);
    if (const std::optional<QRectF> selection = selectionRect())
        region += decorationsOfSelection(*selection);
    return region;
}

void RegionSelectionNSView::changeState(const std::function<void()> &change)
{
    auto interior = [this] {
        const std::optional<QRectF> selection = selectionRect();
        return selection ? QRegion(selection->toAlignedRect()) : QRegion();
    };
    const QRegion before = decorations();
    const QRegion beforeInterior = interior();
    change();
    // Only what differs is repainted: the crosshair's lines, the loupe, the
    // selection's edges and label, and the strips the selection gained or lost.
    update(before + decorations() + (beforeInterior ^ interior()));
}

void RegionSelectionNSView::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    const std::optional<QRectF> selection = selectionRect();
    const QRect selectionBounds = selection ? decorationsOfSelection(*selection).boundingRect() : QRect();
    prepareCrosshair();
    prepareMagnifier();
    const QRect loupeBounds(m_loupeOrigin, m_loupeImage.deviceIndependentSize().toSize());

    // Each dirty rectangle on its own, in slices of a few rows: with a plain
    // rectangle as the clip, every step below is a straight copy or blend of
    // rows, done on this thread.
    QList<QRect> slices;
    for (const QRect &dirty : event->region())
        for (int top = dirty.top(); top <= dirty.bottom(); top += rowsPerSlice)
            slices.append(QRect(dirty.left(), top, dirty.width(), std::min(rowsPerSlice, dirty.bottom() + 1 - top)));
    for (const QRect &r : std::as_const(slices)) {
        p.setClipRect(r);
        // 1. The dimmed screen.
        if (!m_backdrop.isNull()) {
            OverlayBackdrop::paint(p, m_backdrop.dimmed(), r);
        } else {
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.fillRect(r, QColor::fromRgbF(0, 0, 0, 0.15));
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
        // 2. The selection.
        if (selection && r.intersects(selectionBounds))
            drawSelection(p, *selection, r);
        // 3 and 4, in every state.
        drawCrosshair(p, r);
        if (r.intersects(loupeBounds))
            p.drawImage(QPointF(m_loupeOrigin), m_loupeImage);
    }
}

void RegionSelectionNSView::drawSelection(QPainter &p, const QRectF &selection, const QRect &dirty)
{
    // Cut out of the dimming.
    const QRect cut = selection.toAlignedRect() & dirty;
    if (!cut.isEmpty()) {
        if (!m_backdrop.isNull()) {
            OverlayBackdrop::paint(p, m_backdrop.clear(), cut);
        } else {
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.fillRect(cut, Qt::transparent);
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
    }

    p.setRenderHint(QPainter::Antialiasing, true);
    QPen white(Qt::white, 1.5);
    white.setCapStyle(Qt::SquareCap);
    drawOutline(p, selection, white, dirty);
    QColor blue = systemBlue;
    blue.setAlphaF(0.8);
    drawOutline(p, selection.adjusted(1, 1, -1, -1), dashedPen(blue, 1, 6, 4), dirty);
    p.setRenderHint(QPainter::Antialiasing, false);

    drawSizeLabel(p, selection);
}

void RegionSelectionNSView::drawSizeLabel(QPainter &p, const QRectF &selection)
{
    const QString text = sizeLabelText(selection);
    const QFontMetricsF metrics(sizeLabelFont());
    const QSizeF size(metrics.horizontalAdvance(text), metrics.height());
    const QRectF background = sizeLabelRect(selection);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0, 0, 0, 0.75));
    p.drawRoundedRect(background, 4, 4);
    p.setFont(sizeLabelFont());
    p.setPen(Qt::white);
    p.drawText(QPointF(background.center().x() - size.width() / 2,
                       background.center().y() - size.height() / 2 + metrics.ascent()),
               text);
    p.setRenderHint(QPainter::Antialiasing, false);
}

// The crosshair's two dashed lines are drawn once into narrow strips (again
// only when the pointer's position moves by a fraction of a point) and
// copied into place at each repaint.
void RegionSelectionNSView::prepareCrosshair()
{
    const QPointF m = m_mouseLocation;
    const qreal dpr = devicePixelRatioF();
    auto strip = [&](bool horizontal, qreal fraction) {
        const QSize size = horizontal ? QSize(width(), 3) : QSize(3, height());
        QImage image((QSizeF(size) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(dpr);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(dashedPen(QColor::fromRgbF(1, 1, 1, 0.6), 0.5, 4, 4));
        if (horizontal)
            p.drawLine(QPointF(0, 1 + fraction), QPointF(width(), 1 + fraction));
        else
            p.drawLine(QPointF(1 + fraction, 0), QPointF(1 + fraction, height()));
        return image;
    };
    const qreal fx = m.x() - std::floor(m.x());
    const qreal fy = m.y() - std::floor(m.y());
    const QSize fullSize = size();
    if (m_horizontalStrip.isNull() || m_horizontalFraction != fy || m_crosshairFor != fullSize) {
        m_horizontalStrip = strip(true, fy);
        m_horizontalFraction = fy;
    }
    if (m_verticalStrip.isNull() || m_verticalFraction != fx || m_crosshairFor != fullSize) {
        m_verticalStrip = strip(false, fx);
        m_verticalFraction = fx;
    }
    m_crosshairFor = fullSize;
}

void RegionSelectionNSView::drawCrosshair(QPainter &p, const QRect &dirty)
{
    const QPointF m = m_mouseLocation;
    const QPoint horizontal(0, int(std::floor(m.y())) - 1);
    const QPoint vertical(int(std::floor(m.x())) - 1, 0);
    if (dirty.intersects(QRect(horizontal, QSize(width(), 3))))
        p.drawImage(horizontal, m_horizontalStrip);
    if (dirty.intersects(QRect(vertical, QSize(3, height()))))
        p.drawImage(vertical, m_verticalStrip);
}

// The loupe is drawn into an image of its own once per pointer position.
void RegionSelectionNSView::prepareMagnifier()
{
    if (!m_loupeImage.isNull() && m_loupeFor == m_mouseLocation)
        return;
    m_loupeFor = m_mouseLocation;
    const QRect bounds = loupeRect(m_mouseLocation).toAlignedRect().adjusted(-2, -2, 2, 2);
    const qreal dpr = devicePixelRatioF();
    QImage image((QSizeF(bounds.size()) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.translate(-bounds.topLeft());
    for (int top = 0; top < bounds.height(); top += rowsPerSlice) {
        p.setClipRect(QRect(bounds.left(), bounds.top() + top, bounds.width(), rowsPerSlice));
        drawMagnifier(p);
    }
    p.end();
    m_loupeImage = image;
    m_loupeOrigin = bounds.topLeft();
}

void RegionSelectionNSView::drawMagnifier(QPainter &p)
{
    const QPointF m = m_mouseLocation;
    const QRectF loupe = loupeRect(m);
    QPainterPath rounded;
    rounded.addRoundedRect(loupe, 10, 10);

    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setClipPath(rounded, Qt::IntersectClip);
    if (!m_snapshot.isNull()) {
        // The 21 x 21 points around the pointer, in the picture's pixels.
        const qreal sx = qreal(m_snapshot.width()) / width();
        const qreal sy = qreal(m_snapshot.height()) / height();
        const QRectF source((m.x() - loupeSourcePoints / 2) * sx, (m.y() - loupeSourcePoints / 2) * sy,
                            loupeSourcePoints * sx, loupeSourcePoints * sy);
        const QRectF inside = source & QRectF(QPointF(), QSizeF(m_snapshot.size()));
        if (!inside.isEmpty()) {
            // What lies off the picture stays undrawn, in its proper place.
            const qreal fx = (inside.left() - source.left()) / source.width();
            const qreal fy = (inside.top() - source.top()) / source.height();
            const QRectF target(loupe.left() + loupeSize * fx, loupe.top() + loupeSize * fy,
                                loupeSize * inside.width() / source.width(),
                                loupeSize * inside.height() / source.height());
            p.setRenderHint(QPainter::SmoothPixmapTransform, false);
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.drawImage(target, m_snapshot, inside);
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
    } else {
        p.fillRect(loupe, QColor::fromRgbF(0.25, 0.25, 0.25, 0.85));
    }
    p.restore();

    p.setRenderHint(QPainter::Antialiasing, true);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.85), 1.5));
    p.drawPath(rounded);

    // The cell of the point under the pointer, and the reticle up to it.
    const QPointF c = loupe.center();
    const qreal cellSide = loupeSize / loupeSourcePoints;
    const QRectF cell(c.x() - cellSide / 2, c.y() - cellSide / 2, cellSide, cellSide);
    p.setPen(QPen(Qt::white, 1));
    p.drawRect(cell);
    QColor blue = systemBlue;
    blue.setAlphaF(0.8);
    p.setPen(QPen(blue, 1));
    const QLineF reticle[] = {
        {QPointF(loupe.left() + 4, c.y()), QPointF(cell.left(), c.y())},
        {QPointF(cell.right(), c.y()), QPointF(loupe.right() - 4, c.y())},
        {QPointF(c.x(), loupe.bottom() - 4), QPointF(c.x(), cell.bottom())},
        {QPointF(c.x(), cell.top()), QPointF(c.x(), loupe.top() + 4)},
    };
    p.drawLines(reticle, 4);

    // The pointer's position on this screen, inside the bottom of the loupe.
    const QString readout = QString::asprintf("%.0f, %.0f", m.x(), m.y());
    const QFontMetricsF metrics(readoutFont());
    const QSizeF text(metrics.horizontalAdvance(readout), metrics.height());
    const QRectF background(loupe.center().x() - text.width() / 2 - 5, loupe.bottom() - 4 - (text.height() + 3),
                            text.width() + 10, text.height() + 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0, 0, 0, 0.7));
    p.drawRoundedRect(background, 3, 3);
    p.setFont(readoutFont());
    p.setPen(Qt::white);
    p.drawText(QPointF(background.center().x() - text.width() / 2, background.bottom() - 1 - text.height() + metrics.ascent()),
               readout);
    p.setRenderHint(QPainter::Antialiasing, false);
}

// --- Events ------------------------------------------------------------------

void RegionSelectionNSView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPointF location = event->position();
    changeState([&] {
        m_startPoint = location;
        m_currentPoint = location;
    });
}

void RegionSelectionNSView::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF location = event->position();
    const bool dragging = event->buttons() & Qt::LeftButton;
    changeState([&] {
        if (dragging)
            m_currentPoint = location;
        m_mouseLocation = location;
    });
}

void RegionSelectionNSView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        finishSelection();
}

void RegionSelectionNSView::keyPressEvent(QKeyEvent *event)
{
    // Escape cancels; every other key is swallowed without a sound.
    event->accept();
    if (event->key() == Qt::Key_Escape) {
        const OnComplete complete = m_onComplete;
        complete(std::nullopt);
    }
}
