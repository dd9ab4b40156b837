#include "editor/BeautifyRenderer.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QThread>
#include <QtConcurrent>

#include <functional>

#include <algorithm>
#include <cmath>
#include <vector>

// Everything below paints in device pixels on an image whose pixel ratio is
// 1 and sets the source's ratio on the result at the end, so the screenshot
// is copied pixel for pixel and whole-pixel offsets stay whole.
//
// The results can be huge (a long scrolling capture framed is a quarter of
// a gigabyte), so each pixel is written as few times as possible: the
// margin bands get the background and the shadow, the card's inside gets
// the screenshot once, and only the four corner squares of the card are
// painted through antialiased paths. The shadow is a blurred mask computed
// at a few points per mask pixel and stretched smoothly over the bands.

namespace {

struct Canvas
{
    QImage image;   // the result, pixel ratio 1 while painting
    QImage source;  // the screenshot as a ratio-1 view of its pixels
    double scale = 1; // pixels per point
};

// The source's pixels without copying them, with ratio 1; formats the raster
// engine cannot draw quickly are converted once.
QImage pixelView(const QImage &source)
{
    QImage s = source;
    switch (s.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        break;
    default:
        s = s.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        break;
    }
    if (s.cacheKey() != source.cacheKey()) {
        s.setDevicePixelRatio(1.0); // our own converted copy
        return s;
    }
    // A view over the same bytes (setDevicePixelRatio() would copy them);
    // the caller keeps the source alive while the view is used.
    return QImage(s.constBits(), s.width(), s.height(), s.bytesPerLine(), s.format());
}

std::optional<Canvas> makeCanvas(const QImage &source, double marginX, double marginTop, double marginBottom,
                                 QPoint *sourceOrigin)
{
    if (source.isNull() || source.width() <= 0 || source.height() <= 0)
        return std::nullopt;
    double ratio = source.devicePixelRatio();
    if (!std::isfinite(ratio) || ratio <= 0)
        ratio = 1;
    const int left = int(std::lround(marginX * ratio));
    const int top = int(std::lround(marginTop * ratio));
    const int bottom = int(std::lround(marginBottom * ratio));
    const qint64 width = qint64(source.width()) + 2 * left;
    const qint64 height = qint64(source.height()) + top + bottom;
    if (width > 1'000'000 || height > 1'000'000)
        return std::nullopt;
    Canvas c;
    c.image = QImage(int(width), int(height), QImage::Format_ARGB32_Premultiplied);
    if (c.image.isNull())
        return std::nullopt; // out of memory
    c.source = pixelView(source);
    c.scale = ratio;
    *sourceOrigin = QPoint(left, top);
    return c;
}

// The parts of the canvas outside the card that still need painting: the
// four margin bands and the four corner squares of the card (where the card
// is cut round).
QList<QRect> outsideOfCard(const QRect &all, const QRect &card, int corner)
{
    QList<QRect> rects;
    auto add = [&](const QRect &r) {
        const QRect c = r.intersected(all);
        if (!c.isEmpty())
            rects.append(c);
    };
    add(QRect(all.left(), all.top(), all.width(), card.top() - all.top()));
    add(QRect(all.left(), card.bottom() + 1, all.width(), all.bottom() - card.bottom()));
    add(QRect(all.left(), card.top(), card.left() - all.left(), card.height()));
    add(QRect(card.right() + 1, card.top(), all.right() - card.right(), card.height()));
    if (card.width() <= 2 * corner + 2 || card.height() <= 2 * corner + 2) {
        add(card); // a card this small is painted whole through its path
        return rects;
    }
    const int c = corner;
    if (c > 0) {
        add(QRect(card.left(), card.top(), c, c));
        add(QRect(card.right() - c + 1, card.top(), c, c));
        add(QRect(card.left(), card.bottom() - c + 1, c, c));
        add(QRect(card.right() - c + 1, card.bottom() - c + 1, c, c));
    }
    return rects;
}

// Three box blurs in a row: close to a Gaussian of the given deviation.
// Rows are blurred along themselves; columns through running sums kept for
// a whole row at a time, so memory is read in order.
void boxBlur(std::vector<float> &data, int width, int height, double sigma)
{
    if (sigma <= 0.3)
        return;
    const int radius = std::max(1, int(std::lround((std::sqrt(4.0 * sigma * sigma + 1.0) - 1.0) / 2.0)));
    const float norm = 1.0f / float(2 * radius + 1);
    std::vector<float> line(static_cast<size_t>(width));
    std::vector<float> sums(static_cast<size_t>(width));
    std::vector<float> column(size_t(width) * size_t(height));
    auto row = [&](int y) { return data.data() + size_t(y) * size_t(width); };
    for (int round = 0; round < 3; ++round) {
        for (int y = 0; y < height; ++y) {
            float *r = row(y);
            std::copy(r, r + width, line.begin());
            float sum = 0;
            for (int i = 0; i < std::min(radius, width); ++i)
                sum += line[size_t(i)];
            for (int i = 0; i < width; ++i) {
                if (i + radius < width)
                    sum += line[size_t(i + radius)];
                if (i - radius - 1 >= 0)
                    sum -= line[size_t(i - radius - 1)];
                r[i] = sum * norm;
            }
        }
        std::copy(data.begin(), data.end(), column.begin());
        std::fill(sums.begin(), sums.end(), 0.0f);
        auto source = [&](int y) { return column.data() + size_t(y) * size_t(width); };
        for (int y = 0; y < std::min(radius, height); ++y) {
            const float *in = source(y);
            for (int x = 0; x < width; ++x)
                sums[size_t(x)] += in[x];
        }
        for (int y = 0; y < height; ++y) {
            if (y + radius < height) {
                const float *in = source(y + radius);
                for (int x = 0; x < width; ++x)
                    sums[size_t(x)] += in[x];
            }
            if (y - radius - 1 >= 0) {
                const float *out = source(y - radius - 1);
                for (int x = 0; x < width; ++x)
                    sums[size_t(x)] -= out[x];
            }
            float *r = row(y);
            for (int x = 0; x < width; ++x)
                r[x] = sums[size_t(x)] * norm;
        }
    }
}

// The soft shadow of a rounded rectangle over the whole canvas: the shape
// (in canvas pixels) moved by offset, blurred with the given radius (points;
// the deviation is half of it), black at the given opacity.
//
// The blur is computed on a coarse mask and stretched smoothly. Along the
// straight sides, away from the corners, the shadow varies across the side
// only; there it is painted from one full-resolution row (or column) of
// the mask, tiled, which costs a plain copy per pixel instead of a filtered
// sample.
class Shadow
{
public:
    Shadow(const QSize &canvas, const QRectF &shape, double radius, const QPointF &offset, double cornerRadius,
           double opacity, double scale)
    {
        const double sigma = radius / 2.0 * scale; // in canvas pixels
        // About two and a half mask pixels per deviation are plenty for a
        // blur this soft. At exactly the square root of 6 the three box
        // blurs have radius 2 and together the very deviation asked for;
        // at other steps the radius is rounded and the shadow comes out
        // wider and fainter than it should.
        m_step = std::max(1.0, sigma / std::sqrt(6.0));
        m_pad = int(std::ceil(3 * sigma / m_step)) + 2;
        const int mw = int(std::ceil(canvas.width() / m_step)) + 2 * m_pad;
        const int mh = int(std::ceil(canvas.height() / m_step)) + 2 * m_pad;

        QImage mask(mw, mh, QImage::Format_ARGB32_Premultiplied);
        mask.fill(Qt::transparent);
        {
            QPainter p(&mask);
            p.setRenderHint(QPainter::Antialiasing);
            p.translate(m_pad, m_pad);
            p.scale(1.0 / m_step, 1.0 / m_step);
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::black);
            p.drawRoundedRect(shape.translated(offset), cornerRadius, cornerRadius);
        }
        std::vector<float> alpha(size_t(mw) * size_t(mh));
        for (int y = 0; y < mh; ++y) {
            const QRgb *row = reinterpret_cast<const QRgb *>(mask.constScanLine(y));
            for (int x = 0; x < mw; ++x)
                alpha[size_t(y) * size_t(mw) + size_t(x)] = float(qAlpha(row[x])) / 255.0f;
        }
        boxBlur(alpha, mw, mh, sigma / m_step);
        for (int y = 0; y < mh; ++y) {
            QRgb *row = reinterpret_cast<QRgb *>(mask.scanLine(y));
            for (int x = 0; x < mw; ++x)
                row[x] = shade(alpha[size_t(y) * size_t(mw) + size_t(x)] * opacity);
        }
        m_whole = QBrush(mask);
        QTransform t;
        t.scale(m_step, m_step);
        t.translate(-m_pad, -m_pad);
        m_whole.setTransform(t);

        // Where the sides run straight: beyond the corners' rounding and
        // the blur's reach, measured from the moved shape.
        // A shape too short (or too narrow) for that has no straight rows
        // (columns): the rectangle stays null, so it meets nothing.
        const QRectF moved = shape.translated(offset);
        const double reach = 3 * sigma + cornerRadius + 2 * m_step + 2;
        const int firstRow = int(std::ceil(moved.top() + reach));
        const int lastRow = int(std::floor(moved.bottom() - reach));
        if (firstRow <= lastRow)
            m_straightRows = QRect(QPoint(0, firstRow), QPoint(canvas.width() - 1, lastRow));
        const int firstColumn = int(std::ceil(moved.left() + reach));
        const int lastColumn = int(std::floor(moved.right() - reach));
        if (firstColumn <= lastColumn)
            m_straightColumns = QRect(QPoint(firstColumn, 0), QPoint(lastColumn, canvas.height() - 1));
        auto sample = [&](double mx, double my) {
            mx = std::clamp(mx, 0.0, double(mw - 1));
            my = std::clamp(my, 0.0, double(mh - 1));
            const int x0 = int(mx), y0 = int(my);
            const int x1 = std::min(x0 + 1, mw - 1), y1 = std::min(y0 + 1, mh - 1);
            const double fx = mx - x0, fy = my - y0;
            auto at = [&](int x, int y) { return double(alpha[size_t(y) * size_t(mw) + size_t(x)]); };
            return (at(x0, y0) * (1 - fx) + at(x1, y0) * fx) * (1 - fy) + (at(x0, y1) * (1 - fx) + at(x1, y1) * fx) * fy;
        };
        if (!m_straightRows.isEmpty()) {
            QImage row(canvas.width(), 1, QImage::Format_ARGB32_Premultiplied);
            const double my = moved.center().y() / m_step + m_pad;
            QRgb *out = reinterpret_cast<QRgb *>(row.scanLine(0));
            for (int x = 0; x < canvas.width(); ++x)
                out[x] = shade(sample((x + 0.5) / m_step + m_pad - 0.5, my) * opacity);
            m_rowBrush = QBrush(row);
        }
        if (!m_straightColumns.isEmpty()) {
            QImage column(1, canvas.height(), QImage::Format_ARGB32_Premultiplied);
            const double mx = moved.center().x() / m_step + m_pad;
            for (int y = 0; y < canvas.height(); ++y)
                reinterpret_cast<QRgb *>(column.scanLine(y))[0] =
                    shade(sample(mx, (y + 0.5) / m_step + m_pad - 0.5) * opacity);
            m_columnBrush = QBrush(column);
        }
    }

    // Paints the shadow into r (whole-canvas pixels) with the painter's
    // composition mode.
    void fill(QPainter &p, const QRect &r) const
    {
        QRect rest = r;
        const QRect rows = r.intersected(m_straightRows);
        if (!rows.isEmpty() && rows.left() == r.left() && rows.right() == r.right()) {
            p.fillRect(rows, m_rowBrush);
            fillFiltered(p, QRect(QPoint(r.left(), r.top()), QPoint(r.right(), rows.top() - 1)));
            fillFiltered(p, QRect(QPoint(r.left(), rows.bottom() + 1), QPoint(r.right(), r.bottom())));
            return;
        }
        const QRect columns = rest.intersected(m_straightColumns);
        if (!columns.isEmpty() && columns.top() == r.top() && columns.bottom() == r.bottom()) {
            p.fillRect(columns, m_columnBrush);
            fillFiltered(p, QRect(QPoint(r.left(), r.top()), QPoint(columns.left() - 1, r.bottom())));
            fillFiltered(p, QRect(QPoint(columns.right() + 1, r.top()), QPoint(r.right(), r.bottom())));
            return;
        }
        fillFiltered(p, r);
    }

private:
    static QRgb shade(double a)
    {
        return qRgba(0, 0, 0, std::clamp(int(std::lround(a * 255.0)), 0, 255)); // black: premultiplied as is
    }
    void fillFiltered(QPainter &p, const QRect &r) const
    {
        if (r.isEmpty())
            return;
        p.save();
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.fillRect(r, m_whole);
        p.restore();
    }

    double m_step = 1;
    int m_pad = 0;
    QBrush m_whole;
    QBrush m_rowBrush;
    QBrush m_columnBrush;
    QRect m_straightRows;
    QRect m_straightColumns;
};

// The screenshot on its card: the inside copied straight, the corners cut
// round through antialiased paths filled with the screenshot as texture.
// Transparent pixels of the screenshot show a white card.
void drawCard(QPainter &p, const QImage &source, const QPoint &origin, double cornerRadius)
{
    const QRect card(origin, source.size());
    const bool translucent = source.hasAlphaChannel();
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(card), cornerRadius, cornerRadius);
    QBrush texture(source);
    texture.setTransform(QTransform::fromTranslate(origin.x(), origin.y()));

    const int c = int(std::ceil(cornerRadius));
    p.setPen(Qt::NoPen);
    if (card.width() <= 2 * c + 2 || card.height() <= 2 * c + 2) {
        // Over the shadow already there, and the screenshot over its card.
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.setRenderHint(QPainter::Antialiasing);
        if (translucent)
            p.fillPath(rounded, Qt::white);
        p.fillPath(rounded, texture);
        return;
    }

    const QRect inner[] = {
        QRect(card.left(), card.top() + c, card.width(), card.height() - 2 * c),
        QRect(card.left() + c, card.top(), card.width() - 2 * c, c),
        QRect(card.left() + c, card.bottom() - c + 1, card.width() - 2 * c, c),
    };
    p.setCompositionMode(translucent ? QPainter::CompositionMode_SourceOver : QPainter::CompositionMode_Source);
    for (const QRect &r : inner) {
        if (translucent)
            p.fillRect(r, Qt::white);
        p.drawImage(r.topLeft(), source, r.translated(-origin));
    }
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect corners[] = {
        QRect(card.left(), card.top(), c, c),
        QRect(card.right() - c + 1, card.top(), c, c),
        QRect(card.left(), card.bottom() - c + 1, c, c),
        QRect(card.right() - c + 1, card.bottom() - c + 1, c, c),
    };
    for (const QRect &r : corners) {
        QPainterPath square;
        square.addRect(QRectF(r));
        const QPainterPath piece = rounded.intersected(square);
        if (translucent)
            p.fillPath(piece, Qt::white);
        p.fillPath(piece, texture);
    }
}

// Paints the canvas in horizontal stripes on several threads: each stripe is
// a view of its rows of the result, with the painter moved so that `paint`
// draws in whole-canvas coordinates. The first write to a fresh, huge image
// costs as much as the drawing (the system maps its pages on first touch),
// and both spread over the stripes.
void paintInStripes(QImage &image, const std::function<void(QPainter &)> &paint)
{
    const int rows = image.height();
    // Twice as many stripes as threads on long images: when some threads
    // start late (a busy machine), the others take over their stripes.
    const int stripes = std::clamp(rows / 384, 1, std::max(1, QThread::idealThreadCount() * 2));
    uchar *bits = image.bits();
    const qsizetype bpl = image.bytesPerLine();
    auto paintStripe = [&](int index) {
        const int top = int(qint64(rows) * index / stripes);
        const int bottom = int(qint64(rows) * (index + 1) / stripes);
        QImage view(bits + bpl * top, image.width(), bottom - top, bpl, image.format());
        QPainter p(&view);
        p.translate(0, -top);
        paint(p);
    };
    if (stripes == 1) {
        paintStripe(0);
        return;
    }
    QList<int> indices;
    for (int i = 0; i < stripes; ++i)
        indices.append(i);
    QtConcurrent::blockingMap(indices, [&](int index) { paintStripe(index); });
}

QImage finish(Canvas &c)
{
    c.image.setDevicePixelRatio(c.scale);
    return c.image;
}

} // namespace

std::optional<QImage> BeautifyRenderer::renderShadow(const QImage &source)
{
    QPoint origin;
    auto canvas = makeCanvas(source, shadowMargin, shadowMargin, shadowMargin, &origin);
    if (!canvas)
        return std::nullopt;
    const double s = canvas->scale;
    const QRect card(origin, canvas->source.size());
    // The margins get the shadow alone (it also clears them): offset 10
    // points down, blur 30, black at 0.4.
    const Shadow shadow(canvas->image.size(), QRectF(card), 30, QPointF(0, 10 * s), cardCornerRadius * s, 0.4, s);
    const QList<QRect> outside = outsideOfCard(canvas->image.rect(), card, int(std::ceil(cardCornerRadius * s)));
    const QImage &shot = canvas->source;
    paintInStripes(canvas->image, [&](QPainter &p) {
        p.setCompositionMode(QPainter::CompositionMode_Source);
        for (const QRect &r : outside)
            shadow.fill(p, r);
        drawCard(p, shot, origin, cardCornerRadius * s);
    });
    return finish(*canvas);
}

std::optional<QImage> BeautifyRenderer::renderGradient(const QImage &source)
{
    QPoint origin;
    auto canvas = makeCanvas(source, gradientMargin, gradientMargin, gradientMargin, &origin);
    if (!canvas)
        return std::nullopt;
    const double s = canvas->scale;
    const QRect all = canvas->image.rect();
    const QRect card(origin, canvas->source.size());
    // Violet at the top-left corner to teal at the bottom-right, along the
    // diagonal direction.
    const double reach = (all.width() + all.height()) / 2.0;
    QLinearGradient gradient(0, 0, reach, reach);
    gradient.setColorAt(0.0, QColor::fromRgbF(0.4f, 0.2f, 0.8f));
    gradient.setColorAt(0.5, QColor::fromRgbF(0.2f, 0.6f, 0.9f));
    gradient.setColorAt(1.0, QColor::fromRgbF(0.3f, 0.8f, 0.7f));
    const Shadow shadow(canvas->image.size(), QRectF(card), 25, QPointF(0, 8 * s), cardCornerRadius * s, 0.3, s);
    const QList<QRect> outside = outsideOfCard(all, card, int(std::ceil(cardCornerRadius * s)));
    const QImage &shot = canvas->source;
    paintInStripes(canvas->image, [&](QPainter &p) {
        p.setCompositionMode(QPainter::CompositionMode_Source);
        for (const QRect &r : outside)
            p.fillRect(r, gradient);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        for (const QRect &r : outside)
            shadow.fill(p, r);
        drawCard(p, shot, origin, cardCornerRadius * s);
    });
    return finish(*canvas);
}

std::optional<QImage> BeautifyRenderer::renderDeviceFrame(const QImage &source)
{
    // The frame: the screenshot with a 2-point border on the left, right and
    // bottom and a 28-point bar on top, and 40 points of clear margin round it.
    QPoint origin;
    auto canvas = makeCanvas(source, frameMargin + frameBorder, frameMargin + frameTitleBar,
                             frameMargin + frameBorder, &origin);
    if (!canvas)
        return std::nullopt;
    const double s = canvas->scale;
    const QRect all = canvas->image.rect();
    const QRect shot(origin, canvas->source.size());
    const QRectF frame = QRectF(shot).adjusted(-frameBorder * s, -frameTitleBar * s, frameBorder * s, frameBorder * s);
    const QRect frameRect = frame.toAlignedRect();
    const QList<QRect> outside = outsideOfCard(all, frameRect, int(std::ceil(frameCornerRadius * s)) + 1);
    const QImage &pixels = canvas->source;
    paintInStripes(canvas->image, [&](QPainter &p) {
        // Clear what lies outside the frame (and under its rounded corners).
        p.setCompositionMode(QPainter::CompositionMode_Source);
        for (const QRect &r : outside)
            p.fillRect(r, Qt::transparent);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);

        // The frame body, its outline and the three lights. Where the
        // screenshot is opaque it covers the body, which then need not be
        // painted there.
        p.save();
        if (!pixels.hasAlphaChannel())
            p.setClipRegion(QRegion(all).subtracted(QRegion(shot)));
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath body;
        body.addRoundedRect(frame, frameCornerRadius * s, frameCornerRadius * s);
        p.fillPath(body, QColor::fromRgbF(0.92f, 0.92f, 0.92f));
        p.strokePath(body, QPen(QColor::fromRgbF(0.7f, 0.7f, 0.7f), 1.0 * s));
        const QColor lights[] = {QColor(255, 59, 48), QColor(255, 204, 0), QColor(40, 205, 65)};
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 3; ++i) {
            p.setBrush(lights[i]);
            const QPointF centre(frame.left() + (16 + 20 * i) * s, frame.top() + 14 * s);
            p.drawEllipse(centre, 6 * s, 6 * s);
        }
        p.restore();

        // The screenshot, square-cornered, over the body.
        if (!pixels.hasAlphaChannel())
            p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(shot.topLeft(), pixels);
    });
    return finish(*canvas);
}
