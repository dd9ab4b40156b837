#pragma once

#include "model/Annotation.h"
#include "model/AnnotationTool.h"

#include <QList>
#include <QSet>
#include <QWidget>

class AppState;
class QAbstractButton;
class QLabel;
class QVBoxLayout;

// The narrow column at the editor's right: one row per tool that has
// annotations, in the tools' fixed order, with its count and an eye that
// hides or shows all of that tool's annotations on the canvas (exports
// always carry every annotation). Reads AppState's annotations and writes
// its hiddenLayers; keeps nothing of its own.
class LayerPanel : public QWidget
{
    Q_OBJECT
public:
    explicit LayerPanel(AppState &appState, QWidget *parent = nullptr);

    // The tools that occur in the annotations, each once, in tool order.
    static QList<AnnotationTool> layerTools(const QList<Annotation> &annotations);

    // Hides the tool's annotations when shown, shows them when hidden
    // (one write of AppState's hiddenLayers).
    void toggleLayer(AnnotationTool tool);

    // The rows shown now, top to bottom (for keyboard use and tests).
    QList<QAbstractButton *> rows() const { return m_rows; }
    // "No annotations yet." while there are none.
    QLabel *emptyLabel() const { return m_empty; }

private:
    void rebuild();

    AppState &m_appState;
    QVBoxLayout *m_list = nullptr;
    QLabel *m_empty = nullptr;
    QList<QAbstractButton *> m_rows;
};
