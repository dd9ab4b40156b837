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

// What a capture asks the backend for.
struct Request
{
    QRectF rect;
    QSize pixels;
    bool showsCursor = false;
};

std::optional<Request> fullScreenRequest()
{
    const std::optional<QList<ShareableDisplay>> displays = ScreenCapture::current().displays();
    if (!displays || displays->isEmpty())
        return std::nullopt;
    const QRect display = displays->first().frame;
    return Request{QRectF(display), display.size() * kPixelsPerPoint, includeCursor()};
}

std::optional<Request> regionRequest(const QRectF &rect)
{
    QString error;
    const std::optional<QList<ShareableDisplay>> displays = ScreenCapture::current().displays(&error);
    if (!displays) {
        vlog(QStringLiteral("[Vorna] captureRegion: SCShareableContent failed: ") + error);
        return std::nullopt;
    }
    if (displays->isEmpty()) {
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
    return Request{source, pixels, includeCursor()};
}

// A full screen's or a window's failure goes unlogged; a region's is logged.
std::optional<QImage> unloggedImage(CapturedImage &&captured)
{
    if (captured.image.isNull())
        return std::nullopt;
    return inPoints(std::move(captured.image));
}

std::optional<QImage> regionImage(CapturedImage &&captured)
{
    if (captured.image.isNull()) {
        vlog(QStringLiteral("[Vorna] captureRegion: captureImage failed: ") + captured.error);
        return std::nullopt;
    }
    return inPoints(std::move(captured.image));
}

// Truncate first, then double: a 100.6-point-wide window gives 200 pixels.
QSize windowPixels(const ShareableWindow &window)
{
    return QSize(int(std::trunc(window.frame.width())) * kPixelsPerPoint,
                 int(std::trunc(window.frame.height())) * kPixelsPerPoint);
}

using Finish = std::optional<QImage> (*)(CapturedImage &&);

// The backend's future, finished where the pixels arrive. Its result is
// taken out of it rather than copied, so that the pixels have no other
// holder when they are given their ratio: a copy would cost a whole
// screen's worth of memory and time on the way to the user's file.
QFuture<std::optional<QImage>> finished(QFuture<CapturedImage> pixels, Finish finish)
{
    return pixels.then(QtFuture::Launch::Sync,
                       [finish](QFuture<CapturedImage> done) { return finish(done.takeResult()); });
}

// The pixels of a request's rectangle, or nothing without a request.
QFuture<std::optional<QImage>> rectCapture(const std::optional<Request> &request, Finish finish)
{
    if (!request)
        return QtFuture::makeReadyFuture(std::optional<QImage>());
    return finished(ScreenCapture::current().captureRectInBackground(request->rect, request->pixels,
                                                                     request->showsCursor),
                    finish);
}

} // namespace

// The plain forms wait for what the background forms fetch: both take the
// same road.
std::optional<QImage> CaptureService::captureFullScreen()
{
    return captureFullScreenInBackground().result();
}

std::optional<QImage> CaptureService::captureRegion(const QRectF &rect)
{
    return captureRegionInBackground(rect).result();
}

std::optional<QImage> CaptureService::captureWindow(const ShareableWindow &window)
{
    return captureWindowInBackground(window).result();
}

QFuture<std::optional<QImage>> CaptureService::captureFullScreenInBackground()
{
    return rectCapture(fullScreenRequest(), unloggedImage);
}

QFuture<std::optional<QImage>> CaptureService::captureRegionInBackground(const QRectF &rect)
{
    return rectCapture(regionRequest(rect), regionImage);
}

QFuture<std::optional<QImage>> CaptureService::captureWindowInBackground(const ShareableWindow &window)
{
    return finished(ScreenCapture::current().captureWindowInBackground(window, windowPixels(window),
                                                                       includeCursor(), false),
                    unloggedImage);
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
