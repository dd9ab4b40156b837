#pragma once

#include <QByteArray>
#include <QList>
#include <QMargins>
#include <QRect>
#include <QRgb>

#include <optional>
#include <sys/types.h>

// Plain X windows of solid colours, shown by a separate process so that
// they belong to another program. Only for tests that run on a real X
// server ($DISPLAY). The windows go away with this object.
class X11TestWindows
{
public:
    struct Spec
    {
        // The first five fields in order, as callers give them in braces.
        Spec(const QRect &rect = {}, QRgb color = 0, const QByteArray &title = {}, const QByteArray &legacyTitle = {},
             const QByteArray &wmClass = {})
            : rect(rect), color(color), title(title), legacyTitle(legacyTitle), wmClass(wmClass)
        {
        }

        QRect rect;            // root-window pixels
        QRgb color = 0;        // painted as the window's background
        QByteArray title;      // _NET_WM_NAME (UTF-8); empty: none
        QByteArray legacyTitle; // WM_NAME (Latin-1); empty: none
        QByteArray wmClass;    // "instance\0Class\0"; empty: none
        // _GTK_FRAME_EXTENTS (left, right, top, bottom, in pixels), as a
        // window that draws its own frame and shadow sets it; absent: none.
        std::optional<QMargins> frameExtents;
        // The window 32 bits deep (an ARGB visual), the margin that
        // frameExtents names fully transparent and color only inside it,
        // as such a window's shadow looks to a compositing manager.
        bool transparentMargin = false;
    };

    X11TestWindows() = default;
    ~X11TestWindows();
    X11TestWindows(const X11TestWindows &) = delete;
    X11TestWindows &operator=(const X11TestWindows &) = delete;

    // Starts the process and returns once every window is mapped and
    // painted, in the order given (later ones on top). False on failure.
    bool show(const QList<Spec> &windows);
    void close();

    pid_t pid() const { return m_pid; }
    QList<quint32> ids() const { return m_ids; }

private:
    bool showOnce(const QList<Spec> &windows);

    pid_t m_pid = -1;
    int m_control = -1;
    QList<quint32> m_ids;
};
