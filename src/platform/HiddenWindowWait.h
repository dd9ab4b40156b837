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
// a window hidden a moment ago stays in it until the manager draws again;
// a manager that fades windows out (picom and xcompmgr with fading on, most
// desktops' own) then draws it fainter frame by frame for a third of a
// second or so. So, where a manager runs, aboutToHide() notes what the
// screen shows in the window's area while the window is still on it, and
// the next read waits, on its own thread, until that area has come to rest
// without the window: it shows something else than when it was noted, and
// has then stopped changing for a few of the manager's frames.
//
// Each step is bounded: a manager that never draws again (or a window that
// looks just like what lies beneath it) holds the read for firstFrameTimeoutMs
// at most; an area that keeps changing (a video beneath) for fadeTimeoutMs
// after its first change. Where nothing was hidden there is nothing to wait
// for, and nothing is noted where no compositing manager runs.
class HiddenWindowWait
{
public:
    // The longest a read waits for the manager to draw the area without the
    // window for the first time: a manager held up by a busy machine draws
    // within it; one that does not has stopped.
    static constexpr int firstFrameTimeoutMs = 500;
    // The longest a read waits, after that first frame, for the area to
    // stop changing: more than a usual fade lasts (picom's and xcompmgr's
    // default fade-out takes about 0.34 s, whatever the machine's load).
    static constexpr int fadeTimeoutMs = 700;
    // The area has come to rest when it has not changed for this long, or
    // for three times the longest time between two of its changes so far
    // (a manager drawing its fade slowly), whichever is longer, though
    // never longer than restCapMs.
    static constexpr int restMs = 60;
    static constexpr int restCapMs = 250;
    // A note older than this concerns no read any more.
    static constexpr int noteLifetimeMs = 1000;
    // How often the screen is looked at while waiting.
    static constexpr int pollIntervalMs = 3;

    // How a wait ended.
    enum class Outcome {
        nothingHidden,  // no window was noted in the area read
        cameToRest,     // every window is off the screen and its fade is over
        stillShown,     // a window is still mapped: bounded by firstFrameTimeoutMs
        neverRedrawn,   // its area never changed: bounded by firstFrameTimeoutMs
        stillChanging,  // its area never came to rest: bounded by fadeTimeoutMs
    };
    struct Result
    {
        Outcome outcome = Outcome::nothingHidden;
        qint64 waitedMs = 0;
    };

    HiddenWindowWait() = default;

    // Call right before hiding a window of ours when a read of the screen
    // may follow. Main thread only; does nothing off X11, without a
    // compositing manager, or for a window not on screen.
    static void aboutToHide(QWindow *window);
    // The windows noted lately (and not yet taken), for the next read.
    // Main thread only.
    static HiddenWindowWait takeNoted();

    bool isEmpty() const { return m_areas.isEmpty(); }

    // Returns once no window noted in readArea (root pixels; empty: the
    // whole screen) is on the screen there any more, nor any step of its
    // fade-out, or when a bound above ran out. Any thread, with a
    // connection that thread alone uses.
    Result wait(xcb_connection_t *c, const QRect &readArea = QRect()) const;

private:
    struct Area
    {
        xcb_window_t window = XCB_NONE;
        xcb_window_t root = XCB_NONE;
        QRect rect;              // root pixels, within the root window
        QList<int> rows;         // the rows sampled, root y
        QList<QByteArray> shown; // what the screen showed on each, rect's width
        QElapsedTimer noted;
    };

    // Reads the given rows between left and right (root pixels) off root:
    // the same requests each time, so that two samples compare byte for
    // byte. Empty on failure.
    static QList<QByteArray> sample(xcb_connection_t *c, xcb_window_t root, const QList<int> &rows, int left,
                                    int width);
    static bool isViewable(xcb_connection_t *c, xcb_window_t window);

    QList<Area> m_areas;
};
