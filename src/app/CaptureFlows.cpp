#include "app/CaptureFlows.h"

#include "app/CapturePipeline.h"
#include "app/ScreenRecordingPermission.h"
#include "capture/CaptureService.h"
#include "capture/RegionSelectionController.h"
#include "capture/ScrollCaptureService.h"
#include "capture/TimerOverlayView.h"
#include "capture/WindowSelectionController.h"
#include "model/AppState.h"
#include "model/PreferenceRange.h"
#include "platform/AlertPresenter.h"
#include "platform/Compositing.h"
#include "platform/HiddenWindowWait.h"
#include "platform/Localized.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>

CaptureFlows::CaptureFlows(AppState &appState, CapturePipeline &pipeline, RegionSelectionController &regionSelector,
                           WindowSelectionController &windowSelector, ScrollCaptureService &scrollCaptureService,
                           QObject *parent)
    : QObject(parent)
    , m_appState(appState)
    , m_pipeline(pipeline)
    , m_regionSelector(regionSelector)
    , m_windowSelector(windowSelector)
    , m_scrollCaptureService(scrollCaptureService)
{
}

CaptureFlows::~CaptureFlows()
{
    for (const QPointer<QWidget> &window : std::as_const(m_countdownWindows))
        delete window.data();
}

void CaptureFlows::deliver(const std::optional<QImage> &image, CaptureMode mode)
{
    if (!image || image->isNull())
        return;
    // In a turn of its own, so that the grab and the pipeline together do
    // not hold up the UI thread for longer than a frame.
    QTimer::singleShot(0, this, [this, captured = *image, mode] { m_pipeline.handleCapture(captured, mode); });
}

void CaptureFlows::deliver(QFuture<std::optional<QImage>> image, CaptureMode mode)
{
    // The pixels are fetched off this thread; the pipeline runs here when
    // they arrive.
    image.then(this, [this, mode](const std::optional<QImage> &captured) {
        if (captured && !captured->isNull())
            m_pipeline.handleCapture(*captured, mode);
    });
}

bool CaptureFlows::requestScreenAccess() const
{
    return m_screenAccess ? m_screenAccess() : ScreenRecordingPermission::preflight();
}

void CaptureFlows::performCapture(CaptureMode mode)
{
    switch (mode) {
    case CaptureMode::window: captureWindow(); break;
    case CaptureMode::region: captureRegion(); break;
    case CaptureMode::scrolling: captureScrolling(); break;
    case CaptureMode::timed: captureTimed(); break;
    case CaptureMode::fullscreen: captureFullScreen(); break;
    }
}

void CaptureFlows::captureFullScreen()
{
    emit started(CaptureMode::fullscreen);
    QTimer::singleShot(fullScreenDelayMs, this,
                       [this] { deliver(CaptureService::captureFullScreenInBackground(), CaptureMode::fullscreen); });
}

void CaptureFlows::captureWindow()
{
    emit started(CaptureMode::window);
    if (!requestScreenAccess()) {
        QTimer::singleShot(0, this, [this] { showRelaunchAlert(); });
        return;
    }
    QTimer::singleShot(0, this, [this] {
        const QList<ShareableWindow> windows = CaptureService::listWindows();
        if (windows.isEmpty()) {
            AlertPresenter::Alert alert;
            alert.style = AlertPresenter::Style::warning;
            alert.title = localized("No Windows Available");
            alert.informativeText = localized("Vorna couldn't find any capturable windows. Make sure at least one "
                                              "app window is open and visible.");
            alert.buttons = {localized("OK")};
            AlertPresenter::current().present(alert);
            return;
        }
        // The picker's overlays take the keyboard themselves; raising the
        // program's own windows here would only cover the windows to pick.
        QPointer<CaptureFlows> weak(this);
        m_windowSelector.begin(windows, [weak](std::optional<ShareableWindow> window) {
            if (!weak || !window)
                return;
            const ShareableWindow picked = *window;
            QTimer::singleShot(0, weak.data(), [weak, picked] {
                if (weak)
                    weak->deliver(CaptureService::captureWindowInBackground(picked), CaptureMode::window);
            });
        });
    });
}

void CaptureFlows::captureRegion()
{
    emit started(CaptureMode::region);
    if (!requestScreenAccess()) {
        QTimer::singleShot(0, this, [this] { showRelaunchAlert(); });
        return;
    }
    QTimer::singleShot(overlayDelayMs, this, [this] {
        QPointer<CaptureFlows> weak(this);
        m_regionSelector.start([weak](std::optional<QRectF> rect) {
            if (!weak || !rect)
                return;
            const QRectF area = *rect;
            QTimer::singleShot(0, weak.data(), [weak, area] {
                if (weak)
                    weak->deliver(CaptureService::captureRegionInBackground(area), CaptureMode::region);
            });
        });
    });
}

void CaptureFlows::captureScrolling()
{
    emit started(CaptureMode::scrolling);
    QTimer::singleShot(overlayDelayMs, this, [this] {
        QPointer<CaptureFlows> weak(this);
        m_regionSelector.start([weak](std::optional<QRectF> rect) {
            if (!weak || !rect)
                return;
            weak->m_scrollCaptureService.startScrollCapture(*rect, [weak](std::optional<QImage> image) {
                if (weak)
                    weak->deliver(image, CaptureMode::scrolling);
            });
        });
    });
}

void CaptureFlows::captureTimed()
{
    emit started(CaptureMode::timed);
    const int seconds = static_cast<int>(PreferenceRanges::countdownSeconds.clamp(m_appState.countdownSeconds()));
    QPointer<CaptureFlows> weak(this);
    showCountdown(seconds, [weak] {
        if (!weak)
            return;
        const int delay = Compositing::isActive() ? 0 : uncompositedRepaintDelayMs;
        QTimer::singleShot(delay, weak.data(), [weak] {
            if (weak)
                weak->deliver(CaptureService::captureFullScreenInBackground(), CaptureMode::timed);
        });
    });
}

void CaptureFlows::showCountdown(int seconds, std::function<void()> completion)
{
    QScreen *screen = nullptr;
    if (QWidget *active = QApplication::activeWindow())
        screen = active->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;

    // The whole screen's centre, not the area left free by panels.
    const QPointF centre = QRectF(screen->geometry()).center();
    const QRect frame(qRound(centre.x() - TimerOverlayView::side / 2.0), qRound(centre.y() - TimerOverlayView::side / 2.0),
                      TimerOverlayView::side, TimerOverlayView::side);
    const bool composited = Compositing::isActive();
    const QImage backdrop = TimerOverlayView::backdropFor(frame); // null where a compositor blends

    auto *window = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                                            | Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint);
    window->setObjectName(QStringLiteral("CountdownWindow"));
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    if (composited)
        window->setAttribute(Qt::WA_TranslucentBackground);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new TimerOverlayView(seconds, backdrop, window));
    window->setGeometry(frame);
    window->show();
    window->raise();
    // A countdown already running goes on: each request gets its capture.
    m_countdownWindows.removeAll(nullptr);
    m_countdownWindows.append(window);
    m_timerOverlayWindow = window;

    auto remaining = std::make_shared<int>(seconds);
    auto *tick = new QTimer(window);
    tick->setInterval(1000);
    tick->setTimerType(Qt::PreciseTimer);
    QPointer<CaptureFlows> weak(this);
    connect(tick, &QTimer::timeout, window, [weak, window, tick, remaining, backdrop, completion] {
        *remaining -= 1;
        if (*remaining >= 1) {
            // A new view for each number.
            QLayoutItem *old = window->layout()->takeAt(0);
            if (old) {
                delete old->widget();
                delete old;
            }
            window->layout()->addWidget(new TimerOverlayView(*remaining, backdrop, window));
            return;
        }
        tick->stop();
        // The capture that follows must not find the badge still on screen.
        HiddenWindowWait::aboutToHide(window->windowHandle());
        window->hide();
        window->deleteLater();
        if (!weak)
            return;
        if (weak->m_timerOverlayWindow == window)
            weak->m_timerOverlayWindow = nullptr;
        completion();
    });
    tick->start();
}

void CaptureFlows::showRelaunchAlert()
{
    AlertPresenter::Alert alert;
    alert.style = AlertPresenter::Style::warning;
    alert.title = localized("Relaunch Vorna to Apply Permission");
    alert.informativeText = localized("After you grant Screen Recording access in System Settings, Vorna needs to be "
                                      "relaunched for the change to take effect.");
    alert.buttons = {localized("Quit Vorna"), localized("Later")};
    if (AlertPresenter::current().present(alert) != 0)
        return;
    if (m_terminate)
        m_terminate();
    else
        QCoreApplication::quit();
}
