#include "capture/ScrollCaptureService.h"

#include "platform/ImageFileReader.h"
#include "platform/Log.h"
#include "platform/ScreenCapture.h"
#include "platform/SyntheticInput.h"

#include <QFutureWatcher>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QtConcurrent>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <vector>

#if defined(Q_OS_LINUX)
#include <sys/mman.h>
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

QPointF primaryOrigin()
{
    QScreen *primary = QGuiApplication::primaryScreen();
    return primary ? QPointF(primary->geometry().topLeft()) : QPointF();
}

// The frames are compared as 8-bit RGBA with premultiplied alpha. Qt's
// ARGB32_Premultiplied (and RGB32, which is the same for opaque pixels) holds
// the same values in a 32-bit word per pixel; only the red byte is ever
// sampled, so it is enough to know where it lies in memory.
constexpr int redByte = (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) ? 2 : 1;

QImage asPremultiplied32(const QImage &image)
{
    if (image.format() == QImage::Format_ARGB32_Premultiplied || image.format() == QImage::Format_RGB32)
        return image;
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// --- Overlap search -------------------------------------------------------
//
// A candidate overlap k matches the n rows of the previous frame that begin
// k rows above its bottom edge against the n top rows of the next frame. Its
// score is the sum of the absolute differences of every 8th byte of those
// rows (the red byte of every second pixel). The best candidate is the one
// with the smallest score (the smaller overlap on a tie), accepted when its
// score is below n x width / 2.
//
// Scores are sums of non-negative terms, so any part of a score is a lower
// bound of the whole. The search first scores every candidate on one column
// block (16 pixels) where the next frame's top rows vary most, then completes
// the candidates in the order of those partial scores, dropping a candidate
// as soon as its partial score shows it can be neither accepted nor better
// than the best so far. The result is the same as scoring every candidate in
// full; in practice the true overlap comes first and almost nothing else is
// read beyond the one column block.

constexpr int blockPixels = 16; // 64 bytes: one cache line, 8 samples

struct SamplingRows
{
    const uchar *bits = nullptr;
    qsizetype bytesPerLine = 0;
    const uchar *row(int y) const { return bits + y * bytesPerLine; }
};

inline quint64 tailScore(const uchar *a, const uchar *b, int fromPixel, int toPixel)
{
    quint64 sum = 0;
    for (int x = fromPixel; x < toPixel; x += 2) {
        const int d = int(a[x * 4 + redByte]) - int(b[x * 4 + redByte]);
        sum += quint64(d < 0 ? -d : d);
    }
    return sum;
}

#if defined(__SSE2__) && Q_BYTE_ORDER == Q_LITTLE_ENDIAN
// Sum of |a - b| over the red bytes of pixels 0, 2, ..., 14 of a block.
inline __m128i blockScore(const uchar *a, const uchar *b, __m128i mask)
{
    const __m128i *pa = reinterpret_cast<const __m128i *>(a);
    const __m128i *pb = reinterpret_cast<const __m128i *>(b);
    __m128i s = _mm_sad_epu8(_mm_and_si128(_mm_loadu_si128(pa), mask), _mm_and_si128(_mm_loadu_si128(pb), mask));
    s = _mm_add_epi64(s, _mm_sad_epu8(_mm_and_si128(_mm_loadu_si128(pa + 1), mask),
                                      _mm_and_si128(_mm_loadu_si128(pb + 1), mask)));
    s = _mm_add_epi64(s, _mm_sad_epu8(_mm_and_si128(_mm_loadu_si128(pa + 2), mask),
                                      _mm_and_si128(_mm_loadu_si128(pb + 2), mask)));
    s = _mm_add_epi64(s, _mm_sad_epu8(_mm_and_si128(_mm_loadu_si128(pa + 3), mask),
                                      _mm_and_si128(_mm_loadu_si128(pb + 3), mask)));
    return s;
}

// Score of n rows over one block column starting at byte offset.
inline quint64 columnScore(const SamplingRows &prev, int prevTop, const SamplingRows &next, int n, qsizetype offset)
{
    // Bytes 2 and 10 of each 16: the red bytes of the first and third pixel.
    const __m128i mask = _mm_set_epi8(0, 0, 0, 0, 0, -1, 0, 0, 0, 0, 0, 0, 0, -1, 0, 0);
    __m128i acc = _mm_setzero_si128();
    for (int j = 0; j < n; ++j)
        acc = _mm_add_epi64(acc, blockScore(prev.row(prevTop + j) + offset, next.row(j) + offset, mask));
    return quint64(_mm_cvtsi128_si64(acc)) + quint64(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)));
}

inline void prefetchRow(const uchar *p)
{
    _mm_prefetch(reinterpret_cast<const char *>(p), _MM_HINT_T0);
}
#else
inline quint64 columnScore(const SamplingRows &prev, int prevTop, const SamplingRows &next, int n, qsizetype offset)
{
    const int first = int(offset / 4);
    quint64 sum = 0;
    for (int j = 0; j < n; ++j)
        sum += tailScore(prev.row(prevTop + j), next.row(j), first, first + blockPixels);
    return sum;
}

inline void prefetchRow(const uchar *) {}
#endif

// Block columns in an order that strides across the row.
std::vector<int> blockOrder(int blocks)
{
    std::vector<int> order(size_t(std::max(blocks, 0)));
    if (blocks <= 2) {
        std::iota(order.begin(), order.end(), 0);
        return order;
    }
    int stride = std::max(1, int(std::lround(blocks * 0.618)));
    while (std::gcd(stride, blocks) != 1)
        ++stride;
    for (int i = 0; i < blocks; ++i)
        order[size_t(i)] = int((qint64(i) * stride) % blocks);
    return order;
}

// The block column whose samples in the next frame's top n rows spread the
// most: the one that tells candidates apart best.
int mostVariedBlock(const SamplingRows &next, int n, int blocks)
{
    int best = 0;
    qint64 bestSpread = -1;
    for (int block = 0; block < blocks; ++block) {
        qint64 sum = 0, sumSquares = 0, count = 0;
        for (int j = 0; j < n; ++j) {
            const uchar *row = next.row(j) + qsizetype(block) * blockPixels * 4;
            for (int x = 0; x < blockPixels; x += 2) {
                const int v = row[x * 4 + redByte];
                sum += v;
                sumSquares += v * v;
                ++count;
            }
        }
        const qint64 spread = count * sumSquares - sum * sum;
        if (spread > bestSpread) {
            bestSpread = spread;
            best = block;
        }
    }
    return best;
}

// --- Bands that change between frames -----------------------------------------
//
// A narrow band of the region may change between two frames in a way no
// scroll explains: the page's own scroll bar, whose thumb moves down while
// the page moves up; a button that floats over the page and stays put; a
// caret that blinks. Where such a band lies in the compared rows it adds to
// the score of the true overlap, and on a page whose lines look alike but
// for a few marks (a log and its line numbers) an overlap some lines off can
// then score better, or no overlap be accepted at all.
//
// So an overlap found whose compared rows do not match exactly is checked
// against the rows the two frames then share, down to 256 rows (every fourth
// row, the same bytes sampled): on such a page an overlap some lines off
// shows there in the marks that tell the lines apart. A column disagrees when its samples differ by a quarter or more on
// average. When every column agrees, the overlap stands. Otherwise the search
// is made again past such a band, over all the shared rows:
//   1. The candidates are the overlaps whose compared rows agree once their
//      worst columns, at most an eighth of the width, are left out.
//   2. The band is the set of columns that disagree at some candidate and
//      that no candidate explains: a candidate explains a column where the
//      column agrees and shows more than one row repeated (a scroll bar's
//      track agrees with any overlap that misses its thumb). It may take at
//      most an eighth of the width.
//   3. The candidate whose shared rows outside the band differ least per
//      sample wins, the smaller overlap on a tie, when it stays below an
//      average difference of 1 per sample as above.
// When there is no such band, it is too wide, or no candidate is accepted,
// the overlap first found stands. Frames that agree where they overlap never
// get this far.

// The columns a frame's rows are scored in: whole blocks, then the narrower
// rest at the right edge as a column of its own.
struct ColumnLayout
{
    int width = 0;
    int blocks = 0;
    int tailFrom = 0;
    int count() const { return blocks + (tailFrom < width ? 1 : 0); }
    // Sampled bytes of one row of a column.
    int samples(int column) const { return column < blocks ? blockPixels / 2 : (width - tailFrom + 1) / 2; }
};

constexpr int sharedRowStep = 4;
constexpr int checkedSharedRows = 256;
constexpr size_t mostCandidatesPastBand = 128;
constexpr int mostBandColumns = 16;

inline quint64 rowBlockScore(const uchar *a, const uchar *b, qsizetype offset)
{
#if defined(__SSE2__) && Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    const __m128i mask = _mm_set_epi8(0, 0, 0, 0, 0, -1, 0, 0, 0, 0, 0, 0, 0, -1, 0, 0);
    const __m128i s = blockScore(a + offset, b + offset, mask);
    return quint64(_mm_cvtsi128_si64(s)) + quint64(_mm_cvtsi128_si64(_mm_unpackhi_epi64(s, s)));
#else
    const int first = int(offset / 4);
    return tailScore(a, b, first, first + blockPixels);
#endif
}

// Per column, the score of every fourth of the first rows (at most k) of
// next against the rows of previous they repeat at overlap k.
std::vector<quint64> sharedRowScores(const SamplingRows &prev, int ha, const SamplingRows &next, int k, int rows,
                                     const ColumnLayout &columns)
{
    std::vector<quint64> scores(size_t(columns.count()), 0);
    for (int j = 0; j < rows; j += sharedRowStep) {
        const uchar *a = prev.row(ha - k + j);
        const uchar *b = next.row(j);
        for (int block = 0; block < columns.blocks; ++block)
            scores[size_t(block)] += rowBlockScore(a, b, qsizetype(block) * blockPixels * 4);
        if (columns.tailFrom < columns.width)
            scores.back() += tailScore(a, b, columns.tailFrom, columns.width);
    }
    return scores;
}

int sharedRowsScored(int rows)
{
    return (rows + sharedRowStep - 1) / sharedRowStep;
}

// A column disagrees when its samples differ by a quarter or more on average.
bool columnDisagrees(const std::vector<quint64> &scores, int column, int rows, const ColumnLayout &columns)
{
    return scores[size_t(column)] * 4 >= quint64(sharedRowsScored(rows)) * quint64(columns.samples(column));
}

int searchPastChangingBand(const SamplingRows &prevRows, int ha, const SamplingRows &nextRows, int n, int first,
                           int last, const ColumnLayout &columns)
{
    const int count = columns.count();
    // The band: at most an eighth of the width (some 3 columns in a narrow
    // region) and never more than 16 columns, 128 points at two pixels each.
    const int widest = std::min(mostBandColumns, std::max(count / 8, std::min(3, count / 4)));
    if (widest <= 0 || n <= 0)
        return 0;

    // 1. The candidates: scores of the compared rows without their worst
    // columns. Leaving out the worst columns of those seen so far gives a
    // lower bound of that score, which only grows as more columns are seen.
    if (columns.width <= widest * blockPixels)
        return 0;
    const quint64 threshold = quint64(qint64(n) * (columns.width - widest * blockPixels) / 2);
    std::vector<int> order = blockOrder(columns.blocks);
    if (columns.tailFrom < columns.width)
        order.push_back(columns.blocks);
    std::vector<int> candidates;
    std::vector<quint64> worst; // ascending, at most widest
    for (int k = first; k <= last; ++k) {
        const int prevTop = ha - k;
        quint64 sum = 0, worstSum = 0;
        worst.clear();
        bool dropped = false;
        for (int col : order) {
            quint64 score = 0;
            if (col < columns.blocks) {
                score = columnScore(prevRows, prevTop, nextRows, n, qsizetype(col) * blockPixels * 4);
            } else {
                for (int j = 0; j < n; ++j)
                    score += tailScore(prevRows.row(prevTop + j), nextRows.row(j), columns.tailFrom, columns.width);
            }
            sum += score;
            if (int(worst.size()) < widest) {
                worst.insert(std::upper_bound(worst.begin(), worst.end(), score), score);
                worstSum += score;
            } else if (score > worst.front()) {
                worstSum += score - worst.front();
                worst.erase(worst.begin());
                worst.insert(std::upper_bound(worst.begin(), worst.end(), score), score);
            }
            if (sum - worstSum >= threshold) {
                dropped = true;
                break;
            }
        }
        if (!dropped) {
            candidates.push_back(k);
            if (candidates.size() > mostCandidatesPastBand)
                return 0; // too many alike to tell apart this way
        }
    }
    if (candidates.empty())
        return 0;

    // 2. The band: the columns that disagree at some candidate and that no
    // candidate explains. A column that agrees where it shows nothing but one
    // row over and over (a scroll bar's track above its thumb) explains
    // nothing. How much each column of next varies from its top row, summed
    // down the rows scored, tells that.
    const int lastCandidate = candidates.back();
    std::vector<quint64> variation(size_t(sharedRowsScored(lastCandidate) + 1) * size_t(count), 0);
    for (int j = sharedRowStep, r = 1; j < lastCandidate; j += sharedRowStep, ++r) {
        const uchar *top = nextRows.row(0);
        const uchar *row = nextRows.row(j);
        quint64 *sums = &variation[size_t(r + 1) * size_t(count)];
        const quint64 *before = &variation[size_t(r) * size_t(count)];
        for (int block = 0; block < columns.blocks; ++block)
            sums[block] = before[block] + rowBlockScore(top, row, qsizetype(block) * blockPixels * 4);
        if (columns.tailFrom < columns.width)
            sums[count - 1] = before[count - 1] + tailScore(top, row, columns.tailFrom, columns.width);
    }
    auto showsOneRow = [&](int k, int col) {
        const int rows = sharedRowsScored(k);
        return variation[size_t(rows) * size_t(count) + size_t(col)] * 4
            < quint64(rows) * quint64(columns.samples(col));
    };
    std::vector<std::vector<quint64>> shared;
    shared.reserve(candidates.size());
    std::vector<bool> disagreed(size_t(count), false), explained(size_t(count), false);
    for (int k : candidates) {
        shared.push_back(sharedRowScores(prevRows, ha, nextRows, k, k, columns));
        for (int col = 0; col < count; ++col) {
            if (columnDisagrees(shared.back(), col, k, columns))
                disagreed[size_t(col)] = true;
            else if (!showsOneRow(k, col))
                explained[size_t(col)] = true;
        }
    }
    std::vector<bool> band(size_t(count), false);
    for (int col = 0; col < count; ++col)
        band[size_t(col)] = disagreed[size_t(col)] && !explained[size_t(col)];
    if (std::count(band.begin(), band.end(), true) > widest)
        return 0;

    // 3. The best candidate outside the band.
    quint64 outsideSamples = 0;
    for (int col = 0; col < count; ++col)
        if (!band[size_t(col)])
            outsideSamples += quint64(columns.samples(col));
    int bestK = 0;
    quint64 bestScore = 0, bestSamples = 1;
    for (size_t i = 0; i < candidates.size(); ++i) {
        quint64 score = 0;
        for (int col = 0; col < count; ++col)
            if (!band[size_t(col)])
                score += shared[i][size_t(col)];
        const quint64 samples = quint64(sharedRowsScored(candidates[i])) * outsideSamples;
        if (score >= samples)
            continue;
        // score / samples < bestScore / bestSamples, without division.
        if (bestK == 0 || score * bestSamples < bestScore * samples) {
            bestK = candidates[i];
            bestScore = score;
            bestSamples = samples;
        }
    }
    return bestK;
}

int searchOverlap(const QImage &previous, const QImage &next)
{
    const int width = std::min(previous.width(), next.width());
    const int ha = previous.height();
    const int hb = next.height();
    if (width <= 0 || ha <= 0 || hb <= 0)
        return 0;

    // A wider frame is squeezed to the narrower width first.
    auto prepare = [width](const QImage &image) {
        QImage out = image.width() == width
            ? image
            : image.scaled(width, image.height(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        return asPremultiplied32(out);
    };
    const QImage a = prepare(previous);
    const QImage b = prepare(next);
    if (a.isNull() || b.isNull())
        return 0;

    int n;
    if (ha >= 160 && hb >= 160)
        n = 40;
    else if (ha >= 160)
        n = hb / 4;
    else
        n = std::min(hb / 4, ha / 4);

    // Every overlap the two frames can share: from n rows (fewer cannot be
    // scored) up to the whole of the shorter frame. One wheel notch moves a
    // page by much less than a quarter of a tall region, so large overlaps are
    // the common case.
    const int first = n;
    int last = std::min(ha, hb);
    // The whole of the shorter frame repeats only when those rows are the
    // same: frames that differ always add at least one row.
    for (int j = 0; j < last; ++j) {
        if (std::memcmp(a.constScanLine(ha - last + j), b.constScanLine(j), size_t(width) * 4) != 0) {
            --last;
            break;
        }
    }
    const quint64 threshold = quint64(qint64(n) * width / 2);
    if (first > last)
        return 0;

    const SamplingRows prevRows{a.constBits(), a.bytesPerLine()};
    const SamplingRows nextRows{b.constBits(), b.bytesPerLine()};
    const int blocks = width / blockPixels;
    const int tailFrom = blocks * blockPixels;

    // Pass 1: every candidate on the most telling block column.
    struct Candidate
    {
        quint64 partial;
        int k;
    };
    std::vector<Candidate> candidates;
    candidates.reserve(size_t(last - first + 1));
    const int probe = blocks > 0 ? mostVariedBlock(nextRows, n, blocks) : -1;
    const qsizetype probeOffset = qsizetype(std::max(probe, 0)) * blockPixels * 4;
    for (int k = first; k <= last; ++k) {
        const int prevTop = ha - k;
        if (prevTop >= 8)
            prefetchRow(prevRows.row(prevTop - 8) + probeOffset);
        candidates.push_back({probe >= 0 ? columnScore(prevRows, prevTop, nextRows, n, probeOffset) : 0, k});
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate &x, const Candidate &y) {
        return x.partial != y.partial ? x.partial < y.partial : x.k < y.k;
    });

    // Pass 2: complete the candidates, most promising first. A candidate is
    // beaten once its partial score reaches the threshold, exceeds the best
    // score, or equals it with a larger overlap.
    std::vector<int> order = blockOrder(blocks);
    order.erase(std::remove(order.begin(), order.end(), probe), order.end());
    quint64 bestScore = threshold;
    int bestK = -1;
    auto beaten = [&](quint64 partial, int k) {
        return partial >= threshold || partial > bestScore || (partial == bestScore && (bestK < 0 || k > bestK));
    };
    for (const Candidate &c : candidates) {
        if (beaten(c.partial, c.k)) {
            if (c.partial > bestScore)
                break; // the rest start higher still
            continue;
        }
        const int prevTop = ha - c.k;
        quint64 score = c.partial;
        bool dropped = false;
        for (int block : order) {
            score += columnScore(prevRows, prevTop, nextRows, n, qsizetype(block) * blockPixels * 4);
            if (beaten(score, c.k)) {
                dropped = true;
                break;
            }
        }
        if (dropped)
            continue;
        for (int j = 0; j < n && tailFrom < width; ++j)
            score += tailScore(prevRows.row(prevTop + j), nextRows.row(j), tailFrom, width);
        if (!beaten(score, c.k)) {
            bestScore = score;
            bestK = c.k;
        }
    }

    // The overlap found stands when its compared rows match exactly, or when
    // every column agrees over the rows the frames then share; else a band
    // may have misled the search.
    if (bestK > 0 && bestScore == 0)
        return bestK;
    const ColumnLayout columns{width, blocks, tailFrom};
    if (bestK > 0) {
        const int rows = std::min(bestK, checkedSharedRows);
        const std::vector<quint64> shared = sharedRowScores(prevRows, ha, nextRows, bestK, rows, columns);
        bool agree = true;
        for (int col = 0; col < columns.count() && agree; ++col)
            agree = !columnDisagrees(shared, col, rows, columns);
        if (agree)
            return bestK;
    }
    const int pastBand = searchPastChangingBand(prevRows, ha, nextRows, n, first, last, columns);
    if (pastBand > 0)
        return pastBand;
    return bestK < 0 ? 0 : bestK;
}

// --- Static bands -----------------------------------------------------------
//
// A sticky header or footer (a tool bar, a table header) stays put while the
// content between them scrolls. Those rows are the same in every frame; left
// in the overlap search they make every frame look like a copy of the one
// before. They are found first, laid on the canvas once (the header from the
// first frame, the footer from the last) and the search runs on the rows
// between them.
//
// Rows of scrolling content that happen to look the same in every frame (a
// blank margin) may be taken for a band. That is harmless: the first frame's
// top rows and the last frame's bottom rows are the page's own, and every
// other row of the page still shows in the moving rows of some frame, as
// long as one scroll step moves the content by less than the moving rows.
// The bands may therefore take at most half of the frame.

// Two rows look the same when at most one pixel in 64 differs (a blinking
// caret in a header does not split it).
bool rowsLookSame(const uchar *a, const uchar *b, int width)
{
    const quint32 *pa = reinterpret_cast<const quint32 *>(a);
    const quint32 *pb = reinterpret_cast<const quint32 *>(b);
    const int allowed = width / 64;
    int differing = 0;
    for (int x = 0; x < width; ++x)
        if (pa[x] != pb[x] && ++differing > allowed)
            return false;
    return true;
}

struct StaticBands
{
    int header = 0;
    int footer = 0;
};

// The rows at the top and at the bottom that look the same in every pair of
// neighbouring frames; none when the frames differ in size or format, or when
// the bands would leave less than half of the frame to scroll. A pair of
// frames that look the same throughout tells nothing and is passed over.
StaticBands findStaticBands(const QList<QImage> &frames)
{
    if (frames.size() < 2)
        return {};
    const QSize size = frames.first().size();
    const QImage::Format format = frames.first().format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied
        && format != QImage::Format_ARGB32)
        return {};
    if (!std::all_of(frames.begin(), frames.end(),
                     [&](const QImage &f) { return f.size() == size && f.format() == format; }))
        return {};
    const int width = size.width();
    const int height = size.height();
    int header = height;
    int footer = height;
    bool anyMoved = false;
    for (qsizetype i = 0; i + 1 < frames.size(); ++i) {
        const QImage &a = frames[i];
        const QImage &b = frames[i + 1];
        int top = 0;
        while (top < std::min(header, height) && rowsLookSame(a.constScanLine(top), b.constScanLine(top), width))
            ++top;
        if (top == height)
            continue; // nothing moved between these two
        int bottom = 0;
        while (bottom < footer && height - 1 - bottom > top
               && rowsLookSame(a.constScanLine(height - 1 - bottom), b.constScanLine(height - 1 - bottom), width))
            ++bottom;
        // The header scan stopped early only where an earlier pair already
        // set a smaller header, so the minimum is kept either way.
        header = std::min(header, top);
        footer = std::min(footer, bottom);
        anyMoved = true;
    }
    if (!anyMoved || header + footer > height / 2)
        return {};
    return {header, footer};
}

// Rows [top, top + rows) of frame, sharing its memory.
QImage frameRows(const QImage &frame, int top, int rows)
{
    QImage view(frame.constScanLine(top), frame.width(), rows, frame.bytesPerLine(), frame.format());
    return view;
}

// --- Stitching --------------------------------------------------------------

// The general case: frames of different widths or with translucent pixels,
// drawn one over the other.
std::optional<QImage> composeFrames(const QList<QImage> &frames, const std::vector<int> &tops, int height)
{
    QImage canvas(frames.first().width(), height, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return std::nullopt;
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    for (qsizetype i = 0; i < frames.size(); ++i) {
        QImage frame = frames[i];
        frame.setDevicePixelRatio(1.0);
        painter.drawImage(QPoint(0, tops[size_t(i)]), frame);
    }
    painter.end();
    return canvas;
}

// A large image of fresh memory. The canvas of a long capture runs to a
// hundred megabytes; asking the kernel for huge pages spares most of the page
// faults of filling it.
QImage allocateCanvas(int width, int height, QImage::Format format)
{
    const qsizetype bytesPerLine = qsizetype(width) * 4;
    const size_t bytes = size_t(bytesPerLine) * size_t(height);
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    constexpr size_t hugePage = size_t(2) << 20;
    if (bytes >= 4 * hugePage) {
        const size_t rounded = (bytes + hugePage - 1) / hugePage * hugePage;
        void *memory = std::aligned_alloc(hugePage, rounded);
        if (!memory)
            return QImage();
        madvise(memory, rounded, MADV_HUGEPAGE);
        return QImage(static_cast<uchar *>(memory), width, height, bytesPerLine, format, std::free, memory);
    }
#endif
    return QImage(width, height, format);
}

bool rowIsOpaque(const uchar *row, int width)
{
    const quint32 *px = reinterpret_cast<const quint32 *>(row);
    for (int x = 0; x < width; ++x)
        if (qAlpha(px[x]) != 255)
            return false;
    return true;
}

} // namespace

ScrollCaptureService::ScrollCaptureService(QObject *parent)
    : QObject(parent)
{
}

ScrollCaptureService::~ScrollCaptureService() = default;

void ScrollCaptureService::startScrollCapture(const QRectF &region, Completion completion)
{
    if (m_isRunning)
        return;
    m_region = region;
    m_captures.clear();
    m_isRunning = true;
    m_completion = std::move(completion);
    QTimer::singleShot(0, this, [this] {
        const QSize pixels(int(std::trunc(m_region.width())) * 2, int(std::trunc(m_region.height())) * 2);
        if (m_frameGrabber || pixels.isEmpty()) {
            if (std::optional<QImage> frame = captureScrollFrame(m_region))
                m_captures.append(*frame);
            runScrollLoop(maximumScrollSteps);
            return;
        }
        // The first frame follows the hiding of the region overlay: it is
        // read off this thread, once the overlay and any fade of it are gone
        // from the screen.
        ScreenCapture::current()
            .captureRectInBackground(m_region.translated(primaryOrigin()), pixels, false)
            .then(this, [this](const CapturedImage &captured) {
                if (!captured.image.isNull()) {
                    QImage frame = captured.image;
                    frame.setDevicePixelRatio(2);
                    m_captures.append(frame);
                }
                runScrollLoop(maximumScrollSteps);
            });
    });
}

std::optional<QImage> ScrollCaptureService::captureScrollFrame(const QRectF &rect) const
{
    if (m_frameGrabber)
        return m_frameGrabber(rect);
    // Whole points, two pixels each, without the pointer.
    const QSize pixels(int(std::trunc(rect.width())) * 2, int(std::trunc(rect.height())) * 2);
    if (pixels.isEmpty())
        return std::nullopt;
    QImage frame = ScreenCapture::current().captureRect(rect.translated(primaryOrigin()), pixels, false);
    if (frame.isNull())
        return std::nullopt;
    frame.setDevicePixelRatio(2);
    return frame;
}

void ScrollCaptureService::runScrollLoop(int remaining)
{
    if (remaining == 0) {
        finishScrollCapture();
        return;
    }
    const QPointF centre = m_region.center();
    if (m_scrollPoster)
        m_scrollPoster(centre);
    else
        SyntheticInput::scrollWheelNotch(centre + primaryOrigin());

    QTimer::singleShot(m_scrollWaitMs, Qt::PreciseTimer, this, [this, remaining] {
        std::optional<QImage> frame = captureScrollFrame(m_region);
        if (!frame) {
            finishScrollCapture();
            return;
        }
        if (!m_captures.isEmpty() && framesLookIdentical(m_captures.last(), *frame)) {
            finishScrollCapture();
            return;
        }
        m_captures.append(*frame);
        runScrollLoop(remaining - 1);
    });
}

void ScrollCaptureService::finishScrollCapture()
{
    if (!m_isRunning)
        return;
    m_isRunning = false;
    Completion completion = std::exchange(m_completion, Completion());
    QList<QImage> frames = std::exchange(m_captures, QList<QImage>());

    auto *watcher = new QFutureWatcher<std::optional<QImage>>(this);
    connect(watcher, &QFutureWatcher<std::optional<QImage>>::finished, this, [watcher, completion] {
        std::optional<QImage> result = watcher->result();
        watcher->deleteLater();
        if (completion)
            completion(std::move(result));
    });
    watcher->setFuture(QtConcurrent::run([frames = std::move(frames)] { return stitchScrollFrames(frames); }));
}

bool ScrollCaptureService::framesLookIdentical(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return false;
    const int width = a.width();
    const int height = a.height();
    const int strip = std::min(height, 60);
    const int c = std::max(0, (height - strip) / 2);
    // The strip's rows, counted from the top.
    const int firstRow = height - c - strip;
    if (width <= 0 || strip <= 0)
        return false; // no bitmap to compare

    const QImage pa = asPremultiplied32(a.copy(0, firstRow, width, strip));
    const QImage pb = asPremultiplied32(b.copy(0, firstRow, width, strip));
    if (pa.isNull() || pb.isNull())
        return false;
    // Every 16th byte of the RGBA rows: the red byte of every fourth pixel,
    // counted across the strip as one run of bytes.
    int differing = 0;
    const qsizetype total = qsizetype(4) * width * strip;
    for (qsizetype offset = 0; offset < total; offset += 16) {
        const int pixel = int(offset / 4);
        const int y = pixel / width;
        const int x = pixel % width;
        if (pa.constScanLine(y)[x * 4 + redByte] != pb.constScanLine(y)[x * 4 + redByte])
            ++differing;
    }
    return differing < 5;
}

int ScrollCaptureService::findScrollOverlap(const QImage &previous, const QImage &next)
{
    return searchOverlap(previous, next);
}

std::optional<QImage> ScrollCaptureService::stitchScrollFrames(const QList<QImage> &input)
{
    if (input.isEmpty())
        return std::nullopt;
    if (input.size() == 1) {
        QImage only = input.first();
        if (only.isNull())
            return std::nullopt;
        only.setDevicePixelRatio(1.0);
        return only;
    }

    // The pieces laid on the canvas, top to bottom: a static header once,
    // the moving rows of every frame, a static footer once. The overlaps of
    // neighbouring moving pieces are independent: search them side by side.
    const StaticBands bands = findStaticBands(input);
    QList<QImage> frames;
    frames.reserve(input.size() + 2);
    if (bands.header > 0)
        frames.append(frameRows(input.first(), 0, bands.header));
    const qsizetype firstMoving = frames.size();
    for (const QImage &frame : input) {
        if (bands.header == 0 && bands.footer == 0)
            frames.append(frame);
        else
            frames.append(frameRows(frame, bands.header, frame.height() - bands.header - bands.footer));
    }
    const qsizetype lastMoving = frames.size() - 1;
    if (bands.footer > 0)
        frames.append(frameRows(input.last(), input.last().height() - bands.footer, bands.footer));

    QList<int> pairs(frames.size() - 1);
    std::iota(pairs.begin(), pairs.end(), 0);
    const QList<int> overlaps = QtConcurrent::blockingMapped(pairs, [&](int i) {
        if (i < firstMoving || i + 1 > lastMoving)
            return 0; // a band meets the moving rows edge to edge
        return searchOverlap(frames[i], frames[i + 1]);
    });

    // Top edge of each frame on the canvas.
    std::vector<int> tops(size_t(frames.size()));
    qint64 height = frames.first().height();
    tops[0] = 0;
    for (qsizetype i = 0; i + 1 < frames.size(); ++i) {
        tops[size_t(i + 1)] = tops[size_t(i)] + frames[i].height() - overlaps[i];
        height += frames[i + 1].height() - overlaps[i];
    }
    if (height <= 0)
        return std::nullopt;
    // A picture larger than Vorna reads back would be lost the first time
    // it is read again: the capture is cut there, and the frames that begin
    // below the cut are left out.
    const qint64 mostRows =
        std::min<qint64>(std::numeric_limits<int>::max() / 4,
                         ImageFileReader::largestImageBytes / (qint64(std::max(1, frames.first().width())) * 4));
    if (height > mostRows) {
        vlog(QStringLiteral("[Vorna] stitchScrollFrames: %1 rows cut to %2, the largest picture kept")
                 .arg(height)
                 .arg(mostRows));
        height = mostRows;
        while (tops.back() >= height) {
            tops.pop_back();
            frames.removeLast();
        }
    }

    // Common case: frames of one width and one pixel format, opaque. Each
    // canvas row then comes from the last frame that covers it, copied once.
    const QImage::Format format = frames.first().format();
    const int width = frames.first().width();
    const bool uniform = (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied)
        && std::all_of(frames.begin(), frames.end(),
                       [&](const QImage &f) { return f.width() == width && f.format() == format; });
    if (!uniform)
        return composeFrames(frames, tops, int(height));

    QImage canvas = allocateCanvas(width, int(height), format);
    if (canvas.isNull())
        return std::nullopt;
    // Each frame's rows land in their own part of the canvas: copy them side
    // by side (this also spreads the page faults of the fresh memory).
    const bool checkAlpha = format == QImage::Format_ARGB32_Premultiplied;
    const size_t rowBytes = size_t(width) * 4;
    QList<int> indices(frames.size());
    std::iota(indices.begin(), indices.end(), 0);
    uchar *const canvasBits = canvas.bits();
    const qsizetype canvasStride = canvas.bytesPerLine();
    const QList<bool> opaque = QtConcurrent::blockingMapped(indices, [&](int i) {
        const QImage &frame = frames[i];
        const int rows = (i + 1 < frames.size()) ? tops[size_t(i + 1)] - tops[size_t(i)]
                                                 : std::min(frame.height(), int(height) - tops[size_t(i)]);
        uchar *target = canvasBits + qsizetype(tops[size_t(i)]) * canvasStride;
        for (int y = 0; y < rows; ++y, target += canvasStride) {
            const uchar *src = frame.constScanLine(y);
            if (checkAlpha && !rowIsOpaque(src, width))
                return false;
            std::memcpy(target, src, rowBytes);
        }
        return true;
    });
    if (opaque.contains(false))
        return composeFrames(frames, tops, int(height));
    canvas.setDevicePixelRatio(1.0);
    return canvas;
}
