#include "editor/AnnotationCanvasNSView.h"

#include "editor/AnnotationRenderer.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

// A usable font size for the inline field (the annotation keeps the value
// it was given; the renderer decides how to draw it).
double fieldFontSize(double size)
{
    if (!std::isfinite(size) || size <= 0)
        return 18;
    return std::min(size, 1000.0);
}

} // namespace

AnnotationCanvasNSView::AnnotationCanvasNSView(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    updateGeometryForZoom();
}

AnnotationCanvasNSView::~AnnotationCanvasNSView() = default;

// ---- state copied in ----

void AnnotationCanvasNSView::setImage(const ImageHandle &image)
{
    if (image == m_image && !image.isNull())
        return;
    m_image = image;
    m_pixels = image.isNull() ? QImage() : image.image();
    m_pixellateCache.clear();
    // An opaque screenshot makes an opaque layer that covers everything
    // painted: what lies beneath need not be painted first.
    setAttribute(Qt::WA_OpaquePaintEvent, !m_pixels.isNull() && !m_pixels.hasAlphaChannel());
    invalidateLayer();
    updateGeometryForZoom();
}

void AnnotationCanvasNSView::setAnnotations(const QList<Annotation> &annotations)
{
    if (annotations == m_annotations)
        return;
    m_annotations = annotations;
    invalidateLayer();
}

void AnnotationCanvasNSView::setCurrentTool(AnnotationTool tool)
{
    m_currentTool = tool;
}

void AnnotationCanvasNSView::setHiddenLayers(const QSet<AnnotationTool> &layers)
{
    if (layers == m_hiddenLayers)
        return;
    m_hiddenLayers = layers;
    invalidateLayer();
}

void AnnotationCanvasNSView::setZoom(double zoom)
{
    if (!std::isfinite(zoom) || zoom <= 0 || zoom == m_zoom)
        return;
    m_zoom = zoom;
    invalidateLayer();
    updateGeometryForZoom();
    update();
}

void AnnotationCanvasNSView::redraw()
{
    ++m_redrawCount;
    invalidateLayer();
    update();
}

void AnnotationCanvasNSView::invalidateLayer()
{
    m_layerValid = false;
}

void AnnotationCanvasNSView::updateGeometryForZoom()
{
    const QSizeF points = AnnotationRenderer::canvasSize(m_pixels);
    const QSize size(int(std::ceil(points.width() * m_zoom)), int(std::ceil(points.height() * m_zoom)));
    setFixedSize(size);
    if (m_textField && m_textAnchor) {
        const double fs = fieldFontSize(m_currentFontSize);
        m_textField->setGeometry(QRectF(*m_textAnchor * m_zoom, QSizeF(200, fs + 10) * m_zoom).toRect());
        m_textField->setFont(AnnotationRenderer::annotationFont(fs * m_zoom, QFont::DemiBold));
    }
}

QSize AnnotationCanvasNSView::sizeHint() const
{
    const QSizeF points = AnnotationRenderer::canvasSize(m_pixels);
    return QSize(int(std::ceil(points.width() * m_zoom)), int(std::ceil(points.height() * m_zoom)));
}

QPointF AnnotationCanvasNSView::toImagePoint(const QPointF &widgetPoint) const
{
    return widgetPoint / m_zoom;
}

int AnnotationCanvasNSView::indexOfSelected() const
{
    if (!m_selectedAnnotationID)
        return -1;
    for (int i = 0; i < m_annotations.size(); ++i) {
        if (m_annotations[i].id == *m_selectedAnnotationID)
            return i;
    }
    return -1;
}

// ---- drawing ----

void AnnotationCanvasNSView::appendAnnotation(const Annotation &annotation)
{
    m_annotations.append(annotation);
    // A new annotation lies on top of all the others: draw it onto the
    // finished layer instead of drawing everything again.
    if (m_layerValid && !m_layer.isNull() && !(m_moving && m_moved)) {
        if (!m_hiddenLayers.contains(annotation.tool)) {
            QPainter painter(&m_layer);
            painter.translate(-m_layerRect.topLeft());
            painter.scale(m_zoom, m_zoom);
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.setRenderHint(QPainter::TextAntialiasing, true);
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            AnnotationRenderer::drawAnnotation(painter, annotation, m_pixels, &m_pixellateCache);
        }
    } else {
        invalidateLayer();
    }
    updateArea(annotation);
}

void AnnotationCanvasNSView::updateArea(const Annotation &annotation)
{
    const QRectF area = AnnotationRenderer::paintArea(annotation);
    if (area.isEmpty()) {
        update();
        return;
    }
    const QRectF widgetArea(area.topLeft() * m_zoom, area.size() * m_zoom);
    update(widgetArea.toAlignedRect().adjusted(-2, -2, 2, 2).intersected(rect()));
}

void AnnotationCanvasNSView::paintEvent(QPaintEvent *event)
{
    const QRect target = event->rect();
    const qreal dpr = devicePixelRatioF();
    const int moving = (m_moving && m_moved) ? indexOfSelected() : -1;

    if (!m_layerValid || !m_layerRect.contains(target) || m_layer.devicePixelRatio() != dpr) {
        // The finished layer covers what can be seen (all of the widget
        // when nothing tells), so scrolls and small updates only blit.
        QRect area = visibleRegion().boundingRect().united(target).intersected(rect());
        if (area.isEmpty())
            area = target;
        const QImage::Format format =
            (m_pixels.isNull() || m_pixels.hasAlphaChannel()) ? QImage::Format_ARGB32_Premultiplied
                                                                : QImage::Format_RGB32;
        const QSize layerSize(int(std::ceil(area.width() * dpr)), int(std::ceil(area.height() * dpr)));
        // The same size again (every redraw of an unchanged view) reuses
        // the pixels: a fresh buffer this large costs its page faults.
        if (m_layer.size() != layerSize || m_layer.format() != format || m_layer.devicePixelRatio() != dpr) {
            m_layer = QImage(layerSize, format);
            m_layer.setDevicePixelRatio(dpr);
        }
        QTransform toLayer;
        toLayer.translate(-area.left(), -area.top());
        toLayer.scale(m_zoom, m_zoom);
        if (format == QImage::Format_RGB32) {
            // The opaque screenshot is copied over the layer (source mode),
            // so only the pixels it does not fully cover need the
            // background: everything but its inside less a pixel's margin.
            const QRectF shot = toLayer.mapRect(QRectF(QPointF(0, 0), AnnotationRenderer::canvasSize(m_pixels)));
            const QRect inside = QRect(QPoint(int(std::ceil(shot.left() * dpr)) + 1, int(std::ceil(shot.top() * dpr)) + 1),
                                       QPoint(int(std::floor(shot.right() * dpr)) - 2,
                                              int(std::floor(shot.bottom() * dpr)) - 2))
                                     .intersected(m_layer.rect());
            QImage one(1, 1, format); // the background as a pixel of the layer's format
            one.fill(palette().color(QPalette::Window));
            const quint32 background = reinterpret_cast<const quint32 *>(one.constScanLine(0))[0];
            for (const QRect &r : QRegion(m_layer.rect()).subtracted(QRegion(inside))) {
                for (int y = r.top(); y <= r.bottom(); ++y) {
                    auto *line = reinterpret_cast<quint32 *>(m_layer.scanLine(y));
                    std::fill(line + r.left(), line + r.right() + 1, background);
                }
            }
        } else {
            m_layer.fill(Qt::transparent);
        }
        m_layerRect = area;
        AnnotationScene scene;
        scene.image = m_pixels;
        scene.annotations = m_annotations;
        if (moving >= 0)
            scene.annotations.removeAt(moving);
        scene.hiddenLayers = m_hiddenLayers;
        AnnotationRenderer::renderInto(m_layer, toLayer, scene, &m_pixellateCache);
        m_layerValid = true;
    }

    QPainter painter(this);
    painter.setClipRect(target);
    painter.drawImage(m_layerRect.topLeft(), m_layer);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.scale(m_zoom, m_zoom);
    // The annotation being moved is drawn over the rest until it is let go.
    if (moving >= 0 && !m_hiddenLayers.contains(m_annotations[moving].tool))
        AnnotationRenderer::drawAnnotation(painter, m_annotations[moving], m_pixels, nullptr);
    if (m_activeAnnotation)
        AnnotationRenderer::drawAnnotation(painter, *m_activeAnnotation, m_pixels, nullptr);
    if (m_currentTool == AnnotationTool::select) {
        if (const int selected = indexOfSelected(); selected >= 0)
            AnnotationRenderer::drawSelectionChrome(painter, m_annotations[selected]);
    }
}

// ---- events ----

void AnnotationCanvasNSView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    const QPointF P = toImagePoint(event->position());
    // A press anywhere keeps what was typed in an open field.
    if (m_textField)
        commitTextEntry();
    m_mouseDown = true;
    m_dragStartPoint = P;
    switch (m_currentTool) {
    case AnnotationTool::numbering: {
        Annotation a;
        a.tool = AnnotationTool::numbering;
        a.color = m_currentColor;
        a.lineWidth = m_currentLineWidth;
        a.points = {P};
        a.fontSize = 16;
        a.number = m_nextNumber;
        a.isFinished = true;
        appendAnnotation(a);
        emit annotationsChanged(m_annotations, m_nextNumber + 1);
        break;
    }
    case AnnotationTool::text:
        beginTextEntry(P);
        break;
    case AnnotationTool::select:
        hitTest(P);
        m_moving = m_selectedAnnotationID.has_value();
        m_moved = false;
        update();
        break;
    default: {
        Annotation a;
        a.tool = m_currentTool;
        a.color = m_currentColor;
        a.lineWidth = m_currentLineWidth;
        a.points = {P};
        a.fontSize = m_currentFontSize;
        a.number = 0;
        a.isFinished = false;
        m_activeAnnotation = a;
        break;
    }
    }
}

void AnnotationCanvasNSView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_mouseDown)
        return;
    event->accept();
    const QPointF Q = toImagePoint(event->position());
    if (m_currentTool == AnnotationTool::select) {
        const int index = m_moving ? indexOfSelected() : -1;
        if (index < 0)
            return;
        const QPointF delta = Q - m_dragStartPoint.value_or(Q);
        Annotation &moving = m_annotations[index];
        m_dragStartPoint = Q;
        if (!m_moved) {
            m_moved = true;
            invalidateLayer(); // the layer now leaves the moving annotation out
            update();
        } else {
            updateArea(moving); // where it was
        }
        for (QPointF &p : moving.points)
            p += delta;
        updateArea(moving);
        return;
    }
    if (!m_activeAnnotation)
        return;
    updateArea(*m_activeAnnotation); // where it was
    QList<QPointF> &points = m_activeAnnotation->points;
    if (m_activeAnnotation->tool == AnnotationTool::freehand)
        points.append(Q);
    else if (points.isEmpty())
        points = {Q, Q};
    else if (points.size() == 1)
        points.append(Q);
    else
        points[1] = Q;
    updateArea(*m_activeAnnotation);
}

void AnnotationCanvasNSView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_mouseDown) {
        event->ignore();
        return;
    }
    event->accept();
    m_mouseDown = false;
    if (m_activeAnnotation) {
        Annotation finished = *m_activeAnnotation;
        m_activeAnnotation.reset();
        // A click without a drag leaves a single point: nothing to keep.
        if (finished.points.size() >= 2) {
            if (finished.tool == AnnotationTool::crop) {
                performCrop(finished.boundingRect());
            } else {
                finished.isFinished = true;
                appendAnnotation(finished);
                emit annotationsChanged(m_annotations, m_nextNumber);
            }
        }
    }
    if (m_moving && m_moved) {
        // One gesture, one report: the list as it stands after the move.
        invalidateLayer();
        emit annotationsChanged(m_annotations, m_nextNumber);
    }
    m_moving = false;
    m_moved = false;
    update();
}

void AnnotationCanvasNSView::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    if (event->key() != Qt::Key_Backspace && event->key() != Qt::Key_Delete)
        return;
    if (!m_selectedAnnotationID)
        return;
    const QUuid id = *m_selectedAnnotationID;
    m_annotations.removeIf([&](const Annotation &a) { return a.id == id; });
    m_selectedAnnotationID.reset();
    m_moving = false;
    m_moved = false;
    invalidateLayer();
    update();
    emit annotationsChanged(m_annotations, m_nextNumber);
}

void AnnotationCanvasNSView::hitTest(const QPointF &point)
{
    m_selectedAnnotationID.reset();
    for (auto it = m_annotations.crbegin(); it != m_annotations.crend(); ++it) {
        if (it->boundingRect().adjusted(-8, -8, 8, 8).contains(point)) {
            m_selectedAnnotationID = it->id;
            return;
        }
    }
}

// ---- text entry ----

void AnnotationCanvasNSView::beginTextEntry(const QPointF &point)
{
    // A field still open keeps what was typed in it.
    if (m_textField)
        commitTextEntry();
    auto *field = new QLineEdit(this);
    m_textAnchor = point;
    m_textField = field;
    const double fs = fieldFontSize(m_currentFontSize);
    field->setGeometry(QRectF(point * m_zoom, QSizeF(200, fs + 10) * m_zoom).toRect());
    field->setFont(AnnotationRenderer::annotationFont(fs * m_zoom, QFont::DemiBold));
    QPalette palette = field->palette();
    palette.setColor(QPalette::Text, m_currentColor);
    palette.setColor(QPalette::Base, QColor(255, 255, 255, qRound(0.9 * 255)));
    field->setPalette(palette);
    field->setFrame(true);
    field->setPlaceholderText(tr("Type text..."));
    connect(field, &QLineEdit::editingFinished, this, &AnnotationCanvasNSView::commitTextEntry);
    field->installEventFilter(this);
    field->show();
    field->setFocus(Qt::OtherFocusReason);
}

void AnnotationCanvasNSView::closeTextField()
{
    QLineEdit *field = m_textField;
    if (!field)
        return;
    m_textField = nullptr;
    m_textAnchor.reset();
    disconnect(field, nullptr, this, nullptr);
    field->removeEventFilter(this);
    // The keys stay with the canvas rather than the next widget in line.
    const bool hadFocus = field->hasFocus();
    field->hide();
    field->deleteLater();
    if (hadFocus)
        setFocus(Qt::OtherFocusReason);
}

void AnnotationCanvasNSView::commitTextEntry()
{
    if (!m_textField)
        return;
    const QString text = m_textField->text();
    const std::optional<QPointF> anchor = m_textAnchor;
    closeTextField();
    if (!text.isEmpty() && anchor) {
        Annotation a;
        a.tool = AnnotationTool::text;
        a.color = m_currentColor;
        a.lineWidth = 3;
        a.points = {*anchor};
        a.text = text;
        a.fontSize = m_currentFontSize;
        a.number = 0;
        a.isFinished = true;
        appendAnnotation(a);
        emit annotationsChanged(m_annotations, m_nextNumber);
    }
    update();
}

void AnnotationCanvasNSView::cancelTextEntry()
{
    if (!m_textField)
        return;
    closeTextField();
    update();
}

bool AnnotationCanvasNSView::eventFilter(QObject *watched, QEvent *event)
{
    // Escape in the text field drops what was typed.
    if (watched == m_textField && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        cancelTextEntry();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- crop ----

void AnnotationCanvasNSView::performCrop(const QRectF &rect)
{
    if (m_pixels.isNull() || !(rect.width() > 4) || !(rect.height() > 4))
        return;
    const QSizeF bounds = AnnotationRenderer::canvasSize(m_pixels);
    if (bounds.isEmpty())
        return;
    const double sx = m_pixels.width() / bounds.width();
    const double sy = m_pixels.height() / bounds.height();
    const QRect pixels =
        QRectF(rect.x() * sx, rect.y() * sy, rect.width() * sx, rect.height() * sy).toAlignedRect().intersected(
            m_pixels.rect());
    if (pixels.isEmpty())
        return;
    QImage cut = m_pixels.copy(pixels);
    if (cut.isNull())
        return;
    cut.setDevicePixelRatio(m_pixels.devicePixelRatio());
    emit imageCropped(ImageHandle(cut));
}
