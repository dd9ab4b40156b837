#include "output/TiffEncoder.h"

#include <cstdarg>
#include <cstring>

#include <tiffio.h>

namespace {

// A growable file in memory for libtiff's client I/O.
struct MemoryFile
{
    QByteArray bytes;
    toff_t pos = 0;

    static tmsize_t read(thandle_t, void *, tmsize_t) { return 0; }
    static tmsize_t write(thandle_t h, void *data, tmsize_t size)
    {
        auto *f = static_cast<MemoryFile *>(h);
        const toff_t end = f->pos + toff_t(size);
        if (end > toff_t(f->bytes.size()))
            f->bytes.resize(qsizetype(end));
        std::memcpy(f->bytes.data() + f->pos, data, size_t(size));
        f->pos = end;
        return size;
    }
    static toff_t seek(thandle_t h, toff_t off, int whence)
    {
        auto *f = static_cast<MemoryFile *>(h);
        toff_t base = 0;
        if (whence == SEEK_CUR)
            base = f->pos;
        else if (whence == SEEK_END)
            base = toff_t(f->bytes.size());
        f->pos = base + off;
        return f->pos;
    }
    static int close(thandle_t) { return 0; }
    static toff_t size(thandle_t h) { return toff_t(static_cast<MemoryFile *>(h)->bytes.size()); }
    static int map(thandle_t, void **, toff_t *) { return 0; }
    static void unmap(thandle_t, void *, toff_t) {}
};

// libtiff's messages would go to standard error; a failure shows in the
// return values instead.
int quiet(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

} // namespace

QByteArray TiffEncoder::encode(const QImage &input)
{
    if (input.isNull())
        return QByteArray();
    const bool alpha = input.hasAlphaChannel();
    const QImage image = input.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (image.isNull())
        return QByteArray();

    MemoryFile file;
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
    TIFF *tif = TIFFClientOpenExt("memory", "w", &file, MemoryFile::read, MemoryFile::write, MemoryFile::seek,
                                  MemoryFile::close, MemoryFile::size, MemoryFile::map, MemoryFile::unmap, options);
    TIFFOpenOptionsFree(options);
    if (!tif)
        return QByteArray();

    const uint32_t width = uint32_t(image.width());
    const uint32_t height = uint32_t(image.height());
    const uint16_t samples = alpha ? 4 : 3;
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height)
              && TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8))
              && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples)
              && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB))
              && TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG))
              && TIFFSetField(tif, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE))
              && TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(ORIENTATION_TOPLEFT))
              && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    if (ok && alpha) {
        const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        ok = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), extra);
    }
    for (uint32_t y = 0; ok && y < height; ++y)
        ok = TIFFWriteScanline(tif, const_cast<uchar *>(image.constScanLine(int(y))), y, 0) == 1;
    ok = ok && TIFFWriteDirectory(tif);
    TIFFClose(tif);
    return ok ? file.bytes : QByteArray();
}
