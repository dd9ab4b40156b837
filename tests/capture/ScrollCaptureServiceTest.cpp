#include "capture/ScrollCaptureService.h"
#include "platform/ImageFileReader.h"
#include "support/FakeScreenCapture.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A long page of bands four rows high, each band split into eight segments of
// random colours, so that no stretch of rows repeats elsewhere.
QImage makePage(int width, int height, quint32 seed)
{
    QImage page(width, height, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    const int segment = std::max(1, width / 8);
    for (int band = 0; band < height; band += 4) {
        for (int x0 = 0; x0 < width; x0 += segment) {
            const QRgb colour = qRgb(rng.bounded(256), rng.bounded(256), rng.bounded(256));
            for (int y = band; y < std::min(band + 4, height); ++y) {
                auto *row = reinterpret_cast<QRgb *>(page.scanLine(y));
                for (int x = x0; x < std::min(x0 + segment, width); ++x)
                    row[x] = colour;
            }
        }
    }
    return page;
}

QImage frameAt(const QImage &page, int top, int height)
{
    return page.copy(0, top, page.width(), height);
}

bool sameRows(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return false;
    const QImage ca = a.convertToFormat(QImage::Format_RGB32);
    const QImage cb = b.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < ca.height(); ++y)
        if (std::memcmp(ca.constScanLine(y), cb.constScanLine(y), size_t(ca.width()) * 4) != 0)
            return false;
    return true;
}

} // namespace

// One wheel notch moves the page by far less than a quarter of a tall region,
// so most of each frame repeats the one before it.
TEST(ScrollOverlap, FindsLargeOverlapsOfTallRegions)
{
    const QImage page = makePage(400, 4000, 1);
    const int height = 800; // a region 400 points high
    for (int shift : {60, 37, 199, 2, 760}) {
        const QImage previous = frameAt(page, 1000, height);
        const QImage next = frameAt(page, 1000 + shift, height);
        EXPECT_EQ(ScrollCaptureService::findScrollOverlap(previous, next), height - shift) << "shift " << shift;
    }
    // Frames of 100 rows compare 25 rows: an overlap of 80 rows (more than
    // three quarters) is found, and so is the smallest one that can be scored.
    const QImage small = makePage(300, 1000, 2);
    EXPECT_EQ(ScrollCaptureService::findScrollOverlap(frameAt(small, 100, 100), frameAt(small, 120, 100)), 80);
    EXPECT_EQ(ScrollCaptureService::findScrollOverlap(frameAt(small, 100, 100), frameAt(small, 175, 100)), 25);
}

TEST(ScrollOverlap, RejectsFramesThatShareNothing)
{
    const QImage a = makePage(400, 800, 3);
    const QImage b = makePage(400, 800, 4);
    EXPECT_EQ(ScrollCaptureService::findScrollOverlap(a, b), 0);
    // A shift larger than the frame leaves fewer shared rows than are compared.
    const QImage page = makePage(400, 3000, 5);
    EXPECT_EQ(ScrollCaptureService::findScrollOverlap(frameAt(page, 0, 400), frameAt(page, 380, 400)), 0);
    // Two rows high: nothing is compared, nothing is accepted.
    EXPECT_EQ(ScrollCaptureService::findScrollOverlap(frameAt(page, 0, 2), frameAt(page, 0, 2)), 0);
}

// The score adds |difference| of the red byte of every second pixel over the
// compared rows; it must stay below rows x width / 2.
TEST(ScrollOverlap, AcceptsOnlyScoresBelowTheThreshold)
{
    const int width = 400, height = 400, shift = 100;
    const QImage page = makePage(width, 2000, 6);
    const QImage previous = frameAt(page, 500, height);
    QImage next = frameAt(page, 500 + shift, height);
    // Lift every red value by one (kept in range): each sampled byte of the
    // 40 compared rows differs by exactly 1, so the true overlap scores
    // exactly the threshold.
    QImage lifted = next;
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(lifted.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int r = qRed(row[x]);
            row[x] = qRgb(r == 255 ? 254 : r + 1, qGreen(row[x]), qBlue(row[x]));
        }
    }
    EXPECT_EQ(ScrollCaptureService::findScrollOverlap(previous, lifted), 0);
    // One sampled byte back to its true value: one below the threshold.
    auto *first = reinterpret_cast<QRgb *>(lifted.scanLine(0));
    first[0] = next.pixel(0, 0);
    EXPECT_EQ(ScrollCaptureService::findScrollOverlap(previous, lifted), height - shift);
    // Odd pixels and the green and blue bytes are not sampled at all.
    QImage unsampled = next;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < width; ++x)
            if (x % 2 == 1)
                unsampled.setPixel(x, y, qRgb(0, 0, 0));
            else
                unsampled.setPixel(x, y, qRgb(qRed(next.pixel(x, y)), 0, 255));
    EXPECT_EQ(ScrollCaptureService::findScrollOverlap(previous, unsampled), height - shift);
}

TEST(ScrollOverlap, SqueezesTheWiderFrame)
{
    // The same content at two widths still matches once the wider frame is
    // scaled down: a page of full-width bands.
    QImage page(400, 1200, QImage::Format_RGB32);
    QRandomGenerator rng(7);
    for (int y = 0; y < page.height(); y += 4) {
        const QRgb c = qRgb(rng.bounded(256), rng.bounded(256), rng.bounded(256));
        for (int dy = 0; dy < 4; ++dy) {
            auto *row = reinterpret_cast<QRgb *>(page.scanLine(y + dy));
            std::fill(row, row + page.width(), c);
        }
    }
    const QImage previous = frameAt(page, 100, 400);
    const QImage next = frameAt(page, 160, 400).copy(0, 0, 200, 400);
    EXPECT_EQ(ScrollCaptureService::findScrollOverlap(previous, next), 340);
}

TEST(ScrollStitch, RebuildsThePageRowForRow)
{
    const QImage page = makePage(640, 6000, 8);
    const int height = 1000;
    QList<QImage> frames;
    int top = 0;
    const int shifts[] = {0, 120, 84, 300, 6, 500, 120, 122};
    for (int shift : shifts) {
        top += shift;
        QImage frame = frameAt(page, top, height);
        frame.setDevicePixelRatio(2.0);
        frames.append(frame);
    }
    const std::optional<QImage> stitched = ScrollCaptureService::stitchScrollFrames(frames);
    ASSERT_TRUE(stitched.has_value());
    EXPECT_EQ(stitched->devicePixelRatio(), 1.0);
    EXPECT_TRUE(sameRows(*stitched, frameAt(page, 0, top + height)));
}

TEST(ScrollStitch, HandlesFewAndUnrelatedFrames)
{
    EXPECT_FALSE(ScrollCaptureService::stitchScrollFrames({}).has_value());

    QImage one = makePage(100, 60, 9);
    one.setDevicePixelRatio(2.0);
    const std::optional<QImage> single = ScrollCaptureService::stitchScrollFrames({one});
    ASSERT_TRUE(single.has_value());
    EXPECT_EQ(single->size(), QSize(100, 60));
    EXPECT_EQ(single->devicePixelRatio(), 1.0);
    EXPECT_TRUE(sameRows(*single, one));

    // Nothing shared: the second frame is appended below the first in full.
    const QImage a = makePage(200, 300, 10);
    const QImage b = makePage(200, 300, 11);
    const std::optional<QImage> both = ScrollCaptureService::stitchScrollFrames({a, b});
    ASSERT_TRUE(both.has_value());
    EXPECT_EQ(both->size(), QSize(200, 600));
    EXPECT_TRUE(sameRows(both->copy(0, 0, 200, 300), a));
    EXPECT_TRUE(sameRows(both->copy(0, 300, 200, 300), b));
}

// A frame with see-through pixels (a region reaching past the screens) is laid
// over the earlier frame, which shows through it.
TEST(ScrollStitch, LaysTranslucentFramesOverEarlierOnes)
{
    const QImage page = makePage(200, 1000, 12);
    QImage first = frameAt(page, 0, 400).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage second = frameAt(page, 100, 400).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // The right half of the second frame's lowest rows is see-through; those
    // rows are not compared, so the overlap stays 300.
    for (int y = 350; y < 400; ++y)
        for (int x = 100; x < 200; ++x)
            second.setPixel(x, y, qRgba(0, 0, 0, 0));
    // The right half of its row 50 (below the 40 compared rows) is white at
    // half strength.
    for (int x = 100; x < 200; ++x)
        second.setPixel(x, 50, qPremultiply(qRgba(255, 255, 255, 128)));
    const std::optional<QImage> stitched = ScrollCaptureService::stitchScrollFrames({first, second});
    ASSERT_TRUE(stitched.has_value());
    ASSERT_EQ(stitched->size(), QSize(200, 500));
    EXPECT_EQ(stitched->pixel(150, 460), 0u); // nothing under it: stays clear
    EXPECT_EQ(stitched->pixel(50, 460), page.pixel(50, 460));
    // Row 150 of the canvas: white at half strength over the first frame.
    const QRgb under = first.pixel(150, 150);
    const QRgb mixed = stitched->pixel(150, 150);
    EXPECT_EQ(qAlpha(mixed), 255);
    EXPECT_NEAR(qRed(mixed), 128 + qRed(under) * 127 / 255, 2);
}

// Frames that share their top rows but differ further down never repeat each
// other whole: the whole-frame overlap would drop every row of the next one.
TEST(ScrollOverlap, FramesThatDifferNeverOverlapWhole)
{
    const QImage page = makePage(400, 2000, 30);
    const QImage previous = frameAt(page, 0, 400);
    QImage next = previous.copy();
    QPainter(&next).drawImage(0, 300, makePage(400, 100, 31));
    EXPECT_EQ(ScrollCaptureService::findScrollOverlap(previous, next), 0);
    EXPECT_EQ(ScrollCaptureService::findScrollOverlap(previous, previous.copy()), 400);
}

// A page that repeats itself every 200 rows: after a notch of 100 rows the
// frames overlap exactly by 100 and by 300 rows. The smaller overlap is
// taken; the larger one would drop 200 rows of the page if it was wrong.
TEST(ScrollOverlap, OfTwoEquallyGoodOverlapsTakesTheSmaller)
{
    const QImage tile = makePage(400, 200, 40);
    QImage page(400, 600, QImage::Format_RGB32);
    QPainter p(&page);
    for (int top = 0; top < page.height(); top += tile.height())
        p.drawImage(0, top, tile);
    p.end();
    EXPECT_EQ(ScrollCaptureService::findScrollOverlap(frameAt(page, 0, 400), frameAt(page, 100, 400)), 100);
}

namespace {

// A log: lines that look alike but for their numbers. Every line carries the
// same marks; only its three digits, drawn as seven segments, tell it apart.
constexpr int logLineHeight = 36;

void drawDigit(QPainter &p, int x, int y, int digit)
{
    // Segments a to g of 0 to 9.
    static const char *const segments[10] = {"abcdef", "bc", "abdeg", "abcdg", "bcfg",
                                             "acdfg", "acdefg", "abc", "abcdefg", "abcdfg"};
    const QColor ink(35, 35, 40);
    for (const char *s = segments[digit]; *s; ++s) {
        switch (*s) {
        case 'a': p.fillRect(x, y, 14, 3, ink); break;
        case 'b': p.fillRect(x + 11, y, 3, 12, ink); break;
        case 'c': p.fillRect(x + 11, y + 12, 3, 12, ink); break;
        case 'd': p.fillRect(x, y + 21, 14, 3, ink); break;
        case 'e': p.fillRect(x, y + 12, 3, 12, ink); break;
        case 'f': p.fillRect(x, y, 3, 12, ink); break;
        case 'g': p.fillRect(x, y + 11, 14, 3, ink); break;
        }
    }
}

QImage makeLog(int width, int lines)
{
    QImage page(width, lines * logLineHeight, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter p(&page);
    for (int line = 0; line < lines; ++line) {
        const int y = line * logLineHeight + 6;
        QRandomGenerator words(77); // the same words on every line
        for (int x = 20; x < 300;) {
            const int w = 12 + words.bounded(40);
            p.fillRect(x, y + 4, w, 18, QColor(60, 60, 70));
            x += w + 10;
        }
        for (int i = 0, n = line; i < 3; ++i, n /= 10)
            drawDigit(p, 360 - i * 20, y, n % 10);
        QRandomGenerator more(78);
        for (int x = 400; x < width - 40;) {
            const int w = 12 + more.bounded(40);
            p.fillRect(x, y + 4, w, 18, QColor(60, 60, 70));
            x += w + 10;
        }
    }
    return page;
}

} // namespace

// Frames of a log whose region reaches over the page's scroll bar: its thumb
// moves down a little with every notch while the lines move up, and in
// another case a button floats over the page's top right corner and stays
// put. Neither may pull the search to an overlap a few lines off, where all
// but the numbers match too.
TEST(ScrollOverlap, FindsTheShiftPastABandThatChangesOnLookAlikeLines)
{
    const int content = 760, bar = 24, width = content + bar, height = 800;
    const QImage page = makeLog(content, 200);
    enum class Band { ScrollBar, FloatingButton };
    for (Band band : {Band::ScrollBar, Band::FloatingButton}) {
        SCOPED_TRACE(band == Band::ScrollBar ? "scroll bar" : "floating button");
        QList<QImage> frames;
        QList<int> offsets;
        for (int offset = 0;; offset = std::min(offset + 3 * logLineHeight, page.height() - height)) {
            QImage frame(width, height, QImage::Format_RGB32);
            frame.fill(QColor(246, 246, 246));
            QPainter p(&frame);
            p.drawImage(0, 0, page, 0, offset, content, height);
            if (band == Band::ScrollBar) {
                const int thumb = height * height / page.height();
                p.fillRect(content + 5, offset * height / page.height(), bar - 10, thumb, QColor(128, 130, 132));
            } else {
                p.fillRect(content - 90, 10, 80, 60, QColor(30, 110, 220));
            }
            p.end();
            frames.append(frame);
            offsets.append(offset);
            if (offset == page.height() - height)
                break;
        }
        for (qsizetype i = 0; i + 1 < frames.size(); ++i)
            EXPECT_EQ(ScrollCaptureService::findScrollOverlap(frames[i], frames[i + 1]),
                      height - (offsets[i + 1] - offsets[i]))
                << "frames " << i << " and " << i + 1;

        // Every line once, in order: left of the band, the stitched image is
        // the page itself.
        const std::optional<QImage> stitched = ScrollCaptureService::stitchScrollFrames(frames);
        ASSERT_TRUE(stitched.has_value());
        EXPECT_EQ(stitched->height(), page.height());
        if (stitched->height() != page.height())
            continue;
        const int pageColumns = band == Band::ScrollBar ? content : content - 90;
        EXPECT_TRUE(sameRows(stitched->copy(0, 0, pageColumns, page.height()),
                             page.copy(0, 0, pageColumns, page.height())));
    }
}

// Rows that stay put over more than half of the frame are not taken for a
// sticky band. Here the top of the page repeats after exactly one notch, so
// its first 210 rows look the same in both frames; laid once as a header,
// they would leave the notch longer than the rows below them and drop ten
// rows of the page.
TEST(ScrollStitch, RowsStayingPutOverMoreThanHalfTheFrameAreNoBand)
{
    const int width = 320, height = 400, notch = 200;
    const QImage tile = makePage(width, notch, 41);
    const QImage rest = makePage(width, 400, 42);
    QImage page(width, 800, QImage::Format_RGB32);
    QPainter p(&page);
    p.drawImage(0, 0, tile);
    p.drawImage(0, notch, tile);
    p.drawImage(0, 2 * notch, tile, 0, 0, width, 10);
    p.drawImage(0, 2 * notch + 10, rest);
    p.end();
    const std::optional<QImage> stitched
        = ScrollCaptureService::stitchScrollFrames({frameAt(page, 0, height), frameAt(page, notch, height)});
    ASSERT_TRUE(stitched.has_value());
    EXPECT_EQ(stitched->height(), notch + height);
    EXPECT_TRUE(sameRows(*stitched, frameAt(page, 0, notch + height)));
}

// A sticky header and footer stay put while the page scrolls between them:
// each is laid on the canvas once, the page between them row for row.
TEST(ScrollStitch, LaysStaticHeaderAndFooterOnce)
{
    const int width = 320, height = 400;
    const QImage page = makePage(width, 3000, 32);
    const QImage headerPage = makePage(width, 60, 33);
    const QImage footerPage = makePage(width, 60, 34);
    const int shifts[] = {0, 52, 37, 80, 12, 80, 4};
    struct Bands
    {
        int header, footer;
    };
    for (const Bands bands : {Bands{0, 0}, Bands{30, 0}, Bands{60, 0}, Bands{0, 40}, Bands{30, 40}, Bands{60, 60}}) {
        const int moving = height - bands.header - bands.footer;
        QList<QImage> frames;
        int top = 0;
        for (int shift : shifts) {
            top += shift;
            QImage frame(width, height, QImage::Format_RGB32);
            QPainter p(&frame);
            p.drawImage(0, 0, headerPage, 0, 0, width, bands.header);
            p.drawImage(0, bands.header, page, 0, top, width, moving);
            p.drawImage(0, height - bands.footer, footerPage, 0, 0, width, bands.footer);
            p.end();
            frames.append(frame);
        }
        // A caret blinks in the header of one frame.
        if (bands.header > 0)
            for (int y = 10; y < 20; ++y)
                for (int x = 100; x < 103; ++x)
                    frames[2].setPixel(x, y, qRgb(0, 0, 0));

        QImage expected(width, bands.header + top + moving + bands.footer, QImage::Format_RGB32);
        QPainter p(&expected);
        p.drawImage(0, 0, headerPage, 0, 0, width, bands.header);
        p.drawImage(0, bands.header, page, 0, 0, width, top + moving);
        p.drawImage(0, expected.height() - bands.footer, footerPage, 0, 0, width, bands.footer);
        p.end();

        const std::optional<QImage> stitched = ScrollCaptureService::stitchScrollFrames(frames);
        ASSERT_TRUE(stitched.has_value());
        EXPECT_EQ(stitched->size(), expected.size()) << "header " << bands.header << ", footer " << bands.footer;
        EXPECT_TRUE(sameRows(*stitched, expected)) << "header " << bands.header << ", footer " << bands.footer;
    }
}

// A capture that would stitch larger than the largest picture Vorna reads
// back is cut at the bottom to exactly that size: what the history writes
// of it always decodes again.
TEST(ScrollStitch, CutsAResultLargerThanThePicturesReadBack)
{
    // 17 frames of 16384 x 2000 that share nothing lie one below the other:
    // 34000 rows, where 2 GiB holds 32768.
    QImage a(16384, 2000, QImage::Format_RGB32), b(16384, 2000, QImage::Format_RGB32);
    ASSERT_FALSE(a.isNull() || b.isNull());
    a.fill(qRgb(250, 20, 20));
    b.fill(qRgb(20, 20, 250));
    QList<QImage> frames;
    for (int i = 0; i < 17; ++i)
        frames.append(i % 2 == 0 ? a : b);
    std::optional<QImage> stitched = ScrollCaptureService::stitchScrollFrames(frames);
    frames.clear();
    ASSERT_TRUE(stitched.has_value());
    ASSERT_EQ(stitched->size(), QSize(16384, 32768));
    EXPECT_EQ(stitched->sizeInBytes(), ImageFileReader::largestImageBytes);
    EXPECT_EQ(stitched->pixel(100, 31999), qRgb(20, 20, 250)); // frame 15
    EXPECT_EQ(stitched->pixel(16383, 32767), qRgb(250, 20, 20)); // frame 16, cut
    ImageFileReader::raiseAllocationLimit();
    EXPECT_TRUE(ImageFileReader::fitsAllocationLimit(stitched->width(), stitched->height()));
    EXPECT_FALSE(ImageFileReader::fitsAllocationLimit(stitched->width(), stitched->height() + 1));
}

TEST(ScrollFrames, LookIdenticalOnlyWithFewSampledDifferences)
{
    const QImage frame = makePage(400, 600, 13);
    EXPECT_TRUE(ScrollCaptureService::framesLookIdentical(frame, frame.copy()));
    EXPECT_FALSE(ScrollCaptureService::framesLookIdentical(frame, frame.copy(0, 0, 400, 599)));

    // The strip is the 60 rows across the middle (rows 270 to 329); sampled are
    // the red bytes of every fourth pixel, counted through the strip.
    auto changed = [&](const QList<QPoint> &points, QRgb colour) {
        QImage copy = frame.copy();
        for (const QPoint &p : points)
            copy.setPixel(p, colour);
        return copy;
    };
    const QRgb odd = qRgb(qRed(frame.pixel(0, 270)) ^ 0x80, 0, 0);
    const QList<QPoint> four{{0, 270}, {4, 270}, {8, 300}, {396, 329}};
    EXPECT_TRUE(ScrollCaptureService::framesLookIdentical(frame, changed(four, odd)));
    QList<QPoint> five = four;
    five.append({200, 280});
    QImage fiveChanged = frame.copy();
    for (const QPoint &p : five)
        fiveChanged.setPixel(p, qRgb(qRed(frame.pixel(p)) ^ 0x80, 0, 0));
    EXPECT_FALSE(ScrollCaptureService::framesLookIdentical(frame, fiveChanged));

    // Changes outside the strip, or off the sampled pixels, go unseen.
    QImage outside = frame.copy();
    QPainter(&outside).fillRect(0, 0, 400, 270, Qt::red);
    QPainter(&outside).fillRect(0, 330, 400, 270, Qt::blue);
    EXPECT_TRUE(ScrollCaptureService::framesLookIdentical(frame, outside));
    QImage offSample = frame.copy();
    for (int y = 270; y < 330; ++y)
        for (int x = 1; x < 400; x += 4)
            offSample.setPixel(x, y, qRgb(0, 255, 0));
    EXPECT_TRUE(ScrollCaptureService::framesLookIdentical(frame, offSample));
}

namespace {
// Scrolling content: a frame shows the page from the current scroll offset;
// each wheel notch moves it by a fixed step until the page's end.
struct FakeScreen
{
    explicit FakeScreen(QImage p) : page(std::move(p)) {}
    QImage page;
    int frameHeight = 200;
    int step = 30;
    int offset = 0;
    int notches = 0;
    int frames = 0;
    QList<QPointF> scrollPoints;
    int failFrame = -1; // the frame (counted from 0) that fails to come

    ScrollCaptureService::FrameGrabber grabber()
    {
        return [this](const QRectF &) -> std::optional<QImage> {
            if (frames++ == failFrame)
                return std::nullopt;
            return page.copy(0, offset, page.width(), frameHeight);
        };
    }
    ScrollCaptureService::ScrollPoster poster()
    {
        return [this](const QPointF &p) {
            ++notches;
            scrollPoints.append(p);
            offset = std::min(offset + step, page.height() - frameHeight);
            return true;
        };
    }
};

std::optional<std::optional<QImage>> runCapture(ScrollCaptureService &service, FakeScreen &screen, QRectF region)
{
    service.setFrameGrabber(screen.grabber());
    service.setScrollPoster(screen.poster());
    service.setScrollWaitMs(1);
    std::optional<std::optional<QImage>> result;
    service.startScrollCapture(region, [&](std::optional<QImage> image) { result = std::move(image); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 20000));
    return result;
}
} // namespace

TEST(ScrollCaptureLoop, StopsWhenTheContentNoLongerMoves)
{
    FakeScreen screen(makePage(120, 500, 14));
    ScrollCaptureService service;
    const auto result = runCapture(service, screen, QRectF(10, 20, 60, 100));
    ASSERT_TRUE(result && result->has_value());
    // 0, 30, ..., 300: eleven frames, the twelfth repeats the last.
    EXPECT_EQ(screen.notches, 11);
    EXPECT_EQ(screen.scrollPoints.first(), QPointF(40, 70));
    EXPECT_TRUE(sameRows(**result, screen.page));
    EXPECT_FALSE(service.isRunning());
}

TEST(ScrollCaptureLoop, EndsAfterFiftyNotches)
{
    FakeScreen screen(makePage(100, 4000, 15));
    screen.step = 20;
    ScrollCaptureService service;
    const auto result = runCapture(service, screen, QRectF(0, 0, 50, 100));
    ASSERT_TRUE(result && result->has_value());
    EXPECT_EQ(screen.notches, 50);
    EXPECT_EQ(screen.frames, 51);
    EXPECT_TRUE(sameRows(**result, screen.page.copy(0, 0, 100, 200 + 50 * 20)));
}

TEST(ScrollCaptureLoop, SecondStartWhileRunningIsIgnored)
{
    FakeScreen screen(makePage(100, 400, 16));
    ScrollCaptureService service;
    service.setFrameGrabber(screen.grabber());
    service.setScrollPoster(screen.poster());
    service.setScrollWaitMs(1);
    int firstCalls = 0, secondCalls = 0;
    service.startScrollCapture(QRectF(0, 0, 50, 100), [&](std::optional<QImage>) { ++firstCalls; });
    EXPECT_TRUE(service.isRunning());
    service.startScrollCapture(QRectF(0, 0, 50, 100), [&](std::optional<QImage>) { ++secondCalls; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return firstCalls == 1; }, 20000));
    QTest::qWait(50);
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 0);
}

TEST(ScrollCaptureLoop, FailedFrames)
{
    // The first frame fails: the loop still scrolls and captures.
    {
        FakeScreen screen(makePage(100, 400, 17));
        screen.failFrame = 0;
        ScrollCaptureService service;
        const auto result = runCapture(service, screen, QRectF(0, 0, 50, 100));
        ASSERT_TRUE(result && result->has_value());
        EXPECT_TRUE(sameRows(**result, screen.page.copy(0, 30, 100, 370)));
    }
    // A later frame fails: the frames so far are stitched.
    {
        FakeScreen screen(makePage(100, 1000, 18));
        screen.failFrame = 3;
        ScrollCaptureService service;
        const auto result = runCapture(service, screen, QRectF(0, 0, 50, 100));
        ASSERT_TRUE(result && result->has_value());
        EXPECT_EQ(screen.notches, 3);
        EXPECT_TRUE(sameRows(**result, screen.page.copy(0, 0, 100, 200 + 2 * 30)));
    }
    // No frame at all: nothing.
    {
        ScrollCaptureService service;
        service.setFrameGrabber([](const QRectF &) { return std::optional<QImage>(); });
        int notches = 0;
        service.setScrollPoster([&](const QPointF &) { return ++notches > 0; });
        service.setScrollWaitMs(1);
        std::optional<std::optional<QImage>> result;
        service.startScrollCapture(QRectF(0, 0, 50, 100), [&](std::optional<QImage> image) { result = image; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 30000));
        EXPECT_FALSE(result->has_value());
        EXPECT_EQ(notches, 1);
    }
}

TEST(ScrollCaptureLoop, FramesAreWholePointsAtTwoPixelsWithoutThePointer)
{
    FakeScreenCapture fake;
    ScrollCaptureService service;
    const std::optional<QImage> frame = service.captureScrollFrame(QRectF(10.7, 20, 100.9, 50.5));
    ASSERT_TRUE(frame.has_value());
    ASSERT_EQ(fake.rectRequests.size(), 1);
    EXPECT_EQ(fake.rectRequests[0].rect, QRectF(10.7, 20, 100.9, 50.5)); // the primary screen is at the origin
    EXPECT_EQ(fake.rectRequests[0].pixelSize, QSize(200, 100));
    EXPECT_FALSE(fake.rectRequests[0].showsCursor);
    EXPECT_EQ(frame->devicePixelRatio(), 2.0);
    fake.captureError = QStringLiteral("BadMatch");
    EXPECT_FALSE(service.captureScrollFrame(QRectF(0, 0, 10, 10)).has_value());
}
