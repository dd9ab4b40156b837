#include "capture/OverlayBackdrop.h"

#include <QPainter>

OverlayBackdrop::OverlayBackdrop(const QImage &snapshot, const QSize &size, qreal devicePixelRatio, qreal dimming)
{
    if (snapshot.isNull() || size.isEmpty())
        return;
    const QSize pixels = (QSizeF(size) * devicePixelRatio).toSize();
    QImage clear = snapshot.convertToFormat(QImage::Format_RGB32);
    if (clear.size() != pixels)
        clear = clear.scaled(pixels, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    clear.setDevicePixelRatio(devicePixelRatio);
    QImage dimmed = clear.copy();
    QPainter p(&dimmed);
    p.fillRect(QRectF(QPointF(), QSizeF(size)), QColor::fromRgbF(0, 0, 0, dimming));
    p.end();
    m_clear = clear;
    m_dimmed = dimmed;
}

void OverlayBackdrop::paint(QPainter &painter, const QImage &image, const QRegion &region)
{
    const qreal dpr = image.devicePixelRatio();
    const QPainter::CompositionMode mode = painter.compositionMode();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const QRect &r : region)
        painter.drawImage(QPointF(r.topLeft()), image, QRectF(QPointF(r.topLeft()) * dpr, QSizeF(r.size()) * dpr));
    painter.setCompositionMode(mode);
}
