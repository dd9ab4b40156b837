#pragma once

#include <QFuture>
#include <QImage>
#include <QList>
#include <QRectF>
#include <optional>

#include "platform/ScreenCapture.h"

// Every still picture of the screen the program takes: the first display, a
// region, one window, and the list of windows the window picker offers.
// Images come at two pixels per point (devicePixelRatio 2), so their size in
// points is the size of what was captured. The "includeCursor" preference is
// read at each capture. Failures give nothing (or an empty list); nothing is
// thrown. Main thread only. The ...InBackground forms are the same captures
// for callers that must not wait for the pixels (the pixels are fetched on
// the capture backend's own thread, where their futures finish); the plain
// forms wait for them.
class CaptureService
{
public:
    CaptureService() = delete;

    // The first display, or nothing.
    static std::optional<QImage> captureFullScreen();
    // A rectangle in global points measured from the primary screen's
    // top-left corner (y downward), taken from whichever screens lie under
    // it, or nothing.
    // The image measures the rectangle's width and height in points.
    static std::optional<QImage> captureRegion(const QRectF &rect);
    // One window from listWindows(), or nothing.
    static std::optional<QImage> captureWindow(const ShareableWindow &window);
    static QFuture<std::optional<QImage>> captureFullScreenInBackground();
    static QFuture<std::optional<QImage>> captureRegionInBackground(const QRectF &rect);
    static QFuture<std::optional<QImage>> captureWindowInBackground(const ShareableWindow &window);
    // The windows of other programs that are on screen and at least
    // 40 x 40 points, front-most first; empty on failure.
    static QList<ShareableWindow> listWindows();
};
