#pragma once

#include <QByteArray>
#include <QImage>

// HEIC (HEVC in HEIF) through libheif and its x265 encoder; RGB, with an
// alpha plane when the image has an alpha channel. Quality 0...1 (clamped)
// maps to libheif's 0...100.
// Keeps no state between calls; safe on any thread.
class HeicEncoder
{
public:
    // Which step failed: turning the image into the encoder's picture, the
    // encoder itself (none installed), or encoding and writing the file.
    enum class Failure { none, source, destination, finalize };

    static Failure encode(const QImage &image, double quality, QByteArray *bytes);
};
