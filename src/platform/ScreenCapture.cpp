#include "platform/ScreenCapture.h"

#include "platform/X11ScreenCapture.h"

namespace {
ScreenCapture *g_installed = nullptr;
}

ScreenCapture &ScreenCapture::current()
{
    if (g_installed)
        return *g_installed;
    static X11ScreenCapture backend;
    return backend;
}

void ScreenCapture::setCurrent(ScreenCapture *capture)
{
    g_installed = capture;
}

std::optional<QList<ShareableDisplay>> ScreenCapture::displays(QString *error)
{
    const std::optional<ShareableContent> content = shareableContent(false, true, error);
    if (!content)
        return std::nullopt;
    return content->displays;
}

QFuture<CapturedImage> ScreenCapture::captureRectInBackground(const QRectF &rect, const QSize &pixelSize,
                                                              bool showsCursor)
{
    CapturedImage result;
    result.image = captureRect(rect, pixelSize, showsCursor, &result.error);
    return QtFuture::makeReadyFuture(result);
}

QFuture<CapturedImage> ScreenCapture::captureWindowInBackground(const ShareableWindow &window,
                                                                const QSize &pixelSize, bool showsCursor,
                                                                bool opaque)
{
    CapturedImage result;
    result.image = captureWindow(window, pixelSize, showsCursor, opaque, &result.error);
    return QtFuture::makeReadyFuture(result);
}
