#pragma once

// Whether the desktop blends translucent windows with what lies beneath them.
// On X11 that needs a compositing manager; without one a window's opacity and
// its alpha channel are ignored, and overlays have to paint a picture of the
// screen themselves. Other platforms (Wayland, offscreen) always blend.
class Compositing
{
public:
    Compositing() = delete;

    // Asked of the X server at each call (a compositor may start or stop at
    // any time); true on platforms other than X11.
    static bool isActive();

    // Tests fix the answer; clearOverride() goes back to asking.
    static void setOverride(bool active);
    static void clearOverride();
};
