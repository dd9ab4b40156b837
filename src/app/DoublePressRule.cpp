#include "app/DoublePressRule.h"

#include "app/DoublePressClock.h"
#include "model/AppState.h"
#include "model/CaptureShortcut.h"
#include "model/PreferenceRange.h"

#include <QPointer>

DoublePressRule::DoublePressRule(AppState &appState, Perform perform, QObject *parent)
    : QObject(parent), m_appState(appState), m_perform(std::move(perform))
{
    m_ownClock = std::make_unique<DoublePressClock>();
    m_clock = m_ownClock.get();
}

DoublePressRule::~DoublePressRule()
{
    for (const Pending &p : std::as_const(m_pending))
        m_clock->cancel(p.token);
}

void DoublePressRule::setClock(DoublePressClock *clock)
{
    m_clock = clock ? clock : m_ownClock.get();
}

void DoublePressRule::hotkeyPressed(CaptureMode mode)
{
    const std::optional<CaptureShortcut> targetShortcut = AppState::doubleTapTarget(CaptureShortcuts::fromMode(mode));
    if (!targetShortcut || CaptureShortcuts::toMode(*targetShortcut) == mode) {
        m_perform(mode);
        return;
    }
    const CaptureMode target = CaptureShortcuts::toMode(*targetShortcut);
    // A stored value is read as stored; only the settable range is used.
    const qint64 interval = PreferenceRanges::doubleTapIntervalMS.clamp(m_appState.doubleTapIntervalMS());
    const qint64 now = m_clock->nowMs();

    const auto last = m_lastPressAt.constFind(mode);
    const auto pending = m_pending.constFind(mode);
    if (last != m_lastPressAt.cend() && now - *last < interval && pending != m_pending.cend()) {
        m_clock->cancel(pending->token);
        m_pending.remove(mode);
        m_lastPressAt.remove(mode);
        m_perform(target);
        return;
    }

    // A first press (or one after the interval): wait for a second one. An
    // older waiting press is left to run; it no longer owns the entries.
    m_lastPressAt.insert(mode, now);
    const quint64 serial = m_nextSerial++;
    QPointer<DoublePressRule> weak(this);
    const quint64 token = m_clock->schedule(interval, [weak, mode, serial] {
        if (!weak)
            return;
        const auto own = weak->m_pending.constFind(mode);
        if (own != weak->m_pending.cend() && own->serial == serial) {
            weak->m_pending.remove(mode);
            weak->m_lastPressAt.remove(mode);
        }
        weak->m_perform(mode);
    });
    m_pending.insert(mode, Pending{token, serial});
}
