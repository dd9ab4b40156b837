#pragma once

// Whether a compositing manager runs on the X display, so that windows with
// an alpha channel are blended with what lies beneath. Without one,
// translucent parts of a window show as black and a window must draw
// itself opaque. Always false off X11.
class DesktopCompositor
{
public:
    DesktopCompositor() = delete;
    static bool isRunning();
};
