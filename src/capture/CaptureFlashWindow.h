#pragma once

#include <QImage>
#include <QWidget>

class QScreen;

// One screen's white flash: a borderless window over the whole screen that
// never takes the mouse. Its level (0 to 1) is how strongly it whitens the
// screen. Where a compositing manager blends windows the level is the
// window's opacity; without one the window paints the picture of its screen
// it was given, whitened by the level.
class CaptureFlashWindow : public QWidget
{
    Q_OBJECT
public:
    // backdrop: the screen's picture (null where windows are blended).
    CaptureFlashWindow(QScreen *screen, const QImage &backdrop);

    qreal level() const { return m_level; }
    void setLevel(qreal level);
    bool paintsBackdrop() const { return !m_backdrop.isNull(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_backdrop;
    qreal m_level = 0;
};
