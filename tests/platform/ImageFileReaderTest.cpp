// Opened image files of every format a saved screenshot can have.
#include "platform/ImageFileReader.h"

#include "platform/Log.h"
#include "support/TestHome.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QElapsedTimer>
#include <QImageReader>
#include <QtEndian>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <libheif/heif.h>
#include <tiffio.h>
#include <webp/encode.h>

namespace {

QImage sample()
{
    QImage img(40, 30, QImage::Format_RGBA8888);
    img.fill(QColor(10, 200, 30));
    QPainter p(&img);
    p.fillRect(0, 0, 20, 15, QColor(250, 5, 5));
    return img;
}

QString pathFor(const char *name)
{
    return TestHome::path() + "/" + name;
}

void expectLikeSample(const QImage &img, int tolerance)
{
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.size(), QSize(40, 30));
    const QColor a = img.pixelColor(5, 5), b = img.pixelColor(35, 25);
    EXPECT_NEAR(a.red(), 250, tolerance);
    EXPECT_NEAR(a.green(), 5, tolerance);
    EXPECT_NEAR(b.green(), 200, tolerance);
    EXPECT_NEAR(b.red(), 10, tolerance);
}

TEST(ImageFileReader, ReadsEveryScreenshotFormat)
{
    const QImage img = sample();
    ASSERT_TRUE(img.save(pathFor("a.png")));
    ASSERT_TRUE(img.save(pathFor("a.jpg"), "JPEG", 95));
    expectLikeSample(ImageFileReader::read(pathFor("a.png")), 0);
    expectLikeSample(ImageFileReader::read(pathFor("a.jpg")), 12);

    // WebP, lossless.
    uint8_t *out = nullptr;
    const size_t size = WebPEncodeLosslessRGBA(img.constBits(), img.width(), img.height(),
                                               static_cast<int>(img.bytesPerLine()), &out);
    ASSERT_GT(size, 0u);
    {
        QFile f(pathFor("a.webp"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char *>(out), static_cast<qint64>(size));
    }
    WebPFree(out);
    expectLikeSample(ImageFileReader::read(pathFor("a.webp")), 0);

    // TIFF, RGBA strips.
    TIFF *tif = TIFFOpen(QFile::encodeName(pathFor("a.tiff")).constData(), "w");
    ASSERT_TRUE(tif);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 40);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 30);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    for (int y = 0; y < 30; ++y)
        ASSERT_EQ(TIFFWriteScanline(tif, const_cast<uchar *>(img.constScanLine(y)), static_cast<uint32_t>(y), 0), 1);
    TIFFClose(tif);
    expectLikeSample(ImageFileReader::read(pathFor("a.tiff")), 0);
}

TEST(ImageFileReader, ReadsHeic)
{
    if (!heif_have_encoder_for_format(heif_compression_HEVC))
        GTEST_SKIP() << "no HEVC encoder";
    heif_context *ctx = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    ASSERT_EQ(heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder).code, heif_error_Ok);
    heif_encoder_set_lossy_quality(encoder, 95);
    heif_image *image = nullptr;
    ASSERT_EQ(heif_image_create(64, 48, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image).code, heif_error_Ok);
    heif_image_add_plane(image, heif_channel_interleaved, 64, 48, 8);
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            uint8_t *px = plane + y * stride + x * 3;
            px[0] = 20;
            px[1] = 60;
            px[2] = 220;
        }
    ASSERT_EQ(heif_context_encode_image(ctx, image, encoder, nullptr, nullptr).code, heif_error_Ok);
    ASSERT_EQ(heif_context_write_to_file(ctx, QFile::encodeName(pathFor("a.heic")).constData()).code, heif_error_Ok);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(ctx);

    const QImage img = ImageFileReader::read(pathFor("a.heic"));
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.size(), QSize(64, 48));
    EXPECT_NEAR(img.pixelColor(30, 20).blue(), 220, 12);
    EXPECT_NEAR(img.pixelColor(30, 20).red(), 20, 12);
}

TEST(ImageFileReader, NonImagesGiveNothing)
{
    auto write = [](const char *name, const QByteArray &bytes) {
        QFile f(pathFor(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    write("notes.png", "just some text, not a picture\n");
    write("empty.jpg", QByteArray());
    write("fake.webp", QByteArray("RIFF\x10\0\0\0WEBPVP8 garbage", 24));
    write("fake.tiff", QByteArray("II*\0\x08\0\0\0\xff\xff", 10));
    write("fake.heic", QByteArray("\0\0\0\x18" "ftypheic\0\0\0\0heicmif1", 24));
    QImage png = sample();
    png.save(pathFor("whole.png"));
    QFile whole(pathFor("whole.png"));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    write("truncated.png", whole.readAll().left(60));

    for (const char *name : {"notes.png", "empty.jpg", "fake.webp", "fake.tiff", "fake.heic", "truncated.png",
                             "missing.png"})
        EXPECT_TRUE(ImageFileReader::read(pathFor(name)).isNull()) << name;
    EXPECT_TRUE(ImageFileReader::read(TestHome::path()).isNull());
}

} // namespace

// A named pipe nobody writes to would hold a plain open() for ever.
TEST(ImageFileReader, ANamedPipeIsRefusedAtOnce)
{
    const QString fifo = pathFor("pipe.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    bool opened = false;
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(ImageFileReader::read(fifo, [&] { opened = true; }).isNull());
    EXPECT_TRUE(opened);
    EXPECT_LT(clock.elapsed(), 1000);
}

namespace {

// Bytes this process has read from files so far (the kernel's count).
qint64 bytesRead()
{
    QFile io("/proc/self/io");
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

// A file of size bytes that starts with head; the rest is a hole that costs
// no disk.
void writeSparse(const QString &path, const QByteArray &head, qint64 size)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(head), head.size());
    ASSERT_TRUE(f.resize(size));
}

QByteArray lossyWebPWithAlpha()
{
    QImage img = sample();
    img.setPixelColor(39, 29, QColor(0, 0, 0, 0));
    uint8_t *out = nullptr;
    const size_t size =
        WebPEncodeRGBA(img.constBits(), img.width(), img.height(), static_cast<int>(img.bytesPerLine()), 95, &out);
    const QByteArray bytes(reinterpret_cast<const char *>(out), static_cast<qsizetype>(size));
    WebPFree(out);
    return bytes;
}

} // namespace

// A file of nearly 2 GiB (the most a picture may take) with the header of a
// WebP or HEIF picture is refused without being read whole: by what its
// header says of the picture and of its own length. A normal WebP still
// opens, and one followed by a long tail reads only its own bytes.
TEST(ImageFileReader, AHugeWebPOrHeifFileIsRefusedWithoutReadingItWhole)
{
    ImageFileReader::raiseAllocationLimit(); // as the program does at launch
    const qint64 huge = (qint64(2048) << 20) - 8;
    ASSERT_LE(huge, qint64(QImageReader::allocationLimit()) << 20);

    const QByteArray webp = lossyWebPWithAlpha();
    ASSERT_TRUE(webp.startsWith("RIFF") && webp.mid(12, 4) == "VP8X") << "a lossy WebP with alpha has VP8X";
    {
        QFile f(pathFor("plain.webp"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(webp);
    }
    const QImage plain = ImageFileReader::read(pathFor("plain.webp"));
    expectLikeSample(plain, 12);
    EXPECT_EQ(plain.pixelColor(39, 29).alpha(), 0);

    // A small picture whose container claims the whole file.
    QByteArray claimsAll = webp;
    qToLittleEndian<quint32>(quint32(huge - 8), claimsAll.data() + 4);
    writeSparse(pathFor("claims-all.webp"), claimsAll, huge);
    // A HEIF file type box and nothing after it.
    const QByteArray ftyp("\0\0\0\x18" "ftypheic\0\0\0\0heicmif1", 24);
    writeSparse(pathFor("huge.heic"), ftyp, huge);
    // A file type box that claims the whole file, as a list of brands.
    QByteArray claimsAllHeif = ftyp;
    qToBigEndian<quint32>(quint32(huge), claimsAllHeif.data());
    writeSparse(pathFor("claims-all.heic"), claimsAllHeif, huge);
    // The small picture, then a tail that is not its.
    writeSparse(pathFor("long-tail.webp"), webp, huge);

    LogCapture log;
    for (const char *name : {"claims-all.webp", "huge.heic", "claims-all.heic"}) {
        const qint64 before = bytesRead();
        ASSERT_GE(before, 0);
        EXPECT_TRUE(ImageFileReader::read(pathFor(name)).isNull()) << name;
        EXPECT_LT(bytesRead() - before, qint64(64) << 20) << name;
    }
    EXPECT_TRUE(log.contains("[Vorna] open: not read: " + pathFor("claims-all.webp") + " claims "
                             + QString::number(huge) + " bytes for 40 x 30 pixels"));
    EXPECT_TRUE(log.contains("[Vorna] open: not read: " + pathFor("claims-all.heic")
                             + " claims more bytes than its picture could take"));

    const qint64 before = bytesRead();
    expectLikeSample(ImageFileReader::read(pathFor("long-tail.webp")), 12);
    EXPECT_LT(bytesRead() - before, qint64(16) << 20);
}
