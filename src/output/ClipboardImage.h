#pragma once

#include <QFuture>
#include <QImage>
#include <QMimeData>

// A capture on the clipboard. Programs that ask for it as PNG (clipboard
// managers do at once, on every capture) get bytes encoded in the
// background, not an encoding of the capture made on the UI thread while
// they wait. On X11 a PNG request that arrives before those bytes are done
// is held and answered once they are.
class ClipboardImage : public QMimeData
{
    Q_OBJECT
public:
    explicit ClipboardImage(const QImage &image);
    ~ClipboardImage() override;

    // Puts the image on the clipboard, its PNG encoded in the background.
    static void copy(const QImage &image);

    // The future bytes of a PNG of these very pixels. A future that ends
    // without them leaves PNG requests to Qt's own encoding.
    void setPng(const QFuture<QByteArray> &png);
    // Whether PNG bytes are promised and not yet done.
    bool pngPending() const;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    mutable QFuture<QByteArray> m_png;
    bool m_hasPng = false;
};
