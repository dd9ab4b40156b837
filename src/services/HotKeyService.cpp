#include "services/HotKeyService.h"

#include "platform/GlobalHotKeys.h"
#include "platform/Log.h"

HotKeyService &HotKeyService::shared()
{
    static HotKeyService *instance = new HotKeyService;
    return *instance;
}

HotKeyService::HotKeyService() = default;

QList<quint32> HotKeyService::x11Keycodes(const HotKeyBinding &binding)
{
    return HotKeyBinding::x11KeycodesFromKeyCode(binding.keyCode);
}

quint32 HotKeyService::globalModifiers(const HotKeyBinding &binding)
{
    GlobalHotKeys::Modifiers mods;
    if (binding.carbonModifiers & HotKeyBinding::shiftModifier)
        mods |= GlobalHotKeys::Shift;
    if (binding.carbonModifiers & HotKeyBinding::controlModifier)
        mods |= GlobalHotKeys::Control;
    if (binding.carbonModifiers & HotKeyBinding::optionModifier)
        mods |= GlobalHotKeys::Alt;
    if (binding.carbonModifiers & HotKeyBinding::commandModifier)
        mods |= GlobalHotKeys::Super;
    return mods.toInt();
}

void HotKeyService::attach(GlobalHotKeys &backend)
{
    if (m_backend == &backend)
        return;
    if (m_backend)
        disconnect(m_backend, nullptr, this, nullptr);
    m_backend = &backend;
    // The action runs later from the event loop, never inside the event filter.
    connect(&backend, &GlobalHotKeys::activated, this, &HotKeyService::pressed, Qt::QueuedConnection);
}

QStringList HotKeyService::registerHotKeys(const QList<Registration> &registrations)
{
    unregisterAll();
    GlobalHotKeys &backend = GlobalHotKeys::current();
    attach(backend);
    QStringList refused;
    if (!backend.isAvailable()) {
        // Not a conflict: this display has no global shortcuts at all.
        vlog(QStringLiteral("[Vorna] hotkeys: global shortcuts are not available on this display"));
        return refused;
    }
    // X lets one client grab a combination twice, and which of the two
    // would then fire is chance: the first registration keeps it and a later
    // one on the same keys is refused like one another program holds.
    QList<QPair<QList<quint32>, quint32>> granted; // keycodes, modifiers
    auto takenByEarlier = [&granted](const QList<quint32> &keycodes, quint32 modifiers) {
        for (const auto &[heldKeycodes, heldModifiers] : std::as_const(granted)) {
            if (heldModifiers == modifiers && !keycodes.isEmpty() && heldKeycodes.contains(keycodes.first()))
                return true;
        }
        return false;
    };
    for (const Registration &r : registrations) {
        if (r.binding.isUnbound())
            continue;
        const quint32 id = m_nextID++;
        const QList<quint32> keycodes = x11Keycodes(r.binding);
        const quint32 modifiers = globalModifiers(r.binding);
        const bool ok = !takenByEarlier(keycodes, modifiers)
                        && backend.grab(id, keycodes, GlobalHotKeys::Modifiers::fromInt(modifiers));
        if (ok) {
            m_handlers.insert(id, {r.action, keycodes, modifiers});
            granted.append({keycodes, modifiers});
        } else {
            refused.append(CaptureShortcuts::title(r.shortcut) + QStringLiteral(" (") + r.binding.displayString()
                           + QStringLiteral(")"));
        }
    }
    // The grabs were needed to learn what the system refuses; while
    // suspended they wait for resume().
    if (isSuspended())
        releaseGrabs();
    return refused;
}

void HotKeyService::releaseGrabs()
{
    if (!m_backend)
        return;
    for (auto it = m_handlers.cbegin(); it != m_handlers.cend(); ++it)
        m_backend->ungrab(it.key());
}

void HotKeyService::unregisterAll()
{
    releaseGrabs();
    m_handlers.clear();
}

void HotKeyService::suspend()
{
    if (m_suspensions++ == 0)
        releaseGrabs();
}

void HotKeyService::resume()
{
    if (m_suspensions == 0 || --m_suspensions > 0 || !m_backend)
        return;
    for (auto it = m_handlers.begin(); it != m_handlers.end();) {
        if (m_backend->grab(it.key(), it->keycodes, GlobalHotKeys::Modifiers::fromInt(it->modifiers))) {
            ++it;
            continue;
        }
        // Another program took the combination in the meantime.
        vlog(QStringLiteral("[Vorna] hotkeys: shortcut %1 could not be taken back").arg(it.key()));
        it = m_handlers.erase(it);
    }
}

void HotKeyService::pressed(quint32 id)
{
    const auto it = m_handlers.constFind(id);
    if (it == m_handlers.cend() || !it->action)
        return;
    const std::function<void()> action = it->action; // the action may re-register
    action();
}
