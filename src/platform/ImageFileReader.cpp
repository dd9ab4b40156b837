#include "platform/ImageFileReader.h"

#include "platform/FileOps.h"
#include "platform/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <cstring>
#include <fcntl.h>
#include <libheif/heif.h>
#include <tiffio.h>
#include <unistd.h>
#include <webp/decode.h>

namespace {

// Reads from its own copy of the descriptor, which TIFFClose closes.
QImage readTiff(int fd, const QString &path)
{
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return QImage();
    ::lseek(own, 0, SEEK_SET); // libtiff reads the header where the file stands
    TIFF *tif = TIFFFdOpen(own, QFile::encodeName(path).constData(), "r");
    if (!tif) {
        ::close(own);
        return QImage();
    }
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    QImage out;
    if (ImageFileReader::fitsAllocationLimit(w, h)) {
        QImage img(static_cast<int>(w), static_cast<int>(h), QImage::Format_RGBA8888_Premultiplied);
        // Rows come top to bottom as R, G, B, A bytes with associated alpha.
        if (!img.isNull()
            && TIFFReadRGBAImageOriented(tif, w, h, reinterpret_cast<uint32_t *>(img.bits()), ORIENTATION_TOPLEFT, 0))
            out = img;
    }
    TIFFClose(tif);
    return out;
}

QImage readWebP(const QByteArray &bytes)
{
    const auto *data = reinterpret_cast<const uint8_t *>(bytes.constData());
    int w = 0, h = 0;
    if (!WebPGetInfo(data, static_cast<size_t>(bytes.size()), &w, &h) || !ImageFileReader::fitsAllocationLimit(w, h))
        return QImage();
    QImage img(w, h, QImage::Format_RGBA8888);
    if (img.isNull())
        return QImage();
    if (!WebPDecodeRGBAInto(data, static_cast<size_t>(bytes.size()), img.bits(),
                            static_cast<size_t>(img.sizeInBytes()), static_cast<int>(img.bytesPerLine())))
        return QImage();
    return img;
}

QImage readHeif(const QByteArray &bytes)
{
    heif_context *ctx = heif_context_alloc();
    if (!ctx)
        return QImage();
    QImage out;
    heif_image_handle *handle = nullptr;
    heif_image *image = nullptr;
    if (heif_context_read_from_memory_without_copy(ctx, bytes.constData(), static_cast<size_t>(bytes.size()), nullptr)
                .code
            == heif_error_Ok
        && heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok
        && ImageFileReader::fitsAllocationLimit(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle))
        && heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr).code
               == heif_error_Ok) {
        int stride = 0;
        const uint8_t *plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
        const int w = heif_image_get_width(image, heif_channel_interleaved);
        const int h = heif_image_get_height(image, heif_channel_interleaved);
        if (plane && w > 0 && h > 0) {
            QImage img(w, h, QImage::Format_RGBA8888);
            if (!img.isNull()) {
                for (int y = 0; y < h; ++y)
                    std::memcpy(img.scanLine(y), plane + static_cast<qsizetype>(y) * stride, static_cast<size_t>(w) * 4);
                out = img;
            }
        }
    }
    if (image)
        heif_image_release(image);
    if (handle)
        heif_image_handle_release(handle);
    heif_context_free(ctx);
    return out;
}

} // namespace

QImage ImageFileReader::read(const QString &path, const std::function<void()> &opened)
{
    // Only regular files are read at all, and the open never waits (a named
    // pipe would hold it until someone writes to it).
    QFile f;
    const bool isOpen = FileOps::openRegularFile(path, f);
    if (opened)
        opened();
    if (!isOpen) {
        const QFileInfo info(path);
        if (info.exists() && !info.isFile() && !info.isDir())
            vlog("[Vorna] open: not a regular file: " + path);
        return QImage();
    }
    const int fd = f.handle();

    {
        QImageReader reader(&f);
        reader.setAutoTransform(true);
        const QImage img = reader.read();
        if (!img.isNull())
            return img;
    }

    // Formats Qt has no plugin for here: look at the file's first bytes.
    if (!f.seek(0))
        return QImage();
    const QByteArray head = f.read(16);
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)))
        return readTiff(fd, path);
    const bool webp = head.size() >= 12 && head.startsWith("RIFF") && head.mid(8, 4) == "WEBP";
    const bool heif = head.size() >= 12 && head.mid(4, 4) == "ftyp";
    if (!webp && !heif)
        return QImage();
    const qint64 limit = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
    if (limit > 0 && f.size() > limit)
        return QImage();
    f.seek(0);
    const QByteArray bytes = f.readAll();
    return webp ? readWebP(bytes) : readHeif(bytes);
}

bool ImageFileReader::fitsAllocationLimit(qint64 width, qint64 height)
{
    if (width <= 0 || height <= 0)
        return false;
    const qint64 limitBytes = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
    return limitBytes <= 0 || width * height * 4 <= limitBytes;
}

void ImageFileReader::raiseAllocationLimit()
{
    constexpr int limitMiB = int(largestImageBytes >> 20);
    if (QImageReader::allocationLimit() > 0 && QImageReader::allocationLimit() < limitMiB)
        QImageReader::setAllocationLimit(limitMiB);
}
