#pragma once

#include "editor/Pixellate.h"
#include "model/Annotation.h"
#include "model/AnnotationTool.h"
#include "model/ImageHandle.h"

#include <QColor>
#include <QImage>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QUuid>
#include <QWidget>
#include <optional>



// The editor's drawing surface: the image with its annotations, and the
// mouse and key handling that adds, selects, moves, deletes, numbers, types
// and crops. Annotation points are in image points; the widget is the
// image's point size times zoom() and maps events by 1/zoom.
//
// It keeps no lasting state: CanvasView copies the model into it and
// receives every finished change through annotationsChanged() (once per
// gesture) and imageCropped().
class AnnotationCanvasNSView : public QWidget
{
    Q_OBJECT
public:
    explicit AnnotationCanvasNSView(QWidget *parent = nullptr);
    ~AnnotationCanvasNSView() override;

    // ---- state copied in from the model ----
    const ImageHandle &image() const { return m_image; }
    // A different image drops the blur patches of the old one.
    void setImage(const ImageHandle &image);
    const QList<Annotation> &annotations() const { return m_annotations; }
    void setAnnotations(const QList<Annotation> &annotations);
    AnnotationTool currentTool() const { return m_currentTool; }
    void setCurrentTool(AnnotationTool tool);
    QColor currentColor() const { return m_currentColor; }
    void setCurrentColor(const QColor &color) { m_currentColor = color; }
    double currentLineWidth() const { return m_currentLineWidth; }
    void setCurrentLineWidth(double width) { m_currentLineWidth = width; }
    double currentFontSize() const { return m_currentFontSize; }
    void setCurrentFontSize(double size) { m_currentFontSize = size; }
    qint64 nextNumber() const { return m_nextNumber; }
    void setNextNumber(qint64 number) { m_nextNumber = number; }
    const QSet<AnnotationTool> &hiddenLayers() const { return m_hiddenLayers; }
    void setHiddenLayers(const QSet<AnnotationTool> &layers);

    // Magnification: 1 shows the image at its point size. Resizes the
    // widget to the image's point size times zoom. Values that are not
    // finite and positive are ignored.
    double zoom() const { return m_zoom; }
    void setZoom(double zoom);

    // Repaints everything (drops the cached finished layer).
    void redraw();
    // How many times redraw() was asked for.
    int redrawCount() const { return m_redrawCount; }

    // ---- the view's own state ----
    const std::optional<Annotation> &activeAnnotation() const { return m_activeAnnotation; }
    std::optional<QUuid> selectedAnnotationID() const { return m_selectedAnnotationID; }
    QLineEdit *textField() const { return m_textField; }
    // Where the open text field's text will be placed, in image points.
    std::optional<QPointF> textAnchor() const { return m_textAnchor; }

    // Opens the inline text field with its top-left at `point` (image
    // points). A field already open is committed first.
    void beginTextEntry(const QPointF &point);
    // Adds the open field's text (when not empty) as a text annotation at
    // the field's origin, then closes the field.
    void commitTextEntry();
    // Closes the open field without adding its text.
    void cancelTextEntry();
    // Cuts `rect` (image points) out of the image; reports imageCropped().
    void performCrop(const QRectF &rect);

    // Converts a widget position to image points.
    QPointF toImagePoint(const QPointF &widgetPoint) const;

    // Blur patches made so far (for checks that redraws reuse them).
    const PixellateCache &pixellateCache() const { return m_pixellateCache; }

    QSize sizeHint() const override;

signals:
    // A finished change: the whole new list and the next step number.
    void annotationsChanged(const QList<Annotation> &annotations, qint64 nextNumber);
    // The cropped image (pixels per point kept).
    void imageCropped(const ImageHandle &image);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void hitTest(const QPointF &point);
    void invalidateLayer();
    void closeTextField();
    void updateGeometryForZoom();
    int indexOfSelected() const;
    // Appends a finished annotation and draws it onto the cached layer.
    void appendAnnotation(const Annotation &annotation);
    // Asks for a repaint of what the annotation covers (all when unknown).
    void updateArea(const Annotation &annotation);

    ImageHandle m_image;
    QImage m_pixels;
    QList<Annotation> m_annotations;
    AnnotationTool m_currentTool = AnnotationTool::arrow;
    QColor m_currentColor = QColor(255, 59, 48);
    double m_currentLineWidth = 3;
    double m_currentFontSize = 18;
    qint64 m_nextNumber = 1;
    QSet<AnnotationTool> m_hiddenLayers;
    double m_zoom = 1.0;

    std::optional<Annotation> m_activeAnnotation;
    std::optional<QPointF> m_dragStartPoint;
    std::optional<QUuid> m_selectedAnnotationID;
    bool m_mouseDown = false;
    // A press on the selection starts a move; m_moved once it has gone anywhere.
    bool m_moving = false;
    bool m_moved = false;
    QPointer<QLineEdit> m_textField;
    std::optional<QPointF> m_textAnchor;

    // The image with every finished annotation (except one being moved),
    // at device resolution, covering m_layerRect of the widget.
    QImage m_layer;
    QRect m_layerRect;
    bool m_layerValid = false;
    PixellateCache m_pixellateCache;
    int m_redrawCount = 0;
};
