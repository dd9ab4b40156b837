#pragma once

#include "model/CaptureMode.h"

#include <QImage>
#include <QObject>
#include <functional>
#include <optional>

class AppState;
class CapturePipeline;

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

    CaptureFlows(AppState &appState, CapturePipeline &pipeline, QObject *parent = nullptr);
    ~CaptureFlows() override;

    void performCapture(CaptureMode mode);
    void captureFullScreen();

signals:
    // A flow has started.
    void started(CaptureMode mode);

private:
    // Hands a capture's result to the pipeline; nothing happens without one.
    void deliver(const std::optional<QImage> &image, CaptureMode mode);

    AppState &m_appState;
    CapturePipeline &m_pipeline;
};
