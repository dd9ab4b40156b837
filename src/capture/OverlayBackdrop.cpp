#include "capture/OverlayBackdrop.h"

#include "platform/ScreenCapture.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <cmath>

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

std::optional<QHash<quint32, QImage>> OverlayBackdrop::captureScreens(Resolution resolution,
                                                                      const ErrorHandlers &errors)
{
    ScreenCapture &capture = ScreenCapture::current();
    QString error;
    const std::optional<ShareableContent> content = capture.shareableContent(false, true, &error);
    if (!content) {
        if (errors.content)
            errors.content(error);
        return std::nullopt;
    }
    const QList<QScreen *> screens = QGuiApplication::screens();
    QHash<quint32, QImage> pictures;
    for (const ShareableDisplay &display : content->displays) {
        qreal scale = 2;
        if (resolution == Resolution::screenPixels)
            scale = display.displayID < quint32(screens.size()) ? screens[display.displayID]->devicePixelRatio() : 1;
        const QSize pixels(int(std::ceil(display.frame.width() * scale)), int(std::ceil(display.frame.height() * scale)));
        QString displayError;
        QImage image = capture.captureRect(QRectF(display.frame), pixels, false, &displayError);
        if (image.isNull()) {
            if (errors.display)
                errors.display(display.displayID, displayError);
            continue;
        }
        image.setDevicePixelRatio(scale);
        pictures.insert(display.displayID, image);
    }
    return pictures;
}
