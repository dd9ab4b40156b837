#include "app/CaptureFlows.h"

#include "app/CapturePipeline.h"
#include "capture/CaptureService.h"
#include "model/AppState.h"

#include <QTimer>

CaptureFlows::CaptureFlows(AppState &appState, CapturePipeline &pipeline, QObject *parent)
    : QObject(parent), m_appState(appState), m_pipeline(pipeline)
{
}

CaptureFlows::~CaptureFlows() = default;

void CaptureFlows::deliver(const std::optional<QImage> &image, CaptureMode mode)
{
    if (image && !image->isNull())
        m_pipeline.handleCapture(*image, mode);
}

void CaptureFlows::performCapture(CaptureMode mode)
{
    switch (mode) {
    case CaptureMode::fullscreen: captureFullScreen(); break;
    case CaptureMode::window:
    case CaptureMode::region:
    case CaptureMode::scrolling:
    case CaptureMode::timed: emit started(mode); break;
    }
}

void CaptureFlows::captureFullScreen()
{
    emit started(CaptureMode::fullscreen);
    QTimer::singleShot(fullScreenDelayMs, this, [this] { deliver(CaptureService::captureFullScreen(), CaptureMode::fullscreen); });
}
