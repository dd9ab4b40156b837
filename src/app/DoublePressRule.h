#pragma once

#include "model/CaptureMode.h"

#include <QHash>
#include <QObject>
#include <functional>
#include <memory>

class AppState;
class DoublePressClock;

// Turns hot-key presses into captures. A mode without a double-press target
// captures at once. A mode with one waits one interval
// (doubleTapIntervalMS) after a press: a second press within it runs the
// target at once and the first press's capture never runs; otherwise the
// mode itself is captured when the interval ends.
//
// Each waiting capture owns its own entry: when it runs late, after a newer
// press of the same mode has started waiting, it leaves the newer entry
// alone, so that one can still become a double press.
class DoublePressRule : public QObject
{
    Q_OBJECT
public:
    using Perform = std::function<void(CaptureMode)>;

    DoublePressRule(AppState &appState, Perform perform, QObject *parent = nullptr);
    ~DoublePressRule() override;

    // A hot-key press of a mode.
    void hotkeyPressed(CaptureMode mode);

    // Replaces the clock (tests). Not owned; must outlive this rule.
    void setClock(DoublePressClock *clock);

    // Whether a single press of the mode is waiting out its interval.
    bool isPending(CaptureMode mode) const { return m_pending.contains(mode); }

private:
    struct Pending
    {
        quint64 token = 0;  // the clock's scheduled call
        quint64 serial = 0; // tells this entry from a later one
    };

    AppState &m_appState;
    Perform m_perform;
    std::unique_ptr<DoublePressClock> m_ownClock;
    DoublePressClock *m_clock = nullptr;
    QHash<CaptureMode, Pending> m_pending;           // pendingHotkeyCapture
    QHash<CaptureMode, qint64> m_lastPressAt;        // lastHotkeyPressAt
    quint64 m_nextSerial = 1;
};
