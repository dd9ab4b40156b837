#include "capture/RegionSelectionController.h"

#include "capture/RegionSelectionNSView.h"
#include "capture/RegionSelectionWindow.h"

#include "platform/HiddenWindowWait.h"
#include "platform/Log.h"
#include "capture/OverlayBackdrop.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

RegionSelectionController::RegionSelectionController(QObject *parent)
    : QObject(parent)
{
}

RegionSelectionController::~RegionSelectionController()
{
    for (const QPointer<RegionSelectionWindow> &window : std::as_const(m_windows))
        delete window.data();
}

void RegionSelectionController::start(Completion completion)
{
    // A second start while a selection runs ends the first one (with
    // nothing) rather than piling a second set of overlays on top.
    if (m_pending || !m_windows.isEmpty())
        finish(std::nullopt);
    m_completion = std::move(completion);
    m_pending = true;
    const quint64 generation = ++m_generation;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation != m_generation)
            return;
        const Snapshots snapshots = m_snapshotSource ? m_snapshotSource() : captureDisplaySnapshots();
        if (generation != m_generation)
            return;
        m_pending = false;
        openOverlays(snapshots);
    });
}

void RegionSelectionController::openOverlays(const Snapshots &snapshots)
{
    QPointer<RegionSelectionController> self(this);
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (qsizetype i = 0; i < screens.size(); ++i) {
        const QImage snapshot = snapshots.isEmpty() ? QImage() : snapshots.value(quint32(i));
        auto *window = new RegionSelectionWindow(screens[i], snapshot, [self](std::optional<QRectF> rect) {
            if (self)
                self->finish(rect);
        });
        m_windows.append(window);
        // Each overlay takes the keyboard as it opens: the last one keeps it.
        window->makeKeyAndOrderFront();
    }
}

void RegionSelectionController::finish(std::optional<QRectF> rect)
{
    const QList<QPointer<RegionSelectionWindow>> windows = std::exchange(m_windows, {});
    Completion completion = std::exchange(m_completion, Completion());
    m_pending = false;
    ++m_generation;
    for (const QPointer<RegionSelectionWindow> &window : windows) {
        if (!window)
            continue;
        window->contentView()->releaseKeyboard();
        // The selected area is read next: not with the overlay in it.
        if (rect)
            HiddenWindowWait::aboutToHide(window->windowHandle());
        window->hide();
        // finish() usually runs inside one of the view's own event handlers.
        window->deleteLater();
    }
    QTimer::singleShot(handBackDelayMs, QCoreApplication::instance(), [completion, rect] {
        if (completion)
            completion(rect);
    });
}

QList<RegionSelectionWindow *> RegionSelectionController::windows() const
{
    QList<RegionSelectionWindow *> result;
    for (const QPointer<RegionSelectionWindow> &window : m_windows)
        if (window)
            result.append(window.data());
    return result;
}

RegionSelectionController::Snapshots RegionSelectionController::captureDisplaySnapshots()
{
    OverlayBackdrop::ErrorHandlers log;
    log.content = [](const QString &error) {
        vlog(QStringLiteral("[Vorna] magnifier: SCShareableContent failed: ") + error);
    };
    log.display = [](quint32 displayID, const QString &error) {
        vlog(QStringLiteral("[Vorna] magnifier: capture failed for display ") + QString::number(displayID)
             + QStringLiteral(": ") + error);
    };
    return OverlayBackdrop::captureScreens(OverlayBackdrop::Resolution::twoPerPoint, log).value_or(Snapshots());
}
