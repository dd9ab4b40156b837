#pragma once

#include "platform/ScreenCapture.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>

class WindowSelectionWindow;

// Lets the user click the window to capture. begin() covers every screen with
// an overlay that highlights and labels the listed window under the pointer.
// A click on a window ends the pick with it, a click elsewhere beeps and
// keeps the picker open, a right click or Escape ends it with nothing. The
// completion runs at once, inside the event that ended the pick. Main thread
// only.
class WindowSelectionController : public QObject
{
    Q_OBJECT
public:
    using Completion = std::function<void(std::optional<ShareableWindow>)>;
    // Pictures of the screens, keyed by the screen's position in
    // QGuiApplication::screens().
    using Snapshots = QHash<quint32, QImage>;
    using SnapshotSource = std::function<Snapshots()>;

    explicit WindowSelectionController(QObject *parent = nullptr);
    ~WindowSelectionController() override;

    // Ends a pick in progress (its completion receives nothing), then opens
    // one overlay per screen over the given windows (as listed by the capture
    // service, front-most first).
    void begin(const QList<ShareableWindow> &windows, Completion completion);
    // Hides every overlay and calls the completion with the window.
    void close(std::optional<ShareableWindow> window);

    QList<WindowSelectionWindow *> overlays() const;

    // Replace the system beep and how the screens are pictured (tests).
    void setBeep(std::function<void()> beep) { m_beep = std::move(beep); }
    void setSnapshotSource(SnapshotSource source) { m_snapshotSource = std::move(source); }

private:
    QList<QPointer<WindowSelectionWindow>> m_overlays;
    Completion m_completion;
    std::function<void()> m_beep;
    SnapshotSource m_snapshotSource;
};
