#pragma once

#include "model/CaptureShortcut.h"
#include "model/HotKeyBinding.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>

class GlobalHotKeys;

// The program's global shortcuts: one per capture mode, each running an
// action when pressed while any program has the focus. One shared instance,
// created on first use and kept for the whole run. Main thread only.
class HotKeyService : public QObject
{
    Q_OBJECT
public:
    struct Registration
    {
        CaptureShortcut shortcut = CaptureShortcut::fullscreen;
        HotKeyBinding binding;
        std::function<void()> action;
    };

    static HotKeyService &shared();

    // Replaces every registration by these. Unbound bindings are skipped. A
    // combination an earlier registration of the list holds is refused.
    // Returns, in order, one text per shortcut the system refused: its title
    // and its shown form in parentheses, e.g. "Region Capture (Ctrl+Shift+3)".
    QStringList registerHotKeys(const QList<Registration> &registrations);
    // Releases every shortcut.
    void unregisterAll();

    // Sets the shortcuts aside while the program itself needs their keys
    // (a shortcut recorder waiting for a combination): the system grabs are
    // released, the registrations are kept, and resume() grabs them again.
    // Calls nest; registering while suspended still reports what the system
    // refuses, and grabs only at the last resume().
    void suspend();
    void resume();
    bool isSuspended() const { return m_suspensions > 0; }

    // The ids of the shortcuts registered now, and the id the next one gets (ids
    // are never reused).
    QList<quint32> registeredIds() const { return m_handlers.keys(); }
    quint32 nextID() const { return m_nextID; }

    // Translates a stored binding to the X side: the keycodes of its key
    // and its modifiers.
    static QList<quint32> x11Keycodes(const HotKeyBinding &binding);
    static quint32 globalModifiers(const HotKeyBinding &binding);

private:
    HotKeyService();
    void attach(GlobalHotKeys &backend);
    void pressed(quint32 id);
    void releaseGrabs();

    struct Handler
    {
        std::function<void()> action;
        QList<quint32> keycodes;
        quint32 modifiers = 0;
    };

    QHash<quint32, Handler> m_handlers;
    quint32 m_nextID = 1;
    int m_suspensions = 0;
    QPointer<GlobalHotKeys> m_backend;
};
