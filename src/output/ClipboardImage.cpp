#include "output/ClipboardImage.h"

#include "output/EncodingThreads.h"
#include "output/PngEncoder.h"
#include "platform/ClipboardRequestHold.h"

#include <QClipboard>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QPointer>
#include <QtConcurrent>

namespace {

const QString kPng = QStringLiteral("image/png");

// The newest capture put on the clipboard. Once the clipboard lets go of it,
// it is deleted and this is null.
QPointer<ClipboardImage> g_newest;

// Whether a PNG request must wait: the newest capture's bytes are on their
// way. Any other capture, or none, is answered at once.
bool newestPngPending()
{
    return g_newest && g_newest->pngPending();
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
        ClipboardRequestHold::release();
}

void ClipboardImage::copy(const QImage &image)
{
    auto *clip = new ClipboardImage(image);
    // On the encoders' threads: Qt's global pool is for painting, which
    // waits for it.
    clip->setPng(QtConcurrent::run(&EncodingThreads::pool(), [image] {
        return PngEncoder::encode(image, image.devicePixelRatio(), PngEncoder::Effort::fast,
                                  PngEncoder::Threads::callingThreadOnly);
    }));
    QGuiApplication::clipboard()->setMimeData(clip);
}

void ClipboardImage::setPng(const QFuture<QByteArray> &png)
{
    m_png = png;
    m_hasPng = true;
    ClipboardRequestHold::start(kPng, newestPngPending);
    auto *watcher = new QFutureWatcher<QByteArray>(this);
    connect(watcher, &QFutureWatcher<QByteArray>::finished, this, [] { ClipboardRequestHold::release(); });
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
