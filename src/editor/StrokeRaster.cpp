#include "editor/StrokeRaster.h"

#include <QImage>
#include <QPainter>
#include <QVarLengthArray>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace StrokeRaster {

namespace {

struct Span
{
    double left = 1;
    double right = 0;
    bool empty() const { return left > right; }
    void unite(double l, double r)
    {
        if (l > r)
            return;
        if (empty()) {
            left = l;
            right = r;
        } else {
            left = std::min(left, l);
            right = std::max(right, r);
        }
    }
};

// The x values where a + k*x lies in [low, high]; the whole line when k is 0
// and a is inside.
bool linearRange(double a, double k, double low, double high, double &from, double &to)
{
    if (std::fabs(k) < 1e-12) {
        if (a < low || a > high)
            return false;
        from = -1e18;
        to = 1e18;
        return true;
    }
    double x0 = (low - a) / k;
    double x1 = (high - a) / k;
    if (x0 > x1)
        std::swap(x0, x1);
    from = x0;
    to = x1;
    return true;
}

inline quint32 blend(quint32 dst, quint32 src, quint32 cov /* 0..256 */)
{
    const quint32 inv = 256 - cov;
    const quint32 rb = (((src & 0x00ff00ff) * cov + (dst & 0x00ff00ff) * inv) >> 8) & 0x00ff00ff;
    const quint32 ag = ((((src >> 8) & 0x00ff00ff) * cov + ((dst >> 8) & 0x00ff00ff) * inv)) & 0xff00ff00;
    return rb | ag;
}

// Coverage of the n pixels of one row whose first centre is (px, py)
// relative to the segment's start (R minus the distance to the segment,
// 0..255), merged into `out` by taking the larger value: where segments of
// one stroke overlap, the stroke is as opaque as its most covering part.
// Four pixels at a time where SSE is there.
inline __attribute__((always_inline)) void mergeRowCoverage(quint8 *out, int n, float px, float py, float dx,
                                                              float dy, float invLen2, float R)
{
    int i = 0;
#ifdef __SSE2__
    const __m128 vdx = _mm_set1_ps(dx);
    const __m128 vdy = _mm_set1_ps(dy);
    const __m128 vinv = _mm_set1_ps(invLen2);
    const __m128 vpydy = _mm_set1_ps(py * dy);
    const __m128 vpy = _mm_set1_ps(py);
    const __m128 vR = _mm_set1_ps(R);
    const __m128 zero = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 scale = _mm_set1_ps(255.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 four = _mm_set1_ps(4.0f);
    __m128 vpx = _mm_setr_ps(px, px + 1, px + 2, px + 3);
    for (; i + 4 <= n; i += 4) {
        __m128 t = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(vpx, vdx), vpydy), vinv);
        t = _mm_min_ps(_mm_max_ps(t, zero), one);
        const __m128 ex = _mm_sub_ps(vpx, _mm_mul_ps(t, vdx));
        const __m128 ey = _mm_sub_ps(vpy, _mm_mul_ps(t, vdy));
        const __m128 d = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(ex, ex), _mm_mul_ps(ey, ey)));
        const __m128 c = _mm_min_ps(_mm_max_ps(_mm_sub_ps(vR, d), zero), one);
        const __m128i v32 = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(c, scale), half));
        const __m128i v16 = _mm_packs_epi32(v32, v32);
        const __m128i v8 = _mm_packus_epi16(v16, v16);
        int existing;
        std::memcpy(&existing, out + i, 4);
        const int merged = _mm_cvtsi128_si32(_mm_max_epu8(v8, _mm_cvtsi32_si128(existing)));
        std::memcpy(out + i, &merged, 4);
        vpx = _mm_add_ps(vpx, four);
    }
#endif
    for (; i < n; ++i) {
        const float x = px + float(i);
        float t = (x * dx + py * dy) * invLen2;
        t = t < 0 ? 0 : (t > 1 ? 1 : t);
        const float ex = x - t * dx;
        const float ey = py - t * dy;
        float c = R - std::sqrt(ex * ex + ey * ey);
        c = c < 0 ? 0 : (c > 1 ? 1 : c);
        const quint8 v = quint8(c * 255.0f + 0.5f);
        if (v > out[i])
            out[i] = v;
    }
}

// The coverage of one stroke over a box of the image, built segment by
// segment and blended once, so overlapping segments never darken.
struct Mask
{
    QRect box;
    std::vector<quint8> coverage;
    std::vector<int> rowLeft, rowRight; // touched columns per row, relative to box

    void reset(const QRect &b)
    {
        box = b;
        coverage.assign(size_t(b.width()) * size_t(b.height()), 0);
        rowLeft.assign(size_t(b.height()), b.width());
        rowRight.assign(size_t(b.height()), -1);
    }

    // The capsule of radius r (device pixels) around segment a-b.
    void addCapsule(QPointF a, QPointF b, double r)
    {
        const double R = r + 0.5; // the antialiased fringe reaches half a pixel out
        const int y0 = std::max(box.top(), int(std::floor(std::min(a.y(), b.y()) - R)));
        const int y1 = std::min(box.bottom(), int(std::ceil(std::max(a.y(), b.y()) + R)));
        if (y0 > y1)
            return;
        const double dx = b.x() - a.x();
        const double dy = b.y() - a.y();
        const double len2 = dx * dx + dy * dy;
        const double len = std::sqrt(len2);
        const double invLen2 = len2 > 1e-18 ? 1 / len2 : 0;
        const double ux = len > 1e-9 ? dx / len : 0;
        const double uy = len > 1e-9 ? dy / len : 0;
        // Short segments take their whole box row; long slanted ones only
        // the part of each row the capsule crosses.
        if (std::fabs(dx) <= 24) {
            const int x0 = std::max(box.left(), int(std::floor(std::min(a.x(), b.x()) - R)));
            const int x1 = std::min(box.right(), int(std::ceil(std::max(a.x(), b.x()) + R)));
            if (x0 > x1)
                return;
            // Whole groups of four where the box row has room: pixels
            // past the capsule's reach just get no coverage, and the
            // vector loop needs no single-pixel tail.
            const int n = std::min(box.right() - x0 + 1, (x1 - x0 + 4) & ~3);
            const float px = float(x0 + 0.5 - a.x());
            quint8 *out = coverage.data() + size_t(y0 - box.top()) * size_t(box.width()) + size_t(x0 - box.left());
            for (int yi = y0; yi <= y1; ++yi, out += box.width()) {
                mergeRowCoverage(out, n, px, float(yi + 0.5 - a.y()), float(dx), float(dy), float(invLen2), float(R));
                const size_t row = size_t(yi - box.top());
                rowLeft[row] = std::min(rowLeft[row], x0 - box.left());
                rowRight[row] = std::max(rowRight[row], x1 - box.left());
            }
            return;
        }
        for (int yi = y0; yi <= y1; ++yi) {
            const double yc = yi + 0.5;
            Span span;
            for (const QPointF &c : {a, b}) {
                const double ddy = yc - c.y();
                if (std::fabs(ddy) <= R) {
                    const double halfWidth = std::sqrt(R * R - ddy * ddy);
                    span.unite(c.x() - halfWidth, c.x() + halfWidth);
                }
            }
            // Along the segment: 0 <= (p - a).u <= len; across: |(p - a).n| <= R.
            double s0, s1, q0, q1;
            const double ry = yc - a.y();
            if (linearRange(ry * uy - a.x() * ux, ux, 0, len, s0, s1)
                && linearRange(ry * ux + a.x() * uy, -uy, -R, R, q0, q1))
                span.unite(std::max(s0, q0), std::min(s1, q1));
            if (span.empty())
                continue;
            const int x0 = std::max(box.left(), int(std::floor(span.left)));
            const int x1 = std::min(box.right(), int(std::ceil(span.right)));
            if (x0 > x1)
                continue;
            const size_t row = size_t(yi - box.top());
            quint8 *out = coverage.data() + row * size_t(box.width()) + size_t(x0 - box.left());
            mergeRowCoverage(out, x1 - x0 + 1, float(x0 + 0.5 - a.x()), float(yc - a.y()), float(dx), float(dy),
                             float(invLen2), float(R));
            rowLeft[row] = std::min(rowLeft[row], x0 - box.left());
            rowRight[row] = std::max(rowRight[row], x1 - box.left());
        }
    }

    void blendInto(QImage &image, quint32 colour) const
    {
        const bool rgb32 = image.format() == QImage::Format_RGB32;
#ifdef __SSE2__
        // The same arithmetic as blend(), four pixels at a time in 16-bit
        // lanes: (src * cov + dst * (256 - cov)) >> 8 for every channel
        // never exceeds 16 bits, and cov 256 gives the colour exactly.
        const __m128i zero = _mm_setzero_si128();
        const __m128i src16 = _mm_unpacklo_epi8(_mm_set1_epi32(int(colour)), zero);
        const __m128i full = _mm_set1_epi16(256);
        const __m128i opaque = _mm_set1_epi32(rgb32 ? int(0xff000000u) : 0);
        auto blendTwo = [&](__m128i dst16, __m128i cov16) {
            const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(src16, cov16),
                                              _mm_mullo_epi16(dst16, _mm_sub_epi16(full, cov16)));
            return _mm_srli_epi16(sum, 8);
        };
#endif
        for (int row = 0; row < box.height(); ++row) {
            if (rowLeft[size_t(row)] > rowRight[size_t(row)])
                continue;
            quint32 *line = reinterpret_cast<quint32 *>(image.scanLine(box.top() + row)) + box.left();
            const quint8 *cov = coverage.data() + size_t(row) * size_t(box.width());
            const int right = rowRight[size_t(row)];
            int x = rowLeft[size_t(row)];
#ifdef __SSE2__
            for (; x + 4 <= right + 1; x += 4) {
                // Outlines leave long untouched runs inside: skip them sixteen at a time.
                if (x + 16 <= right + 1) {
                    const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i *>(cov + x));
                    if (_mm_movemask_epi8(_mm_cmpeq_epi8(sixteen, zero)) == 0xffff) {
                        x += 12;
                        continue;
                    }
                }
                int four;
                std::memcpy(&four, cov + x, 4);
                if (four == 0)
                    continue;
                // c + (c >> 7) per pixel, repeated over its four channels.
                __m128i c16 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero);
                c16 = _mm_add_epi16(c16, _mm_srli_epi16(c16, 7));
                const __m128i pairs = _mm_unpacklo_epi16(c16, c16);
                const __m128i covLo = _mm_unpacklo_epi32(pairs, pairs);
                const __m128i covHi = _mm_unpackhi_epi32(pairs, pairs);
                __m128i *at = reinterpret_cast<__m128i *>(line + x);
                const __m128i dst = _mm_loadu_si128(at);
                const __m128i lo = blendTwo(_mm_unpacklo_epi8(dst, zero), covLo);
                const __m128i hi = blendTwo(_mm_unpackhi_epi8(dst, zero), covHi);
                _mm_storeu_si128(at, _mm_or_si128(_mm_packus_epi16(lo, hi), opaque));
            }
#endif
            for (; x <= right; ++x) {
                const quint32 c = cov[x];
                if (c == 0)
                    continue;
                if (c == 255) {
                    line[x] = colour;
                } else {
                    quint32 v = blend(line[x], colour, c + (c >> 7));
                    if (rgb32)
                        v |= 0xff000000;
                    line[x] = v;
                }
            }
        }
    }
};

} // namespace

bool canDraw(const QPainter &painter, const QColor &colour, double width)
{
    QPaintDevice *device = painter.device();
    if (!device || device->devType() != QInternal::Image)
        return false;
    const auto *image = static_cast<const QImage *>(device);
    if (image->format() != QImage::Format_RGB32 && image->format() != QImage::Format_ARGB32_Premultiplied)
        return false;
    if (colour.alpha() != 255 || painter.opacity() < 1.0 || painter.hasClipping()
        || painter.compositionMode() != QPainter::CompositionMode_SourceOver)
        return false;
    const QTransform t = painter.deviceTransform();
    if (t.type() > QTransform::TxScale || !(width * std::fabs(t.m11()) <= 128))
        return false;
    // A uniform scale keeps round caps round.
    return std::fabs(std::fabs(t.m11()) - std::fabs(t.m22())) < 1e-9 * std::max(1.0, std::fabs(t.m11()));
}

void drawPolyline(QPainter &painter, const QPointF *points, int count, bool closed, double width,
                  const QColor &colour)
{
    if (count < 1)
        return;
    auto *image = static_cast<QImage *>(painter.device());
    const QTransform t = painter.deviceTransform();
    const double r = std::max(width * std::fabs(t.m11()), 1.0) / 2; // thinner than a pixel draws one pixel wide
    QVarLengthArray<QPointF, 512> device(count);
    double left = 1e300, top = 1e300, right = -1e300, bottom = -1e300;
    for (int i = 0; i < count; ++i) {
        device[i] = t.map(points[i]);
        left = std::min(left, device[i].x());
        right = std::max(right, device[i].x());
        top = std::min(top, device[i].y());
        bottom = std::max(bottom, device[i].y());
    }
    const double R = r + 1;
    const QRect box = QRect(QPoint(int(std::max(-1.0, std::floor(left - R))), int(std::max(-1.0, std::floor(top - R)))),
                            QPoint(int(std::min(double(image->width()), std::ceil(right + R))),
                                   int(std::min(double(image->height()), std::ceil(bottom + R)))))
                          .intersected(image->rect());
    if (box.isEmpty())
        return;
    static thread_local Mask mask;
    mask.reset(box);
    const QRectF reach = QRectF(box).adjusted(-R, -R, R, R);
    auto segment = [&](QPointF from, QPointF to) {
        if (std::max(from.x(), to.x()) < reach.left() || std::min(from.x(), to.x()) > reach.right()
            || std::max(from.y(), to.y()) < reach.top() || std::min(from.y(), to.y()) > reach.bottom())
            return;
        mask.addCapsule(from, to, r);
    };
    if (count == 1)
        segment(device[0], device[0]);
    for (int i = 1; i < count; ++i)
        segment(device[i - 1], device[i]);
    if (closed && count > 2)
        segment(device[count - 1], device[0]);
    mask.blendInto(*image, colour.rgba());
}

} // namespace StrokeRaster
