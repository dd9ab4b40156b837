#pragma once

#include "capture/OverlayBackdrop.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QRegion>
#include <QWidget>
#include <functional>
#include <optional>

// Content of a region overlay: the dimmed screen, a dashed crosshair through
// the pointer, a magnifier loupe with the pointer's coordinates and, while
// the mouse is dragged, the selection cut out of the dimming with its size.
// Coordinates are the view's own points (origin top-left of its screen).
class RegionSelectionNSView : public QWidget
{
    Q_OBJECT
public:
    using OnComplete = std::function<void(std::optional<QRectF>)>;

    static constexpr qreal minimumSelection = 5.0;
    static constexpr qreal loupeSize = 140.0;
    static constexpr qreal loupeSourcePoints = 21.0;

    RegionSelectionNSView(const QImage &snapshot, OnComplete onComplete, QWidget *parent);

    std::optional<QPointF> startPoint() const { return m_startPoint; }
    std::optional<QPointF> currentPoint() const { return m_currentPoint; }
    QPointF mouseLocation() const { return m_mouseLocation; }
    const QImage &snapshot() const { return m_snapshot; }

    // The selection in view points (normalised), when a drag has begun.
    std::optional<QRectF> selectionRect() const;
    // Where the loupe lies for a pointer location, in view points.
    QRectF loupeRect(const QPointF &mouse) const;
    // Where the size label lies under a selection.
    QRectF sizeLabelRect(const QRectF &selection) const;
    // The label's text, e.g. "320 × 200".
    static QString sizeLabelText(const QRectF &selection);

    // Computes the result and calls onComplete.
    void finishSelection();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void drawSelection(class QPainter &p, const QRectF &selection, const QRect &dirty);
    void drawSizeLabel(QPainter &p, const QRectF &selection);
    void prepareCrosshair();
    void drawCrosshair(QPainter &p, const QRect &dirty);
    void prepareMagnifier();
    void drawMagnifier(QPainter &p);
    // Everything drawn over the plain dimming in the current state.
    QRegion decorations() const;
    QRegion decorationsOfSelection(const QRectF &selection) const;
    // Repaints what changes between two states.
    void changeState(const std::function<void()> &change);
    void prepareBackdrops();

    std::optional<QPointF> m_startPoint;
    std::optional<QPointF> m_currentPoint;
    OnComplete m_onComplete;
    QPointF m_mouseLocation;
    QImage m_snapshot;
    OverlayBackdrop m_backdrop;
    // The crosshair's lines and the loupe, drawn ahead of the repaints.
    QImage m_horizontalStrip;
    QImage m_verticalStrip;
    qreal m_horizontalFraction = 0;
    qreal m_verticalFraction = 0;
    QSize m_crosshairFor;
    QImage m_loupeImage;
    QPoint m_loupeOrigin;
    QPointF m_loupeFor;
};
