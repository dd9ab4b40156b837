#pragma once

#include <QByteArray>
#include <QImage>

// Baseline JPEG through libjpeg-turbo, 4:2:0, from the image's opaque
// colours. Quality 0...1 (clamped) maps to libjpeg's 1...100.
// Keeps no state between calls; safe on any thread.
class JpegEncoder
{
public:
    // The file's bytes, or an empty array when encoding fails.
    static QByteArray encode(const QImage &image, double quality);
};
