#include "editor/Pixellate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace Pixellate {

int cellSizeFor(const QSize &regionPixels)
{
    const int side = std::max(regionPixels.width(), regionPixels.height());
    return std::max(minimumCellSize, int(std::lround(side / 10.0)));
}

namespace {

bool isDirect32(QImage::Format f)
{
    return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 || f == QImage::Format_ARGB32_Premultiplied;
}

struct Sum
{
    quint64 b = 0, g = 0, r = 0, a = 0;
};

} // namespace

QImage pixellate(const QImage &image, const QRect &region, int cell)
{
    if (image.isNull() || cell < 1 || region.isEmpty())
        return {};
    const QRect area = region.intersected(image.rect());
    if (area.isEmpty())
        return {};

    // Read 32-bit images in place; anything else is converted, the area only.
    QImage converted;
    const QImage *source = &image;
    QPoint sourceOrigin = area.topLeft();
    if (!isDirect32(image.format())) {
        converted = image.copy(area).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        source = &converted;
        sourceOrigin = QPoint(0, 0);
    }

    QImage out(area.size(), source->format());
    if (out.isNull())
        return {};
    out.setDevicePixelRatio(1.0);

    // Cell columns over the area: the grid starts at the region's left edge.
    std::vector<int> columnEdges; // x offsets within the area where a new cell starts, plus the end
    {
        const int firstCell = (area.left() - region.left()) / cell;
        int x = region.left() + firstCell * cell;
        columnEdges.push_back(0);
        x += cell;
        while (x < area.left() + area.width()) {
            columnEdges.push_back(x - area.left());
            x += cell;
        }
        columnEdges.push_back(area.width());
    }
    const size_t columns = columnEdges.size() - 1;
    const int width = area.width();
    std::vector<Sum> sums(columns);
    std::vector<quint32> rowPixels(static_cast<size_t>(width));
    // Column sums over the rows of a band, two channels per 32-bit word
    // (16 bits each: 256 rows of 255 fit before a lane could overflow).
    std::vector<quint32> columnRB(static_cast<size_t>(width)), columnAG(static_cast<size_t>(width));
    auto flushColumns = [&] {
        for (size_t c = 0; c < columns; ++c) {
            Sum &s = sums[c];
            for (int x = columnEdges[c]; x < columnEdges[c + 1]; ++x) {
                s.b += columnRB[size_t(x)] & 0xffff;
                s.r += columnRB[size_t(x)] >> 16;
                s.g += columnAG[size_t(x)] & 0xffff;
                s.a += columnAG[size_t(x)] >> 16;
            }
        }
        std::fill(columnRB.begin(), columnRB.end(), 0);
        std::fill(columnAG.begin(), columnAG.end(), 0);
    };

    const int firstRowCell = (area.top() - region.top()) / cell;
    int bandTop = 0; // within the area
    int nextEdge = region.top() + (firstRowCell + 1) * cell - area.top();
    while (bandTop < area.height()) {
        const int bandBottom = std::min(nextEdge, area.height());
        std::fill(sums.begin(), sums.end(), Sum{});
        int rowsInColumns = 0;
        for (int y = bandTop; y < bandBottom; ++y) {
            const quint32 *line =
                reinterpret_cast<const quint32 *>(source->constScanLine(sourceOrigin.y() + y)) + sourceOrigin.x();
            quint32 *rb = columnRB.data();
            quint32 *ag = columnAG.data();
            int x = 0;
#ifdef __SSE2__
            const __m128i mask = _mm_set1_epi32(0x00ff00ff);
            for (; x + 4 <= width; x += 4) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(line + x));
                __m128i *prb = reinterpret_cast<__m128i *>(rb + x);
                __m128i *pag = reinterpret_cast<__m128i *>(ag + x);
                _mm_storeu_si128(prb, _mm_add_epi32(_mm_loadu_si128(prb), _mm_and_si128(v, mask)));
                _mm_storeu_si128(pag, _mm_add_epi32(_mm_loadu_si128(pag), _mm_and_si128(_mm_srli_epi32(v, 8), mask)));
            }
#endif
            for (; x < width; ++x) {
                rb[x] += line[x] & 0x00ff00ff;
                ag[x] += (line[x] >> 8) & 0x00ff00ff;
            }
            if (++rowsInColumns == 256) {
                flushColumns();
                rowsInColumns = 0;
            }
        }
        if (rowsInColumns > 0)
            flushColumns();
        const quint64 rows = quint64(bandBottom - bandTop);
        for (size_t c = 0; c < columns; ++c) {
            const quint64 n = rows * quint64(columnEdges[c + 1] - columnEdges[c]);
            const Sum &s = sums[c];
            const quint32 mean = quint32((s.b + n / 2) / n) | (quint32((s.g + n / 2) / n) << 8)
                                 | (quint32((s.r + n / 2) / n) << 16) | (quint32((s.a + n / 2) / n) << 24);
            std::fill(rowPixels.begin() + columnEdges[c], rowPixels.begin() + columnEdges[c + 1], mean);
        }
        for (int y = bandTop; y < bandBottom; ++y)
            std::memcpy(out.scanLine(y), rowPixels.data(), rowPixels.size() * sizeof(quint32));
        bandTop = bandBottom;
        nextEdge += cell;
    }
    out.setOffset(area.topLeft());
    return out;
}

} // namespace Pixellate

QImage PixellateCache::patch(const QImage &image, const QRect &region, int cell)
{
    if (image.cacheKey() != m_imageKey) {
        m_patches.clear();
        m_imageKey = image.cacheKey();
    }
    const Key key{region, cell};
    auto it = m_patches.find(key);
    if (it == m_patches.end()) {
        ++m_pixellations;
        it = m_patches.insert(key, Entry{Pixellate::pixellate(image, region, cell), false});
    }
    it->used = true;
    return it->patch;
}

void PixellateCache::beginFrame()
{
    m_inFrame = true;
    for (Entry &e : m_patches)
        e.used = false;
}

void PixellateCache::endFrame()
{
    if (!m_inFrame)
        return;
    m_inFrame = false;
    for (auto it = m_patches.begin(); it != m_patches.end();) {
        if (it->used)
            ++it;
        else
            it = m_patches.erase(it);
    }
}

void PixellateCache::clear()
{
    m_patches.clear();
    m_imageKey = 0;
}
