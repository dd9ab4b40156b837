#pragma once

#include <QFlags>
#include <QList>
#include <QObject>

// System-wide keyboard shortcuts that work whichever program has the
// keyboard focus. A shortcut is a key, given by its X11 keycodes (the key's
// position; the first is the usual one, the others are the same position
// under another name), and a set of logical modifiers. Which X modifier bits
// Alt and Super are, and which bit NumLock is, is worked out here from the
// server's current modifier mapping.
//
// The default is the X11 backend (X11GlobalHotKeys); tests install a double
// with setCurrent(). Main thread only.
class GlobalHotKeys : public QObject
{
    Q_OBJECT
public:
    enum Modifier : quint32 { Shift = 0x1, Control = 0x2, Alt = 0x4, Super = 0x8 };
    Q_DECLARE_FLAGS(Modifiers, Modifier)

    using QObject::QObject;
    ~GlobalHotKeys() override = default;

    // The installed backend, or the X11 one (created on first use).
    static GlobalHotKeys &current();
    // Installs a backend (not owned); nullptr restores the default.
    static void setCurrent(GlobalHotKeys *hotKeys);

    // Whether shortcuts can be grabbed at all (false without an X server).
    virtual bool isAvailable() const = 0;

    // Takes the shortcut under the caller's id. False when the combination
    // is refused (another client, or another id here, holds it), the key or a modifier does not
    // exist on this keyboard, or no X server is there. A refused shortcut
    // holds nothing. An id already in use is released first.
    virtual bool grab(quint32 id, const QList<quint32> &x11Keycodes, Modifiers modifiers) = 0;
    // Releases the shortcut of that id (nothing when there is none).
    virtual void ungrab(quint32 id) = 0;

signals:
    // The shortcut was pressed. Auto-repeat of a held key is not reported.
    void activated(quint32 id);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(GlobalHotKeys::Modifiers)
