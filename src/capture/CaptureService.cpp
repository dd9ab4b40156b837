#include "capture/CaptureService.h"

#include <QGuiApplication>
#include <QScreen>

#include <QCoreApplication>
#include <cmath>

#include "platform/Log.h"
#include "platform/UserDefaults.h"

namespace {

// Pixels per point of every captured image, whatever the screen's own scale.
constexpr int kPixelsPerPoint = 2;

bool includeCursor()
{
    return UserDefaults::standard().boolForKey(QStringLiteral("includeCursor"));
}

// The only reference to the pixels, so that setting the ratio copies nothing.
std::optional<QImage> inPoints(QImage &&image)
{
    image.setDevicePixelRatio(kPixelsPerPoint);
    return std::optional<QImage>(std::move(image));
}

} // namespace

std::optional<QImage> CaptureService::captureFullScreen()
{
    ScreenCapture &capture = ScreenCapture::current();
    const std::optional<ShareableContent> content = capture.shareableContent(false, true);
    if (!content || content->displays.isEmpty())
        return std::nullopt;
    const QRect display = content->displays.first().frame;
    QImage image = capture.captureRect(QRectF(display), display.size() * kPixelsPerPoint, includeCursor());
    if (image.isNull())
        return std::nullopt;
    return inPoints(std::move(image));
}

std::optional<QImage> CaptureService::captureRegion(const QRectF &rect)
{
    ScreenCapture &capture = ScreenCapture::current();
    QString error;
    const std::optional<ShareableContent> content = capture.shareableContent(false, true, &error);
    if (!content) {
        vlog(QStringLiteral("[Vorna] captureRegion: SCShareableContent failed: ") + error);
        return std::nullopt;
    }
    if (content->displays.isEmpty()) {
        vlog(QStringLiteral("[Vorna] captureRegion: no displays available"));
        return std::nullopt;
    }
    // The pixels come from whichever screens lie under the rectangle, so a
    // region on a second screen shows that screen.
    // The rectangle is measured from the primary screen's top-left corner,
    // as the overlays report it; the capture layer measures from the desktop's.
    QScreen *primary = QGuiApplication::primaryScreen();
    const QPointF origin = primary ? QPointF(primary->geometry().topLeft()) : QPointF();
    const QRectF source(rect.x() + origin.x(), rect.y() + origin.y(), std::abs(rect.width()), std::abs(rect.height()));
    const QSize pixels(qRound(source.width() * kPixelsPerPoint), qRound(source.height() * kPixelsPerPoint));
    QImage image = capture.captureRect(source, pixels, includeCursor(), &error);
    if (image.isNull()) {
        vlog(QStringLiteral("[Vorna] captureRegion: captureImage failed: ") + error);
        return std::nullopt;
    }
    return inPoints(std::move(image));
}

std::optional<QImage> CaptureService::captureWindow(const ShareableWindow &window)
{
    // Truncate first, then double: a 100.6-point-wide window gives 200 pixels.
    const QSize pixels(int(std::trunc(window.frame.width())) * kPixelsPerPoint,
                       int(std::trunc(window.frame.height())) * kPixelsPerPoint);
    QImage image = ScreenCapture::current().captureWindow(window, pixels, includeCursor(), false);
    if (image.isNull())
        return std::nullopt;
    return inPoints(std::move(image));
}

QList<ShareableWindow> CaptureService::listWindows()
{
    const std::optional<ShareableContent> content = ScreenCapture::current().shareableContent(true, true);
    if (!content)
        return {};
    const qint64 ownPid = QCoreApplication::applicationPid();
    QList<ShareableWindow> out;
    for (const ShareableWindow &w : content->windows) {
        if (!w.owningApplication)
            continue;
        if (w.owningApplication->processID == ownPid)
            continue;
        if (!w.isOnScreen)
            continue;
        if (w.frame.width() < 40 || w.frame.height() < 40)
            continue;
        out.append(w);
    }
    return out;
}
