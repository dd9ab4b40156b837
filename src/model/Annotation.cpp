#include "model/Annotation.h"

#include <algorithm>
#include <cmath>

QRectF Annotation::boundingRect() const
{
    if (points.isEmpty())
        return QRectF(0, 0, 0, 0);
    if (points.size() == 1) {
        // A badge is drawn around its point; other marks hang from it.
        if (tool == AnnotationTool::numbering)
            return QRectF(points[0].x() - 20, points[0].y() - 20, 40, 40);
        return QRectF(points[0].x(), points[0].y(), 40, 40);
    }
    if (tool != AnnotationTool::freehand) {
        const QPointF p0 = points[0];
        const QPointF p1 = points[1];
        return QRectF(std::min(p0.x(), p1.x()), std::min(p0.y(), p1.y()), std::fabs(p1.x() - p0.x()),
                      std::fabs(p1.y() - p0.y()));
    }
    double minX = points[0].x(), maxX = minX, minY = points[0].y(), maxY = minY;
    for (const QPointF &p : points) {
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }
    return QRectF(minX, minY, maxX - minX, maxY - minY);
}
