#pragma once

#include "model/CaptureMode.h"

#include <QImage>
#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

class AppState;
class CapturePipeline;
class QTimer;
class RegionSelectionController;
class ScrollCaptureService;
class WindowSelectionController;

// The five ways of taking a capture, each ending, when it yields an image,
// in the result pipeline. Menu items call the flows directly; hot keys and
// capture requests go through performCapture. Main thread only.
class CaptureFlows : public QObject
{
    Q_OBJECT
public:
    // The full-screen flow waits this long, so that a menu that started it
    // has closed before the screen is taken.
    static constexpr int fullScreenDelayMs = 200;
    // Without a compositing manager, the windows the countdown badge covered
    // must repaint themselves once it is gone; the timed capture waits this
    // long for them so the picture does not show a hole where the badge was.
    static constexpr int uncompositedRepaintDelayMs = 150;
    // The region and scrolling flows wait this long before the overlay opens.
    static constexpr int overlayDelayMs = 150;

    CaptureFlows(AppState &appState, CapturePipeline &pipeline, RegionSelectionController &regionSelector,
                 WindowSelectionController &windowSelector, ScrollCaptureService &scrollCaptureService,
                 QObject *parent = nullptr);
    ~CaptureFlows() override;

    void performCapture(CaptureMode mode);
    void captureFullScreen();
    void captureWindow();
    void captureRegion();
    void captureScrolling();
    void captureTimed();

    // Shows the countdown in the middle of the main screen, one number a
    // second from seconds down to 1, then hides it and calls completion.
    // Without a screen nothing is shown and completion never runs.
    void showCountdown(int seconds, std::function<void()> completion);
    // The window of the latest countdown while it runs. An earlier countdown
    // still running keeps its own window and its capture.
    QWidget *timerOverlayWindow() const { return m_timerOverlayWindow; }

    // Whether the screen may be captured (tests replace the check).
    void setScreenAccess(std::function<bool()> access) { m_screenAccess = std::move(access); }
    // What the relaunch alert's "Quit Vorna" does (tests replace it).
    void setTerminate(std::function<void()> terminate) { m_terminate = std::move(terminate); }

signals:
    // A flow has started.
    void started(CaptureMode mode);

private:
    // Hands a capture's result to the pipeline; nothing happens without one.
    void deliver(const std::optional<QImage> &image, CaptureMode mode);
    void deliver(QFuture<std::optional<QImage>> image, CaptureMode mode);
    bool requestScreenAccess() const;
    void showRelaunchAlert();

    AppState &m_appState;
    CapturePipeline &m_pipeline;
    RegionSelectionController &m_regionSelector;
    WindowSelectionController &m_windowSelector;
    ScrollCaptureService &m_scrollCaptureService;
    QPointer<QWidget> m_timerOverlayWindow;
    QList<QPointer<QWidget>> m_countdownWindows; // every countdown still running
    std::function<bool()> m_screenAccess;
    std::function<void()> m_terminate;
};
