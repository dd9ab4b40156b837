#include "capture/WindowSelectionController.h"

#include "capture/OverlayBackdrop.h"
#include "capture/WindowSelectionNSView.h"
#include "capture/WindowSelectionWindow.h"
#include "platform/Compositing.h"
#include "platform/HiddenWindowWait.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

WindowSelectionController::WindowSelectionController(QObject *parent)
    : QObject(parent)
    , m_beep([] { QApplication::beep(); })
{
}

WindowSelectionController::~WindowSelectionController()
{
    for (const QPointer<WindowSelectionWindow> &overlay : std::as_const(m_overlays))
        delete overlay.data();
}

void WindowSelectionController::begin(const QList<ShareableWindow> &windows, Completion completion)
{
    close(std::nullopt);
    m_completion = std::move(completion);

    // Where no compositing manager blends windows, the overlays show a
    // picture of the screens beneath their dimming.
    Snapshots snapshots;
    if (!Compositing::isActive())
        snapshots = m_snapshotSource
            ? m_snapshotSource()
            : OverlayBackdrop::captureScreens(OverlayBackdrop::Resolution::screenPixels).value_or(Snapshots());

    QPointer<WindowSelectionController> self(this);
    auto onSelect = [self](const ShareableWindow &window) {
        if (self)
            self->close(window);
    };
    auto onCancel = [self] {
        if (self)
            self->close(std::nullopt);
    };
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (qsizetype i = 0; i < screens.size(); ++i) {
        auto *overlay = new WindowSelectionWindow(screens[i], windows, snapshots.value(quint32(i)), onSelect,
                                                  onCancel, m_beep);
        m_overlays.append(overlay);
        overlay->makeKeyAndOrderFront();
    }
    if (!m_overlays.isEmpty())
        m_overlays.first()->makeFirstResponder();
}

void WindowSelectionController::close(std::optional<ShareableWindow> window)
{
    Completion completion = std::exchange(m_completion, Completion());
    const QList<QPointer<WindowSelectionWindow>> overlays = std::exchange(m_overlays, {});
    for (const QPointer<WindowSelectionWindow> &overlay : overlays) {
        if (!overlay)
            continue;
        overlay->contentView()->releaseKeyboard();
        // Where the picked window is read off the screen, the overlay
        // must be gone from it first.
        if (window)
            HiddenWindowWait::aboutToHide(overlay->windowHandle());
        overlay->hide();
        // close() usually runs inside one of the view's own event handlers.
        overlay->deleteLater();
    }
    if (completion)
        completion(std::move(window));
}

QList<WindowSelectionWindow *> WindowSelectionController::overlays() const
{
    QList<WindowSelectionWindow *> result;
    for (const QPointer<WindowSelectionWindow> &overlay : m_overlays)
        if (overlay)
            result.append(overlay.data());
    return result;
}
