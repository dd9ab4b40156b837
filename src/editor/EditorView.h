#pragma once

#include <QPointer>
#include <QWidget>

class AppState;

// The root view of the editor window. It works on the shared AppState; its
// own state is the zoom factor and the canvas it shows (none until an image
// is laid out).
class EditorView : public QWidget
{
    Q_OBJECT
public:
    explicit EditorView(AppState &appState, QWidget *parent = nullptr);

    AppState &appState() const { return m_appState; }
    double zoom() const { return m_zoom; }
    QWidget *canvas() const { return m_canvas; }

    // Closes the window that shows this view (it is hidden, not destroyed).
    void dismiss();

private:
    AppState &m_appState;
    double m_zoom = 1.0;
    QPointer<QWidget> m_canvas;
};
