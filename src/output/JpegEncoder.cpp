#include "output/JpegEncoder.h"

#include "output/EncoderQuality.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

struct ErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void errorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->jump, 1);
}

void silentMessage(j_common_ptr) {}

// Collects the compressed bytes in a QByteArray that the caller owns, so
// nothing leaks or dangles when libjpeg gives up half-way.
struct Destination
{
    jpeg_destination_mgr pub;
    QByteArray *bytes;
    static constexpr qsizetype kStep = 64 * 1024;

    static void init(j_compress_ptr cinfo)
    {
        auto *d = reinterpret_cast<Destination *>(cinfo->dest);
        d->bytes->resize(kStep);
        d->pub.next_output_byte = reinterpret_cast<JOCTET *>(d->bytes->data());
        d->pub.free_in_buffer = size_t(kStep);
    }
    static boolean empty(j_compress_ptr cinfo)
    {
        // Called when the whole buffer is full.
        auto *d = reinterpret_cast<Destination *>(cinfo->dest);
        const qsizetype used = d->bytes->size();
        d->bytes->resize(used + std::max(kStep, used / 2));
        d->pub.next_output_byte = reinterpret_cast<JOCTET *>(d->bytes->data() + used);
        d->pub.free_in_buffer = size_t(d->bytes->size() - used);
        return TRUE;
    }
    static void term(j_compress_ptr cinfo)
    {
        auto *d = reinterpret_cast<Destination *>(cinfo->dest);
        d->bytes->resize(d->bytes->size() - qsizetype(d->pub.free_in_buffer));
    }
};

// Runs the compression; false when libjpeg reports an error. Kept apart
// from the caller so that no local the caller reads afterwards is changed
// between setjmp and a long jump back.
bool compress(jpeg_compress_struct *cinfo, ErrorManager *err, Destination *dest, const QImage &image, int quality)
{
    if (setjmp(err->jump))
        return false;
    jpeg_create_compress(cinfo);
    cinfo->dest = &dest->pub;
    cinfo->image_width = JDIMENSION(image.width());
    cinfo->image_height = JDIMENSION(image.height());
    cinfo->input_components = 4;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    cinfo->in_color_space = JCS_EXT_BGRX; // 0xffRRGGBB words as they lie in memory
#else
    cinfo->in_color_space = JCS_EXT_XRGB;
#endif
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.constScanLine(int(cinfo->next_scanline)));
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

} // namespace

QByteArray JpegEncoder::encode(const QImage &input, double quality)
{
    if (input.isNull())
        return QByteArray();
    const QImage image = input.format() == QImage::Format_RGB32 ? input : input.convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return QByteArray();

    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.output_message = silentMessage;
    QByteArray bytes;
    Destination dest{};
    dest.bytes = &bytes;
    dest.pub.init_destination = Destination::init;
    dest.pub.empty_output_buffer = Destination::empty;
    dest.pub.term_destination = Destination::term;
    const bool ok = compress(&cinfo, &err, &dest, image, EncoderQuality::percent(quality, 1));
    jpeg_destroy_compress(&cinfo);
    return ok ? bytes : QByteArray();
}
