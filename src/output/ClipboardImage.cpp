#include "output/ClipboardImage.h"

#include "output/PngEncoder.h"
#include "platform/X11Connection.h"

#include <QAbstractNativeEventFilter>
#include <QClipboard>
#include <QCoreApplication>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QPointer>
#include <QtConcurrent>

#include <cstring>
#include <vector>

namespace {

const QString kPng = QStringLiteral("image/png");

// The newest capture put on the clipboard. Once the clipboard lets go of it,
// it is deleted and this is null.
QPointer<ClipboardImage> g_newest;

// Holds the requests for the clipboard's PNG that arrive before its bytes
// are done, instead of letting Qt answer them at once (which would mean
// encoding the capture on the UI thread, or waiting for the background).
// Released, they are sent back to our own window and Qt answers them then,
// from whatever the clipboard holds by that time.
class PngRequestHold : public QObject, public QAbstractNativeEventFilter
{
public:
    PngRequestHold(xcb_connection_t *c, xcb_atom_t clipboard, xcb_atom_t png, QObject *parent)
        : QObject(parent), m_connection(c), m_clipboard(clipboard), m_png(png)
    {
    }

    void release()
    {
        if (m_held.empty())
            return;
        for (const xcb_selection_request_event_t &request : std::exchange(m_held, {})) {
            // A sent event is 32 bytes; this one is shorter.
            char event[32] = {};
            std::memcpy(event, &request, sizeof request);
            event[0] = XCB_SELECTION_REQUEST;
            xcb_send_event(m_connection, 0, request.owner, XCB_EVENT_MASK_NO_EVENT, event);
        }
        xcb_flush(m_connection);
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != XCB_SELECTION_REQUEST)
            return false;
        const auto *request = reinterpret_cast<const xcb_selection_request_event_t *>(event);
        // At quit Qt answers a clipboard manager itself, with no event loop
        // left to release what is held.
        if (request->selection != m_clipboard || request->target != m_png || !g_newest || !g_newest->pngPending()
            || QCoreApplication::closingDown())
            return false;
        m_held.push_back(*request);
        return true;
    }

private:
    xcb_connection_t *m_connection;
    xcb_atom_t m_clipboard;
    xcb_atom_t m_png;
    std::vector<xcb_selection_request_event_t> m_held;
};

// The one hold, while the application lasts.
QPointer<PngRequestHold> g_hold;

// Starts holding on X11, once.
void startHolding()
{
    if (g_hold)
        return;
    xcb_connection_t *c = X11Connection::connection();
    QCoreApplication *app = QCoreApplication::instance();
    if (!c || !app)
        return;
    const std::vector<xcb_atom_t> atoms = X11Connection::atoms({"CLIPBOARD", "image/png"});
    if (atoms[0] == XCB_ATOM_NONE || atoms[1] == XCB_ATOM_NONE)
        return;
    g_hold = new PngRequestHold(c, atoms[0], atoms[1], app);
    app->installNativeEventFilter(g_hold);
}

void releaseHeldRequests()
{
    if (g_hold)
        g_hold->release();
}

} // namespace

ClipboardImage::ClipboardImage(const QImage &image)
{
    setImageData(image);
    g_newest = this;
}

ClipboardImage::~ClipboardImage()
{
    // Whoever asked gets an answer from what the clipboard holds now.
    if (pngPending())
        releaseHeldRequests();
}

void ClipboardImage::copy(const QImage &image)
{
    auto *clip = new ClipboardImage(image);
    clip->setPng(QtConcurrent::run([image] {
        return PngEncoder::encode(image, image.devicePixelRatio(), PngEncoder::Effort::fast,
                                  PngEncoder::Threads::callingThreadOnly);
    }));
    QGuiApplication::clipboard()->setMimeData(clip);
}

void ClipboardImage::setPng(const QFuture<QByteArray> &png)
{
    m_png = png;
    m_hasPng = true;
    startHolding();
    auto *watcher = new QFutureWatcher<QByteArray>(this);
    connect(watcher, &QFutureWatcher<QByteArray>::finished, this, [] { releaseHeldRequests(); });
    watcher->setFuture(png);
}

bool ClipboardImage::pngPending() const
{
    return m_hasPng && !m_png.isFinished();
}

QVariant ClipboardImage::retrieveData(const QString &mimeType, QMetaType type) const
{
    if (m_hasPng && mimeType == kPng) {
        // Requests that could not be held (in this process, or within a
        // MULTIPLE request) wait for the bytes; they are on their way.
        m_png.waitForFinished();
        if (!m_png.isCanceled() && m_png.resultCount() > 0)
            return m_png.result();
    }
    return QMimeData::retrieveData(mimeType, type);
}
