#pragma once

#include <QHash>
#include <QImage>
#include <QRegion>
#include <QSize>
#include <QString>
#include <functional>
#include <optional>

class QPainter;

// The picture of a screen that an overlay paints as its own background.
// Without a compositing manager nothing beneath an X11 window shows through
// it, so the overlays cannot simply be translucent: they show the screen as
// it was when they opened, with their dimming already applied. Both images
// are scaled once to the overlay's own pixels so that a repaint is a plain
// copy of the parts that changed.
class OverlayBackdrop
{
public:
    OverlayBackdrop() = default;
    // snapshot: the screen at any scale; size: the overlay in points;
    // dimming: the alpha of the black laid over the screen.
    OverlayBackdrop(const QImage &snapshot, const QSize &size, qreal devicePixelRatio, qreal dimming);

    bool isNull() const { return m_dimmed.isNull(); }
    const QImage &clear() const { return m_clear; }
    const QImage &dimmed() const { return m_dimmed; }

    // Copies the given parts of one of the images to the same place.
    static void paint(QPainter &painter, const QImage &image, const QRegion &region);

    // A picture of every screen, without the pointer, keyed by the screen's
    // position in QGuiApplication::screens(): at two pixels per point, or at
    // each screen's own pixel ratio. Nothing when the screens cannot be
    // listed; a screen whose picture fails is left out. The reasons are
    // handed to the optional callbacks.
    enum class Resolution { twoPerPoint, screenPixels };
    struct ErrorHandlers
    {
        std::function<void(const QString &)> content;
        std::function<void(quint32 displayID, const QString &)> display;
    };
    static std::optional<QHash<quint32, QImage>> captureScreens(Resolution resolution,
                                                                const ErrorHandlers &errors = {});

private:
    QImage m_clear;
    QImage m_dimmed;
};
