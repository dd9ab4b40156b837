#pragma once

#include <QString>

// Plays the desktop's event sounds. The default backend is libcanberra with
// the freedesktop sound theme; tests install a double with setCurrent().
// play() returns at once; a sound that is missing or cannot be played is
// silently skipped.
class SystemSound
{
public:
    virtual ~SystemSound() = default;

    // The installed backend, or the libcanberra one (created on first use).
    static SystemSound &current();
    // Installs a backend (not owned); nullptr restores the default.
    static void setCurrent(SystemSound *sound);

    // Plays the sound of a freedesktop event id, e.g. "screen-capture".
    virtual void play(const QString &eventId) = 0;
};
