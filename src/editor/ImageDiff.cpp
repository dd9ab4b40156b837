#include "editor/ImageDiff.h"

#include "platform/ImageFileReader.h"

#include <QImageReader>

#include <QThread>
#include <sys/mman.h>
#include <QtConcurrent>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ImageDiff {

int thresholdByte(double threshold)
{
    if (!(threshold > 0.0)) // also NaN
        return 0;
    const double scaled = std::trunc(threshold * 255.0);
    return scaled >= 255.0 ? 255 : static_cast<int>(scaled);
}

void diffRowScalar(const uint32_t *a, const uint32_t *b, uint32_t *out, int n, int t)
{
    for (int i = 0; i < n; ++i) {
        const uint32_t pa = a[i];
        const uint32_t pb = b[i];
        const int ar = (pa >> 16) & 0xFF, ag = (pa >> 8) & 0xFF, ab = pa & 0xFF;
        const int dr = std::abs(ar - int((pb >> 16) & 0xFF));
        const int dg = std::abs(ag - int((pb >> 8) & 0xFF));
        const int db = std::abs(ab - int(pb & 0xFF));
        const int d = std::max(dr, std::max(dg, db));
        out[i] = d > t ? kDifferencePixel
                       : 0xFF000000u | uint32_t(ar / 3) << 16 | uint32_t(ag / 3) << 8 | uint32_t(ab / 3);
    }
}

void diffRow(const uint32_t *a, const uint32_t *b, uint32_t *out, int n, int t)
{
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i colourMask = _mm_set1_epi32(0x00FFFFFF);
    const __m128i opaque = _mm_set1_epi32(int(0xFF000000u));
    const __m128i red = _mm_set1_epi32(int(kDifferencePixel));
    const __m128i limit = _mm_set1_epi8(char(t));
    // x / 3 == (x * 171) >> 9 for every byte value x.
    const __m128i third = _mm_set1_epi16(171);
    // The result is written once and not read back soon: when the output is
    // 16-byte aligned, stores bypass the cache (no read of the old bytes).
    const bool stream = (reinterpret_cast<uintptr_t>(out) & 15) == 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i));
        const __m128i diff = _mm_and_si128(_mm_or_si128(_mm_subs_epu8(va, vb), _mm_subs_epu8(vb, va)), colourMask);
        // A byte of `over` is non-zero where that channel differs by more than t.
        const __m128i over = _mm_subs_epu8(diff, limit);
        const __m128i within = _mm_cmpeq_epi32(over, zero);
        const __m128i lo = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(va, zero), third), 9);
        const __m128i hi = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(va, zero), third), 9);
        const __m128i dark = _mm_or_si128(_mm_packus_epi16(lo, hi), opaque);
        const __m128i result = _mm_or_si128(_mm_and_si128(within, dark), _mm_andnot_si128(within, red));
        if (stream)
            _mm_stream_si128(reinterpret_cast<__m128i *>(out + i), result);
        else
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), result);
    }
    if (stream)
        _mm_sfence();
#endif
    diffRowScalar(a + i, b + i, out + i, n - i, t);
}

namespace {

// An input in the layout the loop reads: premultiplied ARGB. RGB32 has the
// same bytes with alpha 0xFF and is read as it is.
QImage asPremultiplied(const QImage &image)
{
    if (image.format() == QImage::Format_ARGB32_Premultiplied || image.format() == QImage::Format_RGB32)
        return image;
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// The output canvas. A screen-sized result is tens of megabytes that are
// written once: in 4 KiB pages the kernel's page faults cost more than the
// comparison itself, so the buffer is aligned for (and asks for) huge pages.
QImage allocateCanvas(int width, int height)
{
    const size_t bytesPerLine = size_t(width) * 4;
    if (width <= 0 || height <= 0 || bytesPerLine > size_t(std::numeric_limits<qsizetype>::max()) / size_t(height))
        return QImage();
    const size_t bytes = bytesPerLine * size_t(height);
    constexpr size_t kHugePage = size_t(2) << 20;
    if (bytes < kHugePage)
        return QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    const size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    void *data = std::aligned_alloc(kHugePage, rounded);
    if (!data)
        return QImage();
#ifdef MADV_HUGEPAGE
    madvise(data, rounded, MADV_HUGEPAGE);
#endif
    return QImage(static_cast<uchar *>(data), width, height, qsizetype(bytesPerLine),
                  QImage::Format_ARGB32_Premultiplied, [](void *p) { std::free(p); }, data);
}

struct Band
{
    int first;
    int end;
};

// One row of an input laid over the canvas: the image's own scan line when it
// covers the whole row, else a copy padded with zeros (or all zeros below it).
class RowSource
{
public:
    RowSource(const QImage &image, int canvasWidth) : m_image(image), m_width(canvasWidth) {}

    const uint32_t *row(int y)
    {
        if (y < m_image.height() && m_image.width() == m_width)
            return reinterpret_cast<const uint32_t *>(m_image.constScanLine(y));
        if (m_scratch.empty())
            m_scratch.assign(size_t(m_width), 0u);
        if (y < m_image.height()) {
            std::memcpy(m_scratch.data(), m_image.constScanLine(y), size_t(m_image.width()) * 4);
            m_copiedLast = true;
        } else if (m_copiedLast) {
            std::memset(m_scratch.data(), 0, size_t(m_image.width()) * 4);
            m_copiedLast = false;
        }
        return m_scratch.data();
    }

private:
    const QImage &m_image;
    int m_width;
    std::vector<uint32_t> m_scratch;
    bool m_copiedLast = false;
};

void runBand(const QImage &a, const QImage &b, QImage &out, int t, Band band)
{
    RowSource rowsA(a, out.width());
    RowSource rowsB(b, out.width());
    for (int y = band.first; y < band.end; ++y) {
        // scanLine() on a non-const image would detach; bits() was taken once.
        auto *target = reinterpret_cast<uint32_t *>(out.bits() + qsizetype(y) * out.bytesPerLine());
        diffRow(rowsA.row(y), rowsB.row(y), target, out.width(), t);
    }
}

} // namespace

bool resultFits(const QSize &a, const QSize &b)
{
    return ImageFileReader::fitsAllocationLimit(std::max(a.width(), b.width()), std::max(a.height(), b.height()));
}

QImage compute(const QImage &first, const QImage &second, double threshold, int threads)
{
    if (first.isNull() || second.isNull())
        return QImage();
    const QImage a = asPremultiplied(first);
    const QImage b = asPremultiplied(second);
    if (a.isNull() || b.isNull())
        return QImage();
    if (!resultFits(a.size(), b.size()))
        return QImage();
    const int width = std::max(a.width(), b.width());
    const int height = std::max(a.height(), b.height());
    QImage out = allocateCanvas(width, height);
    if (out.isNull())
        return QImage(); // too large to allocate
    out.bits(); // detach once, before the bands write into it
    const int t = thresholdByte(threshold);

    if (threads <= 0)
        threads = std::max(1, QThread::idealThreadCount());
    // A few bands per thread even out the cores' speeds; never fewer than
    // 64 rows per band.
    const int bandCount = std::clamp(height / 64, 1, threads == 1 ? 1 : threads * 4);
    if (bandCount == 1) {
        runBand(a, b, out, t, {0, height});
        return out;
    }
    QList<Band> bands;
    bands.reserve(bandCount);
    for (int i = 0; i < bandCount; ++i)
        bands.append({int(qint64(height) * i / bandCount), int(qint64(height) * (i + 1) / bandCount)});
    QtConcurrent::blockingMap(bands, [&](const Band &band) { runBand(a, b, out, t, band); });
    return out;
}

QImage loadImage(const QString &path)
{
    return ImageFileReader::read(path);
}

void raiseAllocationLimit()
{
    ImageFileReader::raiseAllocationLimit();
}

} // namespace ImageDiff

QImage computeImageDiff(const QImage &a, const QImage &b, double threshold)
{
    return ImageDiff::compute(a, b, threshold);
}
