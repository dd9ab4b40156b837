#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

class QTimer;
class QScreen;

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
    // How long after a panel shows (or the controller is made) the window
    // for the next one is made, once the capture's own work is done.
    static constexpr int spareDelayMs = 100;

    static QRect frameOn(const QScreen *screen);
    // A hidden panel window at frame, with its native window and memory.
    static QWidget *makePanel(const QRect &frame, bool composited);
    void prepareSpare();
    bool spareFits(const QRect &frame, bool composited) const;

    QPointer<QWidget> m_panel;
    // The next panel's window, made ahead: creating a window waits on the
    // X server several times, which a capture should not.
    QPointer<QWidget> m_spare;
    bool m_spareComposited = false;
    // Panels still fading out; the controller deletes them if it goes first.
    QList<QPointer<QWidget>> m_fading;
    QPointer<QTimer> m_dismissTimer;
};
