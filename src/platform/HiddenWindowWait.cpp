#include "platform/HiddenWindowWait.h"

#include "platform/Compositing.h"
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
// over its height, each the full width: enough to see any change of a
// frame that takes the window away, without reading the whole area.
constexpr int sampleRows = 24;

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
    area.shown = sample(c, root, rect);
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

qint64 HiddenWindowWait::wait(xcb_connection_t *c) const
{
    QElapsedTimer waited;
    waited.start();
    if (!c || m_areas.isEmpty())
        return 0;
    std::vector<bool> gone(size_t(m_areas.size()), false);
    for (;;) {
        bool all = true;
        for (qsizetype i = 0; i < m_areas.size(); ++i) {
            if (gone[size_t(i)])
                continue;
            const Area &area = m_areas[i];
            // A sample that cannot be read any more (the screen changed
            // size) has nothing left to compare with.
            gone[size_t(i)] = !isViewable(c, area.window) && sample(c, area.root, area.rect) != area.shown;
            all = all && gone[size_t(i)];
        }
        if (all || waited.hasExpired(timeoutMs))
            return waited.elapsed();
        QThread::msleep(pollIntervalMs);
    }
}

QByteArray HiddenWindowWait::sample(xcb_connection_t *c, xcb_window_t root, const QRect &rect)
{
    const int rows = std::min(rect.height(), sampleRows);
    std::vector<xcb_get_image_cookie_t> cookies;
    cookies.reserve(size_t(rows));
    for (int i = 0; i < rows; ++i) {
        const int y = rect.top() + int((2 * qint64(i) + 1) * rect.height() / (2 * rows));
        cookies.push_back(xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(rect.left()), int16_t(y),
                                        uint16_t(rect.width()), 1, ~0u));
    }
    QByteArray shown;
    bool failed = false;
    for (const xcb_get_image_cookie_t &cookie : cookies) {
        const auto image = reply(xcb_get_image_reply(c, cookie, nullptr));
        if (!image) {
            failed = true; // the other replies are still collected
            continue;
        }
        shown.append(reinterpret_cast<const char *>(xcb_get_image_data(image.get())),
                     xcb_get_image_data_length(image.get()));
    }
    return failed ? QByteArray() : shown;
}

bool HiddenWindowWait::isViewable(xcb_connection_t *c, xcb_window_t window)
{
    // A window already destroyed is not on screen either.
    const auto attributes = reply(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}
