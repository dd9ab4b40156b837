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
// metadata and the primary picture's data are read, never the whole file;
// and no more than a budget: a file whose boxes claim more is refused.
// libheif reads its boxes a few bytes at a time: those small reads come from
// a buffer.
class HeifSource
{
public:
    HeifSource(int fd, int64_t size, int64_t budget) : m_fd(fd), m_size(size), m_budget(budget) {}

    int64_t position() const { return m_position; }
    int64_t size() const { return m_size; }
    bool overBudget() const { return m_overBudget; }
    void setBudget(int64_t budget) { m_budget = budget; }

    bool seek(int64_t position)
    {
        if (position < 0 || position > m_size)
            return false;
        m_position = position;
        return true;
    }

    bool read(char *out, size_t size)
    {
        if (size > uint64_t(m_budget)) {
            m_overBudget = true;
            return false;
        }
        m_budget -= int64_t(size);
        while (size > 0) {
            const int64_t offset = m_position - m_bufferStart;
            if (offset >= 0 && offset < m_buffer.size()) {
                const size_t n = std::min(size, size_t(m_buffer.size() - offset));
                std::memcpy(out, m_buffer.constData() + offset, n);
                out += n;
                size -= n;
                m_position += int64_t(n);
                continue;
            }
            const bool direct = size >= size_t(kBufferBytes);
            if (!direct)
                m_buffer.resize(kBufferBytes);
            char *into = direct ? out : m_buffer.data();
            const ssize_t got = ::pread(m_fd, into, direct ? size : size_t(kBufferBytes), m_position);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                m_buffer.clear();
                return false;
            }
            if (direct) {
                out += got;
                size -= size_t(got);
                m_position += got;
            } else {
                m_buffer.resize(got);
                m_bufferStart = m_position;
            }
        }
        return true;
    }

private:
    static constexpr qsizetype kBufferBytes = 64 * 1024;
    int m_fd = -1;
    int64_t m_size = 0;
    int64_t m_position = 0;
    int64_t m_budget = 0; // bytes that may still be read
    bool m_overBudget = false;
    QByteArray m_buffer; // the file's bytes from m_bufferStart on
    int64_t m_bufferStart = 0;
};

// What reading a HEIF file's boxes may take: its metadata (item lists and
// properties, a colour profile) is far smaller in any real file.
constexpr int64_t kHeifMetadataBytes = int64_t(16) << 20;

const heif_reader kHeifFileReader = {
    1,
    [](void *source) -> int64_t { return static_cast<HeifSource *>(source)->position(); },
    [](void *data, size_t size, void *source) -> int {
        return static_cast<HeifSource *>(source)->read(static_cast<char *>(data), size) ? 0 : 1;
    },
    [](int64_t position, void *source) -> int { return static_cast<HeifSource *>(source)->seek(position) ? 0 : 1; },
    [](int64_t targetSize, void *source) -> heif_reader_grow_status {
        return targetSize <= static_cast<HeifSource *>(source)->size() ? heif_reader_grow_status_size_reached
                                                                        : heif_reader_grow_status_size_beyond_eof;
    },
};

// The boxes are read within kHeifMetadataBytes; the primary picture's data
// within what its pixels take raw, four bytes a pixel, plus as much again
// for its own boxes.
QImage readHeif(int fd, qint64 size, const QString &path)
{
    heif_context *ctx = heif_context_alloc();
    if (!ctx)
        return QImage();
    HeifSource source(fd, size, kHeifMetadataBytes);
    QImage out;
    heif_image_handle *handle = nullptr;
    heif_image *image = nullptr;
    int w = 0, h = 0;
    if (heif_context_read_from_reader(ctx, &kHeifFileReader, &source, nullptr).code == heif_error_Ok
        && heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok) {
        w = heif_image_handle_get_width(handle);
        h = heif_image_handle_get_height(handle);
    }
    if (handle && ImageFileReader::fitsAllocationLimit(w, h)) {
        source.setBudget(int64_t(w) * h * 4 + kHeifMetadataBytes);
        if (heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr).code
            == heif_error_Ok) {
            int stride = 0;
            const uint8_t *plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
            const int iw = heif_image_get_width(image, heif_channel_interleaved);
            const int ih = heif_image_get_height(image, heif_channel_interleaved);
            if (plane && iw > 0 && ih > 0) {
                QImage img(iw, ih, QImage::Format_RGBA8888);
                if (!img.isNull()) {
                    for (int y = 0; y < ih; ++y)
                        std::memcpy(img.scanLine(y), plane + static_cast<qsizetype>(y) * stride,
                                    static_cast<size_t>(iw) * 4);
                    out = img;
                }
            }
        }
    }
    if (source.overBudget())
        vlog(QStringLiteral("[Vorna] open: not read: %1 claims more bytes than its picture could take").arg(path));
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
    return webp ? readWebP(f, path) : readHeif(fd, f.size(), path);
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
