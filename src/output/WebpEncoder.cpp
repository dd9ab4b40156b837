#include "output/WebpEncoder.h"

#include "output/EncoderQuality.h"

#include <algorithm>
#include <cstdint>

#include <webp/encode.h>

WebpEncoder::Failure WebpEncoder::encode(const QImage &input, double quality, QByteArray *bytes)
{
    bytes->clear();
    if (input.isNull())
        return Failure::source;
    const bool alpha = input.hasAlphaChannel();
    // 0xAARRGGBB words, not premultiplied, as libwebp's ARGB picture wants.
    const QImage image = input.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return Failure::source;

    WebPConfig config;
    if (!WebPConfigPreset(&config, WEBP_PRESET_DEFAULT, float(EncoderQuality::percent(quality)))
        || !WebPValidateConfig(&config))
        return Failure::destination;

    WebPPicture picture;
    if (!WebPPictureInit(&picture))
        return Failure::destination;
    picture.use_argb = 1;
    picture.width = image.width();
    picture.height = image.height();
    if (picture.width > WEBP_MAX_DIMENSION || picture.height > WEBP_MAX_DIMENSION || !WebPPictureAlloc(&picture))
        return Failure::source;
    for (int y = 0; y < image.height(); ++y) {
        const auto *src = reinterpret_cast<const uint32_t *>(image.constScanLine(y));
        uint32_t *dst = picture.argb + size_t(y) * size_t(picture.argb_stride);
        if (alpha) {
            std::copy(src, src + image.width(), dst);
        } else {
            for (int x = 0; x < image.width(); ++x)
                dst[x] = src[x] | 0xff000000u;
        }
    }

    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    const bool ok = WebPEncode(&config, &picture);
    WebPPictureFree(&picture);
    if (ok && writer.size > 0)
        *bytes = QByteArray(reinterpret_cast<const char *>(writer.mem), qsizetype(writer.size));
    WebPMemoryWriterClear(&writer);
    return bytes->isEmpty() ? Failure::finalize : Failure::none;
}
