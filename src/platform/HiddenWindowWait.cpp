#include "platform/HiddenWindowWait.h"

#include "platform/Compositing.h"
#include "platform/Log.h"
#include "platform/X11Connection.h"

#include <QThread>
#include <QWindow>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

namespace {

template<typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template<typename T>
Reply<T> reply(T *r)
{
    return Reply<T>(r, &std::free);
}

// The areas noted and not yet taken by a read (main thread only).
HiddenWindowWait g_noted;

// A window's area is sampled along this many rows at most, spread evenly
// from its top row to its bottom one, each the full width: enough to see
// any change of a frame that takes the window away or fades it further
// (a frame along the area's edges among them), without reading the whole
// area.
constexpr int sampleRows = 24;

QList<int> rowsOf(const QRect &rect)
{
    const int rows = std::min(rect.height(), sampleRows);
    QList<int> out;
    out.reserve(rows);
    for (int i = 0; i < rows; ++i)
        out.append(rows == 1 ? rect.top() : rect.top() + int(qint64(i) * (rect.height() - 1) / (rows - 1)));
    return out;
}

} // namespace

void HiddenWindowWait::aboutToHide(QWindow *window)
{
    if (!window || !window->handle() || !window->isVisible())
        return;
    xcb_connection_t *c = X11Connection::connection();
    const xcb_window_t root = X11Connection::rootWindow();
    if (!c || root == XCB_NONE || !Compositing::isActive())
        return;
    const auto id = xcb_window_t(window->winId());
    const xcb_get_geometry_cookie_t geometryCookie = xcb_get_geometry(c, id);
    const xcb_translate_coordinates_cookie_t originCookie = xcb_translate_coordinates(c, id, root, 0, 0);
    const xcb_get_geometry_cookie_t rootCookie = xcb_get_geometry(c, root);
    const auto geometry = reply(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    const auto origin = reply(xcb_translate_coordinates_reply(c, originCookie, nullptr));
    const auto rootGeometry = reply(xcb_get_geometry_reply(c, rootCookie, nullptr));
    if (!geometry || !origin || !rootGeometry || !isViewable(c, id))
        return;
    const QRect rect = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height)
                           .intersected(QRect(0, 0, rootGeometry->width, rootGeometry->height));
    if (rect.isEmpty())
        return;
    Area area;
    area.window = id;
    area.root = root;
    area.rect = rect;
    area.rows = rowsOf(rect);
    area.shown = sample(c, root, area.rows, rect.left(), rect.width());
    if (area.shown.isEmpty())
        return;
    area.noted.start();
    g_noted.m_areas.removeIf([id](const Area &noted) { return noted.window == id; });
    g_noted.m_areas.append(area);
}

HiddenWindowWait HiddenWindowWait::takeNoted()
{
    HiddenWindowWait taken;
    taken.m_areas = std::exchange(g_noted.m_areas, {});
    taken.m_areas.removeIf([](const Area &area) { return area.noted.hasExpired(noteLifetimeMs); });
    return taken;
}

HiddenWindowWait::Result HiddenWindowWait::wait(xcb_connection_t *c, const QRect &readArea) const
{
    QElapsedTimer waited;
    waited.start();
    Result result;
    if (!c)
        return result;

    // One watch for each noted window that lies in the area read.
    struct Watch
    {
        const Area *area = nullptr;
        QList<int> rows;          // the noted rows that lie in the area read
        QList<QByteArray> noted;  // what they showed when the window was noted
        QList<QByteArray> last;   // what they showed at their last change
        bool redrawn = false;     // they have shown something else since
        qint64 firstChange = 0;
        qint64 lastChange = 0;
        qint64 longestGap = 0;    // between two changes
        bool done = false;
    };
    std::vector<Watch> watches;
    for (const Area &area : m_areas) {
        const QRect part = readArea.isEmpty() ? area.rect : area.rect & readArea;
        if (part.isEmpty())
            continue; // the window was hidden elsewhere
        Watch watch;
        watch.area = &area;
        for (qsizetype i = 0; i < area.rows.size(); ++i) {
            if (area.rows[i] >= part.top() && area.rows[i] <= part.bottom()) {
                watch.rows.append(area.rows[i]);
                watch.noted.append(area.shown[i]);
            }
        }
        if (watch.rows.isEmpty()) {
            // A read between two sampled rows: the window fades as a whole,
            // so all its rows tell how far.
            watch.rows = area.rows;
            watch.noted = area.shown;
        }
        watches.push_back(std::move(watch));
    }
    if (watches.empty())
        return result;

    result.outcome = Outcome::cameToRest;
    auto giveUp = [&result](Watch &watch, Outcome outcome, qint64 now, const char *why) {
        watch.done = true;
        if (result.outcome == Outcome::cameToRest)
            result.outcome = outcome;
        vlog(QStringLiteral("[Vorna] capture: after %1 ms %2; the screen is read as it is")
                 .arg(now)
                 .arg(QLatin1String(why)));
    };
    for (;;) {
        bool all = true;
        for (Watch &watch : watches) {
            if (watch.done)
                continue;
            const Area &area = *watch.area;
            const qint64 now = waited.elapsed();
            if (!watch.redrawn && isViewable(c, area.window)) {
                // Not even unmapped yet (or shown again).
                if (now >= firstFrameTimeoutMs)
                    giveUp(watch, Outcome::stillShown, now, "a window of ours is still on the screen");
                all = all && watch.done;
                continue;
            }
            const QList<QByteArray> shown = sample(c, area.root, watch.rows, area.rect.left(), area.rect.width());
            if (shown.isEmpty()) {
                // The screen changed size: nothing left to compare with.
                watch.done = true;
                continue;
            }
            if (!watch.redrawn) {
                if (shown != watch.noted) {
                    // The manager has drawn the area without (all of) the
                    // window: from now on it must come to rest.
                    watch.redrawn = true;
                    watch.firstChange = watch.lastChange = now;
                    watch.last = shown;
                } else if (now >= firstFrameTimeoutMs) {
                    giveUp(watch, Outcome::neverRedrawn, now, "the compositing manager has not drawn a hidden window's area anew");
                }
            } else if (shown != watch.last) {
                watch.longestGap = std::max(watch.longestGap, now - watch.lastChange);
                watch.lastChange = now;
                watch.last = shown;
            }
            if (watch.redrawn && !watch.done) {
                const qint64 rest = std::clamp<qint64>(3 * watch.longestGap, restMs, restCapMs);
                if (now - watch.lastChange >= rest)
                    watch.done = true;
                else if (now - watch.firstChange >= fadeTimeoutMs)
                    giveUp(watch, Outcome::stillChanging, now, "a hidden window's area is still changing");
            }
            all = all && watch.done;
        }
        if (all) {
            result.waitedMs = waited.elapsed();
            return result;
        }
        QThread::msleep(pollIntervalMs);
    }
}

QList<QByteArray> HiddenWindowWait::sample(xcb_connection_t *c, xcb_window_t root, const QList<int> &rows, int left,
                                           int width)
{
    std::vector<xcb_get_image_cookie_t> cookies;
    cookies.reserve(size_t(rows.size()));
    for (const int y : rows)
        cookies.push_back(xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(left), int16_t(y), uint16_t(width),
                                        1, ~0u));
    QList<QByteArray> shown;
    shown.reserve(rows.size());
    bool failed = false;
    for (const xcb_get_image_cookie_t &cookie : cookies) {
        const auto image = reply(xcb_get_image_reply(c, cookie, nullptr));
        if (!image) {
            failed = true; // the other replies are still collected
            continue;
        }
        shown.append(QByteArray(reinterpret_cast<const char *>(xcb_get_image_data(image.get())),
                                xcb_get_image_data_length(image.get())));
    }
    return failed ? QList<QByteArray>() : shown;
}

bool HiddenWindowWait::isViewable(xcb_connection_t *c, xcb_window_t window)
{
    // A window already destroyed is not on screen either.
    const auto attributes = reply(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}
