#pragma once

// Whether the desktop blends translucent windows with what lies beneath them.
// On X11 that needs a compositing manager; without one a window's opacity and
// its alpha channel are ignored, and overlays have to paint a picture of the
// screen themselves. Other platforms (Wayland, offscreen) always blend.
class Compositing
{
public:
    Compositing() = delete;

    // A compositor may start or stop at any time: the X server is asked once
    // and its notices of a change keep the answer current from then on (it
    // follows them as the event loop delivers them). True on platforms other
    // than X11. Main thread only.
    static bool isActive();

    // Tests fix the answer; clearOverride() goes back to asking.
    static void setOverride(bool active);
    static void clearOverride();
};
