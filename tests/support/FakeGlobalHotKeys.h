#pragma once

#include "platform/GlobalHotKeys.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>

// Global shortcuts without an X server: records what is grabbed, refuses the
// combinations a test names, and presses shortcuts on request. Installed for
// its lifetime.
class FakeGlobalHotKeys : public GlobalHotKeys
{
public:
    using Combination = QPair<quint32, Modifiers>; // usual keycode, modifiers

    FakeGlobalHotKeys() { GlobalHotKeys::setCurrent(this); }
    ~FakeGlobalHotKeys() override { GlobalHotKeys::setCurrent(nullptr); }

    bool isAvailable() const override { return available; }
    bool grab(quint32 id, const QList<quint32> &keycodes, Modifiers modifiers) override
    {
        ungrab(id);
        if (keycodes.isEmpty() || taken.contains({keycodes.first(), modifiers}))
            return false;
        held.insert(id, {keycodes.first(), modifiers});
        ++grabCount;
        return true;
    }
    void ungrab(quint32 id) override { held.remove(id); }

    // Presses a held combination; false when nobody holds it.
    bool press(quint32 keycode, Modifiers modifiers)
    {
        for (auto it = held.cbegin(); it != held.cend(); ++it) {
            if (it.value() == Combination{keycode, modifiers}) {
                emit activated(it.key());
                return true;
            }
        }
        return false;
    }

    bool available = true;
    QSet<Combination> taken;          // held by "another program"
    QHash<quint32, Combination> held; // by id
    int grabCount = 0;
};
