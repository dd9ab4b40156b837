#pragma once

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <functional>
#include <optional>

class RegionSelectionWindow;

// Lets the user drag a rectangle on any screen. start() takes a picture of
// every screen (for the magnifier and as the overlays' background), then
// covers every screen with an overlay. The rectangle, in global points with
// the origin at the top-left corner of the primary screen, or nothing
// (Escape, a selection under 5 points, no screen), reaches the completion
// 0.08 s after the overlays have been hidden. Main thread only.
class RegionSelectionController : public QObject
{
    Q_OBJECT
public:
    using Completion = std::function<void(std::optional<QRectF>)>;
    // Pictures of the screens, keyed by the screen's position in
    // QGuiApplication::screens().
    using Snapshots = QHash<quint32, QImage>;
    using SnapshotSource = std::function<Snapshots()>;

    static constexpr int handBackDelayMs = 80;

    explicit RegionSelectionController(QObject *parent = nullptr);
    ~RegionSelectionController() override;

    // Stores the completion and opens the overlays once the screens have been
    // pictured; returns at once. A selection still running is ended first,
    // its completion receiving nothing.
    void start(Completion completion);
    // Hides and drops every overlay and calls the completion 0.08 s later.
    void finish(std::optional<QRectF> rect);

    // The open overlays, in the order of QGuiApplication::screens().
    QList<RegionSelectionWindow *> windows() const;

    // One picture of every screen at two pixels per point, without the
    // pointer; failures are logged and leave the screen out.
    static Snapshots captureDisplaySnapshots();

    // Replaces how the screens are pictured (tests).
    void setSnapshotSource(SnapshotSource source) { m_snapshotSource = std::move(source); }

private:
    void openOverlays(const Snapshots &snapshots);

    QList<QPointer<RegionSelectionWindow>> m_windows;
    Completion m_completion;
    bool m_pending = false;
    quint64 m_generation = 0;
    SnapshotSource m_snapshotSource;
};
