#include "support/X11TestWindows.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const void *data, size_t size)
{
    const auto *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

// Reads size bytes, or gives up when none come for timeoutMs.
bool readAll(int fd, void *data, size_t size, int timeoutMs)
{
    auto *p = static_cast<char *>(data);
    while (size > 0) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, timeoutMs) <= 0)
            return false;
        const ssize_t n = ::read(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

xcb_atom_t intern(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

// A true-colour visual 32 bits deep (with alpha), or none.
xcb_visualid_t argbVisual(xcb_screen_t *screen)
{
    for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem; xcb_depth_next(&depths)) {
        if (depths.data->depth != 32)
            continue;
        for (auto v = xcb_depth_visuals_iterator(depths.data); v.rem; xcb_visualtype_next(&v)) {
            if (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR)
                return v.data->visual_id;
        }
    }
    return XCB_NONE;
}

// The child: its own X connection, nothing of Qt.
[[noreturn]] void runChild(const QList<X11TestWindows::Spec> &specs, int reportFd, int controlFd)
{
    int screenNumber = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c))
        _exit(2);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    xcb_screen_t *screen = it.data;
    const xcb_atom_t netWmName = intern(c, "_NET_WM_NAME");
    const xcb_atom_t utf8 = intern(c, "UTF8_STRING");
    const xcb_atom_t gtkFrameExtents = intern(c, "_GTK_FRAME_EXTENTS");

    std::vector<uint32_t> ids;
    for (const auto &spec : specs) {
        const xcb_window_t w = xcb_generate_id(c);
        if (spec.transparentMargin) {
            const xcb_visualid_t visual = argbVisual(screen);
            if (visual == XCB_NONE)
                _exit(4);
            const xcb_colormap_t colormap = xcb_generate_id(c);
            xcb_create_colormap(c, XCB_COLORMAP_ALLOC_NONE, colormap, screen->root, visual);
            // Premultiplied pixels: 0 is fully transparent.
            const uint32_t values[] = {0, 0, 0, colormap};
            xcb_create_window(c, 32, w, screen->root, int16_t(spec.rect.x()), int16_t(spec.rect.y()),
                              uint16_t(spec.rect.width()), uint16_t(spec.rect.height()), 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, visual,
                              XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_COLORMAP,
                              values);
            // The inside: a child window, whose background the server
            // paints again at every exposure.
            const QMargins m = spec.frameExtents.value_or(QMargins());
            const QRect inside = QRect(QPoint(0, 0), spec.rect.size()).marginsRemoved(m);
            const xcb_window_t body = xcb_generate_id(c);
            const uint32_t bodyValues[] = {0xff000000u | (spec.color & 0xffffffu), 0};
            xcb_create_window(c, 32, body, w, int16_t(inside.x()), int16_t(inside.y()), uint16_t(inside.width()),
                              uint16_t(inside.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, visual,
                              XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL, bodyValues);
            xcb_map_window(c, body);
        } else {
            const uint32_t values[] = {spec.color & 0xffffffu, 0};
            xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, int16_t(spec.rect.x()),
                              int16_t(spec.rect.y()), uint16_t(spec.rect.width()), uint16_t(spec.rect.height()), 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                              XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        }
        if (spec.frameExtents) {
            const QMargins &m = *spec.frameExtents;
            const uint32_t extents[] = {uint32_t(m.left()), uint32_t(m.right()), uint32_t(m.top()),
                                        uint32_t(m.bottom())};
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, gtkFrameExtents, XCB_ATOM_CARDINAL, 32, 4, extents);
        }
        if (!spec.title.isEmpty())
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netWmName, utf8, 8, uint32_t(spec.title.size()),
                                spec.title.constData());
        if (!spec.legacyTitle.isEmpty())
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                                uint32_t(spec.legacyTitle.size()), spec.legacyTitle.constData());
        if (!spec.wmClass.isEmpty())
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                                uint32_t(spec.wmClass.size()), spec.wmClass.constData());
        xcb_map_window(c, w);
        ids.push_back(w);
    }
    // A round trip: every window is mapped and its background painted.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

    const uint32_t count = uint32_t(ids.size());
    if (!writeAll(reportFd, &count, sizeof count) || !writeAll(reportFd, ids.data(), ids.size() * sizeof(uint32_t)))
        _exit(3);
    char byte;
    while (::read(controlFd, &byte, 1) > 0) {
    }
    xcb_disconnect(c);
    _exit(0);
}

} // namespace

X11TestWindows::~X11TestWindows()
{
    close();
}

bool X11TestWindows::show(const QList<Spec> &windows)
{
    // A child forked from a process with running threads can find a lock
    // taken for good (the allocator's, under the sanitizers): one that does
    // not report in time is put down and another started.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (showOnce(windows))
            return true;
        if (m_pid > 0)
            ::kill(m_pid, SIGKILL);
        close();
    }
    return false;
}

bool X11TestWindows::showOnce(const QList<Spec> &windows)
{
    close();
    int report[2];
    int control[2];
    if (::pipe(report) != 0)
        return false;
    if (::pipe(control) != 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        ::close(report[0]);
        ::close(control[1]);
        runChild(windows, report[1], control[0]);
    }
    ::close(report[1]);
    ::close(control[0]);
    m_pid = pid;
    m_control = control[1];
    constexpr int timeoutMs = 10000;
    uint32_t count = 0;
    bool ok = readAll(report[0], &count, sizeof count, timeoutMs) && count == uint32_t(windows.size());
    std::vector<uint32_t> ids(count);
    ok = ok && readAll(report[0], ids.data(), ids.size() * sizeof(uint32_t), timeoutMs);
    ::close(report[0]);
    if (!ok)
        return false;
    for (uint32_t id : ids)
        m_ids.append(id);
    return true;
}

void X11TestWindows::close()
{
    if (m_control >= 0) {
        ::close(m_control);
        m_control = -1;
    }
    if (m_pid > 0) {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
    m_ids.clear();
}
