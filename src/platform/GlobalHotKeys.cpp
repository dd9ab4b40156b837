#include "platform/GlobalHotKeys.h"

#include "platform/X11GlobalHotKeys.h"

namespace {
GlobalHotKeys *g_override = nullptr;
} // namespace

GlobalHotKeys &GlobalHotKeys::current()
{
    if (g_override)
        return *g_override;
    static X11GlobalHotKeys *fallback = new X11GlobalHotKeys;
    return *fallback;
}

void GlobalHotKeys::setCurrent(GlobalHotKeys *hotKeys)
{
    g_override = hotKeys;
}
