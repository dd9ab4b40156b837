#include "platform/X11GlobalHotKeys.h"

#include "platform/Log.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr quint16 kRelevantMasks = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1
                                   | XCB_MOD_MASK_2 | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;

// Keysyms of the modifier keys we look for in the modifier mapping.
constexpr xcb_keysym_t kNumLock = 0xff7f;
constexpr xcb_keysym_t kMetaL = 0xffe7, kMetaR = 0xffe8, kAltL = 0xffe9, kAltR = 0xffea;
constexpr xcb_keysym_t kSuperL = 0xffeb, kSuperR = 0xffec;

// A press that comes this long after the previous press of a key that was
// never released is a new press: the release was lost somewhere.
constexpr quint32 kRepeatWindowMs = 2000;

xcb_connection_t *qtConnection()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

} // namespace

X11GlobalHotKeys::X11GlobalHotKeys(QObject *parent) : GlobalHotKeys(parent)
{
    m_connection = qtConnection();
    if (!m_connection)
        return;
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    for (auto it = xcb_setup_roots_iterator(setup); it.rem; xcb_screen_next(&it))
        m_roots.append(it.data->root);

    static const char kXkb[] = "XKEYBOARD";
    auto cookie = xcb_query_extension(m_connection, sizeof(kXkb) - 1, kXkb);
    if (auto *reply = xcb_query_extension_reply(m_connection, cookie, nullptr)) {
        if (reply->present)
            m_xkbFirstEvent = reply->first_event;
        std::free(reply);
    }
    readModifierMapping();
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11GlobalHotKeys::~X11GlobalHotKeys()
{
    if (!m_connection)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    for (Entry &entry : m_entries)
        releaseEntry(entry);
    xcb_flush(m_connection);
}

bool X11GlobalHotKeys::isAvailable() const
{
    return m_connection != nullptr && !m_roots.isEmpty();
}

void X11GlobalHotKeys::readModifierMapping()
{
    m_masks = Masks();
    auto cookie = xcb_get_modifier_mapping(m_connection);
    xcb_get_modifier_mapping_reply_t *reply = xcb_get_modifier_mapping_reply(m_connection, cookie, nullptr);
    if (!reply)
        return;
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
    const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(reply);
    const int perModifier = reply->keycodes_per_modifier;
    quint16 metaMask = 0;
    // Rows 0..2 are Shift, Lock and Control; 3..7 are Mod1..Mod5.
    for (int row = 3; row < 8 && symbols; ++row) {
        const quint16 bit = static_cast<quint16>(1u << row);
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t code = codes[row * perModifier + i];
            if (code == 0)
                continue;
            for (int col = 0; col < 4; ++col) {
                const xcb_keysym_t sym = xcb_key_symbols_get_keysym(symbols, code, col);
                if (sym == kNumLock && !m_masks.numLock)
                    m_masks.numLock = bit;
                else if ((sym == kAltL || sym == kAltR) && !m_masks.alt)
                    m_masks.alt = bit;
                else if ((sym == kSuperL || sym == kSuperR) && !m_masks.super)
                    m_masks.super = bit;
                else if ((sym == kMetaL || sym == kMetaR) && !metaMask)
                    metaMask = bit;
            }
        }
    }
    if (!m_masks.alt)
        m_masks.alt = metaMask;
    if (symbols)
        xcb_key_symbols_free(symbols);
    std::free(reply);
}

bool X11GlobalHotKeys::grab(quint32 id, const QList<quint32> &x11Keycodes, Modifiers modifiers)
{
    ungrab(id);
    if (!isAvailable() || x11Keycodes.isEmpty())
        return false;
    Entry entry;
    entry.keycodes = x11Keycodes;
    entry.modifiers = modifiers;
    if (!grabEntry(id, entry))
        return false;
    m_entries.insert(id, entry);
    return true;
}

bool X11GlobalHotKeys::grabEntry(quint32 id, Entry &entry)
{
    entry.held.clear();
    quint16 mask = 0;
    if (entry.modifiers & Shift)
        mask |= XCB_MOD_MASK_SHIFT;
    if (entry.modifiers & Control)
        mask |= XCB_MOD_MASK_CONTROL;
    if (entry.modifiers & Alt) {
        if (!m_masks.alt)
            return false;
        mask |= m_masks.alt;
    }
    if (entry.modifiers & Super) {
        if (!m_masks.super)
            return false;
        mask |= m_masks.super;
    }
    entry.mask = mask;

    // The server lets a client grab what it already holds, so a second id on
    // the same combination would go unnoticed: refuse it as the server
    // refuses another client's.
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (it.key() != id && !it->held.isEmpty() && it->mask == mask && it->keycodes.contains(entry.keycodes.first()))
            return false;
    }

    // The same shortcut with every state of the lock keys.
    QList<quint16> variants{0, XCB_MOD_MASK_LOCK};
    if (m_masks.numLock && !(mask & m_masks.numLock)) {
        variants.append(m_masks.numLock);
        variants.append(static_cast<quint16>(m_masks.numLock | XCB_MOD_MASK_LOCK));
    }

    struct Pending
    {
        quint32 keycode;
        quint16 fullMask;
        xcb_void_cookie_t cookie;
        quint32 root;
    };
    QList<Pending> pending;
    for (quint32 keycode : std::as_const(entry.keycodes)) {
        if (keycode < 8 || keycode > 255)
            continue;
        for (quint32 root : std::as_const(m_roots)) {
            for (quint16 variant : std::as_const(variants)) {
                const quint16 full = mask | variant;
                pending.append({keycode, full,
                                xcb_grab_key_checked(m_connection, 0, root, full, static_cast<xcb_keycode_t>(keycode),
                                                     XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                root});
            }
        }
    }
    // The usual keycode decides; other names of the same key are taken
    // where they are free.
    bool refused = pending.isEmpty();
    QList<Pending> owned;
    for (const Pending &p : std::as_const(pending)) {
        if (xcb_generic_error_t *error = xcb_request_check(m_connection, p.cookie)) {
            if (p.keycode == entry.keycodes.first())
                refused = true;
            std::free(error);
        } else {
            owned.append(p);
        }
    }
    for (const Pending &p : std::as_const(owned)) {
        if (refused)
            xcb_ungrab_key(m_connection, static_cast<xcb_keycode_t>(p.keycode), p.root, p.fullMask);
        else
            entry.held.append({p.keycode, p.fullMask});
    }
    xcb_flush(m_connection);
    return !refused;
}

void X11GlobalHotKeys::releaseEntry(Entry &entry)
{
    for (const auto &[keycode, fullMask] : std::as_const(entry.held)) {
        for (quint32 root : std::as_const(m_roots))
            xcb_ungrab_key(m_connection, static_cast<xcb_keycode_t>(keycode), root, fullMask);
    }
    entry.held.clear();
}

void X11GlobalHotKeys::ungrab(quint32 id)
{
    auto it = m_entries.find(id);
    if (it == m_entries.end())
        return;
    releaseEntry(*it);
    m_entries.erase(it);
    if (m_connection)
        xcb_flush(m_connection);
}

void X11GlobalHotKeys::scheduleRenewal()
{
    if (m_renewalQueued)
        return;
    m_renewalQueued = true;
    // Several mapping events come in a burst; renew once after them.
    QTimer::singleShot(0, this, [this] {
        m_renewalQueued = false;
        renewGrabs();
    });
}

void X11GlobalHotKeys::renewGrabs()
{
    // Keycodes name key positions and stay valid; what a mapping change can
    // move are the modifier bits of Alt, Super and NumLock. The server also
    // reports a "new keyboard" whenever input switches to another device
    // (xdotool's XTest keyboard, say), with nothing changed: then the grabs
    // stay as they are.
    const Masks before = m_masks;
    readModifierMapping();
    if (m_masks.alt == before.alt && m_masks.super == before.super && m_masks.numLock == before.numLock)
        return;
    for (Entry &entry : m_entries)
        releaseEntry(entry);
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (!grabEntry(it.key(), *it))
            vlog(QStringLiteral("[Vorna] hotkeys: shortcut %1 could not be grabbed again after a keyboard change")
                     .arg(it.key()));
    }
    emit grabsRenewed();
}

bool X11GlobalHotKeys::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (!m_connection || eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    const quint8 type = event->response_type & 0x7f;
    switch (type) {
    case XCB_KEY_PRESS:
        return handleKeyPress(event);
    case XCB_KEY_RELEASE:
        handleKeyRelease(event);
        return false;
    case XCB_MAPPING_NOTIFY: {
        const auto *mapping = reinterpret_cast<const xcb_mapping_notify_event_t *>(event);
        if (mapping->request == XCB_MAPPING_MODIFIER || mapping->request == XCB_MAPPING_KEYBOARD)
            scheduleRenewal();
        return false; // Qt updates its own keymap too
    }
    default:
        break;
    }
    // XKB events share one event code; the second byte says which. 0 is a
    // new keyboard, 1 a changed map.
    if (m_xkbFirstEvent && type == m_xkbFirstEvent) {
        const quint8 xkbType = reinterpret_cast<const quint8 *>(event)[1];
        if (xkbType == 0 || xkbType == 1)
            scheduleRenewal();
    }
    return false;
}

bool X11GlobalHotKeys::handleKeyPress(const void *raw)
{
    const auto *event = static_cast<const xcb_key_press_event_t *>(raw);
    if (!m_roots.contains(event->event))
        return false;
    const quint32 keycode = event->detail;
    const quint16 state = event->state & kRelevantMasks & ~(XCB_MOD_MASK_LOCK | m_masks.numLock);
    quint32 matched = 0;
    bool found = false;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (it->keycodes.contains(keycode) && (state & ~m_masks.numLock) == (it->mask & ~m_masks.numLock)) {
            matched = it.key();
            found = true;
            break;
        }
    }
    if (!found)
        return false;

    const quint32 time = event->time;
    bool repeat = false;
    if (auto down = m_downSince.constFind(keycode); down != m_downSince.cend() && time - *down < kRepeatWindowMs)
        repeat = true; // detectable auto-repeat: presses without releases
    if (auto released = m_lastRelease.constFind(keycode); released != m_lastRelease.cend() && *released == time)
        repeat = true; // classic auto-repeat: a release and a press at the same moment
    m_downSince.insert(keycode, time);
    if (!repeat)
        emit activated(matched);
    return true;
}

void X11GlobalHotKeys::handleKeyRelease(const void *raw)
{
    const auto *event = static_cast<const xcb_key_release_event_t *>(raw);
    const quint32 keycode = event->detail;
    if (!m_downSince.contains(keycode))
        return;
    m_downSince.remove(keycode);
    m_lastRelease.insert(keycode, event->time);
}
