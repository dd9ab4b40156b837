#pragma once

#include "model/CaptureShortcut.h"
#include "model/HotKeyBinding.h"

#include <QHash>
#include <QWidget>

class AppState;
class HotKeyRecorder;
class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QToolButton;

// The Shortcuts tab: for each capture mode its global shortcut (recorded,
// typed, cleared or reset to the default) and its double-press target.
// Every change is stored at once through AppState; the rows are filled
// from the stored values each time the tab comes on screen.
class ShortcutsSettingsTab : public QWidget
{
    Q_OBJECT
public:
    explicit ShortcutsSettingsTab(AppState &appState, QWidget *parent = nullptr);

    // Fills every row from the stored shortcuts and double-press targets.
    void loadAll();

    // The row's actions.
    void captureBinding(CaptureShortcut mode, const HotKeyBinding &binding);
    void commitText(CaptureShortcut mode);
    void clearBinding(CaptureShortcut mode);
    void resetBinding(CaptureShortcut mode);
    void setTwice(CaptureShortcut mode, bool on);
    void setTarget(CaptureShortcut mode, CaptureShortcut target);

    // The first mode, in case order, other than the given one.
    static CaptureShortcut defaultTarget(CaptureShortcut mode);

    struct Row
    {
        HotKeyRecorder *recorder = nullptr;
        QLineEdit *text = nullptr;
        QAction *errorMark = nullptr;
        QToolButton *clear = nullptr;
        QToolButton *reset = nullptr;
        QCheckBox *twice = nullptr;
        QComboBox *target = nullptr;
    };
    const Row &row(CaptureShortcut mode) const { return m_rows.find(mode).value(); }
    bool hasTextError(CaptureShortcut mode) const { return m_textErrors.value(mode); }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void showRow(CaptureShortcut mode);
    void setTextError(CaptureShortcut mode, bool error);

    AppState &m_appState;
    QHash<CaptureShortcut, Row> m_rows;
    QHash<CaptureShortcut, HotKeyBinding> m_bindings;
    QHash<CaptureShortcut, bool> m_textErrors;
    QHash<CaptureShortcut, bool> m_doubleTapEnabled;
    QHash<CaptureShortcut, CaptureShortcut> m_doubleTapTargets;
};
