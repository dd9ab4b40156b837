#pragma once

#include "model/AppState.h"

#include <QObject>
#include <QPointer>
#include <functional>

class AnnotationCanvasNSView;

// Keeps one AnnotationCanvasNSView in step with AppState: copies the
// editor state into the canvas whenever AppState announces a change
// (redrawing only when something drawn changed: the image object, any value
// of the annotations, the tool or the hidden layers), and writes the
// canvas's reports back into AppState on a later turn of the event loop.
//
// Each reported change becomes exactly one undo step, recorded BEFORE the
// new list is written (so the first annotation can be undone); callers must
// not push another one for it. A cropped image is handed out through
// imageCropped(); AppState::replaceImage() installs it as one undo step.
//
// In the editor:
//   auto *bridge = new CanvasView(appState, this);
//   scrollArea->setWidget(bridge->canvas());
//   bridge->setZoom(zoom);
//   connect(bridge, &CanvasView::imageCropped, this, [&](const ImageHandle &img) {
//       appState.replaceImage(img);
//       appState.setCurrentTool(AnnotationTool::select);
//   });
// Exports draw with AnnotationRenderer::flatten(image, annotations).
class CanvasView : public QObject
{
    Q_OBJECT
public:
    explicit CanvasView(AppState &appState, QObject *parent = nullptr);
    // Deletes the canvas unless a parent widget has taken it over.
    ~CanvasView() override;

    // The canvas, created once. Put it in a layout or scroll area (which
    // then owns it).
    AnnotationCanvasNSView *canvas() const { return m_canvas; }

    // Sets the canvas magnification (1 = image points).
    void setZoom(double zoom);

    // Copies the model into the canvas and redraws it when needed; returns
    // whether a redraw was requested. Runs by itself on AppState::changed.
    bool refresh();

    // Run after a reported change has been written into AppState (the step
    // is already recorded).
    std::function<void()> onAnnotationAdded;

signals:
    // A crop was made on the canvas.
    void imageCropped(const ImageHandle &image);
    // A reported change has been written into AppState.
    void annotationsCommitted();

private:
    void applyReport(const QList<Annotation> &annotations, qint64 nextNumber);

    AppState &m_appState;
    QPointer<AnnotationCanvasNSView> m_canvas;
};
