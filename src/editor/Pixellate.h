#pragma once

#include <QHash>
#include <QImage>
#include <QRect>

// The blur tool's filter: square cells, each filled with the mean colour of
// the image pixels inside it.
namespace Pixellate {

// The smallest cell side, in image pixels. Smaller cells leave text legible.
inline constexpr int minimumCellSize = 8;

// The cell side for a region of the given size in image pixels: a tenth of
// its larger side, never below minimumCellSize.
int cellSizeFor(const QSize &regionPixels);

// Pixellates the part of `region` (image pixels, may reach past the image)
// that lies on `image`. The grid of cells of side `cell` is anchored at the
// region's own top-left corner, so a region dragged past an edge keeps its
// cells where the user put them; cells cut by the edge take the mean of
// their part on the image. Returns a patch the size of region ∩ image (a
// null image when they do not meet or the cell is below 1); its offset()
// is that intersection's top-left.
QImage pixellate(const QImage &image, const QRect &region, int cell);

} // namespace Pixellate

// Finished blur patches, so that a redraw only blits what is already
// pixellated. Patches belong to one image (by QImage::cacheKey); showing a
// different image drops them. A frame marks what it used; endFrame() drops
// the rest, so patches of blurs that moved or went away do not pile up.
class PixellateCache
{
public:
    // The patch for the region and cell size on this image, made when missing.
    QImage patch(const QImage &image, const QRect &region, int cell);

    void beginFrame();
    void endFrame();
    void clear();

    // How many patches have been computed since the cache was made.
    int pixellationCount() const { return m_pixellations; }
    int size() const { return int(m_patches.size()); }

private:
    struct Key
    {
        QRect region;
        int cell = 0;
        bool operator==(const Key &o) const { return region == o.region && cell == o.cell; }
    };
    friend size_t qHash(const Key &k, size_t seed)
    {
        return qHashMulti(seed, k.region.x(), k.region.y(), k.region.width(), k.region.height(), k.cell);
    }
    struct Entry
    {
        QImage patch;
        bool used = false;
    };
    qint64 m_imageKey = 0;
    QHash<Key, Entry> m_patches;
    bool m_inFrame = false;
    int m_pixellations = 0;
};
