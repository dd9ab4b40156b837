#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>
#include <functional>

class QToolButton;
class QGraphicsOpacityEffect;
class QPropertyAnimation;
class QTimer;

// The content of the floating preview panel: the captured image with a close
// button that shows while the pointer is over the preview, and three round
// buttons below it (open in editor, copy, save). Copy shows a green check
// mark for 1.2 s. Dragging the background moves the panel; a click on it
// does nothing.
class FloatingPreviewView : public QWidget
{
    Q_OBJECT
public:
    FloatingPreviewView(const QImage &image, std::function<void()> onEdit, std::function<void()> onSave,
                        std::function<void()> onCopy, std::function<void()> onDismiss, QWidget *parent = nullptr);
    ~FloatingPreviewView() override;

    const QImage &image() const { return m_image; }
    bool didCopy() const { return m_didCopy; }
    bool isHovered() const { return m_isHovered; }

    // The buttons, for tests and accessibility.
    QToolButton *editButton() const { return m_editButton; }
    QToolButton *copyButton() const { return m_copyButton; }
    QToolButton *saveButton() const { return m_saveButton; }
    QToolButton *closeButton() const { return m_closeButton; }

    // Where the image is drawn, in this widget's coordinates.
    QRect imageRect() const;
    // Whether the scaled-down picture that is drawn is ready (a large
    // capture is scaled in the background; until then its place is blank).
    bool isThumbnailReady() const { return !m_thumbnail.isNull(); }

    // Draws ahead what the first paint of a view of viewSize, showing a
    // picture of imageSize (points) at ratio pixels a point, would draw
    // before the picture is ready.
    static void prepare(const QSize &viewSize, const QSizeF &imageSize, qreal ratio, bool opaque);

    // For a panel on its way out: it lets go of the capture and of the
    // actions that hold it (its buttons then do nothing), keeping only the
    // picture it draws. Safe to call from one of its own actions.
    void letGoOfImage();

signals:
    void thumbnailReady();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void setHovered(bool hovered);
    void copyClicked();
    void setDidCopy(bool value);
    void layoutChildren();
    void makeThumbnail();
    // What the panel's face depends on: size, pixel ratio, palette,
    // opacity, the image's place and the picture drawn in it.
    QByteArray faceKey(const QImage &thumbnail) const;
    // Lets go of the capture and of the actions that hold it.
    void dropImage();

    QImage m_image;
    QSizeF m_imageSize;     // m_image's size in points, kept when it goes
    QImage m_thumbnail;     // m_image scaled to the image rectangle's pixels
    QSize m_thumbnailSize;  // the size asked for (made or in the making)
    // The background, its edge and the picture, drawn once (in the
    // background with the thumbnail) and copied on each paint.
    QImage m_face;
    QByteArray m_faceKey;
    std::function<void()> m_onEdit;
    std::function<void()> m_onSave;
    std::function<void()> m_onCopy;
    std::function<void()> m_onDismiss;
    bool m_didCopy = false;
    bool m_isHovered = false;
    bool m_opaque = true; // no compositor: draw an opaque background

    QToolButton *m_editButton = nullptr;
    QToolButton *m_copyButton = nullptr;
    QToolButton *m_saveButton = nullptr;
    QToolButton *m_closeButton = nullptr;
    QGraphicsOpacityEffect *m_closeOpacity = nullptr;
    QPointer<QPropertyAnimation> m_closeFade;
    QTimer *m_copyReset = nullptr;
    // A press of the left button on the background, until its release or
    // until the window manager takes over the drag.
    bool m_pressed = false;
    QPoint m_pressPosition; // global
    QPoint m_dragOffset;    // from the panel's corner to the pointer
    bool m_dragging = false; // moving the panel here, without the window manager
};
