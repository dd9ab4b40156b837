#pragma once

#include <QImage>
#include <cstdint>

// The pixel difference behind the diff window.
//
// Both images are laid over a canvas as wide as the wider and as tall as the
// taller of the two, top-left corners together, with no scaling; a pixel that
// one image does not cover counts as transparent black (all bytes zero).
// Pixels are compared on their premultiplied colour bytes: d is the largest
// of the red, green and blue differences, alpha is never compared. Where d is
// above the threshold byte the result is translucent red (red 255 at alpha
// 200, premultiplied: 200, 0, 0, 200); elsewhere it is the first image's
// premultiplied colour divided by three (rounding down), fully opaque.
//
// The result is a Format_ARGB32_Premultiplied image of the canvas size, or a
// null image when either input is null, the canvas would pass the allocation
// limit (see resultFits) or a buffer cannot be allocated.
// Pure: callable from any thread.
namespace ImageDiff {

// The threshold byte for a threshold between 0 and 1: t x 255 truncated,
// clamped to 0...255 (0.1 gives 25, 0.01 gives 2, 0.5 gives 127).
int thresholdByte(double threshold);

// The premultiplied ARGB value written for a differing pixel.
constexpr uint32_t kDifferencePixel = 0xC8C80000u; // a 200, r 200, g 0, b 0

// Compares n premultiplied ARGB pixels of a and b into out (which may not
// alias them). The vector path (SSE2 on amd64) and the plain one give the
// same bytes.
void diffRow(const uint32_t *a, const uint32_t *b, uint32_t *out, int n, int thresholdByte);
void diffRowScalar(const uint32_t *a, const uint32_t *b, uint32_t *out, int n, int thresholdByte);

// Whether the difference of two images of these sizes (as wide as the
// wider, as tall as the taller) stays within the allocation limit image
// files are read under. A wide and a tall image that each fit easily can
// need a result of gigabytes.
bool resultFits(const QSize &a, const QSize &b);

// threads: 1 runs every row on the calling thread; any other value spreads
// bands of rows over Qt's global thread pool (0: as many as it has cores).
QImage compute(const QImage &a, const QImage &b, double threshold, int threads = 0);

// Decodes an image file for comparison (see ImageFileReader); null when the
// file is missing, empty or not an image. Screen-sized and long scrolling
// captures fit: the decoder's allocation limit is raised once, on the main
// thread, by raiseAllocationLimit().
QImage loadImage(const QString &path);
// Raises Qt's image allocation limit to the largest picture Vorna makes
// (ImageFileReader::largestImageBytes), enough for any scrolling capture.
// Call on the main thread before any loadImage().
void raiseAllocationLimit();

} // namespace ImageDiff

// The diff window's computation: ImageDiff::compute over all cores.
QImage computeImageDiff(const QImage &a, const QImage &b, double threshold);
