#pragma once

#include "model/AnnotationTool.h"

#include <QColor>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QMetaType>
#include <QUuid>

// One mark drawn on an image in the editor.
struct Annotation
{
    QUuid id = QUuid::createUuid();
    AnnotationTool tool = AnnotationTool::arrow;
    QColor color;
    double lineWidth = 3;
    QList<QPointF> points;
    QString text;
    double fontSize = 18;
    qint64 number = 0;
    bool isFinished = false;

    // The area the mark covers: nothing for no points, a 40 x 40 box at a
    // single point (centred on a number badge, from the point down and to
    // the right for anything else), the box spanned by the first two
    // points, or for freehand marks the box around all points.
    QRectF boundingRect() const;

    // Value equality: same id and every field alike.
    bool operator==(const Annotation &other) const = default;
};
Q_DECLARE_METATYPE(Annotation)
