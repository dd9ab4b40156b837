// The three presentation renderers: result sizes at the source's pixel
// density, where the screenshot lands, which side the shadow falls on, the
// gradient's ends, the frame's lights, and what shows through transparent
// screenshot pixels.

#include "editor/BeautifyRenderer.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <malloc.h>

namespace {

QImage solid(int w, int h, QColor c, double ratio, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(w, h, format);
    image.fill(c);
    image.setDevicePixelRatio(ratio);
    return image;
}

// The pixel at a point position (x, y in points, y downwards).
QColor at(const QImage &image, double x, double y)
{
    const double r = image.devicePixelRatio();
    return image.pixelColor(int(x * r), int(y * r));
}

bool near(const QColor &a, const QColor &b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance && std::abs(a.alpha() - b.alpha()) <= tolerance;
}

// While alive, every block the allocator hands out starts filled with one
// byte (the complement of `fill`), so a pixel the renderer never writes
// shows that byte instead of whatever the memory held before.
class FilledAllocations
{
public:
    explicit FilledAllocations(int fill) { mallopt(M_PERTURB, fill); }
    ~FilledAllocations() { mallopt(M_PERTURB, 0); }
    FilledAllocations(const FilledAllocations &) = delete;
    FilledAllocations &operator=(const FilledAllocations &) = delete;
};

// A screenshot of w x h points at the given density with a little of
// everything in it; translucent ones are half see-through on a diagonal.
QImage patterned(double w, double h, double ratio, bool translucent)
{
    const int pw = std::max(1, int(std::lround(w * ratio)));
    const int ph = std::max(1, int(std::lround(h * ratio)));
    QImage image(pw, ph, translucent ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    for (int y = 0; y < ph; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < pw; ++x) {
            const int a = translucent && (x + y) % 7 < 3 ? 0 : 255;
            row[x] = qPremultiply(qRgba((x * 37) % 256, (y * 53) % 256, 90, a));
        }
    }
    image.setDevicePixelRatio(ratio);
    return image;
}

// The shadow of a w x h card with 12-point corners that starts at (left,
// top) points (y down): black at `opacity`, the card moved `drop` points
// down and blurred with half the blur radius as deviation. Across each thin
// row of the card the blur is a difference of two normal distributions;
// the rows are summed.
double modelShadow(double x, double y, double left, double top, double w, double h, double drop, double blur,
                   double opacity)
{
    const double sigma = blur / 2;
    const double pi = std::acos(-1.0);
    auto phi = [](double v) { return 0.5 * std::erfc(-v / std::sqrt(2.0)); };
    const double r = std::min({12.0, w / 2, h / 2});
    top += drop;
    const double step = 1.0 / 16;
    double sum = 0;
    for (double v = std::max(top, y - 6 * sigma) + step / 2; v < std::min(top + h, y + 6 * sigma); v += step) {
        const double dy = std::max({0.0, top + r - v, v - (top + h - r)});
        const double inset = r - std::sqrt(std::max(0.0, r * r - dy * dy));
        const double across = phi((x - left - inset) / sigma) - phi((x - left - w + inset) / sigma);
        const double down = std::exp(-(y - v) * (y - v) / (2 * sigma * sigma)) / (sigma * std::sqrt(2 * pi));
        sum += across * down * step;
    }
    return opacity * sum;
}

// The centre of the pixel that holds the point p (points).
QPointF centreOfPixel(QPointF p, double ratio)
{
    return QPointF((std::floor(p.x() * ratio) + 0.5) / ratio, (std::floor(p.y() * ratio) + 0.5) / ratio);
}

using Render = std::function<std::optional<QImage>(const QImage &)>;

} // namespace

TEST(BeautifyRendererTest, ResultsAreLargerByTheirMarginsAtTheSourcesPixelDensity)
{
    for (double ratio : {1.0, 2.0}) {
        const QImage source = solid(int(1000 * ratio), int(600 * ratio), Qt::gray, ratio);
        const auto shadow = BeautifyRenderer::renderShadow(source);
        const auto gradient = BeautifyRenderer::renderGradient(source);
        const auto frame = BeautifyRenderer::renderDeviceFrame(source);
        ASSERT_TRUE(shadow && gradient && frame);
        EXPECT_EQ(shadow->size(), QSize(1120, 720) * ratio);
        EXPECT_EQ(gradient->size(), QSize(1160, 760) * ratio);
        EXPECT_EQ(frame->size(), QSize(1084, 710) * ratio);
        for (const QImage *out : {&*shadow, &*gradient, &*frame})
            EXPECT_EQ(out->devicePixelRatio(), ratio);
    }
    // The smallest image still gets its whole frame, every pixel painted.
    const QImage dot = solid(1, 1, Qt::red, 1.0);
    EXPECT_EQ(BeautifyRenderer::renderShadow(dot)->size(), QSize(121, 121));
    EXPECT_EQ(BeautifyRenderer::renderGradient(dot)->size(), QSize(161, 161));
    EXPECT_EQ(BeautifyRenderer::renderDeviceFrame(dot)->size(), QSize(85, 111));
    EXPECT_FALSE(BeautifyRenderer::renderShadow(QImage()).has_value());
}

TEST(BeautifyRendererTest, ShadowCardHasRoundCornersAndItsShadowBelow)
{
    const QColor blue(20, 90, 200);
    const QImage source = solid(400, 200, blue, 2.0); // 200 x 100 points
    const QImage out = *BeautifyRenderer::renderShadow(source);

    // The screenshot, unscaled, at (60, 60) points: every pixel of its inside.
    EXPECT_EQ(out.pixelColor(120, 180), blue);
    EXPECT_EQ(out.pixelColor(120 + 399, 120 + 100), blue);
    EXPECT_EQ(at(out, 160, 110), blue);
    // Cut round: the very corner pixel is not the screenshot's.
    EXPECT_LT(out.pixelColor(120, 120).alpha(), 200);
    // The far corners of the margin stay clear.
    EXPECT_EQ(out.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(out.pixelColor(out.width() - 1, out.height() - 1).alpha(), 0);
    // Black shadow, darker below the card than above it.
    const QColor below = at(out, 160, 60 + 100 + 12);
    const QColor above = at(out, 160, 60 - 12);
    EXPECT_GT(below.alpha(), above.alpha() + 20);
    EXPECT_LE(below.alpha(), 0.4 * 255 + 2);
    EXPECT_LT(below.red(), 10);
    EXPECT_GT(above.alpha(), 0);
}

TEST(BeautifyRendererTest, GradientRunsFromVioletToTealBehindTheCard)
{
    const QColor green(30, 160, 60);
    const QImage out = *BeautifyRenderer::renderGradient(solid(300, 200, green, 1.0));
    EXPECT_TRUE(near(out.pixelColor(0, 0), QColor::fromRgbF(0.4f, 0.2f, 0.8f), 4));
    EXPECT_TRUE(near(out.pixelColor(out.width() - 1, out.height() - 1), QColor::fromRgbF(0.3f, 0.8f, 0.7f), 4));
    // The background is opaque everywhere, the card in the middle.
    for (QPoint p : {QPoint(5, out.height() / 2), QPoint(out.width() / 2, 3), QPoint(80, 80)})
        EXPECT_EQ(out.pixelColor(p).alpha(), 255);
    EXPECT_EQ(out.pixelColor(80 + 150, 80 + 100), green);
    EXPECT_EQ(out.pixelColor(80 + 299, 80 + 100), green);
    EXPECT_NE(out.pixelColor(80, 80), green); // the rounded corner shows the background
}

TEST(BeautifyRendererTest, DeviceFrameHasItsBarLightsAndTheScreenshotSquare)
{
    const QColor purple(120, 40, 160);
    const QImage out = *BeautifyRenderer::renderDeviceFrame(solid(400, 200, purple, 2.0)); // 200 x 100 pt
    // Screenshot at (42, 68) points, square-cornered.
    EXPECT_EQ(at(out, 42, 68), purple);
    EXPECT_EQ(at(out, 241.9, 167.9), purple);
    // The bar and border are light grey; outside the frame is clear.
    EXPECT_TRUE(near(at(out, 180, 54), QColor::fromRgbF(0.92f, 0.92f, 0.92f)));
    EXPECT_TRUE(near(at(out, 41, 120), QColor::fromRgbF(0.92f, 0.92f, 0.92f)));
    EXPECT_EQ(at(out, 20, 20).alpha(), 0);
    EXPECT_EQ(at(out, 280, 200).alpha(), 0);
    // Red, yellow, green lights centred in the bar, 20 points apart.
    const QColor red = at(out, 56, 54), yellow = at(out, 76, 54), lime = at(out, 96, 54);
    EXPECT_GT(red.red(), 200);
    EXPECT_LT(red.green(), 100);
    EXPECT_GT(yellow.red(), 200);
    EXPECT_GT(yellow.green(), 150);
    EXPECT_LT(lime.red(), 100);
    EXPECT_GT(lime.green(), 150);
}

TEST(BeautifyRendererTest, TransparentPixelsShowTheCardOrTheFrame)
{
    const QImage clear = solid(100, 60, Qt::transparent, 1.0, QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(BeautifyRenderer::renderShadow(clear)->pixelColor(60 + 50, 60 + 30), QColor(Qt::white));
    EXPECT_EQ(BeautifyRenderer::renderGradient(clear)->pixelColor(80 + 50, 80 + 30), QColor(Qt::white));
    EXPECT_TRUE(near(BeautifyRenderer::renderDeviceFrame(clear)->pixelColor(42 + 50, 68 + 30),
                     QColor::fromRgbF(0.92f, 0.92f, 0.92f)));
    // Also on a card smaller than its two rounded corners.
    const QImage small = solid(20, 16, Qt::transparent, 1.0, QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(BeautifyRenderer::renderShadow(small)->pixelColor(60 + 10, 60 + 8), QColor(Qt::white));
    EXPECT_EQ(BeautifyRenderer::renderGradient(small)->pixelColor(80 + 10, 80 + 8), QColor(Qt::white));

    // Framing a framed image keeps the first frame's clear margin inside.
    const QImage twice = *BeautifyRenderer::renderDeviceFrame(*BeautifyRenderer::renderShadow(clear));
    EXPECT_EQ(twice.size(), QSize(220 + 84, 180 + 110));
    EXPECT_TRUE(near(twice.pixelColor(42 + 2, 68 + 2), QColor::fromRgbF(0.92f, 0.92f, 0.92f)));
}

TEST(BeautifyRendererTest, LongCapturesShowNoSeamsWhereThePaintingWasSplit)
{
    // A long capture is painted in many stripes on several threads. Every
    // row of the card must be its own row of the capture, and along the
    // straight sides the shadow's rows must all be alike.
    QImage tall(300, 12000, QImage::Format_RGB32);
    for (int y = 0; y < tall.height(); ++y)
        std::fill_n(reinterpret_cast<QRgb *>(tall.scanLine(y)), 300, qRgb(y % 256, (y / 256) % 256, 77));
    const std::optional<QImage> out = BeautifyRenderer::renderShadow(tall);
    ASSERT_TRUE(out.has_value());
    const QImage card = out->convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int left = (card.width() - tall.width()) / 2;
    const int top = (card.height() - tall.height()) / 2;
    int wrongRows = 0, seams = 0;
    for (int y = 100; y < tall.height() - 100; ++y) {
        const QRgb *inside = reinterpret_cast<const QRgb *>(card.constScanLine(top + y)) + left;
        wrongRows += !std::equal(inside + 50, inside + 250, reinterpret_cast<const QRgb *>(tall.constScanLine(y)) + 50);
        seams += std::memcmp(card.constScanLine(top + y), card.constScanLine(top + 100), size_t(left) * 4) != 0;
    }
    EXPECT_EQ(wrongRows, 0);
    EXPECT_EQ(seams, 0);
}

TEST(BeautifyRendererTest, EveryPixelIsPaintedAtEverySizeAndDensity)
{
    // Each picture is rendered twice, into memory filled with two different
    // bytes: a pixel left unpainted, or blended over what lay there, differs.
    const std::pair<const char *, Render> styles[] = {
        {"shadow", BeautifyRenderer::renderShadow},
        {"gradient", BeautifyRenderer::renderGradient},
        {"frame", BeautifyRenderer::renderDeviceFrame},
    };
    const QSizeF sizes[] = {{1, 1},     {2, 5},     {7, 3},     {24, 24},   {27, 26},   {40, 300},
                            {100, 60},  {135, 137}, {139, 140}, {300, 40},  {160, 150}, {320, 210}, {90, 420}};
    for (double ratio : {1.0, 1.25, 1.5, 2.0})
        for (const QSizeF &size : sizes)
            for (bool translucent : {false, true}) {
                const QImage source = patterned(size.width(), size.height(), ratio, translucent);
                for (const auto &[name, render] : styles) {
                    std::optional<QImage> first, second;
                    {
                        const FilledAllocations fill(0x5A);
                        first = render(source);
                    }
                    {
                        const FilledAllocations fill(0xC3);
                        second = render(source);
                    }
                    ASSERT_TRUE(first && second);
                    ASSERT_EQ(first->format(), second->format());
                    int differing = 0;
                    QPoint firstDifference;
                    for (int y = 0; y < first->height(); ++y) {
                        const auto *a = reinterpret_cast<const QRgb *>(first->constScanLine(y));
                        const auto *b = reinterpret_cast<const QRgb *>(second->constScanLine(y));
                        for (int x = 0; x < first->width(); ++x)
                            if (a[x] != b[x] && differing++ == 0)
                                firstDifference = QPoint(x, y);
                    }
                    EXPECT_EQ(differing, 0) << name << " of " << size.width() << " x " << size.height() << " pt at "
                                            << ratio << " px/pt" << (translucent ? ", translucent" : "")
                                            << ": first at pixel " << firstDifference.x() << ", "
                                            << firstDifference.y();
                }
            }
}

TEST(BeautifyRendererTest, SmallCardsCastTheirShadowBesideAndBelow)
{
    // Sampled on the card's centre lines just outside it and further out,
    // against a Gaussian blur of the moved card. Below the shadow card the
    // result is the shadow alone; below the gradient card it darkens the
    // background, whose colour is the same all along each line x + y = c.
    const QSizeF sizes[] = {{300, 40}, {100, 60}, {40, 300}, {60, 45}, {200, 140}};
    const double distances[] = {1, 4, 10, 20, 35};
    for (double ratio : {1.0, 1.25, 1.5, 2.0})
        for (const QSizeF &size : sizes) {
            const double w = std::lround(size.width() * ratio) / ratio;
            const double h = std::lround(size.height() * ratio) / ratio;
            const QImage source = patterned(size.width(), size.height(), ratio, false);
            const QImage shadow = *BeautifyRenderer::renderShadow(source);
            const QImage gradient = *BeautifyRenderer::renderGradient(source);
            const QString where = QStringLiteral("%1 x %2 pt at %3 px/pt").arg(w).arg(h).arg(ratio);
            for (double d : distances) {
                const QPointF below(60 + w / 2, 60 + h + d);
                const QPointF left(60 - d, 60 + h / 2);
                const QPointF right(60 + w + d, 60 + h / 2);
                for (QPointF p : {below, left, right}) {
                    p = centreOfPixel(p, ratio);
                    const double expected = modelShadow(p.x(), p.y(), 60, 60, w, h, 10, 30, 0.4);
                    const QColor got = at(shadow, p.x(), p.y());
                    EXPECT_NEAR(got.alphaF(), expected, 0.025)
                        << "shadow at " << p.x() << ", " << p.y() << " of " << where.toStdString();
                    EXPECT_EQ(got.red(), 0);
                }
                // The gradient card's shadow: 8 points down, blur 25, 0.3.
                const QPointF under = centreOfPixel(QPointF(80 + w / 2, 80 + h + d), ratio);
                const double k = 78 - d; // near the bottom edge, out of the shadow's reach
                const QPointF clear(under.x() - k, under.y() + k);
                ASSERT_GT(clear.x(), 0);
                const double expected = modelShadow(under.x(), under.y(), 80, 80, w, h, 8, 25, 0.3);
                const QColor shaded = at(gradient, under.x(), under.y());
                const QColor background = at(gradient, clear.x(), clear.y());
                for (auto channel : {&QColor::redF, &QColor::greenF, &QColor::blueF})
                    EXPECT_NEAR((shaded.*channel)(), (background.*channel)() * (1 - expected), 0.025)
                        << "gradient at " << under.x() << ", " << under.y() << " of " << where.toStdString();
            }
        }
}
