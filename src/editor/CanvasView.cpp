#include "editor/CanvasView.h"

#include "editor/AnnotationCanvasNSView.h"

CanvasView::CanvasView(AppState &appState, QObject *parent) : QObject(parent), m_appState(appState)
{
    m_canvas = new AnnotationCanvasNSView();
    // Reports are applied on a later turn of the event loop, after the
    // canvas has finished handling the event that made them.
    connect(m_canvas, &AnnotationCanvasNSView::annotationsChanged, this, &CanvasView::applyReport,
            Qt::QueuedConnection);
    connect(m_canvas, &AnnotationCanvasNSView::imageCropped, this, &CanvasView::imageCropped, Qt::QueuedConnection);
    connect(&m_appState, &AppState::changed, this, [this](AppState::Property p) {
        switch (p) {
        case AppState::Property::capturedImage:
        case AppState::Property::annotations:
        case AppState::Property::currentTool:
        case AppState::Property::currentColor:
        case AppState::Property::currentLineWidth:
        case AppState::Property::currentFontSize:
        case AppState::Property::nextNumber:
        case AppState::Property::hiddenLayers:
            refresh();
            break;
        default:
            break;
        }
    });
    refresh();
}

CanvasView::~CanvasView()
{
    if (m_canvas && !m_canvas->parent())
        delete m_canvas;
}

void CanvasView::setZoom(double zoom)
{
    if (m_canvas)
        m_canvas->setZoom(zoom);
}

bool CanvasView::refresh()
{
    AnnotationCanvasNSView *canvas = m_canvas;
    if (!canvas)
        return false;
    const ImageHandle &image = m_appState.capturedImage();
    const bool imageSame = !canvas->image().isNull() && canvas->image() == image;
    // Any change of value counts, not only a change of ids: an undone move
    // keeps every id but puts the annotation back where it was.
    const bool annotationsChanged = canvas->annotations() != m_appState.annotations();
    const bool toolChanged = canvas->currentTool() != m_appState.currentTool();
    const bool hiddenSame = canvas->hiddenLayers() == m_appState.hiddenLayers();

    if (!imageSame)
        canvas->setImage(image);
    canvas->setAnnotations(m_appState.annotations());
    canvas->setCurrentTool(m_appState.currentTool());
    canvas->setCurrentColor(m_appState.currentColor());
    canvas->setCurrentLineWidth(m_appState.currentLineWidth());
    canvas->setCurrentFontSize(m_appState.currentFontSize());
    canvas->setNextNumber(m_appState.nextNumber());
    canvas->setHiddenLayers(m_appState.hiddenLayers());

    if (imageSame && !annotationsChanged && !toolChanged && hiddenSame)
        return false;
    canvas->redraw();
    return true;
}

void CanvasView::applyReport(const QList<Annotation> &annotations, qint64 nextNumber)
{
    // The step holds the state before the change, so undo brings it back.
    m_appState.pushUndo();
    m_appState.setAnnotations(annotations);
    m_appState.setNextNumber(nextNumber);
    if (onAnnotationAdded)
        onAnnotationAdded();
    emit annotationsCommitted();
}
