#include "platform/SystemSound.h"

#include "platform/CanberraSound.h"

namespace {
SystemSound *g_override = nullptr;
} // namespace

SystemSound &SystemSound::current()
{
    if (g_override)
        return *g_override;
    static CanberraSound fallback;
    return fallback;
}

void SystemSound::setCurrent(SystemSound *sound)
{
    g_override = sound;
}
