#pragma once

#include "model/Annotation.h"
#include "model/AnnotationTool.h"

#include <QFont>
#include <QImage>
#include <QList>
#include <QSet>
#include <QSizeF>
#include <QTransform>
#include <QUuid>
#include <optional>

class PixellateCache;
class QPainter;

// What one pass draws: the image and its annotations. Every coordinate is
// in image points (the image's pixels divided by its devicePixelRatio),
// origin top-left, y downwards.
struct AnnotationScene
{
    QImage image;
    QList<Annotation> annotations;
    // Annotations whose tool is in this set are not drawn.
    QSet<AnnotationTool> hiddenLayers;
    // The shape being dragged out; drawn after the list even when hidden.
    std::optional<Annotation> activeAnnotation;
    // The annotation that gets the selection chrome (also when hidden);
    // none for exports.
    std::optional<QUuid> selectedAnnotationID;
};

// The one drawing of annotations, used by the canvas on screen and by every
// export (copy, save, beautify, flatten), so that the two never disagree.
namespace AnnotationRenderer {

// The size the scene is drawn at, in points: the image's point size.
QSizeF canvasSize(const QImage &image);

// Draws the whole scene onto a painter whose user space is in image points
// (scale it for zoom and pixel density first). Blur patches come from
// `cache` when given.
void paint(QPainter &painter, const AnnotationScene &scene, PixellateCache *cache = nullptr);

// Draws the whole scene (without active annotation or selection) into a
// 32-bit image whose user space (device-independent pixels) maps to image
// points through `transform`. Horizontal bands are drawn in parallel; blur
// patches come from `cache` when given. This is how the canvas builds its
// finished layer and how flatten() exports.
void renderInto(QImage &target, const QTransform &transform, const AnnotationScene &scene,
                PixellateCache *cache = nullptr);

// Draws the image alone, stretched to the canvas size.
void drawImage(QPainter &painter, const QImage &image);

// Draws one annotation. `image` is the source of blur patches. Annotations
// with too few points, or with values that make no sense (not finite,
// negative, absurdly far away), draw nothing.
void drawAnnotation(QPainter &painter, const Annotation &annotation, const QImage &image,
                    PixellateCache *cache = nullptr);

// The area an annotation can paint, in image points, selection chrome
// included; an empty rectangle when it may paint anywhere (the crop's
// dimming) or its values make no sense.
QRectF paintArea(const Annotation &annotation);

// The dashed box and corner handles around a selected annotation.
void drawSelectionChrome(QPainter &painter, const Annotation &annotation);

// The exported image: `image` with its annotations drawn over it, the same
// pixel size and pixels-per-point ratio as `image`. Hidden layers are drawn
// unless `hiddenLayers` names them. A null image gives a null image.
QImage flatten(const QImage &image, const QList<Annotation> &annotations,
               const QSet<AnnotationTool> &hiddenLayers = {});

// The label of a numbered step ("10").
QString numberLabel(qint64 number);

// The head length of an arrow of this line width: max(4 x width, 12).
double arrowHeadLength(double lineWidth);

// The system font at `size` points (image points), semibold for text.
QFont annotationFont(double size, int weight);

} // namespace AnnotationRenderer
