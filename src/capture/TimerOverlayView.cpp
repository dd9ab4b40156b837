#include "capture/TimerOverlayView.h"

#include "platform/Compositing.h"
#include "platform/ScreenCapture.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

// Frosted glass: what lies beneath, blurred (scaled down and up again).
QImage frosted(const QImage &backdrop)
{
    if (backdrop.isNull())
        return QImage();
    const QSize size = backdrop.size();
    QImage small = backdrop.scaled(std::max(1, size.width() / 12), std::max(1, size.height() / 12),
                                   Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    small = small.scaled(std::max(1, size.width() / 4), std::max(1, size.height() / 4), Qt::IgnoreAspectRatio,
                         Qt::SmoothTransformation);
    QImage blurred = small.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    blurred.setDevicePixelRatio(backdrop.devicePixelRatio());
    return blurred;
}

} // namespace

TimerOverlayView::TimerOverlayView(int seconds, const QImage &backdrop, QWidget *parent)
    : QWidget(parent)
    , m_seconds(seconds)
    , m_backdrop(backdrop)
    , m_frosted(frosted(backdrop))
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(side, side);
}

QImage TimerOverlayView::backdropFor(const QRect &globalRect)
{
    if (Compositing::isActive())
        return QImage();
    QImage picture = ScreenCapture::current().captureRect(QRectF(globalRect), globalRect.size() * 2, false);
    if (!picture.isNull())
        picture.setDevicePixelRatio(2);
    return picture;
}

void TimerOverlayView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF square(0, 0, side, side);
    if (!m_backdrop.isNull())
        p.drawImage(square, m_backdrop);

    const QPointF centre = square.center();
    const qreal radius = badgeDiameter / 2.0;

    // Shadow: black at a third, spread over 10 points around the circle.
    QRadialGradient shadow(centre, radius + 10);
    const qreal edge = radius / (radius + 10);
    shadow.setColorAt(0, QColor::fromRgbF(0, 0, 0, 0.33));
    shadow.setColorAt(edge - 0.15, QColor::fromRgbF(0, 0, 0, 0.33));
    shadow.setColorAt(edge, QColor::fromRgbF(0, 0, 0, 0.16));
    shadow.setColorAt(1, QColor::fromRgbF(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shadow);
    p.drawEllipse(centre, radius + 10, radius + 10);

    // The badge: a very thin frosted material, light or dark with the theme.
    QPainterPath circle;
    circle.addEllipse(centre, radius, radius);
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    if (!m_frosted.isNull()) {
        p.save();
        p.setClipPath(circle);
        p.drawImage(square, m_frosted);
        p.restore();
        p.fillPath(circle, dark ? QColor::fromRgbF(0, 0, 0, 0.35) : QColor::fromRgbF(1, 1, 1, 0.45));
    } else {
        QColor material = palette().color(QPalette::Window);
        material.setAlphaF(0.72f);
        p.fillPath(circle, material);
    }

    // The number, in the primary text colour.
    QFont font = p.font();
    font.setPixelSize(48);
    font.setWeight(QFont::Bold);
    p.setFont(font);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(square, Qt::AlignCenter, QString::number(m_seconds));
}
