#include "platform/ScreenCapture.h"

#include "platform/X11ScreenCapture.h"

namespace {
ScreenCapture *g_installed = nullptr;
}

ScreenCapture &ScreenCapture::current()
{
    if (g_installed)
        return *g_installed;
    static X11ScreenCapture backend;
    return backend;
}

void ScreenCapture::setCurrent(ScreenCapture *capture)
{
    g_installed = capture;
}
