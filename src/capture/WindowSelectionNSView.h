#pragma once

#include "capture/OverlayBackdrop.h"
#include "platform/ScreenCapture.h"

#include <QCursor>
#include <QImage>
#include <QList>
#include <QRect>
#include <QWidget>
#include <functional>
#include <optional>

// Content of a window-picker overlay: the screen dimmed very lightly, the
// listed window under the pointer filled with translucent blue, framed in
// blue and labelled with its program's name and title. Coordinates are the
// view's own points (origin top-left of its screen).
class WindowSelectionNSView : public QWidget
{
    Q_OBJECT
public:
    using OnSelect = std::function<void(const ShareableWindow &)>;
    using OnCancel = std::function<void()>;

    // screenFrame: the screen this view covers, in global points.
    WindowSelectionNSView(const QRect &screenFrame, const QList<ShareableWindow> &capturables,
                          const QImage &snapshot, OnSelect onSelect, OnCancel onCancel, std::function<void()> beep,
                          QWidget *parent);

    QRect screenFrame() const { return m_screenFrame; }
    const std::optional<ShareableWindow> &hovered() const { return m_hovered; }

    // A window's frame in this view, or nothing when it lies off this screen.
    std::optional<QRectF> localRect(const ShareableWindow &window) const;
    // Finds the listed window under a location in the view; repaints when it
    // changed.
    void updateHover(const QPointF &location);
    // The label's text and where it goes for a window at a local rectangle.
    static QString labelText(const ShareableWindow &window);
    QRectF labelRect(const QString &text, const QRectF &windowRect) const;

    // The camera pointer shown over the overlays (made once).
    static const QCursor &pickCursor();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QRegion highlightArea() const;

    QRect m_screenFrame;
    QList<ShareableWindow> m_capturables;
    OnSelect m_onSelect;
    OnCancel m_onCancel;
    std::function<void()> m_beep;
    std::optional<ShareableWindow> m_hovered;
    QImage m_snapshot;
    OverlayBackdrop m_backdrop;
};
