#pragma once

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>

class CaptureFlashWindow;

// Washes every screen briefly with white after a capture, like a camera
// flash: 0.08 s in to 55 %, 0.16 s back out. A new flash removes the windows
// of one still fading. Main thread only.
class CaptureFlashController : public QObject
{
    Q_OBJECT
public:
    using Snapshots = QHash<quint32, QImage>;
    using SnapshotSource = std::function<Snapshots()>;

    static constexpr int fadeInMs = 80;
    static constexpr int fadeOutMs = 160;
    static constexpr qreal peakLevel = 0.55;

    explicit CaptureFlashController(QObject *parent = nullptr);
    ~CaptureFlashController() override;

    // Returns at once; the flash runs on.
    void flash();

    // The flash windows on screen now.
    QList<CaptureFlashWindow *> windows() const;

    // Replaces how the screens are pictured where no compositing manager
    // blends windows (tests).
    void setSnapshotSource(SnapshotSource source) { m_snapshotSource = std::move(source); }

private:
    QList<QPointer<CaptureFlashWindow>> m_windows;
    SnapshotSource m_snapshotSource;
};
