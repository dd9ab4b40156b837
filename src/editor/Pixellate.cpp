#include "editor/Pixellate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

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
    std::vector<Sum> sums(columns);
    std::vector<quint32> rowPixels(size_t(area.width()));

    const int firstRowCell = (area.top() - region.top()) / cell;
    int bandTop = 0; // within the area
    int nextEdge = region.top() + (firstRowCell + 1) * cell - area.top();
    while (bandTop < area.height()) {
        const int bandBottom = std::min(nextEdge, area.height());
        std::fill(sums.begin(), sums.end(), Sum{});
        for (int y = bandTop; y < bandBottom; ++y) {
            const quint32 *line =
                reinterpret_cast<const quint32 *>(source->constScanLine(sourceOrigin.y() + y)) + sourceOrigin.x();
            for (size_t c = 0; c < columns; ++c) {
                quint32 b = 0, g = 0, r = 0, a = 0;
                const quint32 *p = line + columnEdges[c];
                const quint32 *end = line + columnEdges[c + 1];
                for (; p < end; ++p) {
                    const quint32 v = *p;
                    b += v & 0xff;
                    g += (v >> 8) & 0xff;
                    r += (v >> 16) & 0xff;
                    a += v >> 24;
                }
                Sum &s = sums[c];
                s.b += b;
                s.g += g;
                s.r += r;
                s.a += a;
            }
        }
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
