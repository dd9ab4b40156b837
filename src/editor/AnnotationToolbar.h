#pragma once

#include "model/AnnotationTool.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QWidget>

class AppState;
class PresetsMenu;
class QAbstractButton;
class QButtonGroup;
class QFrame;
class QLabel;
class QSlider;
class QToolButton;

// The row of controls across the top of the editor: one button per tool,
// the colour well and the palette, the line-width slider (and the font-size
// slider while the text tool is chosen), the presets menu, and undo, redo
// and clear at the right. Every control reads and writes the editor state
// in AppState, so the canvas and the bar always agree; the bar keeps only
// the colour its well shows.
class AnnotationToolbar : public QWidget
{
    Q_OBJECT
public:
    explicit AnnotationToolbar(AppState &appState, QWidget *parent = nullptr);

    // The eight palette colours: red, orange, yellow, green, blue, purple,
    // white, black.
    static QList<QColor> palette();

    void setCanUndo(bool can);
    void setCanRedo(bool can);

    // The colour the well shows. It starts red and follows only the well
    // and the palette; a user's change writes the current colour.
    QColor wellColor() const { return m_wellColor; }
    void setWellColor(const QColor &color);

    // The controls, for keyboard use and tests.
    QAbstractButton *toolButton(AnnotationTool tool) const { return m_toolButtons.value(tool); }
    QList<QAbstractButton *> swatches() const { return m_swatches; }
    QAbstractButton *colorWell() const;
    QSlider *lineWidthSlider() const { return m_lineWidth; }
    QSlider *fontSizeSlider() const { return m_fontSize; }
    QLabel *lineWidthLabel() const { return m_lineWidthLabel; }
    QLabel *fontSizeLabel() const { return m_fontSizeLabel; }
    QWidget *fontSizeGroup() const { return m_fontGroup; }
    PresetsMenu *presetsMenu() const { return m_presets; }
    QToolButton *undoButton() const { return m_undo; }
    QToolButton *redoButton() const { return m_redo; }
    QToolButton *clearButton() const { return m_clear; }
    // The separators shown now (three, four while the text tool is chosen).
    int visibleSeparatorCount() const;

    // The text of a width or size label: the value truncated toward zero,
    // "–" for a value no integer holds.
    static QString sizeLabel(double value);

signals:
    void undoRequested();
    void redoRequested();
    void clearRequested();

private:
    void sync();
    void chooseWellColor();
    QFrame *separator();

    AppState &m_appState;
    QColor m_wellColor;
    QHash<AnnotationTool, QAbstractButton *> m_toolButtons;
    QButtonGroup *m_toolGroup = nullptr;
    QToolButton *m_well = nullptr;
    QList<QAbstractButton *> m_swatches;
    QSlider *m_lineWidth = nullptr;
    QSlider *m_fontSize = nullptr;
    QLabel *m_lineWidthLabel = nullptr;
    QLabel *m_fontSizeLabel = nullptr;
    QWidget *m_fontGroup = nullptr;
    QFrame *m_fontSeparator = nullptr;
    QList<QFrame *> m_separators;
    PresetsMenu *m_presets = nullptr;
    QToolButton *m_undo = nullptr;
    QToolButton *m_redo = nullptr;
    QToolButton *m_clear = nullptr;
};
