#pragma once

#include "model/HotKeyBinding.h"

#include <QWidget>

// The clickable box that records a shortcut: a click (or Space / Return
// while it has the focus) starts recording, the next key combination with a
// modifier, or F1 to F20 alone, becomes the binding. Escape, or the focus
// leaving, ends recording without a change. While recording, Tab is a key
// like any other rather than a move to the next control; lone modifier
// presses are ignored, and a key that cannot be bound beeps and keeps
// recording. While it records, the program's own global shortcuts are set
// aside, so that their combinations reach the box too; they come back when
// recording ends, however it ends. The recorder stores nothing: it reports
// what it took.
class HotKeyRecorder : public QWidget
{
    Q_OBJECT
public:
    explicit HotKeyRecorder(QWidget *parent = nullptr);
    ~HotKeyRecorder() override;

    HotKeyBinding binding() const { return m_binding; }
    // Shows a binding (while recording, only once recording ends).
    void setBinding(const HotKeyBinding &binding);
    bool isRecording() const { return m_recording; }
    // The text the box shows now.
    QString displayText() const;

    void startRecording();

    QSize sizeHint() const override { return QSize(150, 26); }
    QSize minimumSizeHint() const override { return QSize(110, 26); }

signals:
    // A combination was accepted (the binding is already set).
    void captured(const HotKeyBinding &binding);

protected:
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void setRecording(bool recording);
    void endRecording();

    HotKeyBinding m_binding;
    bool m_recording = false;
};
