#pragma once

#include <QFuture>
#include <QImage>
#include <QList>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>
#include <optional>

// Geometry in this layer is in points (Qt device-independent pixels) in global
// coordinates, the ones QScreen::geometry() and QCursor::pos() use: origin at
// the top-left corner of the desktop, y growing downward. Pixel sizes are
// asked for explicitly by the caller.

// One screen.
struct ShareableDisplay
{
    // Position of the screen in QGuiApplication::screens() at the time of the
    // request (0 is the first screen).
    quint32 displayID = 0;
    // The screen's name as QScreen::name() gives it.
    QString name;
    // The screen's area in points; whole numbers.
    QRect frame;
};

// The program a window belongs to.
struct OwningApplication
{
    qint64 processID = 0;
    // The window's class name (second part of WM_CLASS), e.g. "Gimp".
    QString applicationName;
};

// One top-level window.
struct ShareableWindow
{
    // The X window id of the client window.
    quint32 windowID = 0;
    // _NET_WM_NAME, else WM_NAME; empty when the window has neither.
    QString title;
    // Absent when the owning process cannot be found.
    std::optional<OwningApplication> owningApplication;
    // The window's area including the window manager's frame, in points.
    // A window that draws its own frame counts without the invisible shadow
    // it draws around it.
    QRectF frame;
    bool isOnScreen = false;
};

// What can be captured: the screens (first is the primary) and the windows,
// front-most first.
struct ShareableContent
{
    QList<ShareableDisplay> displays;
    QList<ShareableWindow> windows;
};

// A capture's pixels, or why there are none (a null image and the reason).
struct CapturedImage
{
    QImage image;
    QString error;
};

// The screen capture facility. The default is the X11 backend; tests install
// a double with setCurrent().
class ScreenCapture
{
public:
    virtual ~ScreenCapture() = default;

    // The installed backend, or the X11 one (created on first use).
    static ScreenCapture &current();
    // Installs a backend (not owned); nullptr restores the default.
    static void setCurrent(ScreenCapture *capture);

    // The screens and windows. excludingDesktopWindows leaves out desktop
    // windows (the ones that draw the wallpaper and icons); onScreenWindowsOnly
    // leaves out windows that are not shown. Nothing on failure, with the
    // reason in *error.
    virtual std::optional<ShareableContent> shareableContent(bool excludingDesktopWindows,
                                                             bool onScreenWindowsOnly,
                                                             QString *error = nullptr) = 0;

    // The screens alone, as shareableContent gives them, without the work of
    // listing the windows. Nothing on failure, with the reason in *error.
    virtual std::optional<QList<ShareableDisplay>> displays(QString *error = nullptr);

    // What the screens show in a rectangle (global points), as an image of
    // pixelSize pixels. Parts of the rectangle that no screen covers stay
    // transparent. A null image on failure, with the reason in *error.
    virtual QImage captureRect(const QRectF &rect, const QSize &pixelSize, bool showsCursor,
                               QString *error = nullptr) = 0;

    // One window alone (through the compositor when one runs, else the
    // window's area of the screen), as an image of pixelSize pixels.
    // With opaque false a window with an alpha channel keeps it.
    virtual QImage captureWindow(const ShareableWindow &window, const QSize &pixelSize,
                                 bool showsCursor, bool opaque, QString *error = nullptr) = 0;

    // captureRect and captureWindow for a caller that must not wait for the
    // pixels: the screens' layout is read now, the pixels are fetched on a
    // thread of the backend's own, and the future gives them there. This
    // default captures at once, on the calling thread.
    virtual QFuture<CapturedImage> captureRectInBackground(const QRectF &rect, const QSize &pixelSize,
                                                           bool showsCursor);
    virtual QFuture<CapturedImage> captureWindowInBackground(const ShareableWindow &window, const QSize &pixelSize,
                                                             bool showsCursor, bool opaque);

    // Returns once no background capture runs any more (at quit: their
    // work paints with Qt, which must not go before them). This default
    // has none.
    virtual void waitForBackgroundCaptures() {}
};
