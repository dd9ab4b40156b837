#pragma once

#include "platform/GlobalHotKeys.h"

#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QList>

struct xcb_connection_t;

// Global shortcuts as passive key grabs on the root windows of Qt's own X
// connection. Every shortcut is grabbed once for each combination of the
// NumLock and CapsLock bits, so the lock keys do not stop it. A grab that the
// server refuses with BadAccess (another client has it) is a refused
// shortcut. Key presses reach us through a native event filter; auto-repeat
// of a held key is dropped. When the keyboard or modifier mapping changes,
// every shortcut is released and grabbed again with the new masks.
class X11GlobalHotKeys : public GlobalHotKeys, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    explicit X11GlobalHotKeys(QObject *parent = nullptr);
    ~X11GlobalHotKeys() override;

    bool isAvailable() const override;
    bool grab(quint32 id, const QList<quint32> &x11Keycodes, Modifiers modifiers) override;
    void ungrab(quint32 id) override;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

signals:
    // Every shortcut was grabbed again after a mapping change.
    void grabsRenewed();

private:
    struct Masks
    {
        quint16 alt = 0;
        quint16 super = 0;
        quint16 numLock = 0;
    };
    struct Entry
    {
        QList<quint32> keycodes;
        Modifiers modifiers;
        quint16 mask = 0;                          // the X modifier bits of the shortcut
        QList<QPair<quint32, quint16>> held;       // (keycode, full mask) grabs we own
    };

    void readModifierMapping();
    bool grabEntry(quint32 id, Entry &entry);
    void releaseEntry(Entry &entry);
    void scheduleRenewal();
    void renewGrabs();
    bool handleKeyPress(const void *event);
    void handleKeyRelease(const void *event);

    xcb_connection_t *m_connection = nullptr;
    QList<quint32> m_roots;
    Masks m_masks;
    quint8 m_xkbFirstEvent = 0;
    bool m_renewalQueued = false;
    QHash<quint32, Entry> m_entries;
    // Auto-repeat: keys whose press we reported and whose release has not
    // come yet, with the time of their latest press; and the time of each
    // key's latest release (a repeat without detectable auto-repeat is a
    // release and a press with the same time stamp).
    QHash<quint32, quint32> m_downSince;
    QHash<quint32, quint32> m_lastRelease;
};
