#pragma once

#include "platform/SystemSound.h"

#include <QThreadPool>

struct ca_context;

// Event sounds through libcanberra. Opening the sound system can take a
// while (it may connect to a sound server), so the context is created and
// every sound started on a background thread of its own, one at a time.
class CanberraSound : public SystemSound
{
public:
    CanberraSound();
    ~CanberraSound() override;

    void play(const QString &eventId) override;

private:
    QThreadPool m_worker;
    ca_context *m_context = nullptr; // used on the worker only
    bool m_failed = false;           // worker only: the context could not be made
};
