#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <memory>

#include "platform/ScreenCapture.h"

// Screen capture on an X11 server through xcb: MIT-SHM GetImage on the root
// window (plain GetImage when shared memory is not available), the XFixes
// cursor image drawn in on request, the window list from EWMH
// (_NET_CLIENT_LIST_STACKING, or the root window's children when no window
// manager publishes it), window frames from _NET_FRAME_EXTENTS (or less the
// shadow in _GTK_FRAME_EXTENTS for a window that draws its own frame), owner
// processes from X-Resource or _NET_WM_PID, and single windows through
// Composite when a compositing manager runs.
//
// On the xcb Qt platform it uses Qt's own connection and Qt's screens;
// elsewhere it opens a connection to $DISPLAY and takes the screens from
// RandR, one point to a pixel. Use it from one thread (the main thread).
// Captures asked for in the background run on a thread of their own, with a
// connection of their own.
class X11ScreenCapture : public ScreenCapture
{
public:
    // One screen: its area in points and the area of the root window, in
    // pixels, that shows it.
    struct Screen
    {
        QString name;
        QRect frame;
        QRect nativeFrame;
    };

    X11ScreenCapture();
    // A fixed screen layout instead of the live one.
    explicit X11ScreenCapture(const QList<Screen> &screens);
    ~X11ScreenCapture() override;
    X11ScreenCapture(const X11ScreenCapture &) = delete;
    X11ScreenCapture &operator=(const X11ScreenCapture &) = delete;

    bool isConnected() const;
    // The screens as they are now (or the fixed layout).
    QList<Screen> screens() const;
    // Whether a compositing manager owns the _NET_WM_CM_Sn selection.
    bool compositorRunning() const;
    // Whether captures go through shared memory.
    bool usesSharedMemory() const;

    std::optional<ShareableContent> shareableContent(bool excludingDesktopWindows,
                                                     bool onScreenWindowsOnly,
                                                     QString *error = nullptr) override;
    std::optional<QList<ShareableDisplay>> displays(QString *error = nullptr) override;
    QImage captureRect(const QRectF &rect, const QSize &pixelSize, bool showsCursor,
                       QString *error = nullptr) override;
    QImage captureWindow(const ShareableWindow &window, const QSize &pixelSize, bool showsCursor,
                         bool opaque, QString *error = nullptr) override;
    QFuture<CapturedImage> captureRectInBackground(const QRectF &rect, const QSize &pixelSize,
                                                   bool showsCursor) override;
    QFuture<CapturedImage> captureWindowInBackground(const ShareableWindow &window, const QSize &pixelSize,
                                                     bool showsCursor, bool opaque) override;
    void waitForBackgroundCaptures() override;

private:
    struct OwnConnection
    {
    };
    // The instance the background captures use: a connection of its own,
    // the screen layout handed to it with each capture.
    explicit X11ScreenCapture(OwnConnection);
    static QList<ShareableDisplay> displaysOf(const QList<Screen> &screens);

    struct Private;
    std::unique_ptr<Private> d;
};
