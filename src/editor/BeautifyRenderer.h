#pragma once

#include <QImage>
#include <optional>

// Turns a screenshot into a presentation picture: a rounded card with a soft
// shadow on a transparent margin, the same card on a coloured gradient, or
// the screenshot inside a plain window frame with three coloured lights.
//
// Pure drawing: an image in, a new and larger image out (none when the
// input is empty or the output cannot be allocated). Geometry is in points;
// the result has the source's pixels per point (devicePixelRatio), and the
// screenshot is copied into it unscaled. Any thread.
class BeautifyRenderer
{
public:
    BeautifyRenderer() = delete;

    // Margins and sizes, in points.
    static constexpr double shadowMargin = 60;    // result (w + 120) x (h + 120)
    static constexpr double gradientMargin = 80;  // result (w + 160) x (h + 160)
    static constexpr double frameMargin = 40;     // result (w + 84) x (h + 110)
    static constexpr double frameTitleBar = 28;
    static constexpr double frameBorder = 2;
    static constexpr double cardCornerRadius = 12;
    static constexpr double frameCornerRadius = 10;

    static std::optional<QImage> renderShadow(const QImage &source);
    static std::optional<QImage> renderGradient(const QImage &source);
    static std::optional<QImage> renderDeviceFrame(const QImage &source);
};
