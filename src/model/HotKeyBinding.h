#pragma once

#include "model/CaptureShortcut.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>
#include <optional>

class QKeyEvent;

// One global shortcut: a key, numbered by its position on an ANSI keyboard
// (A = 0, S = 1, 1 = 18, Return = 36, F1 = 122, ...), and a set of modifier
// bits. These numbers are what the stored bindings hold; the X11 hot-key
// code translates them to X keycodes and modifier masks only when grabbing.
//
// Key code 0 with no modifiers means "no shortcut" (so a bare A key cannot
// be bound).
struct HotKeyBinding
{
    // Modifier bits of carbonModifiers. On Linux, command is the Super
    // (Meta) key and option is Alt.
    static constexpr quint32 commandModifier = 0x100;
    static constexpr quint32 shiftModifier = 0x200;
    static constexpr quint32 optionModifier = 0x800;
    static constexpr quint32 controlModifier = 0x1000;
    static constexpr quint32 allModifiers = commandModifier | shiftModifier | optionModifier | controlModifier;

    quint32 keyCode = 0;
    quint32 carbonModifiers = 0;

    constexpr HotKeyBinding() = default;
    constexpr HotKeyBinding(quint32 code, quint32 modifiers) : keyCode(code), carbonModifiers(modifiers) {}

    // The binding of a key press. The key is taken from the key's position
    // (the event's native scan code, an X11 keycode), not from the character
    // it types: Ctrl+Shift+1 is the key "1" whatever the layout makes of it.
    // Events without a scan code fall back to the Qt key, read as a US layout.
    // Ctrl, Shift, Alt and Super become control, shift, option and command;
    // other modifiers (keypad, group switch) are ignored. Nothing for a key
    // with no position number (Pause, Scroll Lock, Num Lock, Menu, ...):
    // such a key cannot be stored, and key code 0 would be the A key.
    static std::optional<HotKeyBinding> fromKeyEvent(const QKeyEvent &event);

    // Parses the spelled form ("ctrl+shift+1", "Ctrl-Shift-1", "⌃⇧1",
    // "shift ctrl 1", ...) and the shown form ("Super+Shift+PgDown"). Nothing when the text does not name exactly one
    // known key, and nothing for text that would give the unbound value (the
    // bare letter "a" is key code 0 without modifiers): typing a shortcut
    // never clears one by accident; clearing is an action of its own.
    static std::optional<HotKeyBinding> fromSpec(const QString &spec);

    bool isUnbound() const { return keyCode == 0 && carbonModifiers == 0; }

    // Whether the key is one of F1 to F20.
    static bool isFunctionKey(quint32 keyCode);
    // Whether the binding may become a system-wide shortcut: it holds a
    // modifier, or its key is F1 to F20. A bare letter would take that
    // letter away from every other program.
    bool isAcceptableShortcut() const
    {
        return (carbonModifiers & allModifiers) != 0 || isFunctionKey(keyCode);
    }

    // The form shown to the user, as Qt's menus write shortcuts on Linux,
    // e.g. "Ctrl+Shift+1" or "Super+Alt+PgUp"; "—" when unbound.
    QString displayString() const;
    // Spelled form, e.g. "ctrl+shift+1"; empty when unbound.
    QString specString() const;

    // Name of a key in the shown form ("A", "F13", "Return", ...), else "Key " and the code.
    static QString keyDisplayName(quint32 keyCode);
    // Token of a key in the spelled form ("a", "f13", "return", ...).
    static QString keyToken(quint32 keyCode);
    // The key code of a lower-case key name ("return", "enter", "prtsc", ...).
    static std::optional<quint32> keyCodeForName(const QString &name);

    // The stored JSON form: {"keyCode":18,"carbonModifiers":4608} (compact,
    // members in this order). Decoding needs both members as unsigned 32-bit
    // integers; anything else gives nothing.
    QByteArray toJson() const;
    static std::optional<HotKeyBinding> fromJson(const QByteArray &json);

    // Control + Shift with the digit keys 1 to 5, for the five modes in order.
    static HotKeyBinding defaultBinding(CaptureShortcut shortcut);

    // Key position translation at the X boundary. An X11 keycode is the
    // Linux evdev code + 8. Nothing for keys with no position number here.
    static std::optional<quint32> keyCodeFromX11Keycode(quint32 x11Keycode);
    // Every X11 keycode at that key's position, the usual one first (key
    // code 105 is both Print Screen and F13). Empty when none is known.
    static QList<quint32> x11KeycodesFromKeyCode(quint32 keyCode);

    bool operator==(const HotKeyBinding &other) const = default;
};

inline size_t qHash(const HotKeyBinding &b, size_t seed = 0)
{
    return ::qHashMulti(seed, b.keyCode, b.carbonModifiers);
}

Q_DECLARE_METATYPE(HotKeyBinding)
