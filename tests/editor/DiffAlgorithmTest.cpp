// The pixel difference: thresholds, alpha, sizes that differ, and the vector
// loop against the plain one.
#include "editor/ImageDiff.h"

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

// Premultiplied bytes of one pixel, as the result stores them.
struct Px
{
    int r, g, b, a;
    bool operator==(const Px &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Px &p)
{
    return os << "(" << p.r << ", " << p.g << ", " << p.b << ", " << p.a << ")";
}

Px at(const QImage &image, int x, int y)
{
    EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
    const QRgb v = reinterpret_cast<const QRgb *>(image.constScanLine(y))[x];
    return {qRed(v), qGreen(v), qBlue(v), qAlpha(v)};
}

QImage filled(int w, int h, QRgb premultiplied)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(premultiplied);
    return image;
}

const Px kRed{200, 0, 0, 200};

TEST(DiffAlgorithm, ThresholdByteFromTheSliderValue)
{
    EXPECT_EQ(ImageDiff::thresholdByte(0.1), 25);
    EXPECT_EQ(ImageDiff::thresholdByte(0.01), 2);
    EXPECT_EQ(ImageDiff::thresholdByte(0.5), 127);
    EXPECT_EQ(ImageDiff::thresholdByte(0.003), 0);
    EXPECT_EQ(ImageDiff::thresholdByte(-1), 0);
    EXPECT_EQ(ImageDiff::thresholdByte(2), 255);
    EXPECT_EQ(ImageDiff::thresholdByte(std::nan("")), 0);
}

// A pixel differs when its largest colour difference is above T: exactly T
// is the same, T + 1 is red, in any of the three channels, at both ends of
// the slider.
TEST(DiffAlgorithm, PixelIsRedOnlyAboveTheThreshold)
{
    struct Case
    {
        double t;
        int delta;
        int channel; // 0 red, 1 green, 2 blue
        bool red;
    };
    const Case cases[] = {
        {0.1, 25, 1, false}, {0.1, 26, 1, true},   {0.1, 26, 0, true},    {0.1, 26, 2, true},
        {0.01, 2, 2, false}, {0.01, 3, 2, true},   {0.5, 127, 0, false},  {0.5, 128, 0, true},
        {0.1, -25, 2, false}, {0.1, -26, 2, true}, {0.001, 1, 1, true},   {1.0, 120, 0, false},
    };
    const int base[3] = {90, 150, 210};
    for (const Case &c : cases) {
        int other[3] = {base[0], base[1], base[2]};
        other[c.channel] += c.delta;
        const QImage a = filled(3, 2, qRgba(base[0], base[1], base[2], 255));
        const QImage b = filled(3, 2, qRgba(other[0], other[1], other[2], 255));
        const QImage diff = ImageDiff::compute(a, b, c.t, 1);
        ASSERT_EQ(diff.size(), QSize(3, 2));
        const Px expected = c.red ? kRed : Px{30, 50, 70, 255};
        EXPECT_EQ(at(diff, 2, 1), expected) << "t " << c.t << " delta " << c.delta << " channel " << c.channel;
    }
}

TEST(DiffAlgorithm, IdenticalImagesGiveTheFirstDarkenedToAThirdAndOpaque)
{
    QImage a(5, 1, QImage::Format_ARGB32_Premultiplied);
    const QRgb pixels[5] = {qRgba(255, 255, 255, 255), qRgba(0, 0, 0, 0), qRgba(100, 50, 2, 255),
                            qRgba(60, 30, 9, 120), qRgba(254, 253, 252, 255)};
    for (int x = 0; x < 5; ++x)
        a.setPixel(x, 0, pixels[x]);
    const QImage diff = ImageDiff::compute(a, a, 0.1);
    EXPECT_EQ(at(diff, 0, 0), (Px{85, 85, 85, 255}));
    EXPECT_EQ(at(diff, 1, 0), (Px{0, 0, 0, 255}));
    EXPECT_EQ(at(diff, 2, 0), (Px{33, 16, 0, 255}));
    EXPECT_EQ(at(diff, 3, 0), (Px{20, 10, 3, 255}));
    EXPECT_EQ(at(diff, 4, 0), (Px{84, 84, 84, 255}));
}

// Colours are compared as stored, premultiplied; alpha alone never marks a
// pixel, and inputs in other formats are premultiplied first.
TEST(DiffAlgorithm, AlphaIsNotComparedAndInputsArePremultiplied)
{
    const QImage opaque = filled(1, 1, qRgba(10, 20, 30, 255));
    EXPECT_EQ(at(ImageDiff::compute(opaque, filled(1, 1, qRgba(10, 20, 30, 40)), 0.01), 0, 0),
              (Px{3, 6, 10, 255}));

    // Straight red at half alpha is (128, 0, 0, 128) premultiplied.
    QImage straight(1, 1, QImage::Format_ARGB32);
    straight.setPixel(0, 0, qRgba(255, 0, 0, 128));
    EXPECT_EQ(at(ImageDiff::compute(straight, filled(1, 1, qRgba(128, 0, 0, 128)), 0.01), 0, 0),
              (Px{42, 0, 0, 255}));
    // The same colour at full alpha differs by 127 in red.
    EXPECT_EQ(at(ImageDiff::compute(straight, filled(1, 1, qRgba(255, 0, 0, 255)), 0.1), 0, 0), kRed);

    QImage rgb(1, 1, QImage::Format_RGB888);
    rgb.setPixel(0, 0, qRgb(99, 66, 33));
    EXPECT_EQ(at(ImageDiff::compute(rgb, rgb, 0.1), 0, 0), (Px{33, 22, 11, 255}));
}

// The red of a differing pixel is a valid premultiplied value: seen
// unpremultiplied it is full red at alpha 200, and it composites as such.
TEST(DiffAlgorithm, DifferencePixelIsValidPremultipliedRed)
{
    const QImage diff = ImageDiff::compute(filled(2, 2, qRgb(0, 0, 0)), filled(2, 2, qRgb(255, 255, 255)), 0.1);
    EXPECT_EQ(at(diff, 1, 1), kRed);
    const QRgb straight = diff.convertToFormat(QImage::Format_ARGB32).pixel(1, 1);
    EXPECT_EQ(straight, qRgba(255, 0, 0, 200));

    QImage white = filled(2, 2, qRgb(255, 255, 255));
    {
        QPainter p(&white);
        p.drawImage(0, 0, diff);
    }
    // 255 * 200/255 + 255 * 55/255: red stays 255, green and blue keep 55.
    const QRgb over = white.pixel(0, 0);
    EXPECT_EQ(qRed(over), 255);
    EXPECT_NEAR(qGreen(over), 55, 1);
    EXPECT_NEAR(qBlue(over), 55, 1);
}

// Images of different sizes are laid top-left on the larger canvas; the part
// one of them does not cover compares against zero bytes.
TEST(DiffAlgorithm, SizesThatDifferCompareAgainstZeroBytes)
{
    QImage tall = filled(100, 150, qRgb(120, 120, 120));
    for (int y = 100; y < 150; ++y)
        for (int x = 0; x < 50; ++x)
            tall.setPixel(x, y, qRgb(20, 25, 10)); // every channel at most T = 25
    const QImage square = filled(100, 100, qRgb(120, 120, 120));

    for (const bool squareFirst : {true, false}) {
        const QImage diff =
            squareFirst ? ImageDiff::compute(square, tall, 0.1, 1) : ImageDiff::compute(tall, square, 0.1, 1);
        ASSERT_EQ(diff.size(), QSize(100, 150));
        EXPECT_EQ(at(diff, 99, 99), (Px{40, 40, 40, 255}));
        EXPECT_EQ(at(diff, 60, 100), kRed);
        EXPECT_EQ(at(diff, 99, 149), kRed);
        // Where the taller one is dark enough the pixel is opaque black when
        // the square is first, and the dark pixel divided by three otherwise.
        EXPECT_EQ(at(diff, 0, 149), squareFirst ? (Px{0, 0, 0, 255}) : (Px{6, 8, 3, 255}));
    }

    // A wider second image: its extra columns against nothing.
    const QImage diff = ImageDiff::compute(filled(3, 4, qRgb(9, 9, 9)), filled(7, 2, qRgb(9, 9, 9)), 0.1, 1);
    ASSERT_EQ(diff.size(), QSize(7, 4));
    EXPECT_EQ(at(diff, 2, 3), (Px{3, 3, 3, 255}));
    EXPECT_EQ(at(diff, 6, 1), (Px{0, 0, 0, 255}));
    EXPECT_EQ(at(diff, 6, 3), (Px{0, 0, 0, 255}));

    EXPECT_TRUE(ImageDiff::compute(QImage(), square, 0.1).isNull());
    EXPECT_TRUE(ImageDiff::compute(square, QImage(), 0.1).isNull());
    // A line against a column: a few hundred bytes each, a result of 20000 x
    // 20000 pixels (1.6 GB), over the limit image files are read under.
    EXPECT_TRUE(ImageDiff::compute(filled(20000, 1, qRgb(9, 9, 9)), filled(1, 20000, qRgb(9, 9, 9)), 0.1).isNull());
}

// The vector loop matches the plain one on random pixels, every threshold
// and every tail length; bands over all cores match one thread.
TEST(DiffAlgorithm, VectorLoopAndBandsMatchThePlainLoop)
{
    QRandomGenerator rng(14);
    std::vector<uint32_t> a(67), b(67), fast(67), plain(67);
    for (int round = 0; round < 200; ++round) {
        for (size_t i = 0; i < a.size(); ++i) {
            a[i] = rng.generate();
            // Mostly close colours, so both branches are taken.
            b[i] = (rng.bounded(3) == 0) ? rng.generate() : a[i] ^ (rng.generate() & 0x0F0F0F0Fu);
        }
        const int t = rng.bounded(256);
        const int n = rng.bounded(68);
        ImageDiff::diffRow(a.data(), b.data(), fast.data(), n, t);
        ImageDiff::diffRowScalar(a.data(), b.data(), plain.data(), n, t);
        ASSERT_TRUE(std::equal(fast.begin(), fast.begin() + n, plain.begin())) << "t " << t << " n " << n;
    }

    QImage big(613, 1031, QImage::Format_ARGB32_Premultiplied);
    QImage other(701, 977, QImage::Format_ARGB32_Premultiplied);
    for (QImage *image : {&big, &other})
        for (int y = 0; y < image->height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(image->scanLine(y));
            for (int x = 0; x < image->width(); ++x)
                row[x] = qPremultiply(rng.generate() | 0xFF000000u) & (y % 7 ? 0xFFF0F0F0u : 0xFFFFFFFFu);
        }
    const QImage one = ImageDiff::compute(big, other, 0.05, 1);
    const QImage all = ImageDiff::compute(big, other, 0.05, 0);
    ASSERT_EQ(one.size(), QSize(701, 1031));
    EXPECT_TRUE(one == all);
}

} // namespace
