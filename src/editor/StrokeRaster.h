#pragma once

#include <QColor>
#include <QPointF>

class QPainter;

// A fast way to draw opaque, round-capped, round-joined strokes (lines,
// arrow shafts, rectangles, ellipses, freehand strokes) straight into the
// 32-bit image a painter draws on. Each segment is a capsule whose edge is
// antialiased by its distance to the pixel centre. Qt's general stroker
// builds and fills an outline with a curve at every join, which costs tens
// of microseconds per segment; this costs about as much as the pixels it
// covers.
namespace StrokeRaster {

// Whether the painter can take the fast path for a stroke of this colour:
// it paints on an RGB32 or premultiplied ARGB32 image, with no clip, no
// rotation or shear, source-over blending, full opacity, the colour is
// opaque and the stroke at most 128 device pixels wide (wider capsules
// would each cover a large area many times over; Qt fills one outline).
// Otherwise callers draw with QPainter.
bool canDraw(const QPainter &painter, const QColor &colour, double width);

// Strokes the polyline through `count` points (closed: back to the first)
// with `width` in the painter's user units. Requires canDraw().
void drawPolyline(QPainter &painter, const QPointF *points, int count, bool closed, double width,
                  const QColor &colour);

} // namespace StrokeRaster
