#include "output/HeicEncoder.h"

#include "output/EncoderQuality.h"

#include <cstring>
#include <memory>
#include <mutex>

#include <libheif/heif.h>

namespace {

// x265's own default; libheif would pick "slow", which takes about half again
// as long for a screenshot and saves a few per cent.
const char *const kPreset = "medium";

void initLibrary()
{
    // Loads libheif's plugins once for the life of the process.
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
}

struct ContextDeleter
{
    void operator()(heif_context *c) const { heif_context_free(c); }
};
struct EncoderDeleter
{
    void operator()(heif_encoder *e) const { heif_encoder_release(e); }
};
struct ImageDeleter
{
    void operator()(heif_image *i) const { heif_image_release(i); }
};
struct HandleDeleter
{
    void operator()(heif_image_handle *h) const { heif_image_handle_release(h); }
};

heif_error writeToByteArray(heif_context *, const void *data, size_t size, void *userdata)
{
    static_cast<QByteArray *>(userdata)->append(static_cast<const char *>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

} // namespace

HeicEncoder::Failure HeicEncoder::encode(const QImage &input, double quality, QByteArray *bytes)
{
    initLibrary();
    bytes->clear();
    if (input.isNull())
        return Failure::source;
    const bool alpha = input.hasAlphaChannel();
    const QImage image = input.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (image.isNull())
        return Failure::source;

    heif_image *raw = nullptr;
    if (heif_image_create(image.width(), image.height(), heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &raw)
            .code
        != heif_error_Ok)
        return Failure::source;
    std::unique_ptr<heif_image, ImageDeleter> picture(raw);
    if (heif_image_add_plane(picture.get(), heif_channel_interleaved, image.width(), image.height(), 8).code
        != heif_error_Ok)
        return Failure::source;
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(picture.get(), heif_channel_interleaved, &stride);
    if (!plane)
        return Failure::source;
    const size_t rowBytes = size_t(image.width()) * (alpha ? 4 : 3);
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(plane + size_t(y) * size_t(stride), image.constScanLine(y), rowBytes);

    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context)
        return Failure::destination;
    heif_encoder *rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder).code
        != heif_error_Ok)
        return Failure::destination;
    std::unique_ptr<heif_encoder, EncoderDeleter> encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), EncoderQuality::percent(quality));
    if (const char *preset = kPreset)
        heif_encoder_set_parameter_string(encoder.get(), "preset", preset);

    heif_image_handle *rawHandle = nullptr;
    if (heif_context_encode_image(context.get(), picture.get(), encoder.get(), nullptr, &rawHandle).code
        != heif_error_Ok)
        return Failure::finalize;
    std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);

    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = writeToByteArray;
    if (heif_context_write(context.get(), &writer, bytes).code != heif_error_Ok || bytes->isEmpty()) {
        bytes->clear();
        return Failure::finalize;
    }
    return Failure::none;
}
