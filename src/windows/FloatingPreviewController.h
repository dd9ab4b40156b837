#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

class QTimer;

// Owns the small preview panel shown in the bottom-right corner of the main
// screen after a capture, and its close timer. The panel floats above other
// windows and never takes the keyboard focus. At most one panel belongs to
// the controller at a time; a dismissed panel fades out for 0.3 s on its own.
// Main thread only.
class FloatingPreviewController : public QObject
{
    Q_OBJECT
public:
    static constexpr int panelWidth = 280;
    static constexpr int panelHeight = 230;
    static constexpr int panelInset = 16;

    explicit FloatingPreviewController(QObject *parent = nullptr);
    ~FloatingPreviewController() override;

    // The panel on screen (cleared as soon as its fade-out starts).
    QWidget *panel() const { return m_panel; }
    // The pending one-shot close timer.
    QTimer *dismissTimer() const { return m_dismissTimer; }

    // Closes any preview on screen, then shows the image for durationSec
    // seconds. editorAction runs when "Open in Editor" is clicked, after the
    // panel is dismissed. Nothing is shown when there is no screen.
    void show(const QImage &image, qint64 durationSec, std::function<void(const QImage &)> editorAction);

    // Stops the timer; fades the panel out and drops it. With no panel it
    // only stops the timer.
    void dismiss();

    // The screen the preview goes to: the one with the active window, else
    // the primary screen; nothing without screens.
    static class QScreen *mainScreen();

private:
    QPointer<QWidget> m_panel;
    // Panels still fading out; the controller deletes them if it goes first.
    QList<QPointer<QWidget>> m_fading;
    QPointer<QTimer> m_dismissTimer;
};
