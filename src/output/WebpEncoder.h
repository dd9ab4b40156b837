#pragma once

#include <QByteArray>
#include <QImage>

// Lossy WebP through libwebp, with an alpha channel when the image has one.
// Quality 0...1 (clamped) maps to libwebp's 0...100.
// Keeps no state between calls; safe on any thread.
class WebpEncoder
{
public:
    // Which step failed: importing the picture (for example larger than
    // WebP allows), setting up the encoder, or encoding.
    enum class Failure { none, source, destination, finalize };

    static Failure encode(const QImage &image, double quality, QByteArray *bytes);
};
