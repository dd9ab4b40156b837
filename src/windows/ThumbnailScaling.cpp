#include "windows/ThumbnailScaling.h"

QImage ThumbnailScaling::halved(const QImage &image)
{
    QImage source = image;
    if (source.format() != QImage::Format_RGB32 && source.format() != QImage::Format_ARGB32_Premultiplied)
        source = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage half(source.width() / 2, source.height() / 2, source.format());
    if (half.isNull())
        return source;
    // Two channels at a time, eight bits apart from each other: the sum of
    // four fits in the sixteen bits each has.
    constexpr quint32 lanes = 0x00ff00ff;
    for (int y = 0; y < half.height(); ++y) {
        const auto *top = reinterpret_cast<const quint32 *>(source.constScanLine(2 * y));
        const auto *bottom = reinterpret_cast<const quint32 *>(source.constScanLine(2 * y + 1));
        auto *out = reinterpret_cast<quint32 *>(half.scanLine(y));
        for (int x = 0; x < half.width(); ++x) {
            const quint32 a = top[2 * x], b = top[2 * x + 1], c = bottom[2 * x], d = bottom[2 * x + 1];
            const quint32 rb = ((a & lanes) + (b & lanes) + (c & lanes) + (d & lanes) + 0x00020002) >> 2;
            const quint32 ag = (((a >> 8) & lanes) + ((b >> 8) & lanes) + ((c >> 8) & lanes) + ((d >> 8) & lanes)
                                + 0x00020002) >> 2;
            out[x] = (rb & lanes) | ((ag & lanes) << 8);
        }
    }
    half.setDevicePixelRatio(source.devicePixelRatio());
    return half;
}

QImage ThumbnailScaling::scaledDown(const QImage &image, const QSize &size)
{
    if (image.isNull() || size.isEmpty())
        return QImage();
    QImage source = image;
    while (source.width() >= 2 * size.width() && source.height() >= 2 * size.height())
        source = halved(source);
    QImage scaled = source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(image.devicePixelRatio());
    return scaled;
}
