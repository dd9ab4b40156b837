#pragma once

#include <QImage>
#include <QWidget>

// The countdown badge of a timed capture: a round translucent badge, 100
// points across in a 120-point square, with the seconds left in large bold
// digits. To show another number the caller builds a new view. Outside the
// circle the view is transparent; where no compositing manager blends
// windows, give it a picture of what lies beneath it (see backdropFor) and it
// paints that itself.
class TimerOverlayView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int side = 120;
    static constexpr int badgeDiameter = 100;

    explicit TimerOverlayView(int seconds, const QImage &backdrop = QImage(), QWidget *parent = nullptr);

    int seconds() const { return m_seconds; }
    QSize sizeHint() const override { return QSize(side, side); }

    // What the screens show under a rectangle of global points, when the
    // view must paint it itself (no compositing manager); else null.
    static QImage backdropFor(const QRect &globalRect);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_seconds;
    QImage m_backdrop;
    QImage m_frosted;
};
