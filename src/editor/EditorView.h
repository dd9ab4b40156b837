#pragma once

#include "model/ImageHandle.h"
#include "model/VornaError.h"

#include <QImage>
#include <QPointer>
#include <QSizeF>
#include <QWidget>
#include <optional>

class AnnotationCanvasNSView;
class AnnotationToolbar;
class AppState;
class CanvasView;
class LayerPanel;
class QLabel;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QToolButton;

// How "Beautify" presents the image.
enum class BeautifyStyle { shadowAndRoundedCorners, gradientBackground, deviceFrame };

// The root view of the editor window: the tool bar, the zoomable canvas
// with the layer panel beside it, and a bottom bar with the zoom, the
// image size and the commands Copy, Save, Save As..., Beautify and Extract
// Text. Everything it edits lives in the shared AppState; its own state is
// the zoom factor.
//
// Heavy work (burning the annotations in, encoding, writing, beautifying,
// reading text) runs on worker threads; results come back to the main
// thread, where AppState is touched.
class EditorView : public QWidget
{
    Q_OBJECT
public:
    explicit EditorView(AppState &appState, QWidget *parent = nullptr);
    ~EditorView() override;

    AppState &appState() const { return m_appState; }
    double zoom() const { return m_zoom; }
    // The canvas while an image is shown, else none.
    QWidget *canvas() const;

    // Closes the window that shows this view (it is hidden, not destroyed).
    void dismiss();

    // ---- zoom ----
    void zoomIn();   // + 0.25, at most 5
    void zoomOut();  // - 0.25, at least 0.1
    void fitToWindow();
    void setZoom(double zoom);
    // The zoom that fits an image of this point size into the screen's
    // free area less 100 x 200 points (1100 x 600 without a screen); never
    // above 1.
    static double fittedZoom(const QSizeF &imageSize, const std::optional<QSizeF> &visibleFrame);

    // ---- commands ----
    // The captured image with every annotation burnt in (hidden layers
    // too), at the image's own pixels per point; none without image or
    // annotations.
    std::optional<QImage> flattenedImage() const;
    void copyImage();
    void saveToFolder();
    void saveImageAs();
    void applyBeautify(BeautifyStyle style);
    void extractText();
    // A crop made on the canvas: the new image replaces the old as one undo
    // step (with the annotations), and the select tool is chosen.
    void handleImageCropped(const ImageHandle &image);

    // Whether a beautify or a text recognition is under way.
    bool isBusy() const { return m_beautifying || m_recognizing; }

    // ---- parts, for keyboard use and tests ----
    AnnotationToolbar *toolbar() const { return m_toolbar; }
    LayerPanel *layerPanel() const { return m_layers; }
    QScrollArea *scrollArea() const { return m_scroll; }
    QLabel *zoomLabel() const { return m_zoomLabel; }
    QLabel *sizeLabel() const { return m_sizeLabel; }
    QPushButton *extractTextButton() const { return m_extractButton; }

signals:
    // A "Save" ended: the file written, or an empty path after its alert.
    void saveFinished(const QString &path);
    // A "Beautify" ended (whether it changed the image or not).
    void beautifyFinished();
    // An "Extract Text" ended, after its alert.
    void textExtractionFinished();
    // A "Copy" put the image on the clipboard.
    void copyFinished();

protected:
    void showEvent(QShowEvent *event) override;

private:
    struct SaveOutcome;
    void buildLayout();
    void refreshImage();
    void refreshUndoState();
    void updateZoomLabel();
    // Runs `then` on the main thread with the image for a command (the
    // annotations burnt in on a worker thread).
    void withCommandImage(std::function<void(const QImage &)> then);
    void finishSave(const SaveOutcome &outcome);

    AppState &m_appState;
    double m_zoom = 1.0;
    CanvasView *m_canvasView = nullptr;
    AnnotationToolbar *m_toolbar = nullptr;
    LayerPanel *m_layers = nullptr;
    QStackedWidget *m_stack = nullptr;
    QScrollArea *m_scroll = nullptr;
    QLabel *m_zoomLabel = nullptr;
    QLabel *m_sizeLabel = nullptr;
    QPushButton *m_extractButton = nullptr;
    bool m_beautifying = false;
    bool m_recognizing = false;
};
