#pragma once

#include "platform/ScreenCapture.h"

#include <QColor>
#include <QList>

// A screen capture double: answers with set content and solid-colour
// pictures (or failures), and records every request. Installed for its
// lifetime.
class FakeScreenCapture : public ScreenCapture
{
public:
    struct RectRequest
    {
        QRectF rect;
        QSize pixelSize;
        bool showsCursor = false;
    };
    struct WindowRequest
    {
        quint32 windowID = 0;
        QSize pixelSize;
        bool showsCursor = false;
        bool opaque = true;
    };
    struct ContentRequest
    {
        bool excludingDesktopWindows = false;
        bool onScreenWindowsOnly = false;
    };

    FakeScreenCapture() { ScreenCapture::setCurrent(this); }
    ~FakeScreenCapture() override { ScreenCapture::setCurrent(nullptr); }

    std::optional<ShareableContent> shareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                                                     QString *error = nullptr) override
    {
        contentRequests.append({excludingDesktopWindows, onScreenWindowsOnly});
        if (!contentError.isEmpty()) {
            if (error)
                *error = contentError;
            return std::nullopt;
        }
        return content;
    }

    QImage captureRect(const QRectF &rect, const QSize &pixelSize, bool showsCursor,
                       QString *error = nullptr) override
    {
        rectRequests.append({rect, pixelSize, showsCursor});
        return picture(pixelSize, error);
    }

    QImage captureWindow(const ShareableWindow &window, const QSize &pixelSize, bool showsCursor, bool opaque,
                         QString *error = nullptr) override
    {
        windowRequests.append({window.windowID, pixelSize, showsCursor, opaque});
        return picture(pixelSize, error);
    }

    ShareableContent content;
    QString contentError;  // non-empty: shareableContent fails with it
    QString captureError;  // non-empty: captures fail with it
    QColor color = Qt::red;

    QList<ContentRequest> contentRequests;
    QList<RectRequest> rectRequests;
    QList<WindowRequest> windowRequests;
    // Where the last picture's pixels are (the picture itself is not kept).
    mutable const uchar *lastPixels = nullptr;

private:
    QImage picture(const QSize &pixelSize, QString *error) const
    {
        if (!captureError.isEmpty()) {
            if (error)
                *error = captureError;
            return QImage();
        }
        QImage image(pixelSize, QImage::Format_RGB32);
        image.fill(color);
        lastPixels = image.constBits();
        return image;
    }
};
