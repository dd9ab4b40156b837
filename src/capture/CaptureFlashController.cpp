#include "capture/CaptureFlashController.h"

#include "capture/CaptureFlashWindow.h"
#include "capture/OverlayBackdrop.h"
#include "platform/Compositing.h"

#include <QEasingCurve>
#include <QGuiApplication>
#include <QScreen>
#include <QSequentialAnimationGroup>
#include <QTimer>
#include <QVariantAnimation>

namespace {

// The standard ease-out and ease-in timing curves.
QEasingCurve cubicBezier(QPointF c1, QPointF c2)
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(c1, c2, QPointF(1, 1));
    return curve;
}

} // namespace

CaptureFlashController::CaptureFlashController(QObject *parent)
    : QObject(parent)
{
}

CaptureFlashController::~CaptureFlashController()
{
    for (const QPointer<CaptureFlashWindow> &window : std::as_const(m_windows))
        delete window.data();
}

void CaptureFlashController::flash()
{
    // 1. An earlier flash still fading goes at once.
    for (const QPointer<CaptureFlashWindow> &window : std::exchange(m_windows, {})) {
        if (window) {
            window->hide();
            window->deleteLater();
        }
    }

    // Without a compositing manager a window's opacity does nothing: each
    // flash window then whitens a picture of its screen itself.
    Snapshots backdrops;
    if (!Compositing::isActive())
        backdrops = m_snapshotSource
            ? m_snapshotSource()
            : OverlayBackdrop::captureScreens(OverlayBackdrop::Resolution::screenPixels).value_or(Snapshots());

    // 2. One window per screen.
    QList<QPointer<CaptureFlashWindow>> own;
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (qsizetype i = 0; i < screens.size(); ++i) {
        auto *window = new CaptureFlashWindow(screens[i], backdrops.value(quint32(i)));
        window->show();
        window->raise();
        own.append(window);
        m_windows.append(window);
    }

    // 3 to 5. Fade in, then out, on this flash's own windows.
    auto *fadeIn = new QVariantAnimation;
    fadeIn->setDuration(fadeInMs);
    fadeIn->setStartValue(0.0);
    fadeIn->setEndValue(peakLevel);
    fadeIn->setEasingCurve(cubicBezier(QPointF(0, 0), QPointF(0.58, 1)));
    auto *fadeOut = new QVariantAnimation;
    fadeOut->setDuration(fadeOutMs);
    fadeOut->setStartValue(peakLevel);
    fadeOut->setEndValue(0.0);
    fadeOut->setEasingCurve(cubicBezier(QPointF(0.42, 0), QPointF(1, 1)));
    auto apply = [own](const QVariant &value) {
        for (const QPointer<CaptureFlashWindow> &window : own)
            if (window)
                window->setLevel(value.toReal());
    };
    connect(fadeIn, &QVariantAnimation::valueChanged, this, apply);
    connect(fadeOut, &QVariantAnimation::valueChanged, this, apply);
    auto *group = new QSequentialAnimationGroup(this);
    group->addAnimation(fadeIn);
    group->addAnimation(fadeOut);

    // 6. Then remove this flash's windows, and only those.
    connect(group, &QAbstractAnimation::finished, this, [this, own, group] {
        group->deleteLater();
        QTimer::singleShot(0, this, [this, own] {
            for (const QPointer<CaptureFlashWindow> &window : own) {
                if (!window)
                    continue;
                window->hide();
                m_windows.removeAll(window);
                window->deleteLater();
            }
        });
    });
    group->start();
}

QList<CaptureFlashWindow *> CaptureFlashController::windows() const
{
    QList<CaptureFlashWindow *> result;
    for (const QPointer<CaptureFlashWindow> &window : m_windows)
        if (window)
            result.append(window.data());
    return result;
}
