#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QRect>

#include <xcb/xcb.h>

class QWindow;

// Keeps a window of ours that was hidden right before a read of the screen
// out of that read.
//
// Without a compositing manager the X server takes an unmapped window off
// the screen at once. With one, the screen is the manager's last frame, and
// a window hidden a moment ago stays in it until the manager draws again.
// So, where a manager runs, aboutToHide() notes what the screen shows in the
// window's area while the window is still on it, and the next read waits,
// on its own thread, until that area shows something else: the manager has
// drawn a frame without the window. The wait is bounded by timeoutMs; where
// nothing was hidden there is nothing to wait for.
class HiddenWindowWait
{
public:
    // The longest a read waits for the screen to drop what was hidden.
    static constexpr int timeoutMs = 300;
    // A note older than this concerns no read any more.
    static constexpr int noteLifetimeMs = 1000;
    // How often the screen is looked at while waiting.
    static constexpr int pollIntervalMs = 3;

    HiddenWindowWait() = default;

    // Call right before hiding a window of ours when a read of the screen
    // may follow. Main thread only; does nothing off X11, without a
    // compositing manager, or for a window not on screen.
    static void aboutToHide(QWindow *window);
    // The windows noted lately (and not yet taken), for the next read.
    // Main thread only.
    static HiddenWindowWait takeNoted();

    bool isEmpty() const { return m_areas.isEmpty(); }

    // Returns once the screen no longer shows any of the windows (each is
    // unmapped and its area shows something else than when it was noted),
    // or after timeoutMs. Any thread, with a connection that thread alone
    // uses. The milliseconds it waited.
    qint64 wait(xcb_connection_t *c) const;

private:
    struct Area
    {
        xcb_window_t window = XCB_NONE;
        xcb_window_t root = XCB_NONE;
        QRect rect;          // root pixels, within the root window
        QByteArray shown;    // what the screen showed there, sampled
        QElapsedTimer noted;
    };

    // Reads the sample lines of rect off root: the same requests each time,
    // so that two samples compare byte for byte. Empty on failure.
    static QByteArray sample(xcb_connection_t *c, xcb_window_t root, const QRect &rect);
    static bool isViewable(xcb_connection_t *c, xcb_window_t window);

    QList<Area> m_areas;
};
