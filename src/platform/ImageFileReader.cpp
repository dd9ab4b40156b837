#include "platform/ImageFileReader.h"

#include "platform/FileOps.h"
#include "platform/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
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

// How much of a WebP file tells the picture's size: the RIFF header and the
// first chunk's (VP8, VP8L or VP8X) header.
constexpr qint64 kWebPHeadBytes = 64;
// Room in a WebP file for what is not its pixels (a colour profile, EXIF,
// XMP).
constexpr qint64 kWebPMetadataBytes = qint64(64) << 20;

// Reads the header first: a picture too large to allocate, or a file that
// claims more bytes than its pixels could ever take encoded (they take no
// more than raw, four bytes a pixel), is refused before the rest is read.
// Of the file, only the RIFF container's bytes are read.
QImage readWebP(QFile &f, const QString &path)
{
    if (!f.seek(0))
        return QImage();
    const QByteArray head = f.read(kWebPHeadBytes);
    int w = 0, h = 0;
    if (!WebPGetInfo(reinterpret_cast<const uint8_t *>(head.constData()), static_cast<size_t>(head.size()), &w, &h)
        || !ImageFileReader::fitsAllocationLimit(w, h))
        return QImage();
    const qint64 container = qint64(qFromLittleEndian<quint32>(head.constData() + 4)) + 8;
    const qint64 length = std::min(f.size(), container);
    if (length > qint64(w) * h * 4 + kWebPMetadataBytes) {
        vlog(QStringLiteral("[Vorna] open: not read: %1 claims %2 bytes for %3 x %4 pixels")
                 .arg(path)
                 .arg(length)
                 .arg(w)
                 .arg(h));
        return QImage();
    }
    if (!f.seek(0))
        return QImage();
    const QByteArray bytes = f.read(length);
    const auto *data = reinterpret_cast<const uint8_t *>(bytes.constData());
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

// A HEIF file is read where libheif asks, so only its boxes' headers, the
// metadata and the primary picture's data are read, never the whole file.
struct HeifSource
{
    int fd = -1;
    int64_t size = 0;
    int64_t position = 0;
};

const heif_reader kHeifFileReader = {
    1,
    [](void *userdata) -> int64_t { return static_cast<HeifSource *>(userdata)->position; },
    [](void *data, size_t size, void *userdata) -> int {
        auto *source = static_cast<HeifSource *>(userdata);
        auto *out = static_cast<char *>(data);
        while (size > 0) {
            const ssize_t got = ::pread(source->fd, out, size, source->position);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return 1;
            out += got;
            size -= static_cast<size_t>(got);
            source->position += got;
        }
        return 0;
    },
    [](int64_t position, void *userdata) -> int {
        auto *source = static_cast<HeifSource *>(userdata);
        if (position < 0 || position > source->size)
            return 1;
        source->position = position;
        return 0;
    },
    [](int64_t targetSize, void *userdata) -> heif_reader_grow_status {
        return targetSize <= static_cast<HeifSource *>(userdata)->size ? heif_reader_grow_status_size_reached
                                                                        : heif_reader_grow_status_size_beyond_eof;
    },
};

QImage readHeif(int fd, qint64 size)
{
    heif_context *ctx = heif_context_alloc();
    if (!ctx)
        return QImage();
    HeifSource source{fd, size, 0};
    QImage out;
    heif_image_handle *handle = nullptr;
    heif_image *image = nullptr;
    if (heif_context_read_from_reader(ctx, &kHeifFileReader, &source, nullptr).code == heif_error_Ok
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
    return webp ? readWebP(f, path) : readHeif(fd, f.size());
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
