#include "platform/X11ScreenCapture.h"

#include "platform/HiddenWindowWait.h"
#include "platform/IdleThread.h"

#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QMargins>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/composite.h>
#include <xcb/randr.h>
#include <xcb/res.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <QFuture>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <unistd.h>
#include <vector>

namespace {

// Memory for the next capture, made ready in the background. A fresh
// screen-sized buffer costs thousands of page faults when first written,
// which can take tens of milliseconds; the captures run on the UI thread,
// so the buffer for the next one is allocated and touched on a worker
// thread after each capture. That thread has idle priority: right after a
// capture every core is wanted for its file and for showing it, and the
// next capture is seconds away. Should it get no time at all (every core
// busy), the next capture takes fresh memory as it would without the pool.
// A thread of idle priority can be kept off the cores for long on a busy
// machine, whatever it holds; so it shares no lock with the threads that
// capture: the buffer changes hands through atomics. Never destroyed
// (its thread may outlive statics).
class CaptureBufferPool
{
public:
    static CaptureBufferPool &instance()
    {
        static auto *pool = new CaptureBufferPool;
        return *pool;
    }

    // Makes a buffer of that size ready in the background.
    void prepareFor(size_t bytes) { prepare(bytes); }

    // A buffer of at least bytes for an image; freed with std::free.
    uchar *take(size_t bytes)
    {
        uchar *buffer = nullptr;
        if (Buffer *ready = m_ready.exchange(nullptr)) {
            if (ready->size >= bytes)
                buffer = ready->data;
            else
                std::free(ready->data);
            delete ready;
        }
        if (!buffer)
            buffer = static_cast<uchar *>(std::malloc(bytes));
        prepare(bytes);
        return buffer;
    }

private:
    struct Buffer
    {
        uchar *data = nullptr;
        size_t size = 0;
    };

    void prepare(size_t bytes)
    {
        if (m_ready.load() || m_preparing.exchange(true))
            return;
        preparer().start([this, bytes] {
            auto *data = static_cast<uchar *>(std::malloc(bytes));
            if (data) {
                const long page = ::sysconf(_SC_PAGESIZE) > 0 ? ::sysconf(_SC_PAGESIZE) : 4096;
                for (size_t i = 0; i < bytes; i += size_t(page))
                    data[i] = 0;
                if (Buffer *old = m_ready.exchange(new Buffer{data, bytes})) {
                    std::free(old->data);
                    delete old;
                }
            }
            m_preparing.store(false);
        });
    }

    static IdleThread &preparer()
    {
        static auto *thread = new IdleThread("capture memory");
        return *thread;
    }

    std::atomic<Buffer *> m_ready{nullptr};
    std::atomic<bool> m_preparing{false};
};

// An image of the given size and format in a buffer from the pool.
QImage pooledImage(const QSize &size, QImage::Format format)
{
    const qsizetype bytesPerLine = qsizetype(size.width()) * 4;
    const size_t bytes = size_t(bytesPerLine) * size_t(size.height());
    if (bytes == 0)
        return QImage();
    uchar *buffer = CaptureBufferPool::instance().take(bytes);
    if (!buffer)
        return QImage();
    return QImage(buffer, size.width(), size.height(), bytesPerLine, format, [](void *p) { std::free(p); }, buffer);
}

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T>
using XReply = std::unique_ptr<T, FreeDeleter>;
using XError = std::unique_ptr<xcb_generic_error_t, FreeDeleter>;

QString errorName(uint8_t code)
{
    switch (code) {
    case XCB_REQUEST: return QStringLiteral("BadRequest");
    case XCB_VALUE: return QStringLiteral("BadValue");
    case XCB_WINDOW: return QStringLiteral("BadWindow");
    case XCB_PIXMAP: return QStringLiteral("BadPixmap");
    case XCB_ATOM: return QStringLiteral("BadAtom");
    case XCB_MATCH: return QStringLiteral("BadMatch");
    case XCB_DRAWABLE: return QStringLiteral("BadDrawable");
    case XCB_ACCESS: return QStringLiteral("BadAccess");
    case XCB_ALLOC: return QStringLiteral("BadAlloc");
    case XCB_IMPLEMENTATION: return QStringLiteral("BadImplementation");
    default: return QStringLiteral("error %1").arg(code);
    }
}

QString xErrorText(const char *request, const xcb_generic_error_t *e)
{
    if (!e)
        return QStringLiteral("%1 failed: the X server connection is broken").arg(QLatin1String(request));
    return QStringLiteral("%1 failed: %2 (X error %3)")
        .arg(QLatin1String(request), errorName(e->error_code))
        .arg(e->error_code);
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// Pixels of the root window that show one screen, per point.
double scaleOf(const X11ScreenCapture::Screen &s)
{
    return s.frame.width() > 0 ? double(s.nativeFrame.width()) / s.frame.width() : 1.0;
}

QRectF pointsToNative(const X11ScreenCapture::Screen &s, const QRectF &r)
{
    const double k = scaleOf(s);
    return QRectF(s.nativeFrame.x() + (r.x() - s.frame.x()) * k, s.nativeFrame.y() + (r.y() - s.frame.y()) * k,
                  r.width() * k, r.height() * k);
}

// A rectangle of root-window pixels in points, through the screen that holds
// most of it (the first screen when none does).
QRectF nativeToPoints(const QList<X11ScreenCapture::Screen> &screens, const QRect &r)
{
    if (screens.isEmpty())
        return QRectF(r);
    const X11ScreenCapture::Screen *best = &screens.first();
    qint64 bestArea = 0;
    for (const auto &s : screens) {
        const QRect common = s.nativeFrame & r;
        const qint64 area = qint64(common.width()) * common.height();
        if (area > bestArea) {
            bestArea = area;
            best = &s;
        }
    }
    const double k = scaleOf(*best);
    return QRectF(best->frame.x() + (r.x() - best->nativeFrame.x()) / k,
                  best->frame.y() + (r.y() - best->nativeFrame.y()) / k, r.width() / k, r.height() / k);
}

bool isWhole(double v)
{
    return std::abs(v - std::round(v)) < 1e-9;
}

// Scales a picture to the asked size: pixel doubling for whole factors (exact
// and fast), smooth filtering otherwise.
QImage scaledTo(const QImage &image, const QSize &size)
{
    if (image.size() == size)
        return image;
    const double fx = double(size.width()) / image.width();
    const double fy = double(size.height()) / image.height();
    const bool whole = isWhole(fx) && isWhole(fy);
    return image.scaled(size, Qt::IgnoreAspectRatio, whole ? Qt::FastTransformation : Qt::SmoothTransformation);
}

const char *const kAtomNames[] = {
    "_NET_CLIENT_LIST_STACKING", "_NET_WM_NAME", "UTF8_STRING", "_NET_WM_PID",
    "_NET_FRAME_EXTENTS", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DESKTOP", "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN", "WM_STATE", "_GTK_FRAME_EXTENTS",
};
enum AtomIndex {
    NetClientListStacking, NetWmName, Utf8String, NetWmPid, NetFrameExtents, NetWmWindowType,
    NetWmWindowTypeDesktop, NetWmState, NetWmStateHidden, WmState, GtkFrameExtents, AtomCount
};

// A window that draws its own frame (GTK's client-side decorations) is
// larger than what a person sees, by an invisible shadow around it, and says
// by how much in _GTK_FRAME_EXTENTS: CARDINAL[4], left, right, top, bottom,
// in the window's pixels. Nothing when the window says nothing usable: a
// value of another type or length, or margins that leave nothing of the
// window (a negative number written as a cardinal among them).
std::optional<QMargins> drawnShadowOf(const xcb_get_property_reply_t *p, const QSize &size)
{
    if (!p || p->type != XCB_ATOM_CARDINAL || p->format != 32 || xcb_get_property_value_length(p) != 16)
        return std::nullopt;
    const auto *v = static_cast<const uint32_t *>(xcb_get_property_value(p));
    const qint64 left = v[0], right = v[1], top = v[2], bottom = v[3];
    if (left + right >= size.width() || top + bottom >= size.height())
        return std::nullopt;
    return QMargins(int(left), int(top), int(right), int(bottom));
}

// Runs rowsOf(first, last) over bands of a large image's rows on Qt's
// thread pool, the calling thread taking a band too: copying a whole
// screen out of the shared segment takes a few milliseconds on one core,
// all of it on the thread that asked for the capture.
template<typename Rows>
void forRowBands(int height, qsizetype bytesPerRow, Rows rowsOf)
{
    constexpr qsizetype bandBytes = qsizetype(2) << 20;
    const int rowsPerBand = int(std::clamp<qsizetype>(bandBytes / std::max<qsizetype>(1, bytesPerRow), 16, height));
    const int bands = (height + rowsPerBand - 1) / rowsPerBand;
    if (bands <= 1) {
        rowsOf(0, height);
        return;
    }
    QList<int> ids(bands);
    std::iota(ids.begin(), ids.end(), 0);
    QtConcurrent::blockingMap(ids, [&](int band) {
        rowsOf(band * rowsPerBand, std::min(height, (band + 1) * rowsPerBand));
    });
}

} // namespace

struct X11ScreenCapture::Private
{
    xcb_connection_t *conn = nullptr;
    bool ownsConnection = false;
    bool wantsOwnConnection = false; // not Qt's, even on the xcb platform
    bool qtConnection = false;
    int screenNumber = 0;
    xcb_screen_t *screen = nullptr;
    std::optional<QList<Screen>> fixedScreens;

    // Background captures: one thread, and the instance it alone uses
    // (made on that thread by the first capture or by the warm-up).
    QThreadPool backgroundThread;
    std::unique_ptr<X11ScreenCapture> background;
    Private()
    {
        backgroundThread.setMaxThreadCount(1);
        backgroundThread.setExpiryTimeout(-1);
        backgroundThread.setObjectName(QStringLiteral("screen capture"));
    }
    X11ScreenCapture *backgroundCapture();
    // Runs capture(instance, error) on the background thread.
    template<typename Capture>
    QFuture<CapturedImage> inBackground(Capture capture, const QRect &readArea);

    xcb_atom_t atoms[AtomCount] = {};
    bool atomsInterned = false;

    std::optional<bool> shm, xfixes, res, composite;

    xcb_shm_seg_t segment = 0;
    uchar *shmAddress = nullptr;
    size_t shmSize = 0;

    void connect();
    void disconnect();
    xcb_window_t root() const { return screen ? screen->root : XCB_NONE; }
    QRect rootRect() const
    {
        return screen ? QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels) : QRect();
    }
    QList<Screen> liveScreens() const;

    xcb_atom_t atom(AtomIndex i);
    xcb_atom_t internAtom(const QByteArray &name, bool onlyIfExists);
    bool hasShm();
    bool hasXFixes();
    bool hasRes();
    bool hasComposite();
    bool compositorRunning();

    bool ensureSegment(size_t size);
    void releaseSegment();
    // Gets the memory of a whole-screen capture ready ahead of the first one.
    void prepare();
    QFuture<void> prefault;

    QImage grab(xcb_drawable_t drawable, const QRect &area, uint8_t depth, QString *error);
    QImage toImage(const uchar *data, int stride, const QSize &size, uint8_t depth, int bitsPerPixel);
    int bitsPerPixel(uint8_t depth) const;
    void drawCursor(QImage &image, const QRect &nativeArea);

    QList<xcb_window_t> stackingOrder();
    std::optional<QRect> nativeFrameOf(xcb_window_t window, QString *error);
};

void X11ScreenCapture::Private::connect()
{
    if (!wantsOwnConnection && qGuiApp && QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
            conn = x11->connection();
            qtConnection = conn != nullptr;
            // Qt works on the default screen of $DISPLAY.
            char *host = nullptr;
            int display = 0;
            if (xcb_parse_display(nullptr, &host, &display, &screenNumber) == 0)
                screenNumber = 0;
            std::free(host);
        }
    }
    if (!conn) {
        conn = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(conn)) {
            xcb_disconnect(conn);
            conn = nullptr;
            return;
        }
        ownsConnection = true;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; it.rem; ++i, xcb_screen_next(&it)) {
        if (i == screenNumber) {
            screen = it.data;
            break;
        }
    }
    if (!screen) {
        it = xcb_setup_roots_iterator(xcb_get_setup(conn));
        screen = it.rem ? it.data : nullptr;
        screenNumber = 0;
    }
}

void X11ScreenCapture::Private::disconnect()
{
    // Qt closes its connection when the application object goes; after that
    // only the local mapping is left to undo.
    const bool canTalk = conn && (ownsConnection || qGuiApp);
    if (!canTalk)
        segment = 0;
    releaseSegment();
    if (conn && ownsConnection)
        xcb_disconnect(conn);
    conn = nullptr;
}

QList<X11ScreenCapture::Screen> X11ScreenCapture::Private::liveScreens() const
{
    if (fixedScreens)
        return *fixedScreens;
    QList<Screen> out;
    if (qtConnection) {
        // Qt keeps a screen's top-left corner at its place on the root window
        // and divides its size by the device pixel ratio.
        for (QScreen *s : QGuiApplication::screens()) {
            const QRect frame = s->geometry();
            const double dpr = s->devicePixelRatio();
            const QSize nativeSize(qRound(frame.width() * dpr), qRound(frame.height() * dpr));
            out.append(Screen{s->name(), frame, QRect(frame.topLeft(), nativeSize)});
        }
        return out;
    }
    if (!conn || !screen)
        return out;
    const xcb_query_extension_reply_t *randr = xcb_get_extension_data(conn, &xcb_randr_id);
    if (randr && randr->present) {
        XReply<xcb_randr_query_version_reply_t> version(
            xcb_randr_query_version_reply(conn, xcb_randr_query_version(conn, 1, 5), nullptr));
        if (version && (version->major_version > 1 || version->minor_version >= 5)) {
            XReply<xcb_randr_get_monitors_reply_t> monitors(
                xcb_randr_get_monitors_reply(conn, xcb_randr_get_monitors(conn, screen->root, 1), nullptr));
            if (monitors) {
                xcb_randr_monitor_info_iterator_t it = xcb_randr_get_monitors_monitors_iterator(monitors.get());
                QList<Screen> monitorScreens;
                for (; it.rem; xcb_randr_monitor_info_next(&it)) {
                    const QRect r(it.data->x, it.data->y, it.data->width, it.data->height);
                    const Screen s{QStringLiteral("monitor-%1").arg(monitorScreens.size()), r, r};
                    if (it.data->primary)
                        monitorScreens.prepend(s);
                    else
                        monitorScreens.append(s);
                }
                if (!monitorScreens.isEmpty())
                    return monitorScreens;
            }
        }
    }
    const QRect r = rootRect();
    out.append(Screen{QStringLiteral("screen-%1").arg(screenNumber), r, r});
    return out;
}

xcb_atom_t X11ScreenCapture::Private::internAtom(const QByteArray &name, bool onlyIfExists)
{
    XReply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
        conn, xcb_intern_atom(conn, onlyIfExists, uint16_t(name.size()), name.constData()), nullptr));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_atom_t X11ScreenCapture::Private::atom(AtomIndex i)
{
    if (!atomsInterned && conn) {
        xcb_intern_atom_cookie_t cookies[AtomCount];
        for (int k = 0; k < AtomCount; ++k)
            cookies[k] = xcb_intern_atom(conn, 0, uint16_t(std::strlen(kAtomNames[k])), kAtomNames[k]);
        for (int k = 0; k < AtomCount; ++k) {
            XReply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(conn, cookies[k], nullptr));
            atoms[k] = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        }
        atomsInterned = true;
    }
    return atoms[i];
}

bool X11ScreenCapture::Private::hasShm()
{
    if (!shm) {
        shm = false;
        const xcb_query_extension_reply_t *ext = conn ? xcb_get_extension_data(conn, &xcb_shm_id) : nullptr;
        if (ext && ext->present) {
            XReply<xcb_shm_query_version_reply_t> v(
                xcb_shm_query_version_reply(conn, xcb_shm_query_version(conn), nullptr));
            shm = v != nullptr;
        }
    }
    return *shm;
}

bool X11ScreenCapture::Private::hasXFixes()
{
    if (!xfixes) {
        xfixes = false;
        const xcb_query_extension_reply_t *ext = conn ? xcb_get_extension_data(conn, &xcb_xfixes_id) : nullptr;
        if (ext && ext->present) {
            // Every client must announce the version it speaks before using XFixes.
            XReply<xcb_xfixes_query_version_reply_t> v(
                xcb_xfixes_query_version_reply(conn, xcb_xfixes_query_version(conn, 4, 0), nullptr));
            xfixes = v && v->major_version >= 1;
        }
    }
    return *xfixes;
}

bool X11ScreenCapture::Private::hasRes()
{
    if (!res) {
        res = false;
        const xcb_query_extension_reply_t *ext = conn ? xcb_get_extension_data(conn, &xcb_res_id) : nullptr;
        if (ext && ext->present) {
            XReply<xcb_res_query_version_reply_t> v(
                xcb_res_query_version_reply(conn, xcb_res_query_version(conn, 1, 2), nullptr));
            // Client ids (and with them process ids) came with version 1.2.
            res = v && (v->server_major > 1 || (v->server_major == 1 && v->server_minor >= 2));
        }
    }
    return *res;
}

bool X11ScreenCapture::Private::hasComposite()
{
    if (!composite) {
        composite = false;
        const xcb_query_extension_reply_t *ext = conn ? xcb_get_extension_data(conn, &xcb_composite_id) : nullptr;
        if (ext && ext->present) {
            XReply<xcb_composite_query_version_reply_t> v(
                xcb_composite_query_version_reply(conn, xcb_composite_query_version(conn, 0, 4), nullptr));
            // NameWindowPixmap needs version 0.2.
            composite = v && (v->major_version > 0 || v->minor_version >= 2);
        }
    }
    return *composite;
}

bool X11ScreenCapture::Private::compositorRunning()
{
    if (!conn)
        return false;
    const xcb_atom_t selection = internAtom("_NET_WM_CM_S" + QByteArray::number(screenNumber), true);
    if (selection == XCB_ATOM_NONE)
        return false;
    XReply<xcb_get_selection_owner_reply_t> r(
        xcb_get_selection_owner_reply(conn, xcb_get_selection_owner(conn, selection), nullptr));
    return r && r->owner != XCB_NONE;
}

bool X11ScreenCapture::Private::ensureSegment(size_t size)
{
    if (shmAddress && shmSize >= size)
        return true;
    releaseSegment();
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0)
        return false;
    void *address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void *>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    const xcb_shm_seg_t seg = xcb_generate_id(conn);
    XError err(xcb_request_check(conn, xcb_shm_attach_checked(conn, seg, uint32_t(id), 0)));
    // Once both sides have it mapped the segment can be marked for removal;
    // it goes away with the last detach, even if this process dies.
    shmctl(id, IPC_RMID, nullptr);
    if (err) {
        shmdt(address);
        return false;
    }
    segment = seg;
    shmAddress = static_cast<uchar *>(address);
    shmSize = size;
    return true;
}

void X11ScreenCapture::Private::prepare()
{
    if (!conn || !screen || bitsPerPixel(screen->root_depth) != 32)
        return;
    const size_t bytes = size_t(screen->width_in_pixels) * 4 * size_t(screen->height_in_pixels);
    CaptureBufferPool::instance().prepareFor(bytes);
    if (!hasShm() || !ensureSegment(bytes))
        return;
    // Both sides pay for page faults the first time they use the shared
    // segment. The server's share: one read of the root window into the
    // segment now, whose reply nobody waits for (its pixels are overwritten
    // by the first real capture). Ours: the pages touched once, off this
    // thread. A capture waits for the touching to end before it asks the
    // server for pixels, and the server answers requests in order.
    const xcb_shm_get_image_cookie_t warmUp = xcb_shm_get_image(
        conn, root(), 0, 0, screen->width_in_pixels, screen->height_in_pixels, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
        segment, 0);
    xcb_discard_reply(conn, warmUp.sequence);
    xcb_flush(conn);
    uchar *address = shmAddress;
    const size_t size = shmSize;
    prefault = QtConcurrent::run([address, size] {
        for (size_t i = 0; i < size; i += 4096)
            address[i] = 0;
    });
}

void X11ScreenCapture::Private::releaseSegment()
{
    prefault.waitForFinished();
    if (segment && conn) {
        xcb_shm_detach(conn, segment);
        xcb_flush(conn);
    }
    if (shmAddress)
        shmdt(shmAddress);
    segment = 0;
    shmAddress = nullptr;
    shmSize = 0;
}

int X11ScreenCapture::Private::bitsPerPixel(uint8_t depth) const
{
    const xcb_setup_t *setup = xcb_get_setup(conn);
    for (xcb_format_iterator_t it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
        if (it.data->depth == depth)
            return it.data->bits_per_pixel;
    }
    return 0;
}

QImage X11ScreenCapture::Private::toImage(const uchar *data, int stride, const QSize &size, uint8_t depth,
                                          int bpp)
{
    const int w = size.width();
    const int h = size.height();
    if (bpp == 32 && depth == 32) {
        // ARGB visuals hold premultiplied alpha.
        QImage out = pooledImage(size, QImage::Format_ARGB32_Premultiplied);
        if (out.isNull())
            return out;
        forRowBands(h, stride, [&](int from, int to) {
            for (int y = from; y < to; ++y)
                std::memcpy(out.scanLine(y), data + qsizetype(y) * stride, size_t(w) * 4);
        });
        return out;
    }
    if (bpp == 32 && depth == 24) {
        // The pad byte may hold anything; the image wants it opaque.
        QImage out = pooledImage(size, QImage::Format_RGB32);
        if (out.isNull())
            return out;
        forRowBands(h, stride, [&](int from, int to) {
            for (int y = from; y < to; ++y) {
                const auto *src = reinterpret_cast<const quint32 *>(data + qsizetype(y) * stride);
                auto *dst = reinterpret_cast<quint32 *>(out.scanLine(y));
                for (int x = 0; x < w; ++x)
                    dst[x] = src[x] | 0xff000000u;
            }
        });
        return out;
    }
    if (bpp == 16 && depth == 16) {
        QImage wrapped(data, w, h, stride, QImage::Format_RGB16);
        return wrapped.convertToFormat(QImage::Format_RGB32);
    }
    return QImage();
}

QImage X11ScreenCapture::Private::grab(xcb_drawable_t drawable, const QRect &area, uint8_t depth, QString *error)
{
    const int bpp = bitsPerPixel(depth);
    const xcb_setup_t *setup = xcb_get_setup(conn);
    const bool supported = ((depth == 24 || depth == 32) && bpp == 32) || (depth == 16 && bpp == 16);
    if (!supported || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST
        || Q_BYTE_ORDER != Q_LITTLE_ENDIAN) {
        setError(error, QStringLiteral("unsupported pixel format (depth %1, %2 bits per pixel)").arg(depth).arg(bpp));
        return QImage();
    }
    const int w = area.width();
    const int h = area.height();
    const int pad = setup->bitmap_format_scanline_pad;
    const int stride = ((w * bpp + pad - 1) / pad) * pad / 8;
    const size_t bytes = size_t(stride) * size_t(h);

    if (hasShm() && ensureSegment(bytes)) {
        prefault.waitForFinished(); // the server must not write while we touch the pages
        xcb_generic_error_t *e = nullptr;
        XReply<xcb_shm_get_image_reply_t> r(xcb_shm_get_image_reply(
            conn,
            xcb_shm_get_image(conn, drawable, int16_t(area.x()), int16_t(area.y()), uint16_t(w), uint16_t(h),
                              ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment, 0),
            &e));
        XError err(e);
        if (r)
            return toImage(shmAddress, stride, area.size(), depth, bpp);
        if (err && err->error_code != XCB_MATCH && err->error_code != XCB_DRAWABLE) {
            // Shared memory does not work with this server (another host or
            // another IPC namespace): use the plain request from now on.
            releaseSegment();
            shm = false;
        } else {
            setError(error, xErrorText("GetImage", err.get()));
            return QImage();
        }
    }

    xcb_generic_error_t *e = nullptr;
    XReply<xcb_get_image_reply_t> r(xcb_get_image_reply(
        conn,
        xcb_get_image(conn, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, int16_t(area.x()), int16_t(area.y()),
                      uint16_t(w), uint16_t(h), ~0u),
        &e));
    XError err(e);
    if (!r) {
        setError(error, xErrorText("GetImage", err.get()));
        return QImage();
    }
    const int length = xcb_get_image_data_length(r.get());
    if (size_t(length) < bytes) {
        setError(error, QStringLiteral("GetImage returned %1 bytes, %2 expected").arg(length).arg(bytes));
        return QImage();
    }
    return toImage(xcb_get_image_data(r.get()), stride, area.size(), depth, bpp);
}

void X11ScreenCapture::Private::drawCursor(QImage &image, const QRect &nativeArea)
{
    if (!hasXFixes())
        return;
    XReply<xcb_xfixes_get_cursor_image_reply_t> r(
        xcb_xfixes_get_cursor_image_reply(conn, xcb_xfixes_get_cursor_image(conn), nullptr));
    if (!r || r->width == 0 || r->height == 0)
        return;
    const uint32_t *pixels = xcb_xfixes_get_cursor_image_cursor_image(r.get());
    // Cursor images are premultiplied ARGB, one 32-bit value per pixel.
    const QImage cursor(reinterpret_cast<const uchar *>(pixels), r->width, r->height, r->width * 4,
                        QImage::Format_ARGB32_Premultiplied);
    const QPoint at(r->x - r->xhot - nativeArea.x(), r->y - r->yhot - nativeArea.y());
    if (!QRect(at, cursor.size()).intersects(image.rect()))
        return;
    QPainter p(&image);
    p.drawImage(at, cursor);
}

QList<xcb_window_t> X11ScreenCapture::Private::stackingOrder()
{
    QList<xcb_window_t> out;
    const xcb_window_t rootWindow = root();
    const xcb_atom_t stacking = atom(NetClientListStacking);
    XReply<xcb_get_property_reply_t> list(xcb_get_property_reply(
        conn, xcb_get_property(conn, 0, rootWindow, stacking, XCB_ATOM_WINDOW, 0, 1u << 20), nullptr));
    if (list && list->type == XCB_ATOM_WINDOW && list->format == 32) {
        const auto *ids = static_cast<const xcb_window_t *>(xcb_get_property_value(list.get()));
        const int n = xcb_get_property_value_length(list.get()) / 4;
        for (int i = 0; i < n; ++i)
            out.append(ids[i]);
        return out;
    }

    // No window manager publishes the list: the root window's children,
    // bottom to top, each replaced by the client window inside it (the one
    // with WM_STATE) when a window manager framed it.
    XReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(conn, xcb_query_tree(conn, rootWindow), nullptr));
    if (!tree)
        return out;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    const xcb_atom_t wmState = atom(WmState);
    std::vector<xcb_get_window_attributes_cookie_t> attrCookies(static_cast<size_t>(count));
    std::vector<xcb_get_property_cookie_t> stateCookies(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        attrCookies[size_t(i)] = xcb_get_window_attributes(conn, children[i]);
        stateCookies[size_t(i)] = xcb_get_property(conn, 0, children[i], wmState, XCB_ATOM_ANY, 0, 0);
    }
    for (int i = 0; i < count; ++i) {
        XReply<xcb_get_window_attributes_reply_t> attrs(
            xcb_get_window_attributes_reply(conn, attrCookies[size_t(i)], nullptr));
        XReply<xcb_get_property_reply_t> state(xcb_get_property_reply(conn, stateCookies[size_t(i)], nullptr));
        if (!attrs || attrs->override_redirect || attrs->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT)
            continue;
        if (state && state->type != XCB_ATOM_NONE) {
            out.append(children[i]);
            continue;
        }
        // A frame: look one level down for the client.
        xcb_window_t client = XCB_NONE;
        XReply<xcb_query_tree_reply_t> inner(
            xcb_query_tree_reply(conn, xcb_query_tree(conn, children[i]), nullptr));
        if (inner) {
            const xcb_window_t *kids = xcb_query_tree_children(inner.get());
            const int kidCount = xcb_query_tree_children_length(inner.get());
            for (int k = kidCount - 1; k >= 0 && client == XCB_NONE; --k) {
                XReply<xcb_get_property_reply_t> s(xcb_get_property_reply(
                    conn, xcb_get_property(conn, 0, kids[k], wmState, XCB_ATOM_ANY, 0, 0), nullptr));
                if (s && s->type != XCB_ATOM_NONE)
                    client = kids[k];
            }
        }
        if (client != XCB_NONE)
            out.append(client);
        else if (attrs->map_state == XCB_MAP_STATE_VIEWABLE)
            out.append(children[i]);
    }
    return out;
}

std::optional<QRect> X11ScreenCapture::Private::nativeFrameOf(xcb_window_t window, QString *error)
{
    auto geometryCookie = xcb_get_geometry(conn, window);
    auto translateCookie = xcb_translate_coordinates(conn, window, root(), 0, 0);
    auto extentsCookie = xcb_get_property(conn, 0, window, atom(NetFrameExtents), XCB_ATOM_CARDINAL, 0, 4);
    // One more than the four values, so that a longer property shows as such.
    auto shadowCookie = xcb_get_property(conn, 0, window, atom(GtkFrameExtents), XCB_ATOM_ANY, 0, 5);
    xcb_generic_error_t *e = nullptr;
    XReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(conn, geometryCookie, &e));
    XError geometryError(e);
    e = nullptr;
    XReply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(conn, translateCookie, &e));
    XError translateError(e);
    XReply<xcb_get_property_reply_t> extents(xcb_get_property_reply(conn, extentsCookie, nullptr));
    XReply<xcb_get_property_reply_t> shadow(xcb_get_property_reply(conn, shadowCookie, nullptr));
    if (!geometry || !origin) {
        setError(error, xErrorText("GetGeometry", geometry ? translateError.get() : geometryError.get()));
        return std::nullopt;
    }
    QRect r(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    if (const std::optional<QMargins> drawn = drawnShadowOf(shadow.get(), r.size())) {
        // The window draws its frame itself, so the window manager adds
        // none worth counting: what a person sees is the window less its
        // shadow.
        return r.marginsRemoved(*drawn);
    }
    if (extents && extents->format == 32 && xcb_get_property_value_length(extents.get()) >= 16) {
        // left, right, top, bottom: the window manager's decorations.
        // Any client may set it on its own window: a value past what X
        // coordinates can reach (a negative number among them) is no frame.
        const auto *v = static_cast<const uint32_t *>(xcb_get_property_value(extents.get()));
        if (std::max({v[0], v[1], v[2], v[3]}) <= 0x7fffu)
            r.adjust(-int(v[0]), -int(v[2]), int(v[1]), int(v[3]));
    }
    return r;
}

X11ScreenCapture *X11ScreenCapture::Private::backgroundCapture()
{
    if (!background)
        background.reset(new X11ScreenCapture(OwnConnection{}));
    return background->isConnected() ? background.get() : nullptr;
}

X11ScreenCapture::X11ScreenCapture()
    : d(std::make_unique<Private>())
{
    d->connect();
    d->prepare();
    // The background instance connects and readies its memory now, so the
    // first capture finds it warm.
    if (isConnected())
        d->backgroundThread.start([p = d.get()] { p->backgroundCapture(); });
}

X11ScreenCapture::X11ScreenCapture(OwnConnection)
    : d(std::make_unique<Private>())
{
    d->wantsOwnConnection = true;
    d->fixedScreens = QList<Screen>();
    d->connect();
    d->prepare();
}

X11ScreenCapture::X11ScreenCapture(const QList<Screen> &screens)
    : d(std::make_unique<Private>())
{
    d->fixedScreens = screens;
    d->connect();
}

X11ScreenCapture::~X11ScreenCapture()
{
    d->backgroundThread.waitForDone();
    d->background.reset();
    d->disconnect();
}

bool X11ScreenCapture::isConnected() const
{
    return d->conn && d->screen && !xcb_connection_has_error(d->conn);
}

QList<X11ScreenCapture::Screen> X11ScreenCapture::screens() const
{
    return d->liveScreens();
}

bool X11ScreenCapture::compositorRunning() const
{
    return isConnected() && d->compositorRunning();
}

bool X11ScreenCapture::usesSharedMemory() const
{
    return isConnected() && d->hasShm();
}

QList<ShareableDisplay> X11ScreenCapture::displaysOf(const QList<Screen> &screens)
{
    QList<ShareableDisplay> out;
    for (int i = 0; i < screens.size(); ++i)
        out.append(ShareableDisplay{quint32(i), screens[i].name, screens[i].frame});
    return out;
}

std::optional<ShareableContent> X11ScreenCapture::shareableContent(bool excludingDesktopWindows,
                                                                   bool onScreenWindowsOnly, QString *error)
{
    if (!isConnected()) {
        setError(error, QStringLiteral("no connection to the X server"));
        return std::nullopt;
    }
    const QList<Screen> screenList = d->liveScreens();
    ShareableContent content;
    content.displays = displaysOf(screenList);

    xcb_connection_t *c = d->conn;
    QList<xcb_window_t> order = d->stackingOrder();
    std::reverse(order.begin(), order.end()); // front-most first

    struct Cookies
    {
        xcb_get_window_attributes_cookie_t attrs;
        xcb_get_property_cookie_t netName, name, wmClass, pid, type, state;
        xcb_res_query_client_ids_cookie_t clientIds;
        bool askedClientIds = false;
    };
    const bool withRes = d->hasRes();
    std::vector<Cookies> cookies(static_cast<size_t>(order.size()));
    for (int i = 0; i < order.size(); ++i) {
        const xcb_window_t w = order[i];
        Cookies &k = cookies[size_t(i)];
        k.attrs = xcb_get_window_attributes(c, w);
        k.netName = xcb_get_property(c, 0, w, d->atom(NetWmName), XCB_ATOM_ANY, 0, 4096);
        k.name = xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 4096);
        k.wmClass = xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 1024);
        k.pid = xcb_get_property(c, 0, w, d->atom(NetWmPid), XCB_ATOM_CARDINAL, 0, 1);
        k.type = xcb_get_property(c, 0, w, d->atom(NetWmWindowType), XCB_ATOM_ATOM, 0, 64);
        k.state = xcb_get_property(c, 0, w, d->atom(NetWmState), XCB_ATOM_ATOM, 0, 64);
        if (withRes) {
            xcb_res_client_id_spec_t spec{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            k.clientIds = xcb_res_query_client_ids(c, 1, &spec);
            k.askedClientIds = true;
        }
    }

    auto text = [&](const xcb_get_property_reply_t *p) -> std::optional<QString> {
        if (!p || p->type == XCB_ATOM_NONE || p->format != 8)
            return std::nullopt;
        const auto *bytes = static_cast<const char *>(xcb_get_property_value(p));
        const int n = xcb_get_property_value_length(p);
        if (p->type == d->atom(Utf8String))
            return QString::fromUtf8(bytes, n);
        return QString::fromLatin1(bytes, n);
    };
    auto atomsOf = [](const xcb_get_property_reply_t *p) {
        QList<xcb_atom_t> out;
        if (p && p->type == XCB_ATOM_ATOM && p->format == 32) {
            const auto *v = static_cast<const xcb_atom_t *>(xcb_get_property_value(p));
            for (int i = 0, n = xcb_get_property_value_length(p) / 4; i < n; ++i)
                out.append(v[i]);
        }
        return out;
    };

    for (int i = 0; i < order.size(); ++i) {
        Cookies &k = cookies[size_t(i)];
        XReply<xcb_get_window_attributes_reply_t> attrs(xcb_get_window_attributes_reply(c, k.attrs, nullptr));
        XReply<xcb_get_property_reply_t> netName(xcb_get_property_reply(c, k.netName, nullptr));
        XReply<xcb_get_property_reply_t> name(xcb_get_property_reply(c, k.name, nullptr));
        XReply<xcb_get_property_reply_t> wmClass(xcb_get_property_reply(c, k.wmClass, nullptr));
        XReply<xcb_get_property_reply_t> pidProp(xcb_get_property_reply(c, k.pid, nullptr));
        XReply<xcb_get_property_reply_t> type(xcb_get_property_reply(c, k.type, nullptr));
        XReply<xcb_get_property_reply_t> state(xcb_get_property_reply(c, k.state, nullptr));
        XReply<xcb_res_query_client_ids_reply_t> ids(
            k.askedClientIds ? xcb_res_query_client_ids_reply(c, k.clientIds, nullptr) : nullptr);
        if (!attrs)
            continue; // the window went away meanwhile

        if (excludingDesktopWindows && atomsOf(type.get()).contains(d->atom(NetWmWindowTypeDesktop)))
            continue;
        const bool hidden = atomsOf(state.get()).contains(d->atom(NetWmStateHidden));
        const bool onScreen = attrs->map_state == XCB_MAP_STATE_VIEWABLE && !hidden;
        if (onScreenWindowsOnly && !onScreen)
            continue;
        const std::optional<QRect> nativeFrame = d->nativeFrameOf(order[i], nullptr);
        if (!nativeFrame)
            continue;

        ShareableWindow window;
        window.windowID = order[i];
        window.isOnScreen = onScreen;
        window.frame = nativeToPoints(screenList, *nativeFrame);
        window.title = text(netName.get()).value_or(text(name.get()).value_or(QString()));

        qint64 pid = 0;
        if (ids) {
            for (auto it = xcb_res_query_client_ids_ids_iterator(ids.get()); it.rem && !pid;
                 xcb_res_client_id_value_next(&it)) {
                if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID)
                    && xcb_res_client_id_value_value_length(it.data) >= 1)
                    pid = xcb_res_client_id_value_value(it.data)[0];
            }
        }
        if (!pid && pidProp && pidProp->type == XCB_ATOM_CARDINAL && pidProp->format == 32
            && xcb_get_property_value_length(pidProp.get()) >= 4)
            pid = *static_cast<const uint32_t *>(xcb_get_property_value(pidProp.get()));
        if (pid > 0) {
            OwningApplication app;
            app.processID = pid;
            // WM_CLASS is "instance\0class\0"; the class names the program.
            if (const auto cls = text(wmClass.get())) {
                const QStringList parts = cls->split(QChar(0), Qt::SkipEmptyParts);
                if (!parts.isEmpty())
                    app.applicationName = parts.size() > 1 ? parts[1] : parts[0];
            }
            if (app.applicationName.isEmpty()) {
                QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
                if (comm.open(QIODevice::ReadOnly))
                    app.applicationName = QString::fromLocal8Bit(comm.readAll()).trimmed();
            }
            window.owningApplication = app;
        }
        content.windows.append(window);
    }
    return content;
}

std::optional<QList<ShareableDisplay>> X11ScreenCapture::displays(QString *error)
{
    if (!isConnected()) {
        setError(error, QStringLiteral("no connection to the X server"));
        return std::nullopt;
    }
    return displaysOf(d->liveScreens());
}

template<typename Capture>
QFuture<CapturedImage> X11ScreenCapture::Private::inBackground(Capture capture, const QRect &readArea)
{
    // The background connection is another client: whatever this one asked
    // of the server first (an overlay hidden a moment ago) must be done
    // before the pixels are read there.
    if (conn)
        std::free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
    // And a window of ours hidden for this read must be off the screen
    // where it is read (readArea, root pixels; empty: anywhere), its fade
    // over.
    HiddenWindowWait hidden = HiddenWindowWait::takeNoted();
    return QtConcurrent::run(&backgroundThread, [this, capture, hidden, readArea] {
        CapturedImage result;
        if (X11ScreenCapture *instance = backgroundCapture()) {
            hidden.wait(instance->d->conn, readArea);
            result.image = capture(*instance, &result.error);
        } else {
            result.error = QStringLiteral("no connection to the X server");
        }
        return result;
    });
}

QFuture<CapturedImage> X11ScreenCapture::captureRectInBackground(const QRectF &rect, const QSize &pixelSize,
                                                                 bool showsCursor)
{
    if (!isConnected())
        return ScreenCapture::captureRectInBackground(rect, pixelSize, showsCursor);
    const QList<Screen> screens = d->liveScreens();
    QRect readArea;
    for (const Screen &s : screens) {
        const QRectF common = rect & QRectF(s.frame);
        if (!common.isEmpty())
            readArea |= pointsToNative(s, common).toAlignedRect() & s.nativeFrame;
    }
    return d->inBackground(
        [screens, rect, pixelSize, showsCursor](X11ScreenCapture &capture, QString *error) {
            capture.d->fixedScreens = screens;
            return capture.captureRect(rect, pixelSize, showsCursor, error);
        },
        readArea);
}

QFuture<CapturedImage> X11ScreenCapture::captureWindowInBackground(const ShareableWindow &window,
                                                                   const QSize &pixelSize, bool showsCursor,
                                                                   bool opaque)
{
    if (!isConnected())
        return ScreenCapture::captureWindowInBackground(window, pixelSize, showsCursor, opaque);
    // Where the window's frame cannot be had, any window hidden counts.
    const QRect readArea = d->nativeFrameOf(xcb_window_t(window.windowID), nullptr).value_or(QRect());
    return d->inBackground(
        [window, pixelSize, showsCursor, opaque](X11ScreenCapture &capture, QString *error) {
            return capture.captureWindow(window, pixelSize, showsCursor, opaque, error);
        },
        readArea);
}

void X11ScreenCapture::waitForBackgroundCaptures()
{
    d->backgroundThread.waitForDone();
}

QImage X11ScreenCapture::captureRect(const QRectF &rect, const QSize &pixelSize, bool showsCursor, QString *error)
{
    if (!isConnected()) {
        setError(error, QStringLiteral("no connection to the X server"));
        return QImage();
    }
    if (!(rect.width() > 0) || !(rect.height() > 0) || pixelSize.isEmpty()) {
        setError(error, QStringLiteral("the rectangle is empty"));
        return QImage();
    }
    const double sx = pixelSize.width() / rect.width();
    const double sy = pixelSize.height() / rect.height();

    struct Piece
    {
        QImage image;
        QRectF source;
        QRectF target;
    };
    QList<Piece> pieces;
    QRegion covered;
    for (const Screen &s : d->liveScreens()) {
        const QRectF common = rect & QRectF(s.frame);
        if (common.isEmpty())
            continue;
        const QRectF native = pointsToNative(s, common);
        const QRect pixels = native.toAlignedRect() & s.nativeFrame & d->rootRect();
        if (pixels.isEmpty())
            continue;
        QImage image = d->grab(d->root(), pixels, d->screen->root_depth, error);
        if (image.isNull())
            return QImage();
        if (showsCursor)
            d->drawCursor(image, pixels);
        const QRectF target((common.x() - rect.x()) * sx, (common.y() - rect.y()) * sy, common.width() * sx,
                            common.height() * sy);
        pieces.append(Piece{image, native.translated(-pixels.topLeft()), target});
        covered += target.toAlignedRect();
    }

    const QRect whole(QPoint(0, 0), pixelSize);
    if (pieces.size() == 1 && pieces[0].source == QRectF(pieces[0].image.rect())
        && pieces[0].target.toAlignedRect() == whole)
        return scaledTo(pieces[0].image, pixelSize);

    // Several screens, or a rectangle that reaches past the screens: the
    // parts are put together; what no screen shows stays transparent.
    const bool full = (covered & whole) == QRegion(whole);
    QImage out(pixelSize, full ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) {
        setError(error, QStringLiteral("out of memory for a %1 x %2 image").arg(pixelSize.width()).arg(pixelSize.height()));
        return QImage();
    }
    out.fill(full ? Qt::black : Qt::transparent);
    QPainter p(&out);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    for (const Piece &piece : pieces) {
        const bool exact = isWhole(piece.target.width() / piece.source.width())
            && isWhole(piece.target.height() / piece.source.height());
        p.setRenderHint(QPainter::SmoothPixmapTransform, !exact);
        p.drawImage(piece.target, piece.image, piece.source);
    }
    p.end();
    return out;
}

QImage X11ScreenCapture::captureWindow(const ShareableWindow &window, const QSize &pixelSize, bool showsCursor,
                                       bool opaque, QString *error)
{
    if (!isConnected()) {
        setError(error, QStringLiteral("no connection to the X server"));
        return QImage();
    }
    if (pixelSize.isEmpty()) {
        setError(error, QStringLiteral("the window is empty"));
        return QImage();
    }
    xcb_connection_t *c = d->conn;
    const std::optional<QRect> frame = d->nativeFrameOf(window.windowID, error);
    if (!frame)
        return QImage();
    if (frame->isEmpty()) {
        setError(error, QStringLiteral("the window is empty"));
        return QImage();
    }

    QImage image;
    if (d->hasComposite() && d->compositorRunning()) {
        // The compositor keeps each top-level window (with its frame) in a
        // pixmap of its own, covered parts included.
        xcb_window_t topLevel = window.windowID;
        for (;;) {
            XReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, topLevel), nullptr));
            if (!tree || tree->parent == XCB_NONE || tree->parent == tree->root)
                break;
            topLevel = tree->parent;
        }
        XReply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, xcb_get_geometry(c, topLevel), nullptr));
        if (g) {
            const xcb_pixmap_t pixmap = xcb_generate_id(c);
            XError err(xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, topLevel, pixmap)));
            if (!err) {
                const QRect pixmapRect(0, 0, g->width + 2 * g->border_width, g->height + 2 * g->border_width);
                const QRect wanted = frame->translated(-g->x, -g->y);
                const QRect part = wanted & pixmapRect;
                if (!part.isEmpty()) {
                    QImage got = d->grab(pixmap, part, g->depth, nullptr);
                    if (!got.isNull()) {
                        if (part == wanted) {
                            image = got;
                        } else {
                            image = QImage(wanted.size(), QImage::Format_ARGB32_Premultiplied);
                            image.fill(Qt::transparent);
                            QPainter p(&image);
                            p.setCompositionMode(QPainter::CompositionMode_Source);
                            p.drawImage(part.topLeft() - wanted.topLeft(), got);
                        }
                    }
                }
                xcb_free_pixmap(c, pixmap);
            }
        }
    }

    if (image.isNull()) {
        // No compositor: what the screen shows where the window is.
        const QRect part = *frame & d->rootRect();
        if (part.isEmpty()) {
            setError(error, QStringLiteral("the window is not on screen"));
            return QImage();
        }
        QImage got = d->grab(d->root(), part, d->screen->root_depth, error);
        if (got.isNull())
            return QImage();
        if (part == *frame) {
            image = got;
        } else {
            image = QImage(frame->size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter p(&image);
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.drawImage(part.topLeft() - frame->topLeft(), got);
        }
    }

    if (showsCursor)
        d->drawCursor(image, *frame);
    if (opaque && image.hasAlphaChannel())
        image = image.convertToFormat(QImage::Format_RGB32);
    return scaledTo(image, pixelSize);
}
